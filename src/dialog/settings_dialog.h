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

// What the last check of the expression found; the status line's colour follows it.
enum class ExpressionStatus {
    Compiles,
    Error,
    CompilesWithLineBreak,
    MissingSubgroups, // the replace string refers to groups the expression lacks (OK's check)
};

// What the help pane beside the dialog shows.
enum class HelpPane { Collapsed, ExpressionHelp, ReplacementHelp };

// Everything one opening of the dialog keeps. The dialog is modal and open once at a time.
struct DialogState {
    DialogHandle Handle = nullptr;
    ExpressionStatus ExpressionState = ExpressionStatus::Compiles;
    bool SaveNeeded = false;
    // Expression test panel.
    bool TestMode = false;
    bool TestRunning = false;
    std::u16string SavedReplace;
    std::u16string TestString;
    std::unique_ptr<ExpressionTest> Test;
    // Help pane: what it shows, and the width it adds to the dialog when it is open.
    HelpPane HelpPaneState = HelpPane::Collapsed;
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
// The tooltip text for a control, or null when the control has none or tooltips are not set up.
const std::u16string* TooltipText(const DialogState& state, int id);

// Behaviour shared with the panels.
void FillControls(DialogState& state, const Settings& settings); // then the interlocks
void ReadControls(DialogState& state, Settings& settings);
void ApplyInterlocks(DialogState& state);
// The settings the status line compiles: defaults with the dialog's expression, code page number
// and replacement character.
Settings StatusSettings(DialogState& state);
// Group switches: the presets group (list and Load defaults; disabling also disables Load, Del and
// Add) and the group of compile options (the PCRE option boxes and the two recoding lists).
enum class GroupLevel { Disabled, Enabled };
void SetPresetsGroup(DialogState& state, GroupLevel level);
void SetOptionsGroup(DialogState& state, GroupLevel level);
// The text-box font description of the dialog font ("MS Shell Dlg", 8 point on this screen).
TextBoxFont DialogFontDescription(DialogState& state);
// Ends the dialog with `result` (1 OK, 2 Cancel): saves when needed and releases everything.
void CloseDialog(DialogState& state, int result);

// The About box text with the given library version.
std::u16string AboutText(const std::u16string& pcreVersion);

} // namespace dialog
} // namespace gleanery
