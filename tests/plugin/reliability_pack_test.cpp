// Hostile input through the exports, as a file manager hands it over, with the invariants of
// every pack checked: inputs unchanged, nothing but the output written.
#include <sys/stat.h>

#include "plugin_fixture.h"
#include "support/pack_invariants.h"

namespace gleanery::test {
namespace {

// A host that copes with any name it is given (unpaired surrogates included).
std::vector<std::string> g_progress;
int WCX_CALL TolerantProgress(char16_t* name, int size) {
    std::string text;
    for (const char16_t* c = name; *c; ++c) text += *c < 0x80 ? static_cast<char>(*c) : '?';
    g_progress.push_back(text + "|" + std::to_string(size));
    return 1;
}

class HostilePacking : public PluginTest {
  protected:
    // Packs a raw add list (entries already zero-separated, the final empty entry added here).
    int PackRaw(std::u16string list, const fs::path& output, bool answeredYes = true) {
        const TreeSnapshot before = SnapshotTree(root);
        list.push_back(u'\0');
        list.push_back(u'\0');
        std::u16string source = work.u16string() + u"/";
        std::u16string archive = (root / "out.zip").u16string();
        const int code = lib.PackFilesW(archive.data(), nullptr, source.data(), list.data(), 0);
        // The first pack may copy the shipped sample into the plug-in's settings file.
        ExpectPackInvariants(before, root, output, answeredYes, {pluginDir / "Gleanery.ini"});
        return code;
    }
};

TEST_F(HostilePacking, SpecialFilesDirectoriesAndBadNamesInTheAddList) {
    WriteLastSettings("regex=[A-Z]\\d\r\n");
    WriteFile(work / "a.txt", "A1");
    fs::create_directory(work / "dir");
    ASSERT_EQ(::mkfifo((work / "fifo").c_str(), 0600), 0);
    WriteFile(work / "z\xEF\xBF\xBD", "Z9"); // what an unpaired surrogate would turn into
    Load();
    std::u16string list = u"fifo";
    list += u'\0';
    list += u"dir";
    list += u'\0';
    list += u"z";
    list += char16_t(0xDBFF);
    list += u'\0';
    list += u"a.txt";
    g_progress.clear();
    lib.SetProcessDataProcW(nullptr, TolerantProgress);
    EXPECT_EQ(PackRaw(list, root / "out.txt"), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "A1");
    ASSERT_EQ(g_progress.size(), 4u);
    EXPECT_EQ(g_progress[0], (work / "fifo").string() + "|0");
    EXPECT_EQ(g_progress[1], (work / "dir").string() + "|0");
    EXPECT_EQ(g_progress[2], (work / "z?").string() + "|0");
}

TEST_F(HostilePacking, LongPathsAndSurrogatePairNames) {
    WriteLastSettings("regex=[A-Z]\\d\r\nOutfileExtension=1\r\n");
    fs::path deep = work;
    std::string relative;
    for (int i = 0; i < 3; ++i) {
        const std::string part = std::string(90, static_cast<char>('k' + i)) + "\xF0\x9F\x98\x80";
        deep /= part;
        relative += part + "/";
    }
    fs::create_directories(deep);
    WriteFile(deep / "f\xF0\x9D\x84\x9E.log", "L5");
    relative += "f\xF0\x9D\x84\x9E.log";
    Load();
    // OutfileExtension 1: the output takes the first file's extension.
    EXPECT_EQ(PackRaw(U16(relative), root / "out.log"), 0);
    EXPECT_EQ(ReadAll(root / "out.log"), "L5");
}

TEST_F(HostilePacking, ExistingOutputReplacedOnlyAfterYes) {
    WriteLastSettings("regex=[A-Z]\\d\r\n");
    WriteFile(work / "a.txt", "A1");
    WriteFile(root / "out.txt", "keep me");
    Load();
    host.answers = {7}; // No
    EXPECT_EQ(PackRaw(u"a.txt", root / "out.txt", false), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "keep me");
    host.answers = {6}; // Yes
    EXPECT_EQ(PackRaw(u"a.txt", root / "out.txt", true), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "A1");
}

TEST_F(HostilePacking, OversizedSettingsFileAsksAndNoLeavesEverything) {
    // 5 MiB + 1 byte: not loaded; the question is asked and No touches nothing.
    WriteFile(pluginDir / "Gleanery.ini",
              "[gleanery_last]\r\nregex=x\r\n" + std::string(5242855, ';'));
    ASSERT_EQ(fs::file_size(pluginDir / "Gleanery.ini"), 5242881u);
    WriteFile(work / "a.txt", "x");
    Load();
    host.answers = {7};
    EXPECT_EQ(PackRaw(u"a.txt", root / "out.txt", false), 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_NE(host.boxes[0].find("Last settings not available!"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "out.txt"));
}

TEST_F(HostilePacking, InvalidUtf16AndUtf8InputsAreReportedNotFatal) {
    WriteLastSettings("regex=\\w+\r\nWriteStats=true\r\nCodePage=65001\r\n");
    // A UTF-16 file with an unpaired surrogate past the check buffer, and invalid UTF-8 with a
    // byte-order mark.
    std::string utf16 = "\xFF\xFE";
    for (int i = 0; i < 200000; ++i) utf16 += std::string("a\0 \0", 4);
    utf16 += std::string("\x00\xD8"
                         "b\0",
                         4);
    WriteFile(work / "w.txt", utf16);
    WriteFile(work / "u.txt", "\xEF\xBB\xBF"
                              "ok \xC3\x28 \xF5\x80");
    Load();
    EXPECT_EQ(PackRaw(std::u16string(u"w.txt") + u'\0' + u"u.txt", root / "out.txt"), 0);
    const std::string out = ReadAll(root / "out.txt");
    EXPECT_NE(out.find("Searched file(s): 2"), std::string::npos);
}

} // namespace
} // namespace gleanery::test
