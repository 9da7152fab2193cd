// The command-line host end to end: it loads the built plug-in and drives it as a file manager.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "plugin_fixture.h"

namespace gleanery::test {
namespace {

struct HostRun {
    int status = -1;
    std::string out;
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        config = root / "config";
        tmp = root / "tmp";
        fs::create_directories(tmp);
    }
    void TearDown() override {
        // Whatever a run made for itself (settings copies, results for standard output) is gone.
        EXPECT_TRUE(fs::is_empty(tmp));
    }

    // Runs the host with `args` (already quoted for the shell), stdin not a terminal, in the
    // directory `dir` when given; `tail` places its standard output and error.
    HostRun Host(const std::string& args, const std::string& tail = "2>&1",
                 const fs::path& dir = {}) {
        const std::string where =
            environment.empty() ? "TMPDIR=\"" + tmp.string() + "\"" : environment;
        const std::string command = (dir.empty() ? "" : "cd \"" + dir.string() + "\" && ") + where +
                                    " \"" + GLEANERY_HOST_PATH + "\" " + args + " --config \"" +
                                    config.string() + "\" </dev/null " + tail;
        HostRun run;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return run;
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return run;
    }

    // Starts the host on a terminal of its own (standard input, output and error) or with its
    // standard output on the pipe `out`; returns the process id, -1 on failure.
    pid_t Start(const std::vector<std::string>& args, bool terminal, int& out) {
        std::vector<std::string> all{GLEANERY_HOST_PATH};
        all.insert(all.end(), args.begin(), args.end());
        all.insert(all.end(), {"--config", config.string()});
        int ends[2] = {-1, -1};
        if (!terminal && ::pipe(ends) != 0) return -1;
        const pid_t pid = terminal ? ::forkpty(&out, nullptr, nullptr, nullptr) : ::fork();
        if (pid == 0) {
            if (!terminal) {
                ::dup2(ends[1], STDOUT_FILENO);
                ::close(ends[0]); // else the host would hold its own pipe open
            }
            ::setenv("TMPDIR", tmp.c_str(), 1);
            const rlimit noCore{0, 0}; // SIGQUIT would leave a core file
            ::setrlimit(RLIMIT_CORE, &noCore);
            std::vector<char*> argv;
            for (std::string& arg : all) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (!terminal) {
            ::close(ends[1]);
            out = ends[0];
        }
        return pid;
    }

    // Waits, at most a minute, for the process to end (else ends it); its wait status.
    static int WaitRaw(pid_t pid) {
        int raw = 0;
        for (int i = 0; i < 600; ++i) {
            if (::waitpid(pid, &raw, WNOHANG) == pid) return raw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &raw, 0);
        return raw;
    }
    // The same as an exit status, -1 for anything else.
    static int Wait(pid_t pid) {
        const int raw = WaitRaw(pid);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // Starts a pack of 600 KiB of results for standard output, which nobody reads, and returns
    // once the pipe is full: the host then waits in a write, its result in its temporary
    // directory. Full: more than 60000 bytes waiting (pages of the pipe may be partly filled),
    // and no more coming.
    pid_t StartBlocked(int& out) {
        std::string text;
        for (int i = 0; i < 100000; ++i) text += "match\n";
        WriteFile(root / "in.txt", text);
        const pid_t pid =
            Start({"pack", "-e", "match", "-", (root / "in.txt").string()}, false, out);
        int queued = 0, before = -1;
        for (int i = 0; pid > 0 && i < 600 && (queued < 60000 || queued != before); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            before = queued;
            if (::ioctl(out, FIONREAD, &queued) != 0) break;
        }
        return pid;
    }

    // Runs the host on a terminal, with `typed` typed in: what the terminal showed, and the
    // status.
    HostRun OnTerminal(const std::vector<std::string>& args, const std::string& typed) {
        HostRun run;
        int terminal = -1;
        const pid_t pid = Start(args, true, terminal);
        if (pid < 0) return run;
        if (!typed.empty() && ::write(terminal, typed.data(), typed.size()) < 0) return run;
        char buffer[4096];
        pollfd wait{terminal, POLLIN, 0};
        while (::poll(&wait, 1, 60000) > 0) {
            const ssize_t n = ::read(terminal, buffer, sizeof buffer);
            if (n <= 0) break; // EIO once the host has ended
            run.out.append(buffer, static_cast<size_t>(n));
        }
        ::close(terminal);
        run.status = Wait(pid);
        return run;
    }

    TempDir temp{"gleanery-cli"};
    const fs::path& root = temp.path;
    fs::path config;
    fs::path tmp;
    // Variables for the host in place of TMPDIR (Host).
    std::string environment;
};

TEST_F(Cli, PackWithOptionsLeavesTheStoredSettingsAlone) {
    WriteFile(root / "a.txt", "no digits\nroom 101\n");
    WriteFile(root / "b.txt", "7 and 8");
    ASSERT_EQ(Host("set -e 'x+' --case-sensitive").status, 0);
    const std::string stored = ReadAll(config / "Gleanery.ini");
    ASSERT_NE(stored.find("regex=x+\r\n"), std::string::npos);

    const fs::path a = root / "a.txt", b = root / "b.txt";
    const HostRun run = Host("pack --regex '\\d+' --line-mode \"" + (root / "out").string() +
                             "\" \"" + a.string() + "\" \"" + b.string() + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), ">>>> \"" + a.string() +
                                             "\":\r\n>> Line 2:\r\n101\r\n>>>> \"" + b.string() +
                                             "\":\r\n>> Line 1:\r\n7\r\n8");
    EXPECT_EQ(ReadAll(config / "Gleanery.ini"), stored);

    // Where the user names no place for temporary files, the settings copy goes to the user's
    // runtime directory, and nothing of it stays there.
    const fs::path runtime = root / "runtime";
    fs::create_directories(runtime);
    environment = "env -u TMPDIR XDG_RUNTIME_DIR=\"" + runtime.string() + "\"";
    const HostRun inMemory = Host("pack --yes --line-mode -e '\\d+' \"" + (root / "out").string() +
                                  "\" \"" + b.string() + "\"");
    environment.clear();
    ASSERT_EQ(inMemory.status, 0) << inMemory.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), ">>>> \"" + b.string() + "\":\r\n>> Line 1:\r\n7\r\n8");
    EXPECT_TRUE(fs::is_empty(runtime));
    EXPECT_EQ(ReadAll(config / "Gleanery.ini"), stored);

    // Without a terminal the overwrite question takes its default, No: the file stays, and the
    // host says so.
    WriteFile(root / "out.txt", "mine");
    const HostRun kept =
        Host("pack -e '\\d' \"" + (root / "out").string() + "\" \"" + b.string() + "\"");
    EXPECT_EQ(kept.status, 3);
    EXPECT_NE(kept.out.find("nothing written: the existing file was kept"), std::string::npos)
        << kept.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), "mine");
    EXPECT_EQ(
        Host("pack --yes -e 'z' \"" + (root / "out").string() + "\" \"" + b.string() + "\"").status,
        22);

    // A search the library ended at a limit is named on standard error, and the status says that
    // not everything was searched.
    WriteFile(root / "deep.txt", "z " + std::string(300, 'a') + " z");
    const HostRun limited =
        Host("pack -e '(*LIMIT_MATCH=50)(a|b)*c|z' \"" + (root / "limited").string() + "\" \"" +
             (root / "deep.txt").string() + "\"");
    EXPECT_EQ(limited.status, 4);
    EXPECT_NE(limited.out.find("gleanery: The search ended early in the following file(s), "),
              std::string::npos)
        << limited.out;
    EXPECT_NE(limited.out.find("\ngleanery: " + (root / "deep.txt").string() + "\n"),
              std::string::npos)
        << limited.out;
}

TEST_F(Cli, SetShowAndPresets) {
    ASSERT_EQ(Host("set -e 'a(b)c' -r '$1' --no-duplicates --memory 64 --check-buffer 1M "
                   "--code-page 1251 --default-char '#' --extension first --clipboard=delete "
                   "--no-jit")
                  .status,
              0);
    const HostRun show = Host("show");
    ASSERT_EQ(show.status, 0);
    for (const char* line :
         {"regex=a(b)c\n", "replace=$1\n", "NoDuplicates=true\n", "Memory=64 MiB\n",
          "EncodingCheck=1048576 bytes\n", "CodePage=1251\n", "DefaultCharacter=#\n",
          "OutfileExtension=first\n", "CopyClip=copy and delete the file\n", "Jit=false\n"})
        EXPECT_NE(show.out.find(line), std::string::npos) << line << show.out;

    // Every switch by its name and by its opposite's.
    const struct {
        const char* options;
        std::vector<const char*> shown;
    } kSwitchRuns[] = {
        {"--line-mode --binary --search-replace --duplicates --stats --case-sensitive --dotall "
         "--multiline --no-unicode-properties --empty-valid --bom --jit --no-clipboard",
         {"LineMode=true", "BinaryMode=true", "SearchAndReplace=true", "NoDuplicates=false",
          "WriteStats=true", "CaseSensitive=true", "Dotall=true", "Multiline=true",
          "UnicodeProperties=false", "EmptyValid=true", "WriteBom=true", "Jit=true",
          "CopyClip=off"}},
        {"--no-line-mode --no-binary --no-search-replace --no-duplicates --no-stats "
         "--ignore-case --no-dotall --no-multiline --unicode-properties --no-empty-valid "
         "--no-bom --no-jit --clipboard",
         {"LineMode=false", "BinaryMode=false", "SearchAndReplace=false", "NoDuplicates=true",
          "WriteStats=false", "CaseSensitive=false", "Dotall=false", "Multiline=false",
          "UnicodeProperties=true", "EmptyValid=false", "WriteBom=false", "Jit=false",
          "CopyClip=copy\n"}},
    };
    for (const auto& run : kSwitchRuns) {
        ASSERT_EQ(Host(std::string("set ") + run.options).status, 0) << run.options;
        const std::string shown = Host("show").out;
        for (const char* line : run.shown)
            EXPECT_NE(shown.find(std::string("\n") + line), std::string::npos) << line << shown;
    }

    // The presets come from the sample settings beside the plug-in on first use.
    const HostRun presets = Host("presets");
    ASSERT_EQ(presets.status, 0);
    EXPECT_NE(presets.out.find("E-mail addresses\t"), std::string::npos) << presets.out;

    WriteFile(root / "m.txt", "write to ann@example.org or bob@example.com");
    const HostRun run = Host("pack --preset 'E-mail addresses' \"" + (root / "mail").string() +
                             "\" \"" + (root / "m.txt").string() + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadAll(root / "mail.txt"), "ann@example.org\r\nbob@example.com");
}

TEST_F(Cli, ADirectoryIsPackedInPathOrder) {
    // Component by component: "a/..." before "a-b/..." before "a.txt", although '-' and '.'
    // sort before '/' as characters.
    const fs::path dir = root / "in";
    fs::create_directories(dir / "a" / "b");
    fs::create_directories(dir / "a-b");
    WriteFile(dir / "a" / "b" / "y", "A_B_Y");
    WriteFile(dir / "a" / "x", "A_X");
    WriteFile(dir / "a-b" / "x", "AB_X");
    WriteFile(dir / "a.txt", "A_TXT");
    WriteFile(dir / "b", "B");
    const HostRun run =
        Host("pack -e '\\w+' \"" + (root / "out").string() + "\" \"" + dir.string() + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), "A_B_Y\r\nA_X\r\nAB_X\r\nA_TXT\r\nB");

    // Named after the first file the walk finds, before the walk has ended.
    fs::rename(dir / "a" / "b" / "y", dir / "a" / "b" / "y.log");
    const HostRun first = Host("pack --extension first -e 'A_\\w+' \"" + (root / "out").string() +
                               "\" \"" + dir.string() + "\"");
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_EQ(ReadAll(root / "out.log"), "A_B_Y\r\nA_X\r\nA_TXT");
    EXPECT_EQ(first.out, "wrote " + (root / "out.log").string() + "\n");
}

TEST_F(Cli, BadUsageIsExplained) {
    const HostRun memory = Host("set --memory 4");
    EXPECT_EQ(memory.status, 2);
    EXPECT_NE(memory.out.find("--memory"), std::string::npos);
    EXPECT_EQ(Host("set --check-buffer 3M").status, 2);
    EXPECT_EQ(Host("set --extension zip").status, 2);
    EXPECT_EQ(Host("set --default-char ab").status, 2);
    EXPECT_EQ(Host("frobnicate").status, 2);
    EXPECT_EQ(Host("pack").status, 2);
    const HostRun directory = Host("pack \"" + root.string() + "/\" " + config.string());
    EXPECT_EQ(directory.status, 2);
    EXPECT_NE(directory.out.find("names a directory, not a file"), std::string::npos);
    EXPECT_EQ(Host("pack --preset 'no such preset' out.txt " + config.string()).status, 1);
    const HostRun help = Host("help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--search-replace"), std::string::npos);
}

TEST_F(Cli, EveryOperandIsHandled) {
    const fs::path in = root / "in";
    fs::create_directories(in / "empty");
    fs::create_directories(in / "x" / "a");
    fs::create_directories(in / "x" / "ab");
    WriteFile(in / "x" / "a" / "1", "hello");
    WriteFile(in / "x" / "ab" / "2", "world");
    WriteFile(in / "f.txt", "abc");
    // Entries the plug-in cannot read: a FIFO, a dangling link, a link to itself.
    fs::create_directories(in / "unreadable");
    ASSERT_EQ(::mkfifo((in / "unreadable" / "fifo").c_str(), 0600), 0);
    fs::create_symlink(in / "nowhere", in / "unreadable" / "dangling");
    fs::create_symlink(in / "unreadable" / "loop", in / "unreadable" / "loop");
    // Names that are not UTF-8 are searched under their own bytes, and an output name may
    // have them too.
    fs::create_directories(in / "bytes");
    WriteFile(in / "bytes" / "\xFF\xFE", "alpha");
    WriteFile(in / "bytes" / "ok", "beta");
    WriteFile(in / "bytes" / "caf\xE9", "gamma");

    const struct {
        std::string operands;
        int status;
        std::string output; // of out.txt, "-" for none
    } cases[] = {
        {"in/empty", 22, "-"},
        {"--stats in/empty", 22, "*Searched file(s): 0"},
        {"in/unreadable", 22, "-"},
        // A file is searched once, however often it is named.
        {"in/f.txt in/f.txt", 0, "abc"},
        // Whole path components: x/ab/2 does not lie in x/a.
        {"in/x/a/1 in/x/ab/2", 0, "hello\r\nworld"},
        {"in/bytes", 0, "gamma\r\nbeta\r\nalpha"},
        {"'in/bytes/\xFF\xFE'", 0, "alpha"},
    };
    for (const auto& c : cases) {
        fs::remove(root / "out.txt");
        const HostRun run = Host("pack -e '\\w+' out.txt " + c.operands, "2>&1", root);
        EXPECT_EQ(run.status, c.status) << c.operands << "\n" << run.out;
        if (c.output == "-")
            EXPECT_FALSE(fs::exists(root / "out.txt")) << c.operands;
        else if (c.output[0] == '*')
            EXPECT_NE(ReadAll(root / "out.txt").find(c.output.substr(1)), std::string::npos);
        else
            EXPECT_EQ(ReadAll(root / "out.txt"), c.output) << c.operands;
    }
    const HostRun named = Host("pack -e '\\w+' 'out\xFF' in/bytes/ok", "2>&1", root);
    EXPECT_EQ(named.status, 0) << named.out;
    EXPECT_EQ(ReadAll(root / "out\xFF.txt"), "beta");
    EXPECT_NE(named.out.find("out\\xFF.txt"), std::string::npos) << named.out;
    // A name that starts with a dot keeps it.
    EXPECT_EQ(Host("pack -e '\\w+' .notes in/bytes/ok", "2>&1", root).status, 0);
    EXPECT_EQ(ReadAll(root / ".notes.txt"), "beta");
}

TEST_F(Cli, ExpressionsThatDoNotCompileAreRefused) {
    WriteFile(root / "a.txt", "abc");
    ASSERT_EQ(Host("set -e 'b'").status, 0);
    const std::string stored = ReadAll(config / "Gleanery.ini");
    const fs::path out = root / "out";
    const std::string files = " \"" + out.string() + "\" \"" + (root / "a.txt").string() + "\"";
    const struct {
        std::string args;
        std::string message; // the library's message, the expression and the caret under it
    } cases[] = {
        {"pack -e '('" + files, "missing ) at pos 2\n  (\n   ^\n"},
        {"pack -e 'a[b' --search-replace -r x" + files,
         "missing terminating ] for character class at pos 4\n  a[b\n     ^\n"},
        {"pack -e 'x(?<n>y|*)'" + files, "nothing to repeat at pos 9\n  x(?<n>y|*)\n          ^\n"},
        {"set -e 'a)b'", "unmatched parentheses at pos 2\n  a)b\n   ^\n"},
        // Wide characters take two columns each.
        {"pack -e '\xE6\x97\xA5\xE6\x9C\xAC(x'" + files,
         "missing ) at pos 9\n  \xE6\x97\xA5\xE6\x9C\xAC(x\n        ^\n"},
        // Binary mode searches every file with the code-page form.
        {"pack --binary --code-page 1252 -e 'a[\\x{41f}]'" + files,
         "ANSI: character value in \\x{} or \\o{} is too large at pos 9 - try prefix (*UTF) !\n"
         "  a[\\x{41f}]\n          ^\n"},
    };
    for (const auto& c : cases) {
        const HostRun run = Host(c.args);
        EXPECT_EQ(run.status, 2) << c.args;
        EXPECT_NE(run.out.find("the expression does not compile: " + c.message), std::string::npos)
            << run.out;
        EXPECT_FALSE(fs::exists(root / "out.txt"));
    }
    EXPECT_EQ(ReadAll(config / "Gleanery.ini"), stored);

    // A replacement that refers to a group the expression lacks is only worth a warning.
    const HostRun warned = Host("pack -e 'a(b)' -r '$1$3'" + files);
    EXPECT_EQ(warned.status, 0) << warned.out;
    EXPECT_NE(warned.out.find("warning: the replacement refers to groups the expression does not "
                              "have (3)"),
              std::string::npos)
        << warned.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), "b");

    // Only the code-page form fails: the UTF-8 file is searched; a warning before the search says
    // which files cannot be, and the code-page file is named after it.
    WriteFile(root / "cp.txt", "caf\xE9 \xD0\x9F");
    WriteFile(root / "u8.txt", "\xD0\x9F\xD0\xB0");
    const HostRun partly =
        Host("pack --yes --code-page 1252 -e '\\x{41f}\\S' out cp.txt u8.txt", "2>&1", root);
    EXPECT_EQ(partly.status, 4) << partly.out;
    EXPECT_EQ(ReadAll(root / "out.txt"), "\xD0\x9F\xD0\xB0");
    EXPECT_NE(
        partly.out.find("warning: the expression does not compile for files in code page 1252 "
                        "(neither UTF-8 nor UTF-16), which are therefore not searched: ANSI: "
                        "character value in \\x{} or \\o{} is too large at pos 7"),
        std::string::npos)
        << partly.out;
    EXPECT_NE(partly.out.find("\ngleanery: " + (root / "cp.txt").string() + "\n"),
              std::string::npos)
        << partly.out;
    EXPECT_EQ(partly.out.find((root / "u8.txt").string()), std::string::npos) << partly.out;
}

TEST_F(Cli, SettingsCopyTakesOnlyWhatThePluginReads) {
    // A link loop and a link to a directory outside in the settings directory: a run with
    // search options neither walks nor copies them.
    ASSERT_EQ(Host("set -e 'x' --line-mode").status, 0);
    fs::create_directories(root / "elsewhere" / "deep");
    WriteFile(root / "elsewhere" / "deep" / "big", std::string(1 << 20, 'z'));
    fs::create_directory_symlink(root / "elsewhere", config / "linked");
    fs::create_directory_symlink(config, config / "loop");
    WriteFile(root / "a.txt", "x1 y2");
    const HostRun run = Host("pack -e 'y\\d' out.txt a.txt", "2>&1", root);
    ASSERT_EQ(run.status, 0) << run.out;
    // The stored options apply with the run's own on top.
    EXPECT_EQ(ReadAll(root / "out.txt"),
              ">>>> \"" + (root / "a.txt").string() + "\":\r\n>> Line 1:\r\ny2");
    EXPECT_NE(ReadAll(config / "Gleanery.ini").find("regex=x\r\n"), std::string::npos);

    // Without a readable last-settings section the plug-in asks whether to go on with the
    // defaults; No (the default without a terminal) writes nothing.
    WriteFile(config / "Gleanery.ini", "[gleanery]\r\n");
    const HostRun declined = Host("pack out2.txt a.txt", "2>&1", root);
    EXPECT_EQ(declined.status, 3);
    EXPECT_NE(declined.out.find("nothing written"), std::string::npos) << declined.out;
    EXPECT_FALSE(fs::exists(root / "out2.txt"));
}

TEST_F(Cli, DashWritesToStandardOutput) {
    fs::create_directories(root / "logs");
    WriteFile(root / "logs" / "a.log", "ERROR disk\nok\nERROR net\n");
    WriteFile(root / "logs" / "b.log", "ERROR disk\r\n");
    WriteFile(root / "crlf.txt", "a\r\nb\r\n");
    const struct {
        std::string args;
        std::string tail;
        int status;
        std::string out;
    } cases[] = {
        {"pack -e 'ERROR \\w+' - logs", "2>/dev/null | sort | uniq -c", 0,
         "      2 ERROR disk\n      1 ERROR net\n"},
        {"pack -e 'ERROR \\w+' - logs", "2>/dev/null", 0, "ERROR disk\nERROR net\nERROR disk\n"},
        {"pack -e 'nothing' - logs", "2>/dev/null", 22, ""},
        // File contents go out byte for byte.
        {"pack -e 'a' -r 'A' --search-replace - crlf.txt", "2>/dev/null", 0, "A\r\nb\r\n"},
    };
    for (const auto& c : cases) {
        const HostRun run = Host(c.args, c.tail, root);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.out, c.out) << c.args;
    }
}

TEST_F(Cli, TerminalShowsControlCharactersEscaped) {
    // A name and a text that would clear the screen and retitle the window.
    const std::string name = "e\x1B]0;owned\x07.txt";
    WriteFile(root / name, "a\x1B[2Jb");
    WriteFile(root / "out\x1B[2J.txt", "old");
    const std::string out = (root / "out\x1B[2J").string();

    // The overwrite question, answered No on the terminal.
    const HostRun asked = OnTerminal({"pack", "-e", ".+", out, (root / name).string()}, "n\n");
    EXPECT_EQ(asked.status, 3) << asked.out;
    EXPECT_NE(asked.out.find("out\\x1B[2J.txt"), std::string::npos) << asked.out;
    EXPECT_EQ(ReadAll(root / "out\x1B[2J.txt"), "old");

    // Line mode to standard output: the file header, the matched text and the progress line.
    const HostRun shown =
        OnTerminal({"pack", "-e", ".+", "--line-mode", "-", (root / name).string()}, "");
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("e\\x1B]0;owned\\x07.txt"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("a\\x1B[2Jb"), std::string::npos) << shown.out;
    for (const HostRun& run : {asked, shown}) {
        EXPECT_EQ(run.out.find("\x1B]0;"), std::string::npos);
        EXPECT_EQ(run.out.find("\x1B[2J"), std::string::npos);
    }

    // An output file keeps the bytes as found.
    ASSERT_EQ(Host("pack --yes -e '.+' out.txt '" + name + "'", "2>&1", root).status, 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "a\x1B[2Jb");
}

TEST_F(Cli, PacksStartedTogetherNeverShareTheirOutput) {
    // Two runs for the same new output: one creates it, the other finds it there and, asked
    // without a terminal, keeps it. The file is always one run's whole output.
    std::string a, b;
    for (int i = 0; i < 20000; ++i) {
        a += "alpha" + std::to_string(i) + "\n";
        b += "beta" + std::to_string(i) + "\n";
    }
    WriteFile(root / "a.in", a);
    WriteFile(root / "b.in", b);
    ASSERT_EQ(Host("pack -e '\\w+' ra a.in", "2>&1", root).status, 0);
    ASSERT_EQ(Host("pack -e '\\w+' rb b.in", "2>&1", root).status, 0);
    const std::string expected[] = {ReadAll(root / "ra.txt"), ReadAll(root / "rb.txt")};
    for (int round = 0; round < 4; ++round) {
        fs::remove(root / "out.txt");
        HostRun runs[2];
        std::thread second([&] { runs[1] = Host("pack -e '\\w+' out b.in", "2>&1", root); });
        runs[0] = Host("pack -e '\\w+' out a.in", "2>&1", root);
        second.join();
        const int winner = runs[0].status == 0 ? 0 : 1;
        EXPECT_EQ(runs[winner].status, 0) << runs[winner].out;
        EXPECT_EQ(runs[1 - winner].status, 3) << runs[1 - winner].out;
        EXPECT_NE(runs[1 - winner].out.find("the existing file was kept"), std::string::npos);
        EXPECT_EQ(ReadAll(root / "out.txt"), expected[winner]) << "round " << round;
    }
}

TEST_F(Cli, SecondCtrlCEndsAtOnceAndLeavesNothing) {
    // The write the host waits in is one that the first Ctrl-C cannot cut short. Should the host
    // still be busy, the first Ctrl-C cancels, with the same end.
    int out = -1;
    const pid_t pid = StartBlocked(out);
    ASSERT_GT(pid, 0);
    // One Ctrl-C, then more until the host ends (signals sent too close together merge).
    for (int i = 0; i < 600 && ::kill(pid, SIGINT) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int raw = 0;
        if (::waitpid(pid, &raw, WNOHANG) == pid) {
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 21) << raw;
            ::close(out);
            return; // TearDown checks that the temporary directory is empty
        }
    }
    ::close(out);
    ADD_FAILURE() << "the host did not end: " << Wait(pid);
}

TEST_F(Cli, EndedFromOutsideLeavesNothing) {
    for (const int signal : {SIGTERM, SIGHUP, SIGQUIT}) {
        int out = -1;
        const pid_t pid = StartBlocked(out);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(::kill(pid, signal), 0);
        const int raw = WaitRaw(pid);
        ::close(out);
        // The signal's own end, once the temporary directory is gone.
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == signal) << signal << ": " << raw;
        EXPECT_TRUE(fs::is_empty(tmp)) << signal;
    }
}

TEST_F(Cli, StandardInputAndStreamsAreSearchedUnderTheirNames) {
    WriteFile(root / "in.txt", "a foo b\n");
    WriteFile(root / "f.txt", "foo2\n");
    fs::create_directories(root / "sub");
    ASSERT_EQ(::mkfifo((root / "sub" / "fifo").c_str(), 0600), 0);
    const std::string f = (root / "f.txt").string();
    const struct {
        std::string args;
        std::string tail;
        std::string out;
    } cases[] = {
        // No FILE, standard input not a terminal: it is searched.
        {"pack -e foo -", "<in.txt 2>&1", "foo\n"},
        {"pack -e 'foo\\d?' --line-mode - - f.txt", "<in.txt 2>&1",
         ">>>> \"(standard input)\":\n>> Line 1:\nfoo\n>>>> \"" + f + "\":\n>> Line 1:\nfoo2\n"},
        // A FIFO named as FILE is read as it comes and keeps its name.
        {"pack -e foo -r '\\xNN:$0' - sub/fifo", "2>&1", "sub/fifo:foo\n"},
    };
    for (const auto& c : cases) {
        std::thread writer;
        if (c.args.find("fifo") != std::string::npos)
            writer = std::thread([&] {
                // Waits, at most a minute, for the host to open the FIFO.
                int fd = -1;
                for (int i = 0; i < 600 && fd < 0; ++i) {
                    fd = ::open((root / "sub" / "fifo").c_str(), O_WRONLY | O_NONBLOCK);
                    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                if (fd >= 0 && ::write(fd, "a foo\n", 6) != 6) ADD_FAILURE() << "write";
                if (fd >= 0) ::close(fd);
            });
        const HostRun run = Host(c.args, c.tail, root);
        if (writer.joinable()) writer.join();
        EXPECT_EQ(run.status, 0) << c.args;
        EXPECT_EQ(run.out, c.out) << c.args;
    }
}

TEST_F(Cli, TreesAreWalkedAsGrepWalksThem) {
    const fs::path in = root / "in";
    fs::create_directories(in / "d");
    WriteFile(in / "a.txt", "foo1");
    WriteFile(in / "d" / "b.txt", "foo2");
    fs::create_symlink(in / "a.txt", in / "d" / "link.txt");
    fs::create_directory_symlink(in / "d", in / "d" / "loop");
    fs::create_directory_symlink(in, in / "up");
    fs::create_symlink(in / "nowhere", in / "dangling");
    // A UTF-8 file with a bad byte past the encoding check buffer: the part that holds it is
    // skipped, foo3 with it.
    std::string bad;
    for (int i = 0; i < 100000; ++i) bad += "\xC3\xA9 ";
    WriteFile(root / "bad.txt", "foo3 " + bad + "\xFF");
    const struct {
        std::string args;
        int status;
        std::string out;                   // standard output
        std::vector<std::string> messages; // on standard error
    } cases[] = {
        // Links met while walking are left alone; a link named as FILE is followed.
        {"in", 0, "foo1\nfoo2\n", {}},
        {"in/d/link.txt", 0, "foo1\n", {}},
        // Operands that overlap: each file once, where it was first met.
        {"in in/d in/d/b.txt", 0, "foo1\nfoo2\n", {}},
        {"in/d/b.txt in/d/link.txt in", 0, "foo2\nfoo1\n", {}},
        // Followed, each file and directory once: no loop, no repeat.
        {"-L in", 4, "foo1\nfoo2\n", {"gleanery: in/dangling: No such file or directory\n"}},
        {"in/a.txt /no/such in/a.txt",
         4,
         "foo1\n",
         {"gleanery: /no/such: No such file or directory\n"}},
        {"/no/such", 4, "", {"gleanery: no match\n"}},
        {"bad.txt",
         4,
         "",
         {"gleanery: " + (root / "bad.txt").string() +
          ": partly skipped for bad UTF-8 or UTF-16 encoding"}},
    };
    for (const auto& c : cases) {
        const HostRun run =
            Host("pack --check-buffer 128k -e 'foo\\d' - " + c.args, "2>err.txt", root);
        const std::string err = ReadAll(root / "err.txt");
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << err;
        EXPECT_EQ(run.out, c.out) << c.args;
        for (const std::string& message : c.messages)
            EXPECT_NE(err.find(message), std::string::npos) << c.args << "\n" << err;
        // No progress line when standard error is not a terminal.
        EXPECT_EQ(err.find("\r"), std::string::npos) << c.args;
    }

    // What the walk (which goes on beside the settings) has to say comes before a rejected
    // expression's message.
    const HostRun rejected = Host("pack -e 'foo(' - /no/such", "2>&1", root);
    const size_t missing = rejected.out.find("/no/such: No such file or directory");
    EXPECT_NE(missing, std::string::npos) << rejected.out;
    EXPECT_LT(missing, rejected.out.find("nothing was searched")) << rejected.out;

    // The output file is never its own input, and says so.
    WriteFile(root / "out.txt", "foo9");
    const HostRun self = Host("pack --yes -e 'foo\\d' out.txt out.txt in/a.txt", "2>&1", root);
    EXPECT_EQ(self.status, 4);
    EXPECT_NE(self.out.find(": not searched: it is the output file\n"), std::string::npos)
        << self.out;
}

TEST_F(Cli, ATreeSearchedWhileItIsWalkedGivesTheOrderOfOneThread) {
    // Three levels of four directories, a file before and after them in each: the files come in
    // path order, component by component, however the names handed over were shared out.
    std::string expected;
    int id = 0;
    auto fill = [&](auto&& self, const fs::path& dir, int depth) -> void {
        fs::create_directories(dir);
        for (const char* name : {"a.txt", "z.txt"}) {
            if (name[0] == 'z' && depth < 3)
                for (int d = 0; d < 4; ++d) self(self, dir / ("d" + std::to_string(d)), depth + 1);
            const std::string token = "foo" + std::to_string(id++);
            WriteFile(dir / name, token);
            expected += token + "\n";
        }
    };
    fill(fill, root / "deep", 0);
    // A device among the operands (read as a stream, empty here) has the walk end before the
    // pack begins: the same results.
    for (const auto& [threads, more] : {std::pair{"1", ""}, {"4", ""}, {"4", " /dev/null"}}) {
        const HostRun run = Host(std::string("pack -j ") + threads + " -e 'foo\\d+' - deep" + more,
                                 "2>/dev/null", root);
        EXPECT_EQ(run.status, 0) << threads << more;
        EXPECT_EQ(run.out, expected) << threads << more;
    }
}

TEST_F(Cli, ResultsStreamAndAClosedPipeOrCtrlCEndsTheRun) {
    std::string text;
    for (int i = 0; i < 300000; ++i) text += "match\n";
    WriteFile(root / "in.txt", text);
    for (const bool close : {true, false}) {
        int out = -1;
        const pid_t pid =
            Start({"pack", "-e", "match", "-", (root / "in.txt").string()}, false, out);
        ASSERT_GT(pid, 0);
        // Results come before the run has ended: it cannot end before they are read.
        std::string got(12, '\0');
        EXPECT_EQ(::read(out, got.data(), got.size()), 12);
        EXPECT_EQ(got, "match\nmatch\n");
        if (close) {
            // A reader that has gone ends the run as it ends a filter.
            ::close(out);
            const int raw = WaitRaw(pid);
            EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGPIPE) << raw;
        } else {
            // Ctrl-C keeps what was printed: the rest is whole results.
            ::kill(pid, SIGINT);
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(out, buffer, sizeof buffer)) > 0) got.append(buffer, size_t(n));
            ::close(out);
            EXPECT_EQ(Wait(pid), 21);
            EXPECT_LT(got.size(), text.size());
            EXPECT_EQ(got, text.substr(0, got.size()));
        }
        EXPECT_TRUE(fs::is_empty(tmp)) << close;
    }
}

TEST_F(Cli, ProgressShowsOnATerminalOnly) {
    std::string text = "match\n";
    for (int i = 0; i < 5000000; ++i) text += "abc\n";
    WriteFile(root / "many.txt", text);
    const HostRun run = OnTerminal(
        {"pack", "--line-mode", "-e", "match|zzz", "-", (root / "many.txt").string()}, "");
    EXPECT_EQ(run.status, 0) << run.out;
    const size_t line = run.out.find("\r\x1B[K0/1 files  ");
    ASSERT_NE(line, std::string::npos) << run.out.substr(0, 2000);
    EXPECT_NE(run.out.find("many.txt", line), std::string::npos);
    // Cleared at the end.
    EXPECT_GT(run.out.rfind("\r\x1B[K"), run.out.rfind(" files  ")) << run.out.substr(line, 2000);
}

TEST_F(Cli, OptionsAsAUnixUserExpectsThem) {
    WriteFile(root / "m.txt", "mail ann@example.org at <title>T</title> http://x.org");
    const struct {
        std::string args;
        int status;
        std::string out; // a part of it
    } cases[] = {
        {"pack -n - m.txt", 2, "unknown option '-n'"},
        {"pack -y - m.txt", 2, "unknown option '-y'"},
        {"pack --preset e-MAIL - m.txt", 0, "ann@example.org\n"},
        {"pack --preset url - m.txt", 0, "http://x.org\n"},
        {"pack -j2 -e'ann@\\w+' - m.txt", 0, "ann@example\n"},
        {"pack -jx - m.txt", 2, "bad value 'x' for -j"},
        {"pack --preset h - m.txt", 1,
         "'h' begins the names of several presets:\n  HTML page titles\n  Hexadecimal numbers"},
        {"--version", 0, "PCRE 8."},
        {"pack -e 'x' \"" + root.string() + "/nodir/out\" m.txt", 16,
         "nodir/out.txt: No such file or directory"},
    };
    for (const auto& c : cases) {
        const HostRun run = Host(c.args, "2>&1", root);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.args << "\n" << run.out;
    }
}

} // namespace
} // namespace gleanery::test
