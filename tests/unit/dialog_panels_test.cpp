// The settings dialog's three panels driven headless: the expression test panel (test mode,
// Start, Next, Prev, the empty-match rules and the subgroup steps), the presets panel (Load,
// Add, Save, Del with their change records and the settings file) and the help pane.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "dialog/dialog_layout.h"
#include "dialog/headless/headless_dialog.h"
#include "dialog/help_texts.h"
#include "dialog_process.h"
#include "host/process_state.h"
#include "platform/message_box.h"
#include "session_records.h"
#include "settings/sample_test_text.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery::dialog {
namespace {

namespace fs = std::filesystem;

class DialogPanelsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (dlg_->Open) CloseDialog(dlg_->State, kIdCancel);
    }

    void WriteIni(const std::string& bytes) const { process_.WriteIni(bytes); }
    std::string ReadIni() const { return process_.ReadIni(); }
    HeadlessControl& C(int id) { return Control(*dlg_, id); }
    ExpressionTest& T() { return *dlg_->State.Test; }
    std::pair<int, int> Shown() { return {C(kReplaceEdit).SelStart, C(kReplaceEdit).SelEnd}; }
    // Opens the dialog, enters test mode and starts a test of `regex` over `text`.
    void StartTest(const std::u16string& regex, const std::u16string& text,
                   bool emptyValid = false) {
        if (dlg_->Open) CloseDialog(dlg_->State, kIdCancel);
        OpenHeadless(*dlg_);
        dlg_->Messages.clear();
        ASSERT_TRUE(Type(*dlg_, kRegexEdit, regex));
        if (emptyValid) Click(*dlg_, kEmptyValid);
        ASSERT_TRUE(Click(*dlg_, kTestToggle));
        ASSERT_TRUE(Type(*dlg_, kReplaceEdit, text));
        ASSERT_TRUE(Click(*dlg_, kTestStart));
    }
    // The change record of `name`; nothing when it has none.
    std::optional<ChangeRecord> Record(const std::u16string& name) {
        const auto it = State().Changes.find(name);
        if (it == State().Changes.end()) return std::nullopt;
        return it->second;
    }

    test::DialogProcess process_{"gleanery_panels", {1252}};
    std::unique_ptr<HeadlessDialog> dlg_ = std::make_unique<HeadlessDialog>();
};

using Span = std::pair<int, int>;

TEST_F(DialogPanelsTest, TestModeShowsTheSampleAndStoresItBack) {
    OpenHeadless(*dlg_);
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    EXPECT_EQ(C(kReplaceEdit).Text, kSampleTestText);
    EXPECT_EQ(C(kReplaceEdit).Text.size(), 214u);
    EXPECT_EQ(C(kReplaceLabel).Text, u"Test String");
    EXPECT_EQ(C(kTestToggle).Text, u"<");
    EXPECT_TRUE(C(kTestStart).Enabled);
    for (int id : {kTestNext, kSubgroupDown, kSubgroupUp, kPresetsList, kLoadDefaults})
        EXPECT_FALSE(C(id).Enabled) << id;

    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    EXPECT_EQ(C(kReplaceEdit).Text, u"$0");
    EXPECT_EQ(C(kReplaceLabel).Text, u"Replace String");
    EXPECT_EQ(C(kTestToggle).Text, u">");
    EXPECT_TRUE(C(kPresetsList).Enabled);
    EXPECT_FALSE(C(kTestStart).Enabled);
    EXPECT_EQ(dlg_->State.TestString, kSampleTestText);

    // An edited test string comes back at the next entry; OK stores it.
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    ASSERT_TRUE(Type(*dlg_, kReplaceEdit, u"my text"));
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    EXPECT_EQ(C(kReplaceEdit).Text, u"my text");
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_EQ(State().CurrentSettings.teststring, u"my text");
    EXPECT_EQ(State().CurrentSettings.replace, u"$0");
}

TEST_F(DialogPanelsTest, RunningLocksTheEditorsAndOkEndsTestModeFirst) {
    StartTest(u"o(\\w)", u"foo bar boz");
    ASSERT_TRUE(dlg_->State.TestRunning);
    EXPECT_EQ(Shown(), Span(1, 3));
    EXPECT_EQ(C(kTestStart).Text, u"Stop");
    EXPECT_EQ(C(kTestToggle).Text, u"Prev");
    EXPECT_EQ(C(kReplaceLabel).Text, u"Group 0 (entire pattern)");
    EXPECT_TRUE(C(kRegexEdit).ReadOnly);
    EXPECT_TRUE(C(kReplaceEdit).ReadOnly);
    EXPECT_FALSE(Type(*dlg_, kReplaceEdit, u"changed"));
    for (int id : {kCaseSensitive, kDotall, kMultiline, kUnicodeProperties, kEmptyValid,
                   kDefaultCharacterList, kCodePageList, kPresetsList})
        EXPECT_FALSE(C(id).Enabled) << id;
    EXPECT_TRUE(C(kTestNext).Enabled);

    ASSERT_TRUE(Click(*dlg_, kTestStart)); // Stop
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_FALSE(C(kRegexEdit).ReadOnly);
    EXPECT_FALSE(C(kReplaceEdit).ReadOnly);
    EXPECT_EQ(C(kTestStart).Text, u"Start");
    EXPECT_EQ(C(kTestToggle).Text, u"<");
    EXPECT_EQ(C(kReplaceLabel).Text, u"Test String");
    EXPECT_TRUE(C(kCaseSensitive).Enabled);
    EXPECT_FALSE(C(kTestNext).Enabled);

    ASSERT_TRUE(Click(*dlg_, kTestStart));
    ASSERT_TRUE(dlg_->State.TestRunning);
    ASSERT_TRUE(Click(*dlg_, kIdOk));
    EXPECT_FALSE(dlg_->Open);
    EXPECT_EQ(State().CurrentSettings.replace, u"$0");
    EXPECT_EQ(State().CurrentSettings.teststring, u"foo bar boz");
    EXPECT_EQ(State().CurrentSettings.regex, u"o(\\w)");
}

TEST_F(DialogPanelsTest, NextStepsOverEmptyMatchesAndPrevWalksBack) {
    StartTest(u".*", u"ab\r\ncd\r\n\r\nef");
    EXPECT_EQ(Shown(), Span(0, 2));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(4, 6));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(10, 12));
    // Prev walks back and stays on the first; Next replays the recorded ones.
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    EXPECT_EQ(Shown(), Span(4, 6));
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    ASSERT_TRUE(Click(*dlg_, kTestToggle));
    EXPECT_EQ(Shown(), Span(0, 2));
    EXPECT_EQ(T().ShownMatch, 1);
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(10, 12));
    EXPECT_EQ(T().RecordedCount, 3);
    // No further match ends the run without a message.
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(C(kTestStart).Text, u"Start");
    EXPECT_TRUE(dlg_->Messages.empty());
    EXPECT_EQ(T().RecordedCount, 3);
}

TEST_F(DialogPanelsTest, EmptyValidRecordsZeroOffsetsAndStepsOverLineEndsAndPairs) {
    // ".*" with empty matches valid: the empty match at the CR LF is one match with all offsets
    // 0, shown as a caret at the start; the next search begins after the whole CR LF.
    StartTest(u".*", u"ab\r\ncd", true);
    EXPECT_EQ(Shown(), Span(0, 2));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(0, 0));
    ASSERT_EQ(T().RecordedCount, 2);
    EXPECT_TRUE(std::all_of(T().Recorded[1].begin(), T().Recorded[1].end(),
                            [](int offset) { return offset == 0; }));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(4, 6));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(T().RecordedCount, 3);

    // "\r\n" alone: one empty match, then the end (CR LF is a newline by default).
    StartTest(u"x?", u"\r\n", true);
    ASSERT_TRUE(dlg_->State.TestRunning);
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(T().RecordedCount, 1);
    // With LF as the only newline the CR and the LF are stepped over one by one.
    StartTest(u"(*LF)x?", u"\r\n", true);
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(T().RecordedCount, 2);

    // A surrogate pair is stepped over as one character.
    StartTest(u"x?", u"\U0001F600", true);
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(T().RecordedCount, 1);
    StartTest(u"b|", u"\U0001F600b");
    ASSERT_TRUE(dlg_->State.TestRunning);
    EXPECT_EQ(Shown(), Span(2, 3));

    // An empty test string with empty matches valid is one match.
    StartTest(u".*", u"", true);
    EXPECT_TRUE(dlg_->State.TestRunning);
    EXPECT_EQ(T().RecordedCount, 1);
    EXPECT_TRUE(dlg_->Messages.empty());
}

TEST_F(DialogPanelsTest, SubgroupsStepWithinTheCaptureCount) {
    StartTest(u"(\\w)(\\w)", u"abcd");
    EXPECT_FALSE(C(kSubgroupDown).Enabled);
    EXPECT_TRUE(C(kSubgroupUp).Enabled);
    ASSERT_TRUE(Click(*dlg_, kSubgroupUp));
    EXPECT_EQ(C(kReplaceLabel).Text, u"Group 1");
    EXPECT_EQ(Shown(), Span(0, 1));
    EXPECT_TRUE(C(kSubgroupDown).Enabled);
    ASSERT_TRUE(Click(*dlg_, kSubgroupUp));
    EXPECT_EQ(Shown(), Span(1, 2));
    EXPECT_FALSE(C(kSubgroupUp).Enabled);
    DispatchCommand(dlg_->State, kSubgroupUp, kClicked); // even when it arrives
    EXPECT_EQ(T().ShownSubgroup, 2);
    // The subgroup stays when stepping to the next match.
    ASSERT_TRUE(Click(*dlg_, kTestNext));
    EXPECT_EQ(Shown(), Span(3, 4));
    ASSERT_TRUE(Click(*dlg_, kSubgroupDown));
    EXPECT_EQ(Shown(), Span(2, 3));
    ASSERT_TRUE(Click(*dlg_, kSubgroupDown));
    EXPECT_EQ(C(kReplaceLabel).Text, u"Group 0 (entire pattern)");
    EXPECT_FALSE(C(kSubgroupDown).Enabled);

    // 120 subgroups: (+) goes no further than 99.
    std::u16string many;
    for (int i = 0; i < 120; ++i) many += u"(a)";
    StartTest(many, std::u16string(120, u'a'));
    ASSERT_TRUE(dlg_->State.TestRunning);
    for (int i = 0; i < 105; ++i) DispatchCommand(dlg_->State, kSubgroupUp, kClicked);
    EXPECT_EQ(T().ShownSubgroup, 99);
    EXPECT_EQ(C(kReplaceLabel).Text, u"Group 99");
    EXPECT_EQ(Shown(), Span(98, 99));

    // Without subgroups (+) stays disabled.
    StartTest(u"b", u"abc");
    ASSERT_TRUE(dlg_->State.TestRunning);
    EXPECT_FALSE(C(kSubgroupUp).Enabled);
    EXPECT_FALSE(C(kSubgroupDown).Enabled);
}

TEST_F(DialogPanelsTest, StartRefusesFaultyExpressionsAndReportsNoMatch) {
    StartTest(u"(a", u"abc");
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, u"Incorrect Expression!");
    EXPECT_FALSE(dlg_->State.TestRunning);

    StartTest(u"zzz", u"abc");
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, u"No match!");
    EXPECT_EQ(dlg_->Messages[0].Flags, platform::kMbOk);
    EXPECT_FALSE(dlg_->State.TestRunning);
    EXPECT_EQ(C(kReplaceLabel).Text, u"Test String");
    EXPECT_FALSE(C(kSubgroupUp).Enabled);
    EXPECT_FALSE(C(kTestNext).Enabled);

    // The option boxes take part in the test: case-sensitive finds nothing in upper case.
    CloseDialog(dlg_->State, kIdCancel);
    OpenHeadless(*dlg_);
    Type(*dlg_, kRegexEdit, u"abc");
    Click(*dlg_, kCaseSensitive);
    Click(*dlg_, kTestToggle);
    Type(*dlg_, kReplaceEdit, u"ABC");
    Click(*dlg_, kTestStart);
    EXPECT_FALSE(dlg_->State.TestRunning);
    Click(*dlg_, kCaseSensitive);
    Click(*dlg_, kTestStart);
    EXPECT_TRUE(dlg_->State.TestRunning);
}

TEST_F(DialogPanelsTest, AddSaveAndLoadKeepListAndStoreInStep) {
    WriteIni("[gleanery1]\nname=a\nregex=x+\nteststring=hello\n"
             "[gleanery2]\nname=b\n[gleanery3]\nname=c\n");
    OpenHeadless(*dlg_);
    // A name that differs only in letter case is another preset.
    ASSERT_TRUE(Type(*dlg_, kPresetsList, u"A"));
    EXPECT_EQ(C(kPresetAdd).Text, u"Add");
    EXPECT_TRUE(C(kPresetAdd).Enabled);
    EXPECT_FALSE(C(kPresetLoad).Enabled);
    Type(*dlg_, kRegexEdit, u"upper");
    ASSERT_TRUE(Click(*dlg_, kPresetAdd));
    EXPECT_TRUE(dlg_->Messages.empty());
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{u"a", u"b", u"c", u"A"}));
    EXPECT_EQ(State().Presets.at(u"A").regex, u"upper");
    EXPECT_EQ(State().Presets.at(u"a").regex, u"x+");
    EXPECT_EQ(Record(u"A"), test::New());
    EXPECT_TRUE(dlg_->State.SaveNeeded);

    // Overwriting asks, keeps the place in the list, clears the selection.
    ASSERT_TRUE(Pick(*dlg_, kPresetsList, 1));
    EXPECT_EQ(C(kPresetAdd).Text, u"Save");
    EXPECT_TRUE(C(kPresetLoad).Enabled && C(kPresetDelete).Enabled);
    Type(*dlg_, kRegexEdit, u"new b");
    Pick(*dlg_, kPresetsList, 1);
    ASSERT_TRUE(Click(*dlg_, kPresetAdd)); // the default answer is No
    EXPECT_EQ(State().Presets.at(u"b").regex, u".*");
    dlg_->Answers = {platform::kIdYes};
    ASSERT_TRUE(Click(*dlg_, kPresetAdd));
    ASSERT_EQ(dlg_->Messages.size(), 2u);
    EXPECT_EQ(dlg_->Messages[1].Text, u"Overwrite\r\n\"b\" ?");
    EXPECT_EQ(dlg_->Messages[1].Flags,
              platform::kMbYesNoCancel | kMbIconQuestion | platform::kMbDefButton2);
    EXPECT_EQ(State().Presets.at(u"b").regex, u"new b");
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{u"a", u"b", u"c", u"A"}));
    EXPECT_EQ(C(kPresetsList).Selected, -1);
    EXPECT_EQ(C(kPresetsList).Text, u"");
    EXPECT_EQ(C(kPresetAdd).Text, u"Add");
    EXPECT_FALSE(C(kPresetAdd).Enabled);
    EXPECT_EQ(Record(u"b"), test::Changed(2));

    // Load fills the controls and the test string, and changes nothing to save.
    dlg_->State.SaveNeeded = false;
    ASSERT_TRUE(Pick(*dlg_, kPresetsList, 0));
    ASSERT_TRUE(Click(*dlg_, kPresetLoad));
    EXPECT_EQ(C(kRegexEdit).Text, u"x+");
    EXPECT_EQ(C(kStatusLine).Text, u"OK!");
    EXPECT_EQ(dlg_->State.TestString, u"hello");
    EXPECT_FALSE(dlg_->State.SaveNeeded);
    EXPECT_EQ(Record(u"a"), test::Kept(1));
    Click(*dlg_, kTestToggle);
    EXPECT_EQ(C(kReplaceEdit).Text, u"hello");
    EXPECT_FALSE(C(kPresetsList).Enabled);
    Click(*dlg_, kTestToggle);
    EXPECT_TRUE(C(kPresetsList).Enabled);
    EXPECT_TRUE(C(kPresetLoad).Enabled); // refreshed: "a" is still selected

    ASSERT_TRUE(Click(*dlg_, kIdOk));
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("[gleanery2]\r\nname=b\r\nregex=new b\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[gleanery4]\r\nname=A\r\nregex=upper\r\n"), std::string::npos) << ini;
}

TEST_F(DialogPanelsTest, DeleteTurnsTheChangeRecordsAndIsSavedEvenOnCancel) {
    WriteIni("[gleanery1]\nname=a\n[gleanery2]\nname=b\n");
    OpenHeadless(*dlg_);
    // Delete then add the same name: the deleted mark turns into a changed mark.
    Pick(*dlg_, kPresetsList, 0);
    ASSERT_TRUE(Click(*dlg_, kPresetDelete)); // No
    EXPECT_EQ(State().Presets.count(u"a"), 1u);
    dlg_->Answers = {platform::kIdYes};
    Pick(*dlg_, kPresetsList, 0);
    ASSERT_TRUE(Click(*dlg_, kPresetDelete));
    EXPECT_EQ(dlg_->Messages.back().Text, u"Delete\r\n\"a\" ?");
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{u"b"}));
    EXPECT_EQ(State().Presets.count(u"a"), 0u);
    EXPECT_EQ(Record(u"a"), test::Deleted(1));
    for (int id : {kPresetLoad, kPresetDelete, kPresetAdd}) EXPECT_FALSE(C(id).Enabled) << id;
    Type(*dlg_, kPresetsList, u"a");
    ASSERT_TRUE(Click(*dlg_, kPresetAdd));
    EXPECT_EQ(Record(u"a"), test::Changed(1));
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{u"b", u"a"}));

    // Add then delete leaves no record.
    Type(*dlg_, kPresetsList, u"fresh");
    Click(*dlg_, kPresetAdd);
    EXPECT_EQ(Record(u"fresh"), test::New());
    dlg_->Answers = {platform::kIdYes};
    Pick(*dlg_, kPresetsList, 2);
    Click(*dlg_, kPresetDelete);
    EXPECT_EQ(Record(u"fresh"), std::nullopt);
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{u"b", u"a"}));

    // Delete, then Cancel: the deletion is written.
    dlg_->Answers = {platform::kIdYes};
    Pick(*dlg_, kPresetsList, 0);
    Click(*dlg_, kPresetDelete);
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    const std::string ini = ReadIni();
    EXPECT_EQ(ini.find("name=b"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[gleanery1]\r\nname=a\r\n"), std::string::npos) << ini;
}

TEST_F(DialogPanelsTest, NamesUpTo255CharactersAndNoPresetBeyondTheLastSection) {
    OpenHeadless(*dlg_);
    const std::u16string name(255, u'n');
    ASSERT_TRUE(Type(*dlg_, kPresetsList, name + u"X"));
    EXPECT_EQ(C(kPresetsList).Text, name);
    ASSERT_TRUE(Click(*dlg_, kPresetAdd));
    ASSERT_TRUE(Click(*dlg_, kIdCancel));
    OpenHeadless(*dlg_);
    EXPECT_EQ(C(kPresetsList).Entries, (std::vector<std::u16string>{name}));
    Click(*dlg_, kIdCancel);

    // Every preset section in use: a new name is refused with a message, a deleted one may come
    // back into its own section.
    std::string full;
    for (int n = 1; n <= kMaxPresetSection; ++n)
        full += "[gleanery" + std::to_string(n) + "]\nname=p" + std::to_string(n) + "\n";
    WriteIni(full);
    OpenHeadless(*dlg_);
    ASSERT_EQ(C(kPresetsList).Entries.size(), static_cast<size_t>(kMaxPresetSection));
    Type(*dlg_, kPresetsList, u"one more");
    InterfaceTexts()[203] = u"Kein Platz mehr!"; // an interface text: a language file translates it
    ASSERT_TRUE(Click(*dlg_, kPresetAdd));
    ASSERT_EQ(dlg_->Messages.size(), 1u);
    EXPECT_EQ(dlg_->Messages[0].Text, u"Kein Platz mehr!");
    EXPECT_EQ(dlg_->Messages[0].Flags, platform::kMbOk | platform::kMbIconWarning);
    EXPECT_EQ(State().Presets.count(u"one more"), 0u);
    EXPECT_EQ(C(kPresetsList).Entries.size(), static_cast<size_t>(kMaxPresetSection));
    EXPECT_FALSE(dlg_->State.SaveNeeded);
    dlg_->Answers = {platform::kIdYes};
    Pick(*dlg_, kPresetsList, 0);
    Click(*dlg_, kPresetDelete);
    Type(*dlg_, kPresetsList, u"p1");
    Click(*dlg_, kPresetAdd);
    EXPECT_EQ(Record(u"p1"), test::Changed(1));
    EXPECT_EQ(dlg_->Messages.size(), 2u);
}

TEST_F(DialogPanelsTest, HelpPaneWidensSwapsAndCollapses) {
    OpenHeadless(*dlg_);
    const int collapsed = dlg_->Window.Width();
    const int help = dlg_->State.HelpWidth;
    ASSERT_GT(help, 0);

    ASSERT_TRUE(Click(*dlg_, kRegexHelp));
    EXPECT_EQ(dlg_->Window.Width(), collapsed + help);
    EXPECT_TRUE(C(kHelpPane).Enabled);
    EXPECT_EQ(C(kRegexHelp).Text, u"RegEx Help<");
    const std::u16string& expression = C(kHelpPane).Text;
    EXPECT_EQ(ExpressionHelpPieces().size(), 14u);
    EXPECT_TRUE(expression.starts_with(u"QUOTING\r\n"));
    EXPECT_TRUE(expression.ends_with(u"(?Cn)     callout with data n\r\n"));
    for (const char16_t* section : {u"\r\nCHARACTER TYPES\r\n", u"\r\nSCRIPT NAMES FOR \\p AND",
                                    u"\r\nBACKTRACKING CONTROL\r\n", u"\r\nCALLOUTS\r\n"})
        EXPECT_NE(expression.find(section), std::u16string::npos);
    EXPECT_EQ(expression.find(u"SEE ALSO"), std::u16string::npos);
    // Typesetting undone: words split at line ends joined, justification runs single blanks;
    // the tables keep their columns.
    EXPECT_NE(expression.find(u"and \\9 are the literal\r\n       characters \"8\""),
              std::u16string::npos);
    EXPECT_EQ(expression.find(u"-\r\n       "), std::u16string::npos);
    EXPECT_EQ(expression.find(u"even  in"), std::u16string::npos);
    EXPECT_NE(expression.find(u"\r\n         \\Q...\\E    treat enclosed"), std::u16string::npos);
    for (size_t i = 0; i < expression.size(); ++i) {
        if (expression[i] == u'\n') {
            ASSERT_EQ(expression[i - 1], u'\r') << i;
        }
    }

    ASSERT_TRUE(Click(*dlg_, kRegexHelp));
    EXPECT_EQ(dlg_->Window.Width(), collapsed);
    EXPECT_FALSE(C(kHelpPane).Enabled);
    EXPECT_EQ(C(kRegexHelp).Text, u"RegEx Help>");

    // 1042 then 1043: same width, the other text, both captions swapped.
    Click(*dlg_, kRegexHelp);
    ASSERT_TRUE(Click(*dlg_, kReplaceHelp));
    EXPECT_EQ(dlg_->Window.Width(), collapsed + help);
    EXPECT_EQ(C(kRegexHelp).Text, u"RegEx Help>");
    EXPECT_EQ(C(kReplaceHelp).Text, u"Replace Help<");
    const std::u16string& replacement = C(kHelpPane).Text;
    EXPECT_EQ(replacement.size(), 3089u);
    EXPECT_EQ(ReplacementHelpPieces().size(), 4u);
    EXPECT_TRUE(replacement.starts_with(u"SUBGROUPS\r\r\n\r\r\n  $0         whole Expression"));
    EXPECT_NE(replacement.find(u"(first caret removed for output)\r\r\n  $218"),
              std::u16string::npos);
    EXPECT_NE(replacement.find(u"(max. 99 subgroups)\r\n"), std::u16string::npos);
    EXPECT_TRUE(replacement.ends_with(u"for each result that originates from "
                                      u"c:\\dir1\\testfile.txt\r\n"));
    ASSERT_TRUE(Click(*dlg_, kRegexHelp));
    EXPECT_EQ(C(kReplaceHelp).Text, u"Replace Help>");
    EXPECT_TRUE(C(kHelpPane).Text.starts_with(u"QUOTING"));
    EXPECT_EQ(dlg_->State.HelpPaneState, HelpPane::ExpressionHelp);
    Click(*dlg_, kReplaceHelp);
    ASSERT_TRUE(Click(*dlg_, kReplaceHelp));
    EXPECT_EQ(dlg_->Window.Width(), collapsed);
    EXPECT_EQ(C(kReplaceHelp).Text, u"Replace Help>");

    // Captions follow the interface texts; the help stays as it is.
    InterfaceTexts()[44] = u"Hilfe<";
    Click(*dlg_, kRegexHelp);
    EXPECT_EQ(C(kRegexHelp).Text, u"Hilfe<");
    EXPECT_TRUE(C(kHelpPane).Text.starts_with(u"QUOTING"));
}

} // namespace
} // namespace gleanery::dialog
