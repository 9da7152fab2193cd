// The settings dialog inside Double Commander: the generated form shown through the host's
// DialogBoxLFM, its events turned into the commands that the Win32 dialog procedure dispatches.
#include <exception>

#include "dialog/dialog_layout.h"
#include "dialog/doublecmd/host_dialog.h"
#include "dialog/doublecmd/settings_form.h"
#include "dialog/form_names.h"

namespace gleanery {

namespace {

using namespace dialog;
using namespace dialog::doublecmd;

DialogBoxLfmProc g_dialogBoxLfm = nullptr;
DlgProc g_sendDlgMsg = nullptr;
HostDialog* g_open = nullptr; // the dialog is modal: one at a time

bool IsCheckBox(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"Button" && (layout->Style & 0xF) == kBsAutoCheckBox;
}

// An edit of the expression: the host reports keys and the loss of focus; only a changed text
// counts, as only a change raises the Windows editor's notification.
void ExpressionEdited(HostDialog& dlg) {
    std::u16string text = GetText(&dlg, kRegexEdit);
    if (text == dlg.LastRegexText) return;
    dlg.LastRegexText = std::move(text);
    DispatchCommand(dlg.State, kRegexEdit, kEnChange);
}

void Event(HostDialog& dlg, const char* itemName, intptr_t msg) {
    const int id = itemName ? ControlIdOfFormName(itemName) : 0;
    if (id == 0) return;
    const ControlLayout* layout = FindControl(id);
    if (!layout) return;
    switch (msg) {
    case kDnClick:
        if (layout->Class == u"Button" && !IsCheckBox(id)) DispatchCommand(dlg.State, id, kClicked);
        if (layout->Class == u"Static") DispatchCommand(dlg.State, id, kClicked);
        break;
    case kDnChange:
        if (IsCheckBox(id))
            DispatchCommand(dlg.State, id, kClicked);
        else if (id == kPresetsList)
            DispatchCommand(dlg.State, id, kEditChange);
        else if (layout->Class == u"ComboBox")
            DispatchCommand(dlg.State, id, kSelChange);
        break;
    case kDnKeyUp:
    case kDnKillFocus:
        if (id == kRegexEdit) ExpressionEdited(dlg);
        break;
    default:
        break;
    }
}

intptr_t FormEvents(uintptr_t form, char* itemName, intptr_t msg, intptr_t, intptr_t) {
    HostDialog* dlg = g_open;
    if (!dlg) return 0;
    try {
        if (msg == kDnInitDialog) {
            if (dlg->Initialised) return 0;
            dlg->Form = form;
            dlg->Initialised = true;
            InitialiseDialog(dlg->State);
            return 0;
        }
        if (!dlg->Initialised || dlg->Quiet > 0 || dlg->State.Closed || form != dlg->Form) return 0;
        Event(*dlg, itemName, msg);
    } catch (...) {
        // Nothing may unwind into the host.
    }
    return 0;
}

} // namespace

namespace dialog::doublecmd {

void SetHostDialogApi(DialogBoxLfmProc dialogBoxLfm, DlgProc sendDlgMsg) {
    g_dialogBoxLfm = dialogBoxLfm;
    g_sendDlgMsg = sendDlgMsg;
}

} // namespace dialog::doublecmd

intptr_t ShowSettingsDialog(void*, void*) {
    if (!g_dialogBoxLfm || !g_sendDlgMsg || g_open) return 0;
    HostDialog dlg;
    dlg.Send = g_sendDlgMsg;
    dlg.State.Handle = &dlg;
    g_open = &dlg;
    const std::string_view form = SettingsForm();
    g_dialogBoxLfm(reinterpret_cast<intptr_t>(form.data()), form.size(), FormEvents);
    // From here on the host's form no longer exists. The host does not report its close box (its
    // dialog class has no close event): a form closed that way ends here as Cancel does.
    dlg.Gone = true;
    if (dlg.Initialised && !dlg.State.Closed) {
        dlg.ClosedByHost = true;
        CloseDialog(dlg.State, kIdCancel);
    }
    g_open = nullptr;
    return dlg.Initialised ? dlg.Result : 0;
}

} // namespace gleanery
