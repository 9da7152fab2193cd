// The job's spine: output names, read-memory grant, return codes, path forms, code page probe,
// and the interface texts with the language file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string_view>
#include <vector>

#include "dialog/dialog_layout.h"
#include "engine/extraction_job.h"
#include "engine/paths.h"
#include "platform/codepage.h"
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

TEST(Spine, NamesInRunsAreAskedForOnlyWhenNoneIsAtHand) {
    // Runs as a walking host hands them over, an empty one among them ending the list.
    struct Host {
        std::vector<std::u16string> runs;
        size_t asked = 0;
    } host{{std::u16string(u"a\0b\0\0", 5), std::u16string(u"c\0\0", 3), u"", u"never"}};
    AddList names;
    names.More = [](void* data) -> const char16_t* {
        Host& h = *static_cast<Host*>(data);
        return h.runs[h.asked++].c_str();
    };
    names.MoreData = &host;
    AddListPlace at;
    std::u16string_view entry;
    std::u16string taken;
    EXPECT_FALSE(EntryAtHand(names, at));
    for (const char* want : {"a", "b", "c"}) {
        ASSERT_TRUE(NextEntry(names, at, entry)) << want;
        taken += std::u16string(entry) + u",";
        // The host is asked for a run only when the runs taken so far are done.
        EXPECT_EQ(host.asked, *want == 'c' ? 2u : 1u) << want;
        EXPECT_EQ(EntryAtHand(names, at), *want == 'a') << want;
    }
    EXPECT_EQ(taken, u"a,b,c,");
    // A place taken from the start again goes through the runs taken, without the host.
    AddListPlace again;
    ASSERT_TRUE(NextEntry(names, again, entry));
    EXPECT_EQ(entry, u"a");
    EXPECT_EQ(host.asked, 2u);
    // The empty run ends the list for good: the host is not asked after it.
    EXPECT_FALSE(NextEntry(names, at, entry));
    EXPECT_FALSE(NextEntry(names, at, entry));
    EXPECT_EQ(host.asked, 3u);
    EXPECT_TRUE(names.Ended);
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

// The language file that ships with the plug-in. Every section translates every built-in text,
// keeps what the program or the user relies on inside a text, and fits the dialog's controls.
class ShippedLanguage : public testing::TestWithParam<std::u16string_view> {
  protected:
    void SetUp() override {
        if (!fs::is_regular_file(LanguageFile())) {
#if defined(_WIN32)
            GTEST_SKIP() << "the source tree is not visible from here";
#else
            FAIL() << "missing " << fs::path(LanguageFile());
#endif
        }
    }
    // The built-in texts, then the section (none for "ENG": the English texts are measured too,
    // which keeps the width estimate honest).
    static TextTable Texts(std::u16string_view language) {
        TextTable table;
        EnterBuiltInTexts(table);
        if (language != u"ENG") ApplyLanguageFile(table, std::u16string(language), LanguageFile());
        return table;
    }
    static std::u16string LanguageFile() {
        return (fs::path(GLEANERY_DIST_DIR) / "Gleanery.lng").u16string();
    }
};

TEST_P(ShippedLanguage, TranslatesEveryText) {
    if (GetParam() == u"ENG") GTEST_SKIP() << "the built-in texts";
    TextTable section; // only what the section holds: a missing text stays empty here
    ApplyLanguageFile(section, std::u16string(GetParam()), LanguageFile());
    ASSERT_EQ(section[kLanguageMark], u"+") << "no section in " << fs::path(LanguageFile());
    TextTable english;
    EnterBuiltInTexts(english);
    for (const auto& [number, text] : english) {
        if (number == kLanguageMark) continue;
        EXPECT_FALSE(section[number].empty()) << "text " << number << " missing";
    }
}

// Placeholders, accelerators, quotes, regular-expression flags and numbers of an English text
// appear in its translation as often as in the English.
TEST_P(ShippedLanguage, KeepsPlaceholders) {
    const std::regex kept(R"(%[sdu]|&|"|\(\?[a-z]\)|\\[QE]|[0-9]+)");
    const auto tokens = [&](const std::u16string& text) {
        const std::string utf8 = platform::WideToUtf8(text);
        std::vector<std::string> found;
        for (auto it = std::sregex_iterator(utf8.begin(), utf8.end(), kept);
             it != std::sregex_iterator(); ++it)
            found.push_back(it->str());
        std::sort(found.begin(), found.end());
        return found;
    };
    TextTable english;
    EnterBuiltInTexts(english);
    const TextTable translated = Texts(GetParam());
    for (const auto& [number, text] : english) {
        if (number == kLanguageMark) continue;
        EXPECT_EQ(tokens(translated.at(number)), tokens(text))
            << "text " << number << ": " << platform::WideToUtf8(translated.at(number));
    }
}

// A text's width in dialog units at the dialog's 8-point font, estimated by character: narrow
// Latin letters and punctuation, capitals and wide letters, Cyrillic, and CJK ideographs and
// full-width forms (two average characters each).
double EstimatedWidth(std::u16string_view text) {
    constexpr std::u16string_view kNarrow = u"iljtfrI.,:;'!|()[] ";
    constexpr std::u16string_view kWide = u"mwMW@%\u043c\u0436\u0448\u0449\u044e\u044b";
    double width = 0;
    for (const char16_t c : text) {
        if ((c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF))
            width += 8;
        else if (kNarrow.find(c) != std::u16string_view::npos)
            width += 2;
        else if (kWide.find(c) != std::u16string_view::npos)
            width += 5.5;
        else if ((c >= u'A' && c <= u'Z') || (c >= 0x0400 && c <= 0x042F) || c == u'\u00c9')
            width += 4.5;
        else
            width += 3.5;
    }
    return width;
}

// The room a control leaves for its caption: a check box's box, a button's and a group box's
// frame, a drop-down list's arrow.
double CaptionRoom(const dialog::ControlLayout& control) {
    constexpr uint32_t kKind = 0xF;
    if (control.Class == u"ComboBox") return control.Width - 14;
    if (control.Class != u"Button") return control.Width;
    switch (control.Style & kKind) {
    case dialog::kBsAutoCheckBox:
        return control.Width - 12;
    case dialog::kBsGroupBox:
        return control.Width - 10;
    default:
        return control.Width - 4;
    }
}

TEST_P(ShippedLanguage, CaptionsFitTheirControls) {
    using namespace dialog;
    const TextTable texts = Texts(GetParam());
    struct Shown {
        int control;
        uint16_t text;
        uint16_t after = 0; // "Group 0 (entire pattern)": text 90, the number, text 91
    };
    std::vector<Shown> shown = {
        {kRegexHelp, kTextRegexHelpHide},
        {kReplaceHelp, kTextReplaceHelpHide},
        {kPresetAdd, kTextSave},
        {kTestStart, kTextStop},
        {kTestToggle, kTextPrevious},
        {kReplaceLabel, kTextTestString},
        {kReplaceLabel, kTextGroup, kTextEntirePattern},
        {kStatusLine, kTextOkWithLineBreaks},
        {kStatusLine, kTextNoMatch},
        {kStatusLine, kTextIncorrectExpression},
        {kCodePageList, kTextSystemAnsiPage},
        {kCodePageList, kTextSystemOemPage},
        {kDefaultCharacterList, kTextDefaultCharacter},
        {kDefaultCharacterList, kTextSpace},
        {kOutfileExtensionList, kTextFirstFile},
        {kOutfileExtensionList, kTextPackDialog},
    };
    for (const ControlLayout& control : DialogControls())
        if (control.RelabelText != 0) shown.push_back({control.Id, control.RelabelText});
    for (const Shown& s : shown) {
        std::u16string caption = texts.at(s.text);
        if (s.after) caption += u" 0 " + texts.at(s.after);
        const ControlLayout* control = FindControl(s.control);
        ASSERT_NE(control, nullptr);
        EXPECT_LE(EstimatedWidth(caption), CaptionRoom(*control))
            << "text " << s.text << " \"" << platform::WideToUtf8(caption) << "\" on control "
            << s.control;
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguage,
                         testing::Values(u"ENG", u"DEU", u"FRA", u"RUS", u"ESP", u"POL", u"CHN"),
                         [](const auto& info) { return platform::WideToUtf8(info.param); });

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
