// The expression test panel. Entering test mode, Start, Next, the subgroup steps and the match
// search arrive with the panel itself; the dialog already needs the way out of test mode (OK ends
// it) and the release at close.
#include "dialog/dialog_layout.h"
#include "dialog/panels.h"
#include "settings/texts.h"

namespace gleanery::dialog {

void TestPanelCommand(DialogState&, int) {}

void EndTestMode(DialogState& state) {
    if (!state.TestMode) return;
    DialogHandle dlg = state.Handle;
    if (state.TestRunning) {
        state.TestRunning = false;
        SetText(dlg, kTestStart, Text(32));
        SetReadOnly(dlg, kRegexEdit, false);
        SetReadOnly(dlg, kReplaceEdit, false);
        Enable(dlg, kTestToggle, true);
        Enable(dlg, kTestNext, false);
        SetOptionsGroup(state, 2);
    }
    state.TestString = GetText(dlg, kReplaceEdit);
    state.TestMode = false;
    Enable(dlg, kTestStart, false);
    Enable(dlg, kTestNext, false);
    Enable(dlg, kSubgroupDown, false);
    Enable(dlg, kSubgroupUp, false);
    SetPresetsGroup(state, 2);
    RefreshPresetButtons(state);
    SetText(dlg, kTestToggle, u">");
    SetText(dlg, kReplaceLabel, Text(7));
    SetText(dlg, kReplaceEdit, state.SavedReplace);
}

void ResetTest(DialogState& state) {
    if (!state.Test) return;
    ReleaseCompiledExpression(state.Test->Compiled);
    state.Test->Recorded.clear();
    state.Test->RecordedCount = 0;
    state.Test->ShownMatch = 0;
    state.Test->ShownSubgroup = 0;
}

} // namespace gleanery::dialog
