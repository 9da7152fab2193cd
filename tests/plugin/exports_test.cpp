// The exports' fixed answers, the job's return codes and output names, and start-up
// configuration, all through a loaded copy of the plug-in.
#include <cstddef>

#include "plugin_fixture.h"

namespace gleanery::test {
namespace {

TEST(WcxLayout, RecordsMatchBothHostFamilies) {
    EXPECT_EQ(sizeof(wcx::PackDefaultParamStruct), 272u);
    EXPECT_EQ(offsetof(wcx::PackDefaultParamStruct, DefaultIniName), 12u);
    EXPECT_EQ(offsetof(wcx::OpenArchiveDataW, OpenResult), sizeof(void*) + sizeof(int));
    EXPECT_EQ(offsetof(wcx::OpenArchiveData, OpenResult), sizeof(void*) + sizeof(int));
    if (sizeof(void*) == 8) {
        EXPECT_EQ(wcx::kDcStructSize, 65588u);
        EXPECT_EQ(wcx::kDcMessageBoxOffset, 32780u);
    }
}

using Exports = PluginTest;

TEST_F(Exports, FixedAnswersOfTheArchiveSide) {
    Load();
    EXPECT_EQ(lib.GetPackerCaps(), 279);
    EXPECT_EQ(lib.GetBackgroundFlags(), 2);

    WriteFile(work / "a.txt", "hello");
    std::u16string name = (work / "a.txt").u16string();
    wcx::OpenArchiveDataW dataW{};
    dataW.ArcName = name.data();
    EXPECT_EQ(lib.OpenArchiveW(&dataW), nullptr);
    EXPECT_EQ(dataW.OpenResult, 14);
    std::string narrow = (work / "a.txt").string();
    wcx::OpenArchiveData data{};
    data.ArcName = narrow.data();
    EXPECT_EQ(lib.OpenArchive(&data), nullptr);
    EXPECT_EQ(data.OpenResult, 14);

    EXPECT_EQ(lib.ReadHeader(nullptr, nullptr), 13);
    EXPECT_EQ(lib.ReadHeaderEx(nullptr, nullptr), 13);
    EXPECT_EQ(lib.ReadHeaderExW(nullptr, nullptr), 13);
    EXPECT_EQ(lib.ProcessFile(nullptr, 0, nullptr, nullptr), 13);
    EXPECT_EQ(lib.ProcessFileW(nullptr, 0, nullptr, nullptr), 13);
    EXPECT_EQ(lib.CloseArchive(nullptr), 0);
}

TEST_F(Exports, EightBitPackingIsRefusedWithAMessage) {
    Load();
    WriteFile(work / "a.txt", "hello");
    std::string archive = (root / "out.zip").string();
    std::string source = work.string() + "/";
    std::string list("a.txt\0\0", 7);
    EXPECT_EQ(lib.PackFiles(archive.data(), nullptr, source.data(), list.data(), 0), 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0], "Gleanery|No support for Windows 9x or non-Unicode!|48");
    EXPECT_FALSE(fs::exists(root / "out.zip"));
    EXPECT_FALSE(fs::exists(root / "out.txt"));
}

TEST_F(Exports, ReturnCodesOfTheJob) {
    WriteLastSettings("regex=b+\r\n");
    Load();
    WriteFile(work / "a.txt", "abba");
    fs::create_directories(work / "dir");

    // The 8-bit progress callback is never stored: the wide one keeps receiving calls.
    int dummy = 0;
    lib.SetProcessDataProc(nullptr, &dummy);

    // Output in a directory that does not exist: cannot be created.
    EXPECT_EQ(Pack(root / "missing" / "out.zip", {"a.txt"}), 16);

    // Empty add list: nothing searched, the empty output deleted, no match.
    EXPECT_EQ(Pack(root / "empty.zip", {}), 22);
    EXPECT_FALSE(fs::exists(root / "empty.txt"));

    // A directory entry reaches the callback with size 0; a 0 answer aborts the job.
    host.abortAtCall = 1;
    EXPECT_EQ(Pack(root / "abort.zip", {"dir/", "a.txt"}), 21);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress[0], (work / "dir").string() + "/|0");
    EXPECT_FALSE(fs::exists(root / "abort.txt"));
    host.abortAtCall = 0;

    // Overwrite answered No: 0 and the file untouched.
    WriteFile(root / "keep.txt", "precious");
    host.answers = {7};
    EXPECT_EQ(Pack(root / "keep.zip", {"a.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "keep.txt"), "precious");
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes.back(), "Gleanery|Overwrite \"keep.txt\" ?|4404");
}

TEST_F(Exports, OutputNameFollowsOutfileExtension) {
    WriteFile(work / "docs" / "readme.md", "bb");
    WriteFile(work / "plain", "bb");

    WriteLastSettings("regex=b+\r\nOutfileExtension=0\r\n");
    Load();
    EXPECT_EQ(Pack(root / "list.zip", {"docs/readme.md"}), 0);
    EXPECT_EQ(ReadAll(root / "list.txt"), "bb");
    Unload();

    WriteLastSettings("regex=b+\r\nOutfileExtension=1\r\n");
    Load();
    EXPECT_EQ(Pack(root / "first.zip", {"docs/", "docs/readme.md"}), 0);
    EXPECT_EQ(ReadAll(root / "first.md"), "bb");
    EXPECT_EQ(Pack(root / "noext.zip", {"plain"}), 0);
    EXPECT_EQ(ReadAll(root / "noext.txt"), "bb");
    Unload();

    WriteLastSettings("regex=b+\r\nOutfileExtension=2\r\n");
    Load();
    EXPECT_EQ(Pack(root / "asis.zip", {"plain"}), 0);
    EXPECT_EQ(ReadAll(root / "asis.zip"), "bb");
}

TEST_F(Exports, UseTcIniDirIsWrittenAndHonoured) {
    Load();
    EXPECT_NE(ReadAll(pluginIni).find("UseTcIniDir=0"), std::string::npos);
    Unload();

    // With 1 the settings live beside the host's own ini file.
    WriteFile(pluginIni, "[gleanery]\r\nUseTcIniDir=1\r\n");
    WriteFile(configDir / "Gleanery.ini", "[gleanery_last]\r\nregex=z+\r\nreplace=$0\r\n");
    WriteFile(pluginDir / "Gleanery.ini", "[gleanery_last]\r\nregex=y+\r\n");
    WriteFile(work / "a.txt", "yyzz");
    Load();
    EXPECT_EQ(Pack(root / "out.zip", {"a.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "zz");
}

TEST_F(Exports, LanguageFollowsTheHost) {
    WriteFile(hostIni, "[Configuration]\r\nlanguageini=HOST_DEU.LNG\r\n");
    WriteFile(pluginDir / "Gleanery.lng", "\xEF\xBB\xBF[deu]\r\n310=\xC3\x9C"
                                          "berschreiben\r\n00=ignored\r\n[EMPTY]\r\n");
    WriteFile(root / "out.txt", "old");
    WriteFile(work / "a.txt", "a");
    WriteLastSettings("regex=a\r\n");
    Load();
    host.answers = {7};
    EXPECT_EQ(Pack(root / "out.zip", {"a.txt"}), 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0], "Gleanery|\xC3\x9C"
                             "berschreiben \"out.txt\" ?|4404");
    Unload();

    // An empty section leaves the English texts; so does a host whose main configuration is
    // not an ini file at all (Double Commander's XML).
    for (const char* hostConfig :
         {"[Configuration]\r\nlanguageini=EMPTY.LNG\r\n",
          "<?xml version=\"1.0\"?>\n<doublecmd><Language><POFileName>doublecmd.de.po"
          "</POFileName></Language></doublecmd>\n"}) {
        host.boxes.clear();
        WriteFile(hostIni, hostConfig);
        Load();
        host.answers = {7};
        EXPECT_EQ(Pack(root / "out.zip", {"a.txt"}), 0);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0], "Gleanery|Overwrite \"out.txt\" ?|4404");
        Unload();
    }
}

} // namespace
} // namespace gleanery::test
