// The settings dialog, run modally from the host's configuration command: its state record and
// its behaviour, written once against the control-access layer (dialog/controls.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog/controls.h"
#include "engine/compiled_expression.h"
#include "settings/settings.h"

namespace gleanery {

// Runs the dialog with `parent` as owner; returns the identifier of the closing button, or 0 or
// less when the dialog cannot be created.
intptr_t ShowSettingsDialog(void* parent, void* instance);

namespace dialog {

// The expression test panel's search state.
struct ExpressionTest {
    CompiledExpression Compiled;
    Settings Working;
    std::array<int, 300> Offsets{};
    std::vector<std::array<int, 300>> Recorded;
    int RecordedCount = 0;
    int ShownMatch = 0;
    int ShownSubgroup = 0;
    // Where the next search begins: the end of the last match, or past an empty match that the
    // search stepped over (a CR LF pair or a surrogate pair as one).
    int NextStart = 0;
};

// Everything one opening of the dialog keeps. The dialog is modal and open once at a time.
struct DialogState {
    DialogHandle Handle = nullptr;
    // 0 compiles, 1 error, 2 compiles with a line break, 3 replace refers to missing subgroups.
    int ExpressionState = 0;
    bool SaveNeeded = false;
    // Expression test panel.
    bool TestMode = false;
    bool TestRunning = false;
    std::u16string SavedReplace;
    std::u16string TestString;
    std::unique_ptr<ExpressionTest> Test;
    // Help pane: 0 collapsed, 1 expression help, 2 replacement help; the width it adds.
    int HelpPaneState = 0;
    int HelpWidth = 0;
    // Owned system objects.
    FontHandle DialogFont = nullptr;
    FontHandle TextFont = nullptr; // made from the stored `font`; null when the dialog font serves
    BrushHandle StatusBrush = nullptr;
    bool TooltipsReady = false;
    bool Closed = false;
};

// The dialog procedure's entry points.
void InitialiseDialog(DialogState& state);
// A WM_COMMAND from control `id` with notification `code`.
void DispatchCommand(DialogState& state, int id, int code);
// The text colour of the status line (0x00BBGGRR), or nothing when it is left as it is.
std::optional<uint32_t> StatusTextColour(const DialogState& state, uint32_t buttonTextColour);
// The tooltip text for a control, or null when the control has none or tooltips are not set up.
const std::u16string* TooltipText(const DialogState& state, int id);

// Behaviour shared with the panels.
void FillControls(DialogState& state, const Settings& settings); // then the interlocks
void ReadControls(DialogState& state, Settings& settings);
void ApplyInterlocks(DialogState& state);
// Compiles the expression of the dialog for the status line. With `fromOk`, checks the replace
// string instead of showing a status and returns the list of missing subgroups in `missing`.
void UpdateExpressionStatus(DialogState& state, bool highlight, std::u16string* missing = nullptr);
// The settings the status line compiles: defaults with the dialog's expression, code page number
// and replacement character.
Settings StatusSettings(DialogState& state);
// Group switches: 0 leaves the group alone, 1 disables, 2 enables.
void SetPresetsGroup(DialogState& state, int level);
void SetOptionsGroup(DialogState& state, int level);
// The text-box font description of the dialog font ("MS Shell Dlg", 8 point on this screen).
TextBoxFont DialogFontDescription(DialogState& state);
// Ends the dialog with `result` (1 OK, 2 Cancel): saves when needed and releases everything.
void CloseDialog(DialogState& state, int result);

// UTF-16 index of the character at which a compile error lies: `offset` counts units of the form
// that failed (UTF-8 bytes, code page bytes for an "ANSI: " error).
int ErrorCharacterIndex(const std::u16string& expression, const std::u16string& errorText,
                        int offset, uint32_t codePage, int8_t defaultCharacter);
// The About box text with the given library version.
std::u16string AboutText(const std::u16string& pcreVersion);

} // namespace dialog
} // namespace gleanery
