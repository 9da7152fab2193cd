#!/usr/bin/env python3
"""Benchmark driver: Gleanery's main job against the bare-loop limit, the read floor and the peer
tools.

Builds nothing itself (make bench builds the tools first). Generates the corpora once into a
cache directory outside the source tree, runs every scenario's commands round-robin several
times, and reports medians:

  time    user + system CPU seconds of the whole command (robust on a shared machine), from the
          kernel's accounting of it and the processes it waited for (wait4)
  wall    elapsed seconds
  peak    maximum resident set size, from /usr/bin/time -v's figure

The limit is the bare loop on PCRE's JIT, as Gleanery searches by default. The overhead ratio is
Gleanery's time over the limit's time; a peer's ratio is the peer's time over Gleanery's time
from the same run (above 1: Gleanery is faster). Gleanery can beat the limit, so every scenario
also has a second, lower reference, the read floor: the bare loop reading the same files the same
way and looking at every byte once, matching nothing. Reading the bytes is work no search of them
avoids; Gleanery's time over the floor is what it spends beyond that. Every scenario also runs
Gleanery and the limit on the interpreter (Gleanery --no-jit, the bare loop without --jit) for
comparison. Results go to the terminal and to bench/results/results.md and
bench/results/results.png.

Every command is pinned to one processor (the first this process may use), except the rows that
measure the wall time of a search on all processors (Gleanery and rg with their default threads
in the tree scenarios): on a virtual machine the processors need not be equally fast (seen: one
of two ran a plain loop 2.7 times slower than the other, its stolen time uncounted), and a
command's CPU time would otherwise depend on where the scheduler happened to put it. --no-pin
leaves every command unpinned.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MiB = 1 << 20

LITERAL = r"ERROR \w+"
EMAIL = r"[\w.+-]+@[\w-]+\.[\w.-]+"
IDENT = r"ID\d{7}"

# Options every Gleanery run shares: case-sensitive and ASCII \w, as the peers search by default.
# Scenarios whose output is not one line per match.
UNCOUNTED = ("lines", "replace", "no-duplicates", "tree", "real-tree")
# The rows that search on every processor, for their wall time: never pinned.
ALL_PROCESSORS = {("tree", "Gleanery"), ("tree", "rg"), ("real-tree", "Gleanery"), ("real-tree", "rg")}


def pinning(no_pin):
    """The processor commands are pinned to, or None."""
    if no_pin or not hasattr(os, "sched_getaffinity"):
        return None
    return min(os.sched_getaffinity(0))

GLEANERY_COMMON = ["--yes", "--quiet", "--case-sensitive", "--no-unicode-properties"]


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", default=str(ROOT / "build" / "release"), help="build directory with gleanery, bare_loop, make_corpus")
    p.add_argument("--corpus", default=str(ROOT / "build" / "bench-corpus"), help="corpus cache directory")
    p.add_argument("--results", default=str(ROOT / "bench" / "results"))
    p.add_argument("--repeat", type=int, default=3, help="runs per command (median)")
    p.add_argument("--large", type=int, nargs="?", const=4, default=1, metavar="N",
                   help="multiply every corpus size by N (default 4 when given)")
    p.add_argument("--only", nargs="*", help="scenario names to run")
    p.add_argument("--no-peers", action="store_true", help="Gleanery, the limit and the read floor only")
    p.add_argument("--clean", action="store_true", help="delete the corpora after the run")
    p.add_argument("--no-pin", action="store_true", help="run no command pinned to one processor")
    return p.parse_args()


class Tools:
    def __init__(self, build):
        self.gleanery = Path(build) / "gleanery"
        self.bare = Path(build) / "bench" / "bare_loop"
        self.make_corpus = Path(build) / "bench" / "make_corpus"
        for t in (self.gleanery, self.bare, self.make_corpus):
            if not t.exists():
                sys.exit(f"bench: {t} is missing; build the targets gleanery and bench_tools first")
        self.rg = shutil.which("rg")
        self.grep = shutil.which("grep")
        self.pcregrep = shutil.which("pcregrep")
        self.sed = shutil.which("sed")
        self.awk = shutil.which("awk")
        if not Path("/usr/bin/time").exists():
            sys.exit("bench: /usr/bin/time is missing (Debian package time)")


def make_corpora(tools, corpus, scale):
    """Generates what is missing; names carry the size, so a cached file is always the right one."""
    corpus.mkdir(parents=True, exist_ok=True)
    log_bytes = 256 * MiB * scale
    files = {
        "log-utf8": ("log-utf8", f"log-utf8-{log_bytes}.log", log_bytes),
        "log-utf16le": ("log-utf16le", f"log-utf16le-{log_bytes}.log", log_bytes),
        "log-cp1252": ("log-cp1252", f"log-cp1252-{log_bytes}.log", log_bytes),
        "replace": ("log-utf8", f"log-utf8-{128 * MiB * scale}.log", 128 * MiB * scale),
        "short-lines": ("short-lines", f"short-lines-{32 * MiB * scale}.txt", 32 * MiB * scale),
        "dupes": ("dupes", f"dupes-{1000000 * scale}.txt", 1000000 * scale),
        "small-files": ("small-files", f"small-files-{10000 * scale}", 10000 * scale),
        "tree": ("tree", f"tree-{20000 * scale}", 20000 * scale),
    }
    paths = {}
    for key, (kind, name, amount) in files.items():
        path = corpus / name
        if not path.exists():
            print(f"generating {name} ...", flush=True)
            tmp = corpus / (name + ".part")
            if tmp.exists():
                shutil.rmtree(tmp) if tmp.is_dir() else tmp.unlink()
            subprocess.run([str(tools.make_corpus), kind, str(tmp), str(amount)], check=True)
            tmp.rename(path)
        paths[key] = path
    return paths


def reader_args(size, memory_mib, line_mode=False, replace=False):
    """The limit's counterpart of the reader Gleanery chooses for a file of `size` data bytes."""
    if line_mode:
        return ["--lines"]
    if size <= 5 * MiB or (memory_mib * MiB > size and not replace):
        return []
    return ["--parts", str(memory_mib * MiB)]


INTERPRETED = ("Gleanery no-JIT", "limit no-JIT")
FLOOR = "floor"
# The rows every scenario is measured against; none of them is a peer.
REFERENCES = ("Gleanery", "limit", FLOOR)
# bare_loop options that only shape the search; the read floor reads without them.
SEARCH_ONLY = ("--jit", "--check-first", "--unique", "--caseless", "--ucp")


def read_floor(limit_argv):
    """The read floor of a bare_loop limit command: the same program, form and reader (whole file,
    in blocks when large or in line mode, or the same parts) and the same files, with --read-floor in place of
    the expression and the search options."""
    argv, rest = [limit_argv[0], "--read-floor"], limit_argv[1:]
    i = 0
    while i < len(rest):
        if rest[i] == "-e":
            i += 2
            continue
        if rest[i] not in SEARCH_ONLY:
            argv.append(rest[i])
        i += 1
    return argv


def with_engines(cmds):
    """The scenario's commands with the limit on the JIT and the read floor beside it, and
    Gleanery and the limit again on the interpreter (the floor searches nothing, so once is enough)."""
    (g_label, g_argv), (l_label, l_argv) = cmds[0], cmds[1]
    gi = g_argv[:2] + ["--no-jit"] + g_argv[2:]
    jit_limit = [l_argv[0], "--jit"] + l_argv[1:]
    return ([(g_label, g_argv), (l_label, jit_limit), (FLOOR, read_floor(l_argv))] + cmds[2:]
            + [(INTERPRETED[0], gi), (INTERPRETED[1], l_argv)])


def scenarios(tools, paths, work):
    """Each scenario: name, description, size text, and its commands (label, argv, stdout file)."""
    cfg = work / "config"
    out = work / "out"
    g = [str(tools.gleanery), "pack", "--config", str(cfg)] + GLEANERY_COMMON

    def peers(pattern, path, encoding=None, line_numbers=False, recursive=False):
        """rg, grep -P and pcregrep, each in the mode Gleanery searches the file in: UTF-8 mode
        for UTF-8 text (grep in a UTF-8 locale, pcregrep -u), byte mode for code-page text.
        grep and pcregrep cannot search UTF-16 text, so they sit those scenarios out."""
        cmds = []
        n = ["-n"] if line_numbers else []
        r = ["-r"] if recursive else []
        if tools.rg:
            rg = [tools.rg, "-o", "--no-config", "--no-filename", "-uuu", "-j1"]
            rg += ["-n"] if line_numbers else ["-N"]
            if encoding:
                rg += ["-E", encoding]
            cmds.append(("rg", rg + ["-e", pattern, str(path)]))
        if encoding == "utf-16le":
            return cmds
        utf8 = encoding == "utf-8"
        if tools.grep:
            locale = "LC_ALL=C.UTF-8" if utf8 else "LC_ALL=C"
            grep = ["env", locale, tools.grep, "-oP", "--no-filename"] + n + r
            cmds.append(("grep -P", grep + ["-e", pattern, str(path)]))
        if tools.pcregrep:
            pg = [tools.pcregrep, "-o", "-h"] + (["-u"] if utf8 else []) + n + r
            cmds.append(("pcregrep", pg + ["-e", pattern, str(path)]))
        return cmds

    result = []
    memory = 500  # MiB: large single files are read whole when they fit

    def log_scenario(name, key, pattern, form, code_page=None, encoding=None):
        path = paths[key]
        size = path.stat().st_size
        bom = 2 if form == "utf16" else 0
        gl = g + ["--memory", str(memory), "-e", pattern]
        if code_page:
            gl += ["--code-page", str(code_page)]
        limit = [str(tools.bare), "--form", form, "-e", pattern] + reader_args(size - bom, memory)
        if form != "ansi":
            limit.append("--check-first")
        cmds = [("Gleanery", gl + [str(out / "result"), str(path)]), ("limit", limit + [str(path)])]
        cmds += peers(pattern, path, encoding)
        result.append((name, f"{size / MiB:.0f} MiB, {pattern}", with_engines(cmds)))

    log_scenario("utf8-literal", "log-utf8", LITERAL, "utf8", encoding="utf-8")
    log_scenario("utf8-class", "log-utf8", EMAIL, "utf8", encoding="utf-8")
    log_scenario("utf16-literal", "log-utf16le", LITERAL, "utf16", encoding="utf-16le")
    log_scenario("utf16-class", "log-utf16le", EMAIL, "utf16", encoding="utf-16le")
    log_scenario("cp1252-literal", "log-cp1252", LITERAL, "ansi", 1252, "windows-1252")
    log_scenario("cp1252-class", "log-cp1252", EMAIL, "ansi", 1252, "windows-1252")

    # Line mode: every line is one search.
    path = paths["short-lines"]
    cmds = [("Gleanery", g + ["--line-mode", "-e", LITERAL, str(out / "result"), str(path)]),
            ("limit", [str(tools.bare), "--form", "ansi", "--lines", "-e", LITERAL, str(path)])]
    cmds += peers(LITERAL, path, line_numbers=True)
    lines = sum(1 for _ in open(path, "rb"))
    result.append(("lines", f"{path.stat().st_size / MiB:.0f} MiB, {lines:,} lines", with_engines(cmds)))

    # Search and replace: always read in parts of the read memory (default 10 MiB).
    path = paths["replace"]
    size = path.stat().st_size
    cmds = [("Gleanery", g + ["--search-replace", "-e", LITERAL, "-r", "FAILURE", str(out / "result"), str(path)]),
            ("limit", [str(tools.bare), "--form", "utf8", "--check-first", "-e", LITERAL]
             + reader_args(size, 10, replace=True) + [str(path)])]
    if tools.rg:
        cmds.append(("rg", [tools.rg, "--no-config", "--passthru", "-N", "-r", "FAILURE", "-e", LITERAL, str(path)]))
    if tools.sed:
        cmds.append(("sed", ["env", "LC_ALL=C.UTF-8", tools.sed, "-E", r"s/ERROR \w+/FAILURE/g", str(path)]))
    result.append(("replace", f"{size / MiB:.0f} MiB, {LITERAL} -> FAILURE", with_engines(cmds)))

    # Many small files.
    folder = paths["small-files"]
    names = sorted(str(p) for p in folder.iterdir())
    cmds = [("Gleanery", g + ["-e", LITERAL, str(out / "result"), str(folder)]),
            ("limit", [str(tools.bare), "--form", "utf8", "-e", LITERAL] + names)]
    cmds += peers(LITERAL, folder, encoding="utf-8", recursive=True)
    result.append(("small-files", f"{len(names):,} files of about 4 KiB", with_engines(cmds)))

    # Trees: workers side by side (the default, one per core) against the host's thread alone,
    # beside the peers with their own threads and with one. The limit searches the bytes of every
    # file on one thread, listed by find (too many names for one command line); the read floor
    # reads the same list the same way.
    def tree_scenario(name, folders, what):
        listed = " ".join(shlex_quote(str(f)) for f in folders)
        each_file = f"find {listed} -type f -print0 | xargs -0 {shlex_quote(str(tools.bare))} --form ansi"
        cmds = [("Gleanery", g + ["-e", LITERAL, str(out / "result")] + [str(f) for f in folders]),
                ("limit", ["sh", "-c", f"{each_file} --jit -e {shlex_quote(LITERAL)}"]),
                (FLOOR, ["sh", "-c", f"{each_file} --read-floor"]),
                ("Gleanery -j1", g + ["-j", "1", "-e", LITERAL, str(out / "result")] + [str(f) for f in folders])]
        if tools.rg:
            rg = [tools.rg, "-o", "--no-config", "--no-filename", "-N", "-uuu", "-e", LITERAL]
            cmds.append(("rg", rg + [str(f) for f in folders]))
            cmds.append(("rg -j1", rg[:1] + ["-j1"] + rg[1:] + [str(f) for f in folders]))
        if tools.grep:
            cmds.append(("grep -rP", ["env", "LC_ALL=C", tools.grep, "-roP", "--no-filename",
                                      "-e", LITERAL] + [str(f) for f in folders]))
        result.append((name, what, cmds))

    folder = paths["tree"]
    count = sum(1 for p in folder.rglob("*") if p.is_file())
    size = sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())
    tree_scenario("tree", [folder], f"{count:,} files, {size / MiB:.0f} MiB in nested folders")
    real = [Path("/usr/include"), Path("/usr/share/doc")]
    real = [f for f in real if f.is_dir()]
    if real:
        files = [p for f in real for p in f.rglob("*") if p.is_file() and not p.is_symlink()]
        size = sum(p.stat().st_size for p in files)
        tree_scenario("real-tree", real, f"{len(files):,} files, {size / MiB:.0f} MiB: "
                      + " and ".join(str(f) for f in real))

    # Duplicate filter: a million results, half of them repeats.
    path = paths["dupes"]
    size = path.stat().st_size
    cmds = [("Gleanery", g + ["--no-duplicates", "--memory", str(memory), "-e", IDENT, str(out / "result"), str(path)]),
            ("limit", [str(tools.bare), "--form", "ansi", "--unique", "-e", IDENT] + reader_args(size, memory) + [str(path)])]
    if tools.awk:
        for label, argv in peers(IDENT, path):
            quoted = " ".join(shlex_quote(a) for a in argv)
            cmds.append((label, ["sh", "-c", f"{quoted} | {tools.awk} '!s[$0]++'"]))
    result.append(("no-duplicates", f"{size / MiB:.0f} MiB, {IDENT}, 1,000,000 results, half repeats",
                   with_engines(cmds)))

    # A file larger than the read memory (the default 10 MiB), read in parts.
    path = paths["log-utf8"]
    size = path.stat().st_size
    cmds = [("Gleanery", g + ["--memory", "10", "-e", LITERAL, str(out / "result"), str(path)]),
            ("limit", [str(tools.bare), "--form", "utf8", "--check-first", "-e", LITERAL]
             + reader_args(size, 10) + [str(path)])]
    result.append(("parts", f"{size / MiB:.0f} MiB in 10 MiB parts, {LITERAL}", with_engines(cmds)))
    return result


def shlex_quote(s):
    import shlex
    return shlex.quote(s)


def run_once(argv, out_dir, processor=None):
    """Runs one command with its output to a file, on `processor` alone when one is given (the
    affinity is set in the child before the wrapper starts, so no program of its own is timed);
    returns (cpu, wall, peak MiB, user, output path).
    CPU times come from the kernel's accounting of /usr/bin/time and the command it waits for
    (wait4), to the microsecond rather than /usr/bin/time's hundredths: a scenario of a few
    hundredths of a second would otherwise be measured in steps of a third of its time (the
    wrapper's own share is a fraction of a millisecond). The peak is /usr/bin/time's figure: the
    command is started from that small process, whose memory does not count towards it."""
    stats = out_dir / "time.txt"
    stdout_path = out_dir / "stdout.txt"
    start = time.perf_counter()
    with open(stdout_path, "wb") as stdout:
        pin = None if processor is None else (lambda: os.sched_setaffinity(0, {processor}))
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", str(stats)] + argv,
                                stdout=stdout, stderr=subprocess.PIPE, preexec_fn=pin)
        # (Its standard error is small: read before the wait, it cannot fill the pipe and block.)
        err = proc.stderr.read()
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.perf_counter() - start
    # Exit 1 from grep-like tools means "no match"; Gleanery answers 22 for that.
    if proc.returncode not in (0, 1, 22):
        sys.exit(f"bench: command failed ({proc.returncode}): {' '.join(argv)}\n{err.decode(errors='replace')}")
    peak_kib = stats.read_text().split()[-1]
    user, system = usage.ru_utime, usage.ru_stime
    return user + system, wall, int(peak_kib) / 1024.0, user, stdout_path


def count_results(path):
    """Result lines of a Gleanery output (CR LF separated) or of the limit (a number)."""
    data = path.read_bytes()
    if not data:
        return 0
    return data.count(b"\r\n") + 1


def main():
    args = parse_args()
    tools = Tools(args.build)
    corpus = Path(args.corpus)
    paths = make_corpora(tools, corpus, args.large)
    work = Path(tempfile.mkdtemp(prefix="gleanery-bench-"))
    (work / "config").mkdir()
    (work / "out").mkdir()
    rows = []
    pin = pinning(args.no_pin)
    try:
        for name, what, cmds in scenarios(tools, paths, work):
            if args.only and name not in args.only:
                continue
            if args.no_peers:
                cmds = [c for c in cmds if c[0] in REFERENCES + INTERPRETED]
            samples = {label: [] for label, _ in cmds}
            limit_count = gleanery_count = None
            for round_ in range(args.repeat):
                for label, argv in cmds:
                    pinned = None if (name, label) in ALL_PROCESSORS else pin
                    cpu, wall, peak, user, stdout_path = run_once(argv, work, pinned)
                    samples[label].append((cpu, wall, peak, user))
                    result = work / "out" / "result.txt"
                    # The count check is against the limit's matches; the floor counts bytes.
                    if round_ == 0 and label == "limit":
                        limit_count = int(stdout_path.read_text().split()[0])
                    if round_ == 0 and label == "Gleanery" and name not in UNCOUNTED:
                        gleanery_count = count_results(result) if result.exists() else 0
                    if label == "Gleanery" and result.exists():
                        result.unlink()
            if gleanery_count is not None and gleanery_count != limit_count:
                print(f"warning: {name}: Gleanery wrote {gleanery_count} results, the limit counted {limit_count}")
            med = {label: tuple(statistics.median(s[i] for s in samples[label]) for i in range(4))
                   for label in samples}
            rows.append((name, what, [(label, *med[label]) for label, _ in cmds]))
            print_row(rows[-1])
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if args.clean:
            shutil.rmtree(corpus, ignore_errors=True)
    write_reports(rows, Path(args.results), args)


def print_row(row):
    name, what, entries = row
    g = dict((e[0], e) for e in entries)["Gleanery"]
    limit = dict((e[0], e) for e in entries)["limit"]
    floor = dict((e[0], e) for e in entries)[FLOOR]
    print(f"\n{name}: {what}")
    print(f"  {'command':<18}{'cpu s':>8}{'user s':>8}{'wall s':>8}{'peak MiB':>10}  ratio")
    interpreted_limit = dict((e[0], e) for e in entries).get(INTERPRETED[1])
    for label, cpu, wall, peak, user in entries:
        if label == "Gleanery":
            ratio = ", ".join(f"{cpu / ref[1]:.2f} x {ref[0]}" for ref in (limit, floor) if ref[1] > 0) or "-"
        elif label == "limit":
            ratio = "1.00"
        elif label == FLOOR:
            ratio = f"{cpu / limit[1]:.2f} x limit" if limit[1] > 0 else "-"
        elif label == INTERPRETED[0] and interpreted_limit and interpreted_limit[1] > 0:
            ratio = f"{cpu / interpreted_limit[1]:.2f} x limit no-JIT, {cpu / g[1]:.2f} x Gleanery"
        elif label == INTERPRETED[1]:
            ratio = f"{cpu / limit[1]:.2f} x limit"
        else:
            ratio = f"{cpu / g[1]:.2f} x Gleanery" if g[1] > 0 else "-"
            if g[2] > 0:
                ratio += f" (wall {wall / g[2]:.2f})"
        print(f"  {label:<18}{cpu:>8.3f}{user:>8.3f}{wall:>8.3f}{peak:>10.1f}  {ratio}")
    sys.stdout.flush()


def write_reports(rows, results, args):
    results.mkdir(parents=True, exist_ok=True)
    peers = []
    for _, _, entries in rows:
        for e in entries:
            if e[0] not in peers and e[0] not in REFERENCES + INTERPRETED:
                peers.append(e[0])
    lines = ["# Gleanery benchmark", "",
             f"Medians of {args.repeat} runs; time is user + system CPU time of the whole command.",
             "Every command runs on one processor but the tree scenarios' Gleanery and rg rows "
             "with their default threads (whose wall time is measured on every processor): "
             "processors of a virtual machine need not be equally fast."
             if pinning(args.no_pin) is not None else
             "No command was pinned to a processor (--no-pin).",
             "Overhead = Gleanery / limit (bare PCRE loop). A peer's ratio is peer / Gleanery "
             "(above 1: Gleanery is faster). Peak = maximum resident set size in MiB. The user-time "
             "overhead leaves out system time, which on a virtual machine varies with the page "
             "faults of large buffers (whether the kernel grants huge pages at that moment).",
             "Peers: `rg -o`, `grep -oP`, `pcregrep -o` with output to a file (UTF-8 mode on UTF-8 "
             "text, byte mode on code-page text; grep and pcregrep cannot search UTF-16); replace: "
             "`rg --passthru -r`, `sed -E s///g`; no-duplicates: each peer piped into "
             "`awk '!s[$0]++'`, and the limit filters duplicates too (`bare_loop --unique`).",
             "The limit is the bare loop on PCRE's JIT. Interpreter columns: Gleanery --no-jit over "
             "the bare interpreter loop, and the bare interpreter loop over the JIT limit.",
             "The read floor (`bare_loop --read-floor`) reads the same files in the same way as the "
             "limit (whole, in the same parts, the same list of files) and looks at every byte once "
             "with memchr, matching nothing: reading the bytes is work no search of them avoids. "
             "Over the read floor = Gleanery / floor, the CPU time Gleanery spends beyond reading; "
             "it keeps its meaning where Gleanery beats the limit (overhead below 1).", "",
             "| scenario | size | overhead | over the read floor | user-time overhead | µs per file over the limit | "
             + "".join(p + " | " for p in peers)
             + "no-JIT overhead | interpreter limit / JIT limit | "
             + "peak MiB: " + " / ".join(["Gleanery", "limit"] + peers) + " |",
             "|---|---|---|---|---|---|" + "---|" * len(peers) + "---|---|---|"]
    for name, what, entries in rows:
        e = {x[0]: x for x in entries}
        g, limit, floor = e["Gleanery"], e["limit"], e[FLOOR]
        over = g[1] / limit[1] if limit[1] > 0 else float("nan")
        over_floor = g[1] / floor[1] if floor[1] > 0 else float("nan")
        per_file = ""
        if name == "small-files":
            count = int(what.split()[0].replace(",", ""))
            per_file = f"{(g[1] - limit[1]) / count * 1e6:.1f}"
        cells = [f"{e[p][1] / g[1]:.2f}" if p in e else "n/a" for p in peers]
        gi, li = e.get(INTERPRETED[0]), e.get(INTERPRETED[1])
        cells.append(f"{gi[1] / li[1]:.2f}" if gi and li and li[1] > 0 else "n/a")
        cells.append(f"{li[1] / limit[1]:.2f}" if li and limit[1] > 0 else "n/a")
        peaks = [f"{e[p][3]:.0f}" if p in e else "-" for p in peers]
        user_over = g[4] / limit[4] if limit[4] > 0 else float("nan")
        lines.append(f"| {name} | {what} | {over:.2f} | {over_floor:.2f} | {user_over:.2f} | {per_file} | " + "".join(c + " | " for c in cells)
                     + " / ".join([f"{g[3]:.0f}", f"{limit[3]:.0f}"] + peaks) + " |")
    lines += ["", "Absolute medians (cpu s / wall s / peak MiB):", ""]
    for name, what, entries in rows:
        lines.append(f"- {name}: " + "; ".join(f"{x[0]} {x[1]:.3f} / {x[2]:.3f} / {x[3]:.0f}" for x in entries))
    md = results / "results.md"
    md.write_text("\n".join(lines) + "\n")
    print("\n" + "\n".join(lines[:lines.index("Absolute medians (cpu s / wall s / peak MiB):")]))
    print(f"\nwrote {md}")
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is missing (Debian package python3-matplotlib): no chart")
        return
    names = [r[0] for r in rows]
    labels = ["Gleanery", "limit"] + peers
    fig, ax = plt.subplots(figsize=(max(8, 1.3 * len(names)), 5))
    width = 0.8 / len(labels)
    for i, label in enumerate(labels):
        values = []
        for _, _, entries in rows:
            e = {x[0]: x for x in entries}
            values.append(e[label][1] / e["limit"][1] if label in e and e["limit"][1] > 0 else 0)
        ax.bar([k + i * width for k in range(len(names))], values, width, label=label)
    ax.axhline(1.0, color="black", linewidth=0.8)
    # The read floor differs from scenario to scenario: a dashed mark across each group.
    marked = False
    for k, (_, _, entries) in enumerate(rows):
        e = {x[0]: x for x in entries}
        if e["limit"][1] > 0 and e[FLOOR][1] > 0:
            ax.hlines(e[FLOOR][1] / e["limit"][1], k - width / 2, k + 0.8 - width / 2, colors="black",
                      linestyles="dashed", linewidth=1, label=None if marked else "read floor")
            marked = True
    ax.set_xticks([k + 0.4 - width / 2 for k in range(len(names))])
    ax.set_xticklabels(names, rotation=30, ha="right")
    ax.set_ylabel("CPU time / bare-loop limit (lower is faster)")
    ax.set_yscale("log")
    ax.set_title("Gleanery against the bare PCRE loop, the read floor and peer tools")
    ax.legend(fontsize=8)
    fig.tight_layout()
    png = results / "results.png"
    fig.savefig(png, dpi=110)
    print(f"wrote {png}")


if __name__ == "__main__":
    main()
