// The job's spine: output names, read-memory grant, return codes, path forms, code page probe,
// and the interface texts with the language file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "engine/extraction_job.h"
#include "engine/paths.h"
#include "settings/code_pages.h"
#include "settings/texts.h"
#include "support/temp_dir.h"

namespace gleanery {
namespace {

namespace fs = std::filesystem;

TEST(Spine, ReturnCodeMapping) {
    auto code = [](bool ok, bool aborted, bool created, bool matched) {
        return PackResultCode(JobOutcome{ok, aborted, created, matched, {}});
    };
    EXPECT_EQ(code(true, false, true, true), 0);
    EXPECT_EQ(code(true, true, true, true), 21);
    EXPECT_EQ(code(false, true, true, true), 19); // aborted after a write error
    EXPECT_EQ(code(true, false, true, false), 22);
    EXPECT_EQ(code(true, false, false, false), 16);
    EXPECT_EQ(code(true, false, false, true), 16);
    EXPECT_EQ(code(false, false, true, true), 19);
    EXPECT_EQ(code(false, false, true, false), 19);
}

TEST(Spine, GrantedReadMemory) {
    const uint64_t gib = 1ULL << 30;
    EXPECT_EQ(GrantedReadMemory(10, 8 * gib), 10u);
    EXPECT_EQ(GrantedReadMemory(500, 8 * gib), 500u);
    EXPECT_EQ(GrantedReadMemory(1000, 8 * gib), 500u); // the setting is clamped to 5 … 500
    EXPECT_EQ(GrantedReadMemory(1, 8 * gib), 5u);
    EXPECT_EQ(GrantedReadMemory(500, 400ULL << 20), 200u); // half the free memory
    EXPECT_EQ(GrantedReadMemory(500, 0x4FFFFF), 5u);       // below 5 MiB free: 5
    EXPECT_EQ(GrantedReadMemory(10, 6ULL << 20), 3u);      // 6 MiB free: 3
}

TEST(Spine, OutputNames) {
    const test::TempDir temp("gleanery-names");
    const fs::path& dir = temp.path;
    fs::create_directories(dir / "docs");
    fs::create_directories(dir / "v1.2");
    std::ofstream(dir / "docs" / "readme.md") << "x";
    std::ofstream(dir / "v1.2" / "plain") << "x";
    const std::u16string source = dir.u16string() + u"/";

    EXPECT_EQ(OutputNameFor(u"/out/list.zip", 0, source, u"docs/readme.md\0"), u"/out/list.txt");
    EXPECT_EQ(OutputNameFor(u"/out/list", 0, source, u"\0"), u"/out/list.txt");
    // Only the file's own name loses its extension; a dot in a directory above stays.
    EXPECT_EQ(OutputNameFor(u"/out.d/list", 0, source, u"\0"), u"/out.d/list.txt");
    EXPECT_EQ(OutputNameFor(u"work/v1.2/result", 0, source, u"\0"), u"work/v1.2/result.txt");
    EXPECT_EQ(OutputNameFor(u"/tmp/tmp.Xy12/out.zip", 0, source, u"\0"), u"/tmp/tmp.Xy12/out.txt");
    EXPECT_EQ(OutputNameFor(u"C:\\a.b\\list", 0, source, u"\0"), u"C:\\a.b\\list.txt");
    // A dot that starts the name is no extension: ".notes" keeps its name.
    EXPECT_EQ(OutputNameFor(u"/out/.notes", 0, source, u"\0"), u"/out/.notes.txt");
    EXPECT_EQ(OutputNameFor(u"C:\\out\\.notes.zip", 0, source, u"\0"), u"C:\\out\\.notes.txt");
    EXPECT_EQ(OutputNameFor(u"C:\\a.b\\list.zip", 1, source, u"docs/readme.md\0"),
              u"C:\\a.b\\list.md");
    EXPECT_EQ(OutputNameFor(u"/out/list.zip", 1, source, u"docs/\0docs/readme.md\0"),
              u"/out/list.md");
    EXPECT_EQ(OutputNameFor(u"/out/list.zip", 1, source, u"missing.c\0docs/readme.md\0"),
              u"/out/list.md");
    // The first file has no extension of its own: a dot in its directory does not count.
    EXPECT_EQ(OutputNameFor(u"/out/list.zip", 1, source, u"v1.2/plain\0docs/readme.md\0"),
              u"/out/list.txt");
    EXPECT_EQ(OutputNameFor(u"/out/list.zip", 2, source, u"docs/readme.md\0"), u"/out/list.zip");
}

TEST(Spine, LongFormAndDisplay) {
    EXPECT_EQ(ToLongForm(u"C:\\out\\list.txt"), u"\\\\?\\C:\\out\\list.txt");
    EXPECT_EQ(ToLongForm(u"\\\\server\\share\\a.txt"), u"\\\\?\\UNC\\server\\share\\a.txt");
    EXPECT_EQ(DisplayPath(u"\\\\?\\UNC\\server\\share\\a.txt"), u"\\\\server\\share\\a.txt");
    EXPECT_EQ(DisplayPath(u"\\\\?\\C:\\out\\list.txt"), u"C:\\out\\list.txt");
    EXPECT_EQ(DisplayPath(u"\\\\?\\"), u"");
    EXPECT_EQ(DisplayPath(u"C:\\a"), u"C:\\a");
    EXPECT_EQ(FileNamePart(u"C:\\dir\\a.txt"), u"a.txt");
    EXPECT_EQ(FileNamePart(u"/dir/b.txt"), u"b.txt");
    EXPECT_EQ(FileNamePart(u"plain"), u"plain");
}

TEST(Spine, UsableCodePagesOnThisSystem) {
    const std::vector<uint32_t> usable = ProbeUsableCodePages();
    // In table order, and every common code page converts here.
    EXPECT_TRUE(std::is_sorted(usable.begin(), usable.end(), [](uint32_t a, uint32_t b) {
        const auto& t = CodePageTable();
        return std::find(t.begin(), t.end(), a) < std::find(t.begin(), t.end(), b);
    }));
#if defined(_WIN32)
    // What a Windows system (or Wine) installs varies; these are always there.
    const std::vector<uint32_t> required = {437, 850, 1250, 1251, 1252, 28591};
#else
    const std::vector<uint32_t> required = {437,  850,  866,  932,   936,   949,   950,  1250,
                                            1251, 1252, 1253, 20866, 28591, 28605, 54936};
#endif
    for (uint32_t cp : required)
        EXPECT_NE(std::find(usable.begin(), usable.end(), cp), usable.end()) << cp;
    EXPECT_EQ(CodePageTable().size(), 99u);
    // Code pages whose bytes are not ASCII for the printable range cannot pass the probe.
    EXPECT_EQ(std::find(usable.begin(), usable.end(), 57002u), usable.end());
}

TEST(Texts, BuiltInTextsAndLanguageFile) {
    TextTable table;
    EnterBuiltInTexts(table);
    EXPECT_EQ(table.size(), 100u); // 99 texts and the mark
    EXPECT_EQ(table[0], u"Gleanery Settings");
    EXPECT_EQ(table[4], u"\\Q...\\E");
    EXPECT_EQ(table[500], u"?");
    EXPECT_EQ(table[kLanguageMark], u"-");

    const test::TempDir temp("gleanery-lng");
    const fs::path file = temp.path / "Gleanery.lng";
    std::ofstream(file, std::ios::binary)
        << "\xEF\xBB\xBF[deu]\n0=Gleanery Einstellungen\n00=no\n65535=x\n171=\n"
           "[only0]\n0 = Nur null\n[empty]\n";
    ApplyLanguageFile(table, u"DEU", file.u16string()); // sections are found case-insensitively
    EXPECT_EQ(table[0], u"Gleanery Einstellungen");
    EXPECT_EQ(table[171], u"No match!"); // an empty value keeps the English text
    EXPECT_EQ(table[kLanguageMark], u"+");

    TextTable fresh;
    EnterBuiltInTexts(fresh);
    ApplyLanguageFile(fresh, u"empty", file.u16string());
    EXPECT_EQ(fresh[kLanguageMark], u"-");
    ApplyLanguageFile(fresh, u"missing", file.u16string());
    EXPECT_EQ(fresh[kLanguageMark], u"-");
    ApplyLanguageFile(fresh, u"only0", file.u16string());
    EXPECT_EQ(fresh[0], u"Nur null");
    EXPECT_EQ(fresh[1], u"OK");
    EXPECT_EQ(fresh[kLanguageMark], u"+");
}

TEST(Texts, LanguageNameFromHostFile) {
    EXPECT_EQ(LanguageNameFromFile(u"WCMD_DEU.LNG"), u"DEU");
    EXPECT_EQ(LanguageNameFromFile(u"DEU.LNG"), u"DEU.LNG");
    EXPECT_EQ(LanguageNameFromFile(u"_DEU.LNG"), u"_DEU.LNG"); // underscore first: whole value
    EXPECT_EQ(LanguageNameFromFile(u"A_B_FRA.LNG"), u"FRA");
    EXPECT_EQ(LanguageNameFromFile(u"LANG_X"), u"LANG_X");       // no full stop
    EXPECT_EQ(LanguageNameFromFile(u"a.b_c.lng"), u"a.b_c.lng"); // underscore after the dot
    EXPECT_EQ(LanguageNameFromFile(u""), u"");
}

} // namespace
} // namespace gleanery
