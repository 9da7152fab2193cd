// The expression status line: the dialog's expression compiled with default options and the
// dialog's code page and replacement character, anew after every change that can decide whether
// it compiles.
#include "dialog/status_line.h"

#include <algorithm>
#include <string>

#include "dialog/dialog_layout.h"
#include "engine/replacement_template.h"
#include "host/process_state.h"
#include "platform/codepage.h"
#include "platform/unicode.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

enum class OnError { Show, ShowAndMark };

// Selects the character at the error in the expression editor; both halves of a surrogate pair
// make one character. An editor that shows no selection gets the character quoted on the status
// line instead.
void MarkErrorCharacter(DialogHandle dlg, const std::u16string& expression,
                        const CompiledExpression& compiled, int32_t offset,
                        const Settings& settings) {
    Focus(dlg, kRegexEdit);
    if (!expression.empty()) {
        int at = ErrorCharacterIndex(expression, compiled.ErrorText, offset,
                                     static_cast<uint32_t>(settings.CodePage),
                                     settings.DefaultCharacter);
        const int size = static_cast<int>(expression.size());
        if (at >= size) {
            at = size - 1;
            // The last character may be the second half of a surrogate pair.
            if (at > 0 && platform::IsSurrogatePairAt(expression, static_cast<size_t>(at - 1)))
                --at;
        }
        // One character: both halves of a surrogate pair.
        const int length = platform::IsSurrogatePairAt(expression, static_cast<size_t>(at)) ? 2 : 1;
        SetEditSelection(dlg, kRegexEdit, at, at + length);
        // An editor that shows no selection: the status line quotes the character.
        if (!ShowsEditSelection(dlg))
            SetText(dlg, kStatusLine,
                    compiled.ErrorText + u": \"" +
                        expression.substr(static_cast<size_t>(at), static_cast<size_t>(length)) +
                        u"\"");
    }
    ScrollCaretIntoView(dlg, kRegexEdit);
}

// Compiles the dialog's expression into `compiled` with `settings`; on an error shows it (and
// marks its character when asked) and returns false.
bool CompileShowingError(DialogState& state, OnError onError, Settings& settings,
                         CompiledExpression& compiled) {
    DialogHandle dlg = state.Handle;
    settings = StatusSettings(state);
    const int32_t offset = CompileExpression(settings, State().System, compiled);
    if (compiled.ErrorText.empty()) return true;
    state.ExpressionState = ExpressionStatus::Error;
    SetText(dlg, kStatusLine, compiled.ErrorText);
    if (onError == OnError::ShowAndMark)
        MarkErrorCharacter(dlg, GetText(dlg, kRegexEdit), compiled, offset, settings);
    return false;
}

void ShowStatus(DialogState& state, OnError onError) {
    Settings settings;
    CompiledExpression compiled;
    if (CompileShowingError(state, onError, settings, compiled)) {
        if (GetText(state.Handle, kRegexEdit).find_first_of(u"\r\n") != std::u16string::npos) {
            state.ExpressionState = ExpressionStatus::CompilesWithLineBreak;
            SetText(state.Handle, kStatusLine, Text(kTextOkWithLineBreaks));
        } else {
            state.ExpressionState = ExpressionStatus::Compiles;
            SetText(state.Handle, kStatusLine, Text(kTextOk));
        }
    }
    ReleaseCompiledExpression(compiled);
}

} // namespace

void UpdateExpressionStatus(DialogState& state) {
    ShowStatus(state, OnError::Show);
}

void UpdateExpressionStatusMarkingError(DialogState& state) {
    ShowStatus(state, OnError::ShowAndMark);
}

std::u16string CheckReplaceGroups(DialogState& state) {
    Settings settings;
    CompiledExpression compiled;
    std::u16string missing;
    if (CompileShowingError(state, OnError::Show, settings, compiled)) {
        settings.replace = GetText(state.Handle, kReplaceEdit);
        if (settings.replace.empty()) {
            state.ExpressionState = ExpressionStatus::Compiles;
        } else {
            ReplacementTemplate tmpl;
            missing = ParseReplacement(settings, tmpl, compiled);
            state.ExpressionState = tmpl.MissingGroupCount > 0 ? ExpressionStatus::MissingSubgroups
                                                               : ExpressionStatus::Compiles;
        }
    }
    ReleaseCompiledExpression(compiled);
    return missing;
}

std::optional<uint32_t> StatusTextColour(const DialogState& state, uint32_t buttonTextColour) {
    switch (state.ExpressionState) {
    case ExpressionStatus::Compiles:
        return buttonTextColour;
    case ExpressionStatus::Error:
        return 0x0000FFu; // red
    case ExpressionStatus::CompilesWithLineBreak:
        return 0xFF0000u; // blue
    default:
        return std::nullopt;
    }
}

int ErrorCharacterIndex(const std::u16string& expression, const std::u16string& errorText,
                        int offset, uint32_t codePage, int8_t defaultCharacter) {
    const bool codePageForm = errorText.starts_with(u"ANSI: ");
    const size_t size = expression.size();
    int64_t units = 0;
    size_t i = 0;
    while (i < size) {
        const char16_t unit = expression[i];
        const bool pair = platform::IsSurrogatePairAt(expression, i);
        const size_t width = pair ? 2 : 1;
        int64_t length = 0;
        if (codePageForm) {
            std::string bytes;
            platform::AppendWideAsCodePage(codePage,
                                           std::u16string_view(expression).substr(i, width),
                                           defaultCharacter, bytes);
            length = static_cast<int64_t>(std::max<size_t>(bytes.size(), 1));
        } else {
            // Unpaired surrogates become U+FFFD, three bytes, in the UTF-8 form.
            length = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        }
        if (units + length > offset) return static_cast<int>(i);
        units += length;
        i += width;
    }
    return static_cast<int>(size);
}

} // namespace gleanery::dialog
