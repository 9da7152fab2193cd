#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each: scripts/run-fuzz.sh BUILD_DIR SECONDS [CORPUS_ROOT]
# The seed corpus comes from fuzz_seeds; new inputs go to CORPUS_ROOT/<target> (kept between
# runs when it is given). Prints one line per target and adds the executions to
# BUILD_DIR/fuzz-executions.tsv, so the totals over all runs can be told. Fails on any crash.
# FUZZ_TARGETS (space-separated) picks some of the targets; several runs may go on at once, even
# of one target (each writes its own log, which becomes BUILD_DIR/fuzz-logs/<target>.log when it
# ends). FUZZ_MAX_LEN bounds the input size (8192 bytes unless given).
set -euo pipefail

build=$(cd "$1" && pwd)
seconds=$2
corpus_root=${3:-}
[ -z "$corpus_root" ] || { mkdir -p "$corpus_root" && corpus_root=$(cd "$corpus_root" && pwd); }
here=$(cd "$(dirname "$0")/.." && pwd)
all_targets="fuzz_template fuzz_settings_file fuzz_language_file fuzz_readers fuzz_match_loop
             fuzz_expressions fuzz_pack_files fuzz_dialog"
read -r -a targets <<<"$(echo ${FUZZ_TARGETS:-$all_targets})"
max_len=${FUZZ_MAX_LEN:-8192}

# Scratch files of the targets (inputs written out, outputs, settings files) live in memory when
# the machine has a memory file system: a disk costs most of the time of a short execution.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
"$build/fuzz/fuzz_seeds" "$seeds" "$here/dist/Gleanery.Sample.ini"
logs="$build/fuzz-logs"
mkdir -p "$logs"
tally="$build/fuzz-executions.tsv"
touch "$tally"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for t in "${targets[@]}"; do
    if [ -n "$corpus_root" ]; then
        corpus="$corpus_root/$t"
    else
        corpus=$(mktemp -d)
    fi
    mkdir -p "$corpus"
    status=0
    [ -x "$build/fuzz/$t" ] || { echo "$t: not built" >&2; exit 2; }
    # -reload=0: no rereading of the corpus directory every few seconds (it took up to a twelfth
    # of the time); runs of one target side by side see each other's finds at their next start.
    log="$logs/$t.$$.log"
    (cd "$logs" && "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
        -max_len="$max_len" -reload=0 -print_final_stats=1 "$corpus" "$seeds/$t") >"$log" 2>&1 || status=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    mv -f "$log" "$logs/$t.log"
    runs=${runs:-0}
    printf '%s\t%s\t%s\n' "$t" "$runs" "$status" >>"$tally"
    total=$(awk -F'\t' -v t="$t" '$1 == t { s += $2 } END { print s + 0 }' "$tally")
    if [ "$status" -ne 0 ]; then
        echo "$t: FAILED (exit $status) after $runs executions; see $logs/$t.log"
        tail -n 40 "$logs/$t.log"
        failed=1
    else
        echo "$t: $runs executions, 0 crashes ($total in all runs so far)"
    fi
    [ -n "$corpus_root" ] || rm -rf "$corpus"
done
exit $failed
