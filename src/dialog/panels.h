// The three panels that live in the settings dialog's template: the expression test panel
// (1031 to 1035), the presets panel (1036 to 1039) and the help pane (1042, 1043, 1044). The
// dialog's command dispatcher routes their commands here by control ID.
#pragma once

#include "dialog/settings_dialog.h"

namespace gleanery::dialog {

// Expression test panel: a click on 1031 to 1035.
void TestPanelCommand(DialogState& state, int id);
// Ends test mode as OK does: stops a running test, puts the test string away and the replace
// string back, and unlocks the presets group.
void EndTestMode(DialogState& state);
// Releases the compiled expression and the recorded matches (at close).
void ResetTest(DialogState& state);

// Presets panel: a command from 1036 (edit or selection change) or a click on 1037 to 1039.
void PresetsCommand(DialogState& state, int id, int code);
// Enables Load, Del and Add/Save after the list's selection or edit field changed.
void RefreshPresetButtons(DialogState& state);

// Help pane: a click on 1042 or 1043.
void HelpPaneCommand(DialogState& state, int id);

} // namespace gleanery::dialog
