// The presets panel. Load, Del and Add/Save arrive with the panel itself; the dialog already
// needs the button refresh (when test mode ends).
#include "dialog/dialog_layout.h"
#include "dialog/panels.h"
#include "settings/texts.h"

namespace gleanery::dialog {

void PresetsCommand(DialogState&, int, int) {}

void RefreshPresetButtons(DialogState& state) {
    DialogHandle dlg = state.Handle;
    if (Selection(dlg, kPresetsList) >= 0) {
        Enable(dlg, kPresetLoad, true);
        Enable(dlg, kPresetDelete, true);
        Enable(dlg, kPresetAdd, true);
        SetText(dlg, kPresetAdd, Text(70));
        return;
    }
    Enable(dlg, kPresetLoad, false);
    Enable(dlg, kPresetDelete, false);
    SetText(dlg, kPresetAdd, Text(39));
    Enable(dlg, kPresetAdd, !GetText(dlg, kPresetsList).empty());
}

} // namespace gleanery::dialog
