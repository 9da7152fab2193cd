// The settings dialog's behaviour: initialisation, the transfer between controls and Settings,
// the option interlocks, the expression status line, the editing buttons, the font chooser, OK,
// Cancel, Load defaults, About and closing. Everything goes through the control-access layer, so
// the same code runs the real dialog and the headless one.
#include "dialog/settings_dialog.h"

#include <pcre.h>

#include <algorithm>
#include <string>
#include <utility>

#include "dialog/dialog_layout.h"
#include "dialog/panels.h"
#include "dialog/status_line.h"
#include "engine/replacement_template.h"
#include "host/process_state.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/unicode.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

constexpr char16_t kTitle[] = u"Gleanery";
constexpr int kEditorLimit = 65534;
constexpr int kPresetNameLimit = 255;
constexpr int kDropDownExtra = 24;
constexpr size_t kStandardMemoryEntries = 17;

using platform::Decimal;

// A decimal number from a list entry of our own; 0 when it holds no digits.
int64_t ParseDecimal(const std::u16string& text) {
    int64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') break;
        value = value * 10 + (c - u'0');
        if (value > 1000000) break;
    }
    return value;
}

void Warn(DialogState& state, const std::u16string& text) {
    ShowMessage(state.Handle, text, kTitle, platform::kMbOk | platform::kMbIconWarning);
}

void Relabel(DialogHandle dlg) {
    TextTable english;
    EnterBuiltInTexts(english);
    for (const ControlLayout& control : DialogControls()) {
        if (control.RelabelText == 0) continue;
        if (!SetText(dlg, control.Id, Text(control.RelabelText)))
            SetText(dlg, control.Id, english[control.RelabelText]);
    }
}

void FillList(DialogHandle dlg, int id, const std::vector<std::u16string>& entries) {
    for (const std::u16string& entry : entries) ListAdd(dlg, id, entry);
}

// Widens a drop-down list to its longest entry drawn in the dialog font.
void FitDropDown(DialogState& state, int id, const std::vector<std::u16string>& entries) {
    const int longest = LongestEntry(entries);
    const int width = longest < 0 ? 0
                                  : MeasureTextWidth(state.Handle, state.DialogFont,
                                                     entries[static_cast<size_t>(longest)]);
    SetDropDownWidth(state.Handle, id,
                     width == 0 ? 0
                                : width + VerticalScrollBarWidth(state.Handle) + kDropDownExtra);
}

void SelectMemory(DialogHandle dlg, int32_t memory) {
    if (ListCount(dlg, kMemoryList) > static_cast<int>(kStandardMemoryEntries))
        ListDelete(dlg, kMemoryList, static_cast<int>(kStandardMemoryEntries));
    const std::vector<int32_t> values = ReadMemoryValues();
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] == memory) {
            ListSelect(dlg, kMemoryList, static_cast<int>(i));
            return;
        }
    }
    ListSelect(dlg, kMemoryList, ListAdd(dlg, kMemoryList, Decimal(memory)));
}

int EncodingCheckIndex(int32_t bytes) {
    int index = 0;
    while (bytes > kMinEncodingCheck) {
        bytes /= 2;
        ++index;
    }
    return std::min(index, 7);
}

void SelectCodePage(DialogHandle dlg, int32_t codePage) {
    if (codePage == 0 || codePage == 1) {
        ListSelect(dlg, kCodePageList, codePage);
        return;
    }
    const std::vector<uint32_t>& usable = State().System.UsableCodePages;
    for (size_t k = 0; k < usable.size(); ++k) {
        if (static_cast<int32_t>(usable[k]) == codePage) {
            ListSelect(dlg, kCodePageList, static_cast<int>(k + 2));
            return;
        }
    }
}

// The code page number that the selection of list 1029 stands for; the system ANSI code page
// when nothing is selected.
uint32_t SelectedCodePageNumber(DialogHandle dlg) {
    const ProcessState& process = State();
    const int index = Selection(dlg, kCodePageList);
    if (index == 1) return process.System.OemCodePage;
    if (index >= 2 && static_cast<size_t>(index - 2) < process.System.UsableCodePages.size())
        return process.System.UsableCodePages[static_cast<size_t>(index - 2)];
    return process.System.AnsiCodePage;
}

bool SelectedDefaultCharacter(DialogHandle dlg, int8_t& value) {
    const int index = Selection(dlg, kDefaultCharacterList);
    if (index == 0) {
        value = -1;
        return true;
    }
    if (index >= 1 && index <= 95) {
        value = static_cast<int8_t>(index + 31);
        return true;
    }
    return false;
}

void SetTextBoxFont(DialogState& state, Redraw redraw) {
    const FontHandle font = state.TextFont ? state.TextFont : state.DialogFont;
    for (int id : {kRegexEdit, kReplaceEdit, kHelpPane}) SetFont(state.Handle, id, font, redraw);
}

void Surround(DialogState& state, std::u16string_view open, std::u16string_view close) {
    DialogHandle dlg = state.Handle;
    const std::u16string text = GetText(dlg, kRegexEdit);
    int start = 0;
    int end = 0;
    GetEditSelection(dlg, kRegexEdit, start, end);
    const size_t size = text.size();
    size_t from = std::min(static_cast<size_t>(std::max(std::min(start, end), 0)), size);
    size_t to = std::min(static_cast<size_t>(std::max(std::max(start, end), 0)), size);
    std::u16string result;
    size_t caret = 0;
    if (from == to) {
        result.append(open).append(text).append(close);
        caret = result.size();
    } else {
        result.append(text, 0, from).append(open).append(text, from, to - from).append(close);
        caret = result.size();
        result.append(text, to, std::u16string::npos);
    }
    SetText(dlg, kRegexEdit, result);
    SetEditSelection(dlg, kRegexEdit, static_cast<int>(caret), static_cast<int>(caret));
    ScrollCaretIntoView(dlg, kRegexEdit);
    Focus(dlg, kRegexEdit);
    UpdateExpressionStatus(state);
}

void ChangeFont(DialogState& state) {
    DialogHandle dlg = state.Handle;
    TextBoxFont& font = State().Font;
    const TextBoxFont before = font;
    bool startedFromDialogFont = false;
    if (font.FaceName[0] == 0) {
        font = DialogFontDescription(state);
        startedFromDialogFont = true;
    }
    if (!ChooseTextBoxFont(dlg, font)) {
        if (startedFromDialogFont) font = TextBoxFont{};
        return;
    }
    const FontHandle made = CreateFontFrom(dlg, font);
    if (!made) {
        font = TextBoxFont{};
        Warn(state, Text(kTextFontChangeFailed));
        return;
    }
    if (state.TextFont) DeleteFont(dlg, state.TextFont);
    state.TextFont = made;
    SetTextBoxFont(state, Redraw::Now);
    if (font != before) state.SaveNeeded = true;
}

void Ok(DialogState& state) {
    DialogHandle dlg = state.Handle;
    if (state.ExpressionState == ExpressionStatus::Error) {
        ShowMessage(dlg, Text(kTextIncorrectExpression), kTitle, platform::kMbOk);
        return;
    }
    EndTestMode(state);
    const std::u16string missing = CheckReplaceGroups(state);
    if (state.ExpressionState == ExpressionStatus::Error) {
        // The lists changed the compiled form since the last status; still no way past an error.
        ShowMessage(dlg, Text(kTextIncorrectExpression), kTitle, platform::kMbOk);
        return;
    }
    if (state.ExpressionState == ExpressionStatus::MissingSubgroups) {
        const std::u16string question = Text(kTextSubgroupsNotFound) + u"\r\n " + missing +
                                        u"\r\n" + Text(kTextContinueAnyway) + u"\r\n" +
                                        Text(kTextReferencesRemoved);
        const int answer = ShowMessage(dlg, question, kTitle,
                                       platform::kMbYesNoCancel | platform::kMbIconWarning |
                                           platform::kMbDefButton2);
        if (answer != platform::kIdYes) {
            state.ExpressionState = ExpressionStatus::Compiles;
            return;
        }
    }
    Settings& current = State().CurrentSettings;
    const Settings before = current;
    ReadControls(state, current);
    if (current != before) state.SaveNeeded = true;
    CloseDialog(state, kIdOk);
}

void LoadDefaults(DialogState& state) {
    FillControls(state, Settings{});
    UpdateExpressionStatus(state);
}

std::u16string LinkedPcreVersion() {
    const char* full = pcre_version();
    std::u16string version;
    for (const char* c = full; c && *c && *c != ' '; ++c)
        version.push_back(static_cast<char16_t>(*c));
    return version;
}

void About(DialogState& state) {
    ShowMessage(state.Handle, AboutText(LinkedPcreVersion()), u"Gleanery v1.6",
                platform::kMbOk | kMbIconInformation);
}

} // namespace

TextBoxFont DialogFontDescription(DialogState& state) {
    // Built once per library load from the screen's resolution.
    static const TextBoxFont description = [&state] {
        TextBoxFont font;
        const int dpi = ScreenPixelsPerInchY(state.Handle);
        font.Height = -((kDialogFontPoints * dpi * 2 + 72) / 144); // MulDiv rounding
        std::copy(kDialogFontFace.begin(), kDialogFontFace.end(), font.FaceName.begin());
        return font;
    }();
    return description;
}

void InitialiseDialog(DialogState& state) {
    DialogHandle dlg = state.Handle;
    ProcessState& process = State();

    if (LanguageApplied()) Relabel(dlg);
    SetCaption(dlg, Text(kTextDialogTitle));
    state.StatusBrush = CreateButtonFaceBrush(dlg);

    // A load needs an empty store and document; a cycle left open must not leak into this one.
    SettingsSession session = SettingsSessionOf(process);
    DiscardSettingsAndPresets(session);
    if (!LoadSettingsAndPresets(session, nullptr, &process.Font))
        Warn(state, Text(kTextIniNotReadable) + u"\r\n" + Text(kTextNoPresetsLoaded));

    if (state.DialogFont) DeleteFont(dlg, state.DialogFont);
    state.DialogFont = CreateFontFrom(dlg, DialogFontDescription(state));
    state.TextFont = nullptr;
    if (process.Font.FaceName[0] != 0) {
        state.TextFont = CreateFontFrom(dlg, process.Font);
        if (!state.TextFont) process.Font = TextBoxFont{};
    }
    SetTextBoxFont(state, Redraw::Later);
    SetFont(dlg, kPresetsList, state.DialogFont, Redraw::Later);

    SetTextLimit(dlg, kRegexEdit, kEditorLimit);
    SetTextLimit(dlg, kReplaceEdit, kEditorLimit);

    FillList(dlg, kMemoryList, ReadMemoryEntries());
    ListSelect(dlg, kMemoryList, 1);
    FillList(dlg, kDefaultCharacterList, ReplacementCharacterEntries());
    ListSelect(dlg, kDefaultCharacterList, 0);
    FillList(dlg, kEncodingCheckList, EncodingCheckEntries());
    ListSelect(dlg, kEncodingCheckList, 1);
    const std::vector<std::u16string> codePages = CodePageEntries();
    FillList(dlg, kCodePageList, codePages);
    FitDropDown(state, kCodePageList, codePages);
    std::vector<std::u16string> presetNames;
    for (const auto& [name, preset] : process.Presets) presetNames.push_back(name);
    FillList(dlg, kPresetsList, presetNames);
    FitDropDown(state, kPresetsList, presetNames);
    SetTextLimit(dlg, kPresetsList, kPresetNameLimit);
    FillList(dlg, kOutfileExtensionList, OutfileExtensionEntries());
    ListSelect(dlg, kOutfileExtensionList, 0);

    for (int id : {kPresetLoad, kPresetDelete, kPresetAdd, kTestStart, kTestNext, kSubgroupDown,
                   kSubgroupUp})
        Enable(dlg, id, false);

    state.Test = std::make_unique<ExpressionTest>();
    state.SavedReplace.clear();
    state.TestString.clear();

    ListSelect(dlg, kDefaultCharacterList, 0);
    FillControls(state, process.CurrentSettings);
    UpdateExpressionStatus(state);

    if (process.DialogX != kNoDialogPosition && process.DialogY != kNoDialogPosition)
        MoveWindowTo(dlg, process.DialogX, process.DialogY);

    const Rect window = WindowRect(dlg);
    const Rect replace = ControlRect(dlg, kReplaceEdit);
    state.HelpWidth = window.Width() - (replace.Right - window.Left) - 8;
    ResizeWindow(dlg, window.Width() - state.HelpWidth, window.Height());
    Enable(dlg, kHelpPane, false);

    state.TooltipsReady = CreateTooltips(dlg);
}

// The check boxes that each stand for one switch of the settings.
constexpr std::pair<int, bool Settings::*> kSwitchBoxes[] = {
    {kNoDuplicates, &Settings::NoDuplicates},
    {kBinaryMode, &Settings::BinaryMode},
    {kSearchAndReplace, &Settings::SearchAndReplace},
    {kLineMode, &Settings::LineMode},
    {kCaseSensitive, &Settings::CaseSensitive},
    {kDotall, &Settings::Dotall},
    {kMultiline, &Settings::Multiline},
    {kUnicodeProperties, &Settings::UnicodeProperties},
    {kEmptyValid, &Settings::EmptyValid},
    {kWriteStats, &Settings::WriteStats},
    {kWriteBom, &Settings::WriteBom},
};

void FillControls(DialogState& state, const Settings& settings) {
    DialogHandle dlg = state.Handle;
    SetText(dlg, kRegexEdit, settings.regex);
    SetText(dlg, kReplaceEdit, settings.replace);
    for (const auto& [id, field] : kSwitchBoxes) Check(dlg, id, settings.*field);
    Check(dlg, kCopyClip, settings.CopyClip != 0);
    Check(dlg, kDeleteCopied, settings.CopyClip > 1);
    SelectMemory(dlg, settings.Memory);
    ListSelect(dlg, kEncodingCheckList, EncodingCheckIndex(settings.EncodingCheck));
    SelectCodePage(dlg, settings.CodePage);
    // The dialog only produces -1 and 32 to 126; anything else is shown as the system default.
    const int character = settings.DefaultCharacter;
    ListSelect(dlg, kDefaultCharacterList,
               character >= 32 && character <= 126 ? character - 31 : 0);
    const int extension = settings.OutfileExtension;
    ListSelect(dlg, kOutfileExtensionList, extension >= 0 && extension <= 2 ? extension : 0);
    state.TestString = settings.teststring;
    ApplyInterlocks(state);
}

void ReadControls(DialogState& state, Settings& settings) {
    DialogHandle dlg = state.Handle;
    settings.regex = GetText(dlg, kRegexEdit);
    if (settings.regex.empty()) settings.regex = u".*";
    settings.replace = GetText(dlg, kReplaceEdit);
    for (const auto& [id, field] : kSwitchBoxes) settings.*field = IsChecked(dlg, id);
    settings.CopyClip = !IsChecked(dlg, kCopyClip) ? 0 : IsChecked(dlg, kDeleteCopied) ? 2 : 1;

    const int memory = Selection(dlg, kMemoryList);
    if (memory >= 0) {
        const int64_t value = ParseDecimal(ListEntry(dlg, kMemoryList, memory));
        settings.Memory = static_cast<int32_t>(std::clamp<int64_t>(value, 5, 500));
    }
    const int level = std::clamp(Selection(dlg, kEncodingCheckList), 0, 7);
    settings.EncodingCheck = kMinEncodingCheck << level;

    const int codePage = Selection(dlg, kCodePageList);
    const std::vector<uint32_t>& usable = State().System.UsableCodePages;
    if (codePage == 0 || codePage == 1)
        settings.CodePage = codePage;
    else if (codePage >= 2 && static_cast<size_t>(codePage - 2) < usable.size())
        settings.CodePage = static_cast<int32_t>(usable[static_cast<size_t>(codePage - 2)]);

    int8_t character = 0;
    if (SelectedDefaultCharacter(dlg, character)) settings.DefaultCharacter = character;

    const int extension = Selection(dlg, kOutfileExtensionList);
    settings.OutfileExtension =
        static_cast<int8_t>(extension >= 0 && extension <= 2 ? extension : 0);
    settings.teststring = state.TestString;
}

void ApplyInterlocks(DialogState& state) {
    DialogHandle dlg = state.Handle;
    const bool binary = IsChecked(dlg, kBinaryMode);
    if (binary) {
        Check(dlg, kWriteBom, false);
        Enable(dlg, kWriteBom, false);
    } else {
        Enable(dlg, kWriteBom, true);
    }
    Enable(dlg, kEncodingCheckList, !binary);

    if (IsChecked(dlg, kSearchAndReplace)) {
        for (int id : {kWriteBom, kLineMode, kNoDuplicates, kWriteStats}) {
            Check(dlg, id, false);
            Enable(dlg, id, false);
        }
    } else {
        for (int id : {kLineMode, kNoDuplicates, kWriteStats, kBinaryMode}) Enable(dlg, id, true);
        if (IsChecked(dlg, kBinaryMode)) {
            Check(dlg, kWriteBom, false);
            Enable(dlg, kWriteBom, false);
            Enable(dlg, kEncodingCheckList, false);
        } else {
            Enable(dlg, kWriteBom, true);
            Enable(dlg, kEncodingCheckList, true);
        }
    }

    const bool copy = IsChecked(dlg, kCopyClip);
    if (!copy) Check(dlg, kDeleteCopied, false);
    Enable(dlg, kDeleteCopied, copy);
}

Settings StatusSettings(DialogState& state) {
    DialogHandle dlg = state.Handle;
    Settings settings;
    std::u16string expression = GetText(dlg, kRegexEdit);
    if (!expression.empty()) settings.regex = std::move(expression);
    settings.CodePage = static_cast<int32_t>(SelectedCodePageNumber(dlg));
    int8_t character = 0;
    if (SelectedDefaultCharacter(dlg, character)) settings.DefaultCharacter = character;
    return settings;
}

const std::u16string* TooltipText(const DialogState& state, int id) {
    if (!state.TooltipsReady) return nullptr;
    const uint16_t number = TooltipTextNumber(id);
    if (number == 0) return nullptr;
    return &Text(number);
}

void SetPresetsGroup(DialogState& state, GroupLevel level) {
    const bool on = level == GroupLevel::Enabled;
    Enable(state.Handle, kPresetsList, on);
    Enable(state.Handle, kLoadDefaults, on);
    if (!on)
        for (int id : {kPresetLoad, kPresetDelete, kPresetAdd}) Enable(state.Handle, id, false);
}

void SetOptionsGroup(DialogState& state, GroupLevel level) {
    for (int id : {kCaseSensitive, kDotall, kMultiline, kUnicodeProperties, kEmptyValid,
                   kDefaultCharacterList, kCodePageList})
        Enable(state.Handle, id, level == GroupLevel::Enabled);
}

void DispatchCommand(DialogState& state, int id, int code) {
    if (state.Closed) return;
    switch (id) {
    case kRegexEdit:
        if (code == kEnChange) UpdateExpressionStatus(state);
        return;
    case kDefaultCharacterList:
    case kCodePageList:
        if (code == kSelChange) UpdateExpressionStatus(state);
        return;
    case kStatusLine:
        if (code == kClicked && state.ExpressionState == ExpressionStatus::Error)
            UpdateExpressionStatusMarkingError(state);
        return;
    case kPresetsList:
        PresetsCommand(state, id, code);
        return;
    default:
        break;
    }
    if (code != kClicked) return;
    switch (id) {
    case kGroupButton:
        Surround(state, u"(", u")");
        break;
    case kPlaceholderButton:
        Surround(state, u".*", u".*");
        break;
    case kQuoteButton:
        Surround(state, u"\\Q", u"\\E");
        break;
    case kFontButton:
        ChangeFont(state);
        break;
    case kNoDuplicates:
    case kBinaryMode:
    case kSearchAndReplace:
    case kLineMode:
    case kWriteStats:
    case kCopyClip:
    case kWriteBom:
        ApplyInterlocks(state);
        break;
    case kTestToggle:
    case kTestStart:
    case kTestNext:
    case kSubgroupDown:
    case kSubgroupUp:
        TestPanelCommand(state, id);
        break;
    case kPresetLoad:
    case kPresetDelete:
    case kPresetAdd:
        PresetsCommand(state, id, code);
        break;
    case kAbout:
        About(state);
        break;
    case kLoadDefaults:
        LoadDefaults(state);
        break;
    case kRegexHelp:
    case kReplaceHelp:
        HelpPaneCommand(state, id);
        break;
    case kIdOk:
        Ok(state);
        break;
    case kIdCancel:
        CloseDialog(state, kIdCancel);
        break;
    default:
        break;
    }
}

void CloseDialog(DialogState& state, int result) {
    if (state.Closed) return;
    state.Closed = true;
    DialogHandle dlg = state.Handle;
    ProcessState& process = State();
    SettingsSession session = SettingsSessionOf(process);

    if (state.SaveNeeded) {
        const bool dialogFont = process.Font == DialogFontDescription(state);
        if (!SaveSettingsAndPresets(session, dialogFont ? nullptr : &process.Font))
            Warn(state, Text(kTextPresetsNotSaved));
    }
    state.TestMode = false;
    state.TestRunning = false;
    state.SaveNeeded = false;
    state.HelpPaneState = HelpPane::Collapsed;
    state.SavedReplace.clear();
    state.TestString.clear();
    ResetTest(state);

    DiscardSettingsAndPresets(session);

    DeleteBrush(dlg, state.StatusBrush);
    state.StatusBrush = nullptr;
    if (state.TextFont) DeleteFont(dlg, state.TextFont);
    state.TextFont = nullptr;
    if (state.DialogFont) DeleteFont(dlg, state.DialogFont);
    state.DialogFont = nullptr;
    const Rect window = WindowRect(dlg);
    process.DialogX = window.Left;
    process.DialogY = window.Top;
    if (state.TooltipsReady) RemoveTooltips(dlg);
    state.TooltipsReady = false;

    state.Test.reset();
    EndDialogWith(dlg, result);
}

std::u16string AboutText(const std::u16string& pcreVersion) {
    return u"String-Extractor and Replacer\r\nbased on Regular Expressions\r\n\r\n"
           u"Using \"Perl Compatible Regular\r\nExpressions\" (PCRE) library " +
           pcreVersion + u"\r\nhttps://www.pcre.org/";
}

} // namespace gleanery::dialog
