// The command-line host end to end: it loads the built plug-in and drives it as a file manager.
#include <cstdio>
#include <random>

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
        root =
            fs::temp_directory_path() / ("gleanery-cli-" + std::to_string(std::random_device{}()));
        config = root / "config";
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs the host with `args` (already quoted for the shell), stdin not a terminal.
    HostRun Host(const std::string& args) {
        const std::string command = std::string("\"") + GLEANERY_HOST_PATH + "\" " + args +
                                    " --config \"" + config.string() + "\" </dev/null 2>&1";
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

    fs::path root;
    fs::path config;
};

TEST_F(Cli, PackWithOptionsLeavesTheStoredSettingsAlone) {
    WriteFile(root / "a.txt", "no digits\nroom 101\n");
    WriteFile(root / "b.txt", "7 and 8");
    ASSERT_EQ(Host("set -e 'x+' --case-sensitive").status, 0);
    const std::string stored = ReadFile(config / "Gleanery.ini");
    ASSERT_NE(stored.find("regex=x+\r\n"), std::string::npos);

    const fs::path a = root / "a.txt", b = root / "b.txt";
    const HostRun run = Host("pack --regex '\\d+' --line-mode \"" + (root / "out").string() +
                             "\" \"" + a.string() + "\" \"" + b.string() + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadFile(root / "out.txt"), ">>>> \"" + a.string() +
                                              "\":\r\n>> Line 2:\r\n101\r\n>>>> \"" + b.string() +
                                              "\":\r\n>> Line 1:\r\n7\r\n8");
    EXPECT_EQ(ReadFile(config / "Gleanery.ini"), stored);

    // Without a terminal the overwrite question takes its default, No: the file stays.
    WriteFile(root / "out.txt", "mine");
    EXPECT_EQ(
        Host("pack -e '\\d' \"" + (root / "out").string() + "\" \"" + b.string() + "\"").status, 0);
    EXPECT_EQ(ReadFile(root / "out.txt"), "mine");
    EXPECT_EQ(
        Host("pack --yes -e 'z' \"" + (root / "out").string() + "\" \"" + b.string() + "\"").status,
        22);
}

TEST_F(Cli, SetShowAndPresets) {
    ASSERT_EQ(Host("set -e 'a(b)c' -r '$1' --no-duplicates --memory 64 --check-buffer 1M "
                   "--code-page 1251 --default-char '#' --extension first --clipboard=delete")
                  .status,
              0);
    const HostRun show = Host("show");
    ASSERT_EQ(show.status, 0);
    for (const char* line :
         {"regex=a(b)c\n", "replace=$1\n", "NoDuplicates=true\n", "Memory=64 MiB\n",
          "EncodingCheck=1048576 bytes\n", "CodePage=1251\n", "DefaultCharacter=#\n",
          "OutfileExtension=first\n", "CopyClip=copy and delete the file\n"})
        EXPECT_NE(show.out.find(line), std::string::npos) << line << show.out;

    // The presets come from the sample settings beside the plug-in on first use.
    const HostRun presets = Host("presets");
    ASSERT_EQ(presets.status, 0);
    EXPECT_NE(presets.out.find("E-mail addresses\t"), std::string::npos) << presets.out;

    WriteFile(root / "m.txt", "write to ann@example.org or bob@example.com");
    const HostRun run = Host("pack --preset 'E-mail addresses' \"" + (root / "mail").string() +
                             "\" \"" + (root / "m.txt").string() + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ReadFile(root / "mail.txt"), "ann@example.org\r\nbob@example.com");
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
    EXPECT_EQ(ReadFile(root / "out.txt"), "A_B_Y\r\nA_X\r\nAB_X\r\nA_TXT\r\nB");
}

TEST_F(Cli, BadUsageIsExplained) {
    const HostRun memory = Host("set --memory 4");
    EXPECT_EQ(memory.status, 2);
    EXPECT_NE(memory.out.find("--memory"), std::string::npos);
    EXPECT_EQ(Host("set --check-buffer 3M").status, 2);
    EXPECT_EQ(Host("set --extension zip").status, 2);
    EXPECT_EQ(Host("set --default-char ab").status, 2);
    EXPECT_EQ(Host("frobnicate").status, 2);
    EXPECT_EQ(Host("pack only-output").status, 2);
    EXPECT_EQ(Host("pack out.txt /no/such/file").status, 2);
    EXPECT_EQ(Host("pack --preset 'no such preset' out.txt " + config.string()).status, 1);
    const HostRun help = Host("help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--search-replace"), std::string::npos);
}

} // namespace
} // namespace gleanery::test
