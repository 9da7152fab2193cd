// The expression status line: the dialog's expression compiled as a pack would compile it, with
// "OK!", the line-break warning or the library's error shown, and the character at an error's
// position found for the editor.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dialog/settings_dialog.h"

namespace gleanery::dialog {

// Compiles the dialog's expression and shows the outcome on the status line.
void UpdateExpressionStatus(DialogState& state);
// As UpdateExpressionStatus; an error's character is also selected in the expression editor (or,
// where the editor shows no selection, quoted on the status line) and the editor takes the focus.
void UpdateExpressionStatusMarkingError(DialogState& state);
// OK's check: compiles the expression (an error goes to the status line) and, when it compiles,
// whether the replace string refers to groups it lacks. Returns the list of missing groups.
std::u16string CheckReplaceGroups(DialogState& state);

// The text colour of the status line (0x00BBGGRR), or nothing when it is left as it is.
std::optional<uint32_t> StatusTextColour(const DialogState& state, uint32_t buttonTextColour);

// UTF-16 index of the character at which a compile error lies: `offset` counts units of the form
// that failed (UTF-8 bytes, code page bytes for an "ANSI: " error).
int ErrorCharacterIndex(const std::u16string& expression, const std::u16string& errorText,
                        int offset, uint32_t codePage, int8_t defaultCharacter);

} // namespace gleanery::dialog
