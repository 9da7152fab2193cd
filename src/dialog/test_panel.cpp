// The expression test panel: the replace editor doubles as the test-string editor, Start runs the
// expression (always the 16-bit library over UTF-16 text) and every match found is recorded, so
// that Next and Prev can walk back and forth and (-) and (+) can show each subgroup of a match.
#include <pcre.h>

#include <string>

#include "dialog/dialog_layout.h"
#include "dialog/panels.h"
#include "dialog/status_line.h"
#include "host/process_state.h"
#include "platform/message_box.h"
#include "platform/unicode.h"
#include "settings/sample_test_text.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

constexpr char16_t kTitle[] = u"Gleanery";
constexpr int kMaxSubgroup = 99;
constexpr int kOffsetsSize = 300;

std::u16string GroupLine(int subgroup) {
    std::u16string line = Text(kTextGroup) + u" " + platform::Decimal(subgroup);
    if (subgroup == 0) line += u" " + Text(kTextEntirePattern);
    return line;
}

// The text of a span of the test string for a label: one line, at most 40 units, an ellipsis
// where it goes on; empty for a group that took no part in the match.
std::u16string SpanText(const std::u16string& text, int start, int end) {
    constexpr size_t kMost = 40;
    if (start < 0 || end < start || static_cast<size_t>(end) > text.size()) return {};
    std::u16string span = text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
    if (span.size() > kMost) {
        size_t cut = kMost;
        if (platform::IsLowSurrogate(span[cut])) --cut; // not between a surrogate pair
        span = span.substr(0, cut) + u"\u2026";
    }
    for (char16_t& unit : span)
        if (unit < 0x20) unit = u' ';
    return span;
}

// Selects the span of the shown subgroup of recorded match `offsets` in the test-string editor;
// where the editor shows no selection, the label names the span's text after the "Group" line.
void SelectSpan(DialogState& state, const std::array<int, kOffsetsSize>& offsets) {
    const int subgroup = state.Test->ShownSubgroup;
    const size_t group = static_cast<size_t>(subgroup);
    const int start = offsets[2 * group];
    const int end = offsets[2 * group + 1];
    SetEditSelection(state.Handle, kReplaceEdit, start, end);
    if (start != 0 && end != 0) ScrollCaretIntoView(state.Handle, kReplaceEdit);
    if (!ShowsEditSelection(state.Handle))
        SetText(state.Handle, kReplaceLabel,
                GroupLine(subgroup) + u": \"" + SpanText(state.TestString, start, end) + u"\"");
}

void ShowRecordedMatch(DialogState& state) {
    ExpressionTest& test = *state.Test;
    if (test.ShownMatch < 1 || test.ShownMatch > test.RecordedCount) return;
    SelectSpan(state, test.Recorded[static_cast<size_t>(test.ShownMatch - 1)]);
}

void Record(ExpressionTest& test, const std::array<int, kOffsetsSize>& offsets) {
    test.Recorded.push_back(offsets);
    test.RecordedCount = static_cast<int>(test.Recorded.size());
    test.ShownMatch = test.RecordedCount;
}

// An empty match with empty matches valid: shown as a caret at the start of the test string and
// recorded with every offset 0.
void RecordEmptyMatch(DialogState& state) {
    Record(*state.Test, std::array<int, kOffsetsSize>{});
    SelectSpan(state, state.Test->Recorded.back());
}

// The offset after an empty match at `at` that the anchored retry could not widen: one unit on,
// or two over a CR LF pair (where CR LF is a newline) or a surrogate pair, so that a search never
// starts between the two halves.
int StepOverEmptyMatch(const std::u16string& text, bool crlfIsNewline, int at) {
    const size_t i = static_cast<size_t>(at);
    if (i + 1 < text.size() && crlfIsNewline && text[i] == u'\r' && text[i + 1] == u'\n')
        return at + 2;
    if (platform::IsSurrogatePairAt(text, i)) return at + 2;
    return at + 1;
}

// Where a search of the test string begins: at its start (Start), or where the last search left
// off (Next).
enum class SearchFrom { TextStart, LastMatch };

// Searches the test string. On a match the offsets are recorded (and the match is shown); false
// when there is none or the library reports an error.
bool SearchMatch(DialogState& state, SearchFrom from) {
    ExpressionTest& test = *state.Test;
    const bool atStart = from == SearchFrom::TextStart;
    int start = atStart ? 0 : test.NextStart;
    DialogHandle dlg = state.Handle;
    const std::u16string& text = state.TestString;
    const auto* subject = reinterpret_cast<PCRE_SPTR16>(text.data());
    const int length = static_cast<int>(text.size());
    const int options = static_cast<int>(test.Compiled.Utf16ExecOptions);
    const bool emptyValid = test.Working.EmptyValid;
    auto exec = [&](int from, int extra) {
        return pcre16_exec(test.Compiled.Utf16Code.get(), test.Compiled.Utf16Extra.get(), subject,
                           length, from, options | extra, test.Offsets.data(), kOffsetsSize);
    };

    while (start <= length) {
        int result = exec(start, 0);
        if (atStart && emptyValid && length == 0 && result >= 0) {
            test.NextStart = 0;
            RecordEmptyMatch(state);
            return true;
        }
        if (result >= 0 && test.Offsets[0] == test.Offsets[1]) {
            const int at = test.Offsets[0];
            if (at == length) {
                ScrollCaretIntoView(dlg, kReplaceEdit);
                return false;
            }
            result = exec(at, PCRE_NOTEMPTY_ATSTART | PCRE_ANCHORED);
            if (result == PCRE_ERROR_NOMATCH) {
                const int next = StepOverEmptyMatch(text, test.Compiled.CrlfIsNewline, at);
                if (emptyValid) {
                    test.NextStart = next;
                    RecordEmptyMatch(state);
                    return true;
                }
                start = next;
                continue;
            }
        }
        const bool empty = result >= 0 && test.Offsets[0] == test.Offsets[1];
        if (result < 0 || (empty && test.Offsets[0] == length)) {
            SetEditSelection(dlg, kReplaceEdit, 0, 0);
            return false;
        }
        if (emptyValid || !empty) {
            test.NextStart = test.Offsets[1];
            Record(test, test.Offsets);
            SelectSpan(state, test.Offsets);
            ScrollCaretIntoView(dlg, kReplaceEdit);
            return true;
        }
        // An empty match the retry did not rule out while empty matches do not count: search on
        // after it (the loop ends at the end of the text).
        start = test.Offsets[1] > start ? test.Offsets[1] : start + 1;
    }
    return false;
}

void EnterTestMode(DialogState& state) {
    DialogHandle dlg = state.Handle;
    state.TestMode = true;
    Enable(dlg, kTestStart, true);
    for (int id : {kTestNext, kSubgroupDown, kSubgroupUp}) Enable(dlg, id, false);
    SetPresetsGroup(state, GroupLevel::Disabled);
    SetText(dlg, kTestToggle, u"<");
    SetText(dlg, kReplaceLabel, Text(kTextTestString));
    state.SavedReplace = GetText(dlg, kReplaceEdit);
    SetText(dlg, kReplaceEdit,
            state.TestString.empty() ? std::u16string(kSampleTestText) : state.TestString);
}

void StopTest(DialogState& state) {
    DialogHandle dlg = state.Handle;
    state.TestRunning = false;
    SetText(dlg, kTestStart, Text(kTextStart));
    SetText(dlg, kTestToggle, u"<");
    SetReadOnly(dlg, kRegexEdit, false);
    SetReadOnly(dlg, kReplaceEdit, false);
    SetText(dlg, kReplaceLabel, Text(kTextTestString));
    Enable(dlg, kTestToggle, true);
    for (int id : {kTestNext, kSubgroupDown, kSubgroupUp}) Enable(dlg, id, false);
    SetOptionsGroup(state, GroupLevel::Enabled);
}

void StartTest(DialogState& state) {
    DialogHandle dlg = state.Handle;
    UpdateExpressionStatus(state);
    if (state.ExpressionState == ExpressionStatus::Error ||
        state.ExpressionState == ExpressionStatus::MissingSubgroups) {
        ShowMessage(dlg, Text(kTextIncorrectExpression), kTitle, platform::kMbOk);
        return;
    }
    state.TestString = GetText(dlg, kReplaceEdit);
    Enable(dlg, kSubgroupDown, true);
    Enable(dlg, kSubgroupUp, true);

    ResetTest(state);
    ExpressionTest& test = *state.Test;
    test.Compiled = CompiledExpression{};
    test.NextStart = 0;
    test.Working = StatusSettings(state);
    test.Working.CaseSensitive = IsChecked(dlg, kCaseSensitive);
    test.Working.Dotall = IsChecked(dlg, kDotall);
    test.Working.Multiline = IsChecked(dlg, kMultiline);
    test.Working.UnicodeProperties = IsChecked(dlg, kUnicodeProperties);
    test.Working.EmptyValid = IsChecked(dlg, kEmptyValid);
    CompileExpression(test.Working, State().System, test.Compiled);
    if (!test.Compiled.ErrorText.empty() || !test.Compiled.Utf16Code) {
        // The option boxes take part here but not in the status line; a form that did not
        // compile (or study) is not run.
        Enable(dlg, kSubgroupDown, false);
        Enable(dlg, kSubgroupUp, false);
        ShowMessage(dlg, Text(kTextIncorrectExpression), kTitle, platform::kMbOk);
        return;
    }

    SetText(dlg, kReplaceLabel, GroupLine(0));
    Enable(dlg, kSubgroupDown, false);
    if (test.Compiled.CaptureCount == 0) Enable(dlg, kSubgroupUp, false);

    if (SearchMatch(state, SearchFrom::TextStart)) {
        state.TestRunning = true;
        SetText(dlg, kTestStart, Text(kTextStop));
        SetText(dlg, kTestToggle, Text(kTextPrevious));
        SetReadOnly(dlg, kRegexEdit, true);
        SetReadOnly(dlg, kReplaceEdit, true);
        Enable(dlg, kTestNext, true);
        SetOptionsGroup(state, GroupLevel::Disabled);
        return;
    }
    SetEditSelection(dlg, kReplaceEdit, 0, 0);
    SetText(dlg, kReplaceLabel, Text(kTextTestString));
    Enable(dlg, kSubgroupDown, false);
    Enable(dlg, kSubgroupUp, false);
    ShowMessage(dlg, Text(kTextNoMatch), kTitle, platform::kMbOk);
}

void NextMatch(DialogState& state) {
    ExpressionTest& test = *state.Test;
    if (test.ShownMatch < test.RecordedCount) {
        ++test.ShownMatch;
        ShowRecordedMatch(state);
        return;
    }
    if (!SearchMatch(state, SearchFrom::LastMatch)) StopTest(state);
}

void PreviousMatch(DialogState& state) {
    ExpressionTest& test = *state.Test;
    if (test.RecordedCount == 0) return;
    if (test.ShownMatch > 1)
        --test.ShownMatch;
    else
        test.ShownMatch = 1;
    ShowRecordedMatch(state);
}

void StepSubgroup(DialogState& state, int step) {
    DialogHandle dlg = state.Handle;
    ExpressionTest& test = *state.Test;
    const int groups = test.Compiled.CaptureCount;
    if (step < 0 && test.ShownSubgroup > 0) --test.ShownSubgroup;
    if (step > 0 && test.ShownSubgroup < groups && test.ShownSubgroup < kMaxSubgroup)
        ++test.ShownSubgroup;
    Enable(dlg, kSubgroupDown, test.ShownSubgroup != 0);
    Enable(dlg, kSubgroupUp, test.ShownSubgroup < groups);
    if (test.RecordedCount == 0 || test.ShownMatch < 1 || test.ShownMatch > test.RecordedCount)
        return;
    SetText(dlg, kReplaceLabel, GroupLine(test.ShownSubgroup));
    ShowRecordedMatch(state);
}

} // namespace

void TestPanelCommand(DialogState& state, int id) {
    if (!state.Test) return;
    switch (id) {
    case kTestToggle:
        if (state.TestRunning)
            PreviousMatch(state);
        else if (state.TestMode)
            EndTestMode(state);
        else
            EnterTestMode(state);
        break;
    case kTestStart:
        if (!state.TestMode) break;
        if (state.TestRunning)
            StopTest(state);
        else
            StartTest(state);
        break;
    case kTestNext:
        if (state.TestRunning) NextMatch(state);
        break;
    case kSubgroupDown:
        if (state.TestRunning) StepSubgroup(state, -1);
        break;
    case kSubgroupUp:
        if (state.TestRunning) StepSubgroup(state, +1);
        break;
    default:
        break;
    }
}

void EndTestMode(DialogState& state) {
    if (!state.TestMode) return;
    DialogHandle dlg = state.Handle;
    if (state.TestRunning) {
        state.TestRunning = false;
        SetText(dlg, kTestStart, Text(kTextStart));
        SetReadOnly(dlg, kRegexEdit, false);
        SetReadOnly(dlg, kReplaceEdit, false);
        Enable(dlg, kTestToggle, true);
        Enable(dlg, kTestNext, false);
        SetOptionsGroup(state, GroupLevel::Enabled);
    }
    state.TestString = GetText(dlg, kReplaceEdit);
    state.TestMode = false;
    Enable(dlg, kTestStart, false);
    Enable(dlg, kTestNext, false);
    Enable(dlg, kSubgroupDown, false);
    Enable(dlg, kSubgroupUp, false);
    SetPresetsGroup(state, GroupLevel::Enabled);
    RefreshPresetButtons(state);
    SetText(dlg, kTestToggle, u">");
    SetText(dlg, kReplaceLabel, Text(kTextReplaceString));
    SetText(dlg, kReplaceEdit, state.SavedReplace);
}

void ResetTest(DialogState& state) {
    if (!state.Test) return;
    ReleaseCompiledExpression(state.Test->Compiled);
    state.Test->Recorded.clear();
    state.Test->RecordedCount = 0;
    state.Test->ShownMatch = 0;
    state.Test->ShownSubgroup = 0;
    state.Test->NextStart = 0;
}

} // namespace gleanery::dialog
