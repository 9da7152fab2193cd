// The settings dialog driven headless through whole user stories: what it shows after opening,
// how the options hold each other, the expression status line, the editing buttons, the font
// chooser, OK, Cancel, Load defaults, About, and what reaches the settings file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "dialog/dialog_layout.h"
#include "dialog/headless/headless_dialog.h"
#include "dialog/status_line.h"
#include "dialog_process.h"
#include "host/process_state.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery::dialog {
namespace {

namespace fs = std::filesystem;

TextBoxFont Face(const std::u16string& face, int32_t height) {
    TextBoxFont font;
    font.Height = height;
    font.Weight = 400;
    std::copy(face.begin(), face.end(), font.FaceName.begin());
    return font;
}

class DialogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // A story that ends with the dialog still open closes it, as the user would.
        if (dlg_ && dlg_->Open) Click(*dlg_, kIdCancel);
    }

    fs::path Ini() const { return process_.Ini(); }
    void WriteIni(const std::string& bytes) const { process_.WriteIni(bytes); }
    std::string ReadIni() const { return process_.ReadIni(); }
    HeadlessControl& C(int id) { return Control(*dlg_, id); }
    void Open() { OpenHeadless(*dlg_); }

    test::DialogProcess process_{"gleanery_dialog", {850, 1252, 28591}};
    const fs::path& dir_ = process_.dir;
    std::unique_ptr<HeadlessDialog> dlg_ = std::make_unique<HeadlessDialog>();
};

TEST_F(DialogTest, OpeningShowsTheStoredSettingsInEveryControl) {
    WriteIni("[gleanery]\nfont=-13,0,0,0,700,0,0,0,0,0,0,0,0,Courier New\n"
             "[gleanery1]\nname=zeta\n[gleanery2]\nname=a much longer name\n"
             "[gleanery_last]\nregex=(\\w+)@(\\w+)\nreplace=$2 at $1\nteststring=x@y\n"
             "BinaryMode=true\nLineMode=true\nNoDuplicates=true\nWriteStats=true\n"
             "CaseSensitive=true\nDotall=true\nMultiline=true\nUnicodeProperties=false\n"
             "EmptyValid=true\nCopyClip=2\nMemory=500\nEncodingCheck=8\nCodePage=28591\n"
             "DefaultCharacter=35\nOutfileExtension=2\n");
    Open();
    EXPECT_TRUE(dlg_->Messages.empty());
    EXPECT_EQ(dlg_->Caption, u"Gleanery Settings");
    EXPECT_EQ(C(kRegexEdit).Text, u"(\\w+)@(\\w+)");
    EXPECT_EQ(C(kReplaceEdit).Text, u"$2 at $1");
    EXPECT_EQ(dlg_->State.TestString, u"x@y");
    for (int id : {kBinaryMode, kLineMode, kNoDuplicates, kWriteStats, kCaseSensitive, kDotall,
                   kMultiline, kEmptyValid, kCopyClip, kDeleteCopied})
        EXPECT_TRUE(C(id).Checked) << id;
    EXPECT_FALSE(C(kUnicodeProperties).Checked);
    EXPECT_FALSE(C(kSearchAndReplace).Checked);
    EXPECT_FALSE(C(kWriteBom).Checked);
    // Binary mode locks the BOM and the encoding check buffer.
    EXPECT_FALSE(C(kWriteBom).Enabled);
    EXPECT_FALSE(C(kEncodingCheckList).Enabled);
    EXPECT_TRUE(C(kDeleteCopied).Enabled);

    // Lists: contents and the stored selections.
    ASSERT_EQ(C(kMemoryList).Entries.size(), 17u);
    EXPECT_EQ(C(kMemoryList).Entries[5], u"30");
    EXPECT_EQ(C(kMemoryList).Entries[13], u"200");
    EXPECT_EQ(C(kMemoryList).Selected, 16);
    EXPECT_EQ(C(kMemoryList).Text, u"500");
    ASSERT_EQ(C(kDefaultCharacterList).Entries.size(), 96u);
    EXPECT_EQ(C(kDefaultCharacterList).Entries[0], u"default");
    EXPECT_EQ(C(kDefaultCharacterList).Entries[1], u"(Space)");
    EXPECT_EQ(C(kDefaultCharacterList).Entries[2], u"!");
    EXPECT_EQ(C(kDefaultCharacterList).Entries[95], u"~");
    EXPECT_EQ(C(kDefaultCharacterList).Text, u"#");
    EXPECT_EQ(C(kEncodingCheckList).Entries,
              (std::vector<std::u16string>{u"128k", u"256k", u"512k", u"1M", u"2M", u"4M", u"8M",
                                           u"16M"}));
    EXPECT_EQ(C(kEncodingCheckList).Selected, 7);
    EXPECT_EQ(C(kCodePageList).Entries,
              (std::vector<std::u16string>{u"Sys ANSI page (1252)", u"Sys OEM page (437)",
                                           u"850 OEM Latin 1", u"1252 ANSI Latin 1",
                                           u"28591 ISO 8859-1 Latin 1"}));
    EXPECT_EQ(C(kCodePageList).Selected, 4);
    EXPECT_EQ(C(kOutfileExtensionList).Entries,
              (std::vector<std::u16string>{u".txt", u"First File", u"Pack Dialog"}));
    EXPECT_EQ(C(kOutfileExtensionList).Selected, 2);
    // Presets in store order; drop-down widths from the longest entry (6 px a character here).
    EXPECT_EQ(C(kPresetsList).Entries,
              (std::vector<std::u16string>{u"a much longer name", u"zeta"}));
    EXPECT_EQ(C(kPresetsList).Selected, -1);
    EXPECT_EQ(C(kPresetsList).DropDownWidth, 18 * 6 + 17 + 24);
    EXPECT_EQ(C(kCodePageList).DropDownWidth, 24 * 6 + 17 + 24);
    EXPECT_EQ(C(kPresetsList).Limit, 255);
    EXPECT_EQ(C(kRegexEdit).Limit, 65534);
    EXPECT_EQ(C(kReplaceEdit).Limit, 65534);

    for (int id : {kPresetLoad, kPresetDelete, kPresetAdd, kTestStart, kTestNext, kSubgroupDown,
                   kSubgroupUp, kHelpPane})
        EXPECT_FALSE(C(id).Enabled) << id;
    EXPECT_TRUE(C(kTestToggle).Enabled);

    // The stored font on the editors and the help pane, the dialog font on the presets list.
    ASSERT_NE(C(kRegexEdit).Font, nullptr);
    EXPECT_EQ(std::u16string(C(kRegexEdit).Font->Description.FaceName.data()), u"Courier New");
    EXPECT_EQ(C(kRegexEdit).Font->Description.Weight, 700);
    EXPECT_EQ(C(kReplaceEdit).Font, C(kRegexEdit).Font);
    EXPECT_EQ(C(kHelpPane).Font, C(kRegexEdit).Font);
    ASSERT_NE(C(kPresetsList).Font, nullptr);
    EXPECT_EQ(C(kPresetsList).Font->Description, DialogFontDescription(dlg_->State));
    TextBoxFont shellDlg = Face(u"MS Shell Dlg", -11); // 8 pt at 96 dpi, all else 0
    shellDlg.Weight = 0;
    EXPECT_EQ(DialogFontDescription(dlg_->State), shellDlg);

    // Status, collapsed width, tooltips.
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Compiles);
    EXPECT_EQ(C(kStatusLine).Text, u"OK!");
    EXPECT_EQ(dlg_->Window.Right, C(kReplaceEdit).Bounds.Right + 8);
    EXPECT_EQ(dlg_->Window.Width() + dlg_->State.HelpWidth, 680 * 6 / 4 + 6); // the full width
    EXPECT_GT(C(kHelpPane).Bounds.Left, dlg_->Window.Right);
    EXPECT_TRUE(dlg_->TooltipsCreated);
    ASSERT_NE(TooltipText(dlg_->State, kGroupButton), nullptr);
    EXPECT_EQ(*TooltipText(dlg_->State, kGroupButton),
              u"Assign selection or complete text to a group");
    EXPECT_EQ(*TooltipText(dlg_->State, kCodePageList),
              u"Character properties for values >128 work with system page only");
    EXPECT_EQ(TooltipText(dlg_->State, kRegexEdit), nullptr);
    EXPECT_EQ(TooltipText(dlg_->State, kIdOk), nullptr);

    // Cancel releases everything and remembers the position; nothing changed, nothing written.
    const std::string before = ReadIni();
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    EXPECT_FALSE(dlg_->Open);
    EXPECT_EQ(dlg_->Result, 2);
    EXPECT_EQ(ReadIni(), before);
    EXPECT_EQ(dlg_->LiveFonts, 0);
    EXPECT_EQ(dlg_->LiveBrushes, 0);
    EXPECT_FALSE(dlg_->TooltipsCreated);
    EXPECT_TRUE(State().Presets.empty());
    EXPECT_EQ(State().DialogX, 200);
    EXPECT_EQ(State().DialogY, 150);
}

TEST_F(DialogTest, PositionFontFailureTooltipFailureAndUnreadableFile) {
    State().DialogX = 40;
    State().DialogY = 60;
    State().Font = Face(u"No Such Face", -12);
    dlg_->MissingFaces = {u"No Such Face"};
    dlg_->TooltipsFail = true;
    // A settings file beyond 5 MiB is not read: the message, then the settings in memory.
    WriteIni("[gleanery_last]\nregex=x\n" + std::string(5 * 1024 * 1024, ';'));
    State().CurrentSettings.regex = u"in memory";
    Open();
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text,
              u"The ini file is present but not readable!\r\nNo presets loaded!");
    EXPECT_EQ(dlg_->Messages[0].Title, u"Gleanery");
    EXPECT_EQ(dlg_->Messages[0].Flags, platform::kMbIconWarning);
    EXPECT_EQ(C(kRegexEdit).Text, u"in memory");
    EXPECT_EQ(dlg_->Window.Left, 40);
    EXPECT_EQ(dlg_->Window.Top, 60);
    // The stored font could not be made: cleared, the dialog font serves.
    EXPECT_EQ(State().Font, TextBoxFont{});
    EXPECT_EQ(C(kRegexEdit).Font, C(kPresetsList).Font);
    EXPECT_EQ(TooltipText(dlg_->State, kGroupButton), nullptr);
    Click(*dlg_, kIdCancel);
    EXPECT_EQ(dlg_->LiveFonts, 0);
}

TEST_F(DialogTest, OptionInterlocks) {
    Open();
    // Copy to Clipboard governs Delete file if copied.
    EXPECT_FALSE(C(kDeleteCopied).Enabled);
    EXPECT_FALSE(Click(*dlg_, kDeleteCopied));
    ASSERT_TRUE(Click(*dlg_, kCopyClip));
    ASSERT_TRUE(Click(*dlg_, kDeleteCopied));
    EXPECT_TRUE(C(kDeleteCopied).Checked);
    ASSERT_TRUE(Click(*dlg_, kCopyClip));
    EXPECT_FALSE(C(kDeleteCopied).Checked);
    EXPECT_FALSE(C(kDeleteCopied).Enabled);

    // Search and Replace clears four options; clearing it again does not bring them back.
    for (int id : {kLineMode, kNoDuplicates, kWriteStats, kWriteBom}) ASSERT_TRUE(Click(*dlg_, id));
    ASSERT_TRUE(Click(*dlg_, kSearchAndReplace));
    for (int id : {kLineMode, kNoDuplicates, kWriteStats, kWriteBom}) {
        EXPECT_FALSE(C(id).Checked) << id;
        EXPECT_FALSE(C(id).Enabled) << id;
    }
    EXPECT_TRUE(C(kBinaryMode).Enabled);
    ASSERT_TRUE(Click(*dlg_, kSearchAndReplace));
    for (int id : {kLineMode, kNoDuplicates, kWriteStats, kWriteBom}) {
        EXPECT_FALSE(C(id).Checked) << id;
        EXPECT_TRUE(C(id).Enabled) << id;
    }

    // Binary mode locks the BOM and the encoding check buffer, also under Search and Replace.
    ASSERT_TRUE(Click(*dlg_, kWriteBom));
    ASSERT_TRUE(Click(*dlg_, kBinaryMode));
    EXPECT_FALSE(C(kWriteBom).Checked);
    EXPECT_FALSE(C(kWriteBom).Enabled);
    EXPECT_FALSE(C(kEncodingCheckList).Enabled);
    ASSERT_TRUE(Click(*dlg_, kSearchAndReplace));
    EXPECT_FALSE(C(kEncodingCheckList).Enabled);
    ASSERT_TRUE(Click(*dlg_, kSearchAndReplace));
    ASSERT_TRUE(Click(*dlg_, kBinaryMode));
    EXPECT_TRUE(C(kWriteBom).Enabled);
    EXPECT_TRUE(C(kEncodingCheckList).Enabled);

    // What OK stores: CopyClip 0 although Delete was checked before Copy was cleared.
    ASSERT_TRUE(Click(*dlg_, kCopyClip));
    ASSERT_TRUE(Click(*dlg_, kDeleteCopied));
    ASSERT_TRUE(Click(*dlg_, kCopyClip));
    ASSERT_TRUE(Click(*dlg_, kLineMode));
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(State().CurrentSettings.CopyClip, 0);
    EXPECT_TRUE(State().CurrentSettings.LineMode);
    EXPECT_NE(ReadIni().find("LineMode=true\r\n"), std::string::npos);
}

TEST_F(DialogTest, StatusLineStatesColoursAndErrorHighlight) {
    Open();
    const uint32_t buttonText = 0x123456;
    EXPECT_EQ(StatusTextColour(dlg_->State, buttonText), buttonText);

    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"a\r\nb"));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::CompilesWithLineBreak);
    EXPECT_EQ(C(kStatusLine).Text, u"OK, but newlines / line breaks in expression!");
    EXPECT_EQ(StatusTextColour(dlg_->State, buttonText), 0xFF0000u);

    // An error at the very end highlights the last character.
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"ab("));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Error);
    EXPECT_EQ(C(kStatusLine).Text.rfind(u"missing ) at pos 4", 0), 0u) << "status";
    EXPECT_EQ(StatusTextColour(dlg_->State, buttonText), 0x0000FFu);
    dlg_->Focused = 0;
    ASSERT_TRUE(Click(*dlg_, kStatusLine));
    EXPECT_EQ(dlg_->Focused, kRegexEdit);
    EXPECT_EQ(C(kRegexEdit).SelStart, 2);
    EXPECT_EQ(C(kRegexEdit).SelEnd, 3);
    EXPECT_TRUE(C(kRegexEdit).CaretScrolled);

    // OK is refused with the plain message and the dialog stays open.
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_TRUE(dlg_->Open);
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, u"Incorrect Expression!");
    EXPECT_EQ(dlg_->Messages[0].Flags, platform::kMbOk);

    // After text outside ASCII the character PCRE points at is highlighted, not one further right.
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"\u00e4\u20ac)x"));
    ASSERT_TRUE(Click(*dlg_, kStatusLine));
    EXPECT_EQ(C(kRegexEdit).SelStart, 2);
    EXPECT_EQ(C(kRegexEdit).SelEnd, 3);
    // A character outside the BMP is one character: both halves are selected.
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"a\U0001F600+?+"));
    ASSERT_TRUE(Click(*dlg_, kStatusLine));
    EXPECT_EQ(C(kRegexEdit).SelStart, 5);
    EXPECT_EQ(C(kRegexEdit).SelEnd, 6);

    // A click on the status line without an error selects nothing.
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"abc"));
    EXPECT_EQ(C(kStatusLine).Text, u"OK!");
    EXPECT_EQ(StatusTextColour(dlg_->State, buttonText), buttonText);
    ASSERT_TRUE(Click(*dlg_, kStatusLine));
    EXPECT_EQ(C(kRegexEdit).SelStart, 3);

    // The code page list takes part: the euro sign has no place in code page 850, so the
    // code-page form reads "x?*" and fails where the UTF-8 form does not.
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"x\u20ac*"));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Compiles);
    ASSERT_TRUE(Pick(*dlg_, kCodePageList, 2));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Error);
    EXPECT_EQ(C(kStatusLine).Text.rfind(u"ANSI: ", 0), 0u);
    ASSERT_TRUE(Click(*dlg_, kStatusLine));
    EXPECT_EQ(C(kRegexEdit).SelStart, 2);
    ASSERT_TRUE(Pick(*dlg_, kCodePageList, 0));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Compiles);
}

TEST(DialogErrorPosition, OffsetsCountUnitsOfTheFormThatFailed) {
    const std::u16string text = u"a\u00e4\u20ac\U0001F600z";
    // UTF-8: a=1, ä=2, €=3, the emoji 4 bytes.
    EXPECT_EQ(ErrorCharacterIndex(text, u"x at pos 1", 0, 1252, -1), 0);
    EXPECT_EQ(ErrorCharacterIndex(text, u"x at pos 2", 1, 1252, -1), 1);
    EXPECT_EQ(ErrorCharacterIndex(text, u"x", 3, 1252, -1), 2);
    EXPECT_EQ(ErrorCharacterIndex(text, u"x", 6, 1252, -1), 3);
    EXPECT_EQ(ErrorCharacterIndex(text, u"x", 10, 1252, -1), 5);
    EXPECT_EQ(ErrorCharacterIndex(text, u"x", 11, 1252, -1), 6);
    // Code page bytes: one a character in 1252. (How many substitutes a character beyond the
    // 16-bit range becomes differs between systems, so the text here has none.)
    const std::u16string bmp = u"a\u00e4\u20acbz";
    EXPECT_EQ(ErrorCharacterIndex(bmp, u"ANSI: x", 3, 1252, -1), 3);
    EXPECT_EQ(ErrorCharacterIndex(bmp, u"ANSI: x", 4, 1252, -1), 4);
}

TEST_F(DialogTest, SurroundButtons) {
    Open();
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"a(b"));
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Error);
    // Without a selection the whole text is surrounded and the caret goes to the end.
    ASSERT_TRUE(Click(*dlg_, kPlaceholderButton));
    EXPECT_EQ(C(kRegexEdit).Text, u".*a(b.*");
    EXPECT_EQ(C(kRegexEdit).SelStart, 7);
    EXPECT_EQ(C(kRegexEdit).SelEnd, 7);
    EXPECT_EQ(dlg_->Focused, kRegexEdit);
    // With a selection (given backwards here) it is surrounded, the caret after the closing.
    ASSERT_TRUE(SelectText(*dlg_, kRegexEdit, 5, 3));
    ASSERT_TRUE(Click(*dlg_, kQuoteButton));
    EXPECT_EQ(C(kRegexEdit).Text, u".*a\\Q(b\\E.*");
    EXPECT_EQ(C(kRegexEdit).SelStart, 9);
    EXPECT_EQ(C(kRegexEdit).SelEnd, 9);
    // The status follows without an edit notification.
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Compiles);
    ASSERT_TRUE(SelectText(*dlg_, kRegexEdit, 0, 2));
    ASSERT_TRUE(Click(*dlg_, kGroupButton));
    EXPECT_EQ(C(kRegexEdit).Text, u"(.*)a\\Q(b\\E.*");
    EXPECT_EQ(C(kRegexEdit).SelStart, 4);
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u""));
    ASSERT_TRUE(Click(*dlg_, kGroupButton));
    EXPECT_EQ(C(kRegexEdit).Text, u"()");
}

TEST_F(DialogTest, MissingSubgroupsNeedAYes) {
    Open();
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u"(a)"));
    ASSERT_TRUE(Type(*dlg_, kReplaceEdit, u"$1-$3-$5"));
    const std::u16string question = u"Subgroup(s) not found in expression:\r\n 3, 5\r\n"
                                    u"Continue anyway?\r\n(references would be removed)";
    dlg_->Answers = {platform::kIdNo};
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, question);
    EXPECT_EQ(dlg_->Messages[0].Flags,
              platform::kMbYesNoCancel | platform::kMbIconWarning | platform::kMbDefButton2);
    EXPECT_TRUE(dlg_->Open);
    EXPECT_EQ(dlg_->State.ExpressionState, ExpressionStatus::Compiles);
    EXPECT_EQ(State().CurrentSettings.regex, u".*");
    EXPECT_FALSE(fs::exists(Ini()));

    dlg_->Answers = {platform::kIdYes};
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(dlg_->Messages.size(), 2u);
    EXPECT_FALSE(dlg_->Open);
    EXPECT_EQ(dlg_->Result, 1);
    EXPECT_EQ(State().CurrentSettings.regex, u"(a)");
    EXPECT_EQ(State().CurrentSettings.replace, u"$1-$3-$5");
    EXPECT_NE(ReadIni().find("replace=$1-$3-$5\r\n"), std::string::npos);
}

TEST_F(DialogTest, OkWithoutChangesWritesNothingAndEmptyExpressionIsStoredAsDotStar) {
    // A hand-written file with blanks around "=" would come back normalised from any save.
    const std::string hand = "[gleanery_last]\r\nregex = abc\r\nMemory = 20\r\n";
    WriteIni(hand);
    Open();
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(dlg_->Result, 1);
    EXPECT_EQ(ReadIni(), hand);

    *dlg_ = {};
    Open();
    EXPECT_EQ(C(kMemoryList).Text, u"20");
    ASSERT_TRUE(Type(*dlg_, kRegexEdit, u""));
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(State().CurrentSettings.regex, u".*");
    EXPECT_NE(ReadIni().find("regex=.*\r\n"), std::string::npos);
}

TEST_F(DialogTest, ReadMemoryOutsideTheListAndOtherTransfers) {
    Settings& current = State().CurrentSettings;
    current.Memory = 600; // only possible in memory; the file reader keeps 5..500
    current.EncodingCheck = 131072;
    current.CodePage = 1;
    current.DefaultCharacter = 32;
    current.teststring = u"kept";
    Open();
    ASSERT_EQ(C(kMemoryList).Entries.size(), 18u);
    EXPECT_EQ(C(kMemoryList).Selected, 17);
    EXPECT_EQ(C(kMemoryList).Text, u"600");
    EXPECT_EQ(C(kEncodingCheckList).Selected, 0);
    EXPECT_EQ(C(kCodePageList).Selected, 1);
    EXPECT_EQ(C(kDefaultCharacterList).Text, u"(Space)");
    // Load defaults drops the 18th entry and shows the defaults, leaving the settings alone.
    ASSERT_TRUE(Click(*dlg_, kLoadDefaults));
    EXPECT_EQ(C(kMemoryList).Entries.size(), 17u);
    EXPECT_EQ(C(kMemoryList).Text, u"10");
    EXPECT_EQ(C(kCodePageList).Selected, 0);
    EXPECT_EQ(C(kEncodingCheckList).Selected, 1);
    EXPECT_EQ(C(kReplaceEdit).Text, u"$0");
    EXPECT_TRUE(C(kUnicodeProperties).Checked);
    EXPECT_EQ(dlg_->State.TestString, u"");
    EXPECT_EQ(current.Memory, 600);
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    EXPECT_FALSE(fs::exists(Ini()));
    EXPECT_EQ(current.Memory, 600);

    // A stored value above 500 from an earlier fill is read back as 500, one below 5 as 5.
    *dlg_ = {};
    Open();
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(current.Memory, 500);
    EXPECT_EQ(current.teststring, u"kept");
    EXPECT_EQ(current.CodePage, 1);
    EXPECT_EQ(current.DefaultCharacter, 32);
    current.Memory = 3;
    fs::remove(Ini()); // else the stored last settings replace these
    *dlg_ = {};
    Open();
    ASSERT_TRUE(Pick(*dlg_, kCodePageList, 4));
    ASSERT_TRUE(Pick(*dlg_, kDefaultCharacterList, 95));
    ASSERT_TRUE(Pick(*dlg_, kOutfileExtensionList, 1));
    ASSERT_TRUE(Pick(*dlg_, kEncodingCheckList, 7));
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(current.Memory, 5);
    EXPECT_EQ(current.CodePage, 28591);
    EXPECT_EQ(current.DefaultCharacter, 126);
    EXPECT_EQ(current.OutfileExtension, 1);
    EXPECT_EQ(current.EncodingCheck, 16777216);
}

TEST_F(DialogTest, FontChooserAndItsSaveRule) {
    Open();
    // Cancelled from an empty font: nothing stays stored.
    TextBoxFont offered;
    dlg_->FontChooser = [&offered](TextBoxFont& font) {
        offered = font;
        return false;
    };
    ASSERT_TRUE(Click(*dlg_, kFontButton));
    EXPECT_EQ(std::u16string(offered.FaceName.data()), u"MS Shell Dlg");
    EXPECT_EQ(State().Font, TextBoxFont{});
    // Picking the dialog font itself changes the record but stores no font.
    dlg_->FontChooser = [](TextBoxFont&) { return true; };
    ASSERT_TRUE(Click(*dlg_, kFontButton));
    EXPECT_TRUE(dlg_->State.SaveNeeded);
    EXPECT_TRUE(C(kHelpPane).RedrawnWithFont);
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    EXPECT_TRUE(fs::exists(Ini()));
    EXPECT_EQ(ReadIni().find("font="), std::string::npos);

    // A real choice is stored even when the dialog is cancelled.
    *dlg_ = {};
    Open();
    dlg_->FontChooser = [](TextBoxFont& font) {
        font = Face(u"Courier New", -16);
        return true;
    };
    ASSERT_TRUE(Click(*dlg_, kFontButton));
    EXPECT_EQ(std::u16string(C(kReplaceEdit).Font->Description.FaceName.data()), u"Courier New");
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    EXPECT_NE(ReadIni().find("font=-16,0,0,0,400,0,0,0,0,0,0,0,0,Courier New\r\n"),
              std::string::npos);
    EXPECT_EQ(dlg_->LiveFonts, 0);

    // A font that cannot be made: cleared, reported, the editors keep their font.
    *dlg_ = {};
    Open();
    const HeadlessFont* inUse = C(kRegexEdit).Font;
    dlg_->MissingFaces = {u"Gone"};
    dlg_->FontChooser = [](TextBoxFont& font) {
        font = Face(u"Gone", -10);
        return true;
    };
    ASSERT_TRUE(Click(*dlg_, kFontButton));
    EXPECT_EQ(State().Font, TextBoxFont{});
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, u"Font change failed!");
    EXPECT_EQ(C(kRegexEdit).Font, inUse);
    Click(*dlg_, kIdCancel);
    EXPECT_EQ(dlg_->LiveFonts, 0);
}

TEST_F(DialogTest, AboutAndAFailedSave) {
    Open();
    ASSERT_TRUE(Click(*dlg_, kAbout));
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Title, u"Gleanery v1.6");
    EXPECT_EQ(dlg_->Messages[0].Flags, kMbIconInformation);
    EXPECT_EQ(dlg_->Messages[0].Text.rfind(u"String-Extractor and Replacer\r\nbased on Regular "
                                           u"Expressions\r\n\r\nUsing \"Perl Compatible Regular"
                                           u"\r\nExpressions\" (PCRE) library 8.",
                                           0),
              0u);
    EXPECT_EQ(AboutText(u"8.39"), u"String-Extractor and Replacer\r\nbased on Regular "
                                  u"Expressions\r\n\r\nUsing \"Perl Compatible Regular\r\n"
                                  u"Expressions\" (PCRE) library 8.39\r\nhttps://www.pcre.org/");

    // The settings file's place is taken by a directory: the save fails, is reported, and the
    // dialog still closes.
    fs::create_directories(Ini());
    ASSERT_TRUE(Click(*dlg_, kDotall));
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_FALSE(dlg_->Open);
    ASSERT_EQ(dlg_->Messages.size(), 2u);
    EXPECT_EQ(dlg_->Messages[1].Text, u"Could not save the presets to the ini file!");
    EXPECT_EQ(dlg_->Messages[1].Flags, platform::kMbIconWarning);
    EXPECT_TRUE(State().CurrentSettings.Dotall);
}

TEST_F(DialogTest, FailuresWhileLoadingOrSavingNeverCostTheSettingsFile) {
    const std::string old = "[gleanery_last]\r\nregex=old\r\n\r\n"
                            "[gleanery1]\r\nname=keep\r\nregex=k\r\n";
    const std::u16string saveFailed = u"Could not save the presets to the ini file!";
    using platform::FaultKind;
    // Every step of the save fails in turn (the temporary file's creation, writing); then the
    // read of the load, after which the save of this dialog's changes is refused. Each time: a
    // warning, the dialog closed with all it owned released, the old file byte for byte.
    const std::pair<FaultKind, uint64_t> faults[] = {
        {FaultKind::Open, 1}, {FaultKind::Write, 1}, {FaultKind::Read, 1}};
    for (const auto& [kind, nth] : faults) {
        SCOPED_TRACE(static_cast<int>(kind));
        WriteIni(old);
        dlg_ = std::make_unique<HeadlessDialog>();
        dlg_->Answers = {platform::kIdOk, platform::kIdOk};
        // Faults count from when they are set: the read is the load's, the rest the save's.
        if (kind == FaultKind::Read) platform::InjectFault(kind, nth);
        Open();
        if (kind != FaultKind::Read) platform::InjectFault(kind, nth);
        ASSERT_TRUE(Click(*dlg_, kDotall));
        ASSERT_TRUE(Type(*dlg_, kPresetsList, u"new one"));
        ASSERT_TRUE(Click(*dlg_, kPresetAdd));
        ASSERT_TRUE(Click(*dlg_, kIdOk));
        platform::ClearFaults();
        EXPECT_FALSE(dlg_->Open);
        ASSERT_FALSE(dlg_->Messages.empty());
        EXPECT_EQ(dlg_->Messages.back().Text, saveFailed);
        EXPECT_EQ(dlg_->LiveFonts, 0);
        EXPECT_EQ(dlg_->LiveBrushes, 0);
        EXPECT_EQ(ReadIni(), old);
        for (const auto& entry : fs::directory_iterator(Ini().parent_path()))
            EXPECT_EQ(entry.path().extension(), Ini().extension()) << entry.path(); // no .tmp left
    }
}

TEST_F(DialogTest, RelabellingWithALanguageFile) {
    const fs::path lng = dir_ / "Gleanery.lng";
    std::ofstream(lng, std::ios::binary)
        << "[DEU]\n0=Einstellungen\n5=Status\n9=Keine Duplikate\n10=Bin\xc3\xa4rmodus\n"
           "31=>>\n61=Gut!\n152=Standard\n";
    ApplyLanguageFile(InterfaceTexts(), u"DEU", lng.u16string());
    ASSERT_TRUE(LanguageApplied());
    dlg_->RefusedCaptions = {kBinaryMode};
    Open();
    EXPECT_EQ(dlg_->Caption, u"Einstellungen");
    EXPECT_EQ(C(kNoDuplicates).Text, u"Keine Duplikate");
    EXPECT_EQ(C(kBinaryMode).Text, u"Binary mode"); // the translation was refused
    EXPECT_EQ(C(kLineMode).Text, u"Line mode");
    EXPECT_EQ(C(kIdOk).Text, u"OK");
    EXPECT_EQ(C(kTestToggle).Text, u">");
    EXPECT_EQ(C(kStatusLine).Text, u"Gut!");
    EXPECT_EQ(C(kDefaultCharacterList).Entries[0], u"Standard");
    EXPECT_EQ(C(kDefaultCharacterList).Text, u"Standard");

    // Without a language the template captions stay, even where they differ from the texts.
    InterfaceTexts().clear();
    EnterBuiltInTexts(InterfaceTexts());
    InterfaceTexts()[9] = u"changed";
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    *dlg_ = {};
    Open();
    EXPECT_EQ(C(kNoDuplicates).Text, u"No duplicates");
}

} // namespace
} // namespace gleanery::dialog
