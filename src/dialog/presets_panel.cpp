// The presets panel: named copies of the dialog's options, kept in the preset store while the
// dialog is open and written at close. The list 1036 mirrors the store: every Add appends the
// name, every Delete removes it, an overwrite leaves it where it is. The change records tell the
// save which sections of the settings file to add, rewrite or remove.
#include <string>

#include "dialog/dialog_layout.h"
#include "dialog/panels.h"
#include "dialog/status_line.h"
#include "host/process_state.h"
#include "platform/message_box.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

constexpr char16_t kTitle[] = u"Gleanery";

// Yes, No and Cancel with No as the default; only Yes goes ahead.
bool Confirm(DialogState& state, uint16_t verb, const std::u16string& name) {
    const std::u16string question =
        Text(verb) + u"\r\n\"" + name + u"\" " + Text(kTextQuestionMark);
    return ShowMessage(state.Handle, question, kTitle,
                       platform::kMbYesNoCancel | kMbIconQuestion | platform::kMbDefButton2) ==
           platform::kIdYes;
}

// The list entry that shows `name`: the selected one when it does, else the first equal entry.
int ListIndexOf(DialogHandle dlg, const std::u16string& name) {
    const int selected = Selection(dlg, kPresetsList);
    if (selected >= 0 && ListEntry(dlg, kPresetsList, selected) == name) return selected;
    const int count = ListCount(dlg, kPresetsList);
    for (int i = 0; i < count; ++i)
        if (ListEntry(dlg, kPresetsList, i) == name) return i;
    return -1;
}

void LoadPreset(DialogState& state) {
    DialogHandle dlg = state.Handle;
    if (Selection(dlg, kPresetsList) < 0) return;
    const PresetStore& store = State().Presets;
    const auto it = store.find(GetText(dlg, kPresetsList));
    if (it == store.end()) return;
    const Settings preset = it->second; // FillControls may run commands that touch the store
    FillControls(state, preset);
    UpdateExpressionStatus(state);
}

void AddOrSavePreset(DialogState& state) {
    DialogHandle dlg = state.Handle;
    ProcessState& process = State();
    const std::u16string name = GetText(dlg, kPresetsList);
    if (name.empty()) return;

    if (process.Presets.count(name) > 0) {
        if (!Confirm(state, kTextOverwrite, name)) return;
        process.Presets.erase(name);
        ReadControls(state, process.Presets[name]);
        ListSelect(dlg, kPresetsList, -1);
        RefreshPresetButtons(state);
        state.SaveNeeded = true;
        MarkPresetSaved(process.Changes, name);
        return;
    }

    // A name without a change record needs a section number of its own at the next save; when
    // none is left the preset would silently be missing from the file, so it is not taken.
    if (process.Changes.count(name) == 0 && PresetCapacityLeft(SettingsSessionOf(process)) <= 0) {
        ShowMessage(dlg, Text(kTextNoPresetSectionLeft), kTitle,
                    platform::kMbOk | platform::kMbIconWarning);
        return;
    }
    ReadControls(state, process.Presets[name]);
    ListAdd(dlg, kPresetsList, name);
    if (Selection(dlg, kPresetsList) >= 0) ListSelect(dlg, kPresetsList, -1);
    RefreshPresetButtons(state);
    state.SaveNeeded = true;
    MarkPresetAdded(process.Changes, name);
}

void DeletePreset(DialogState& state) {
    DialogHandle dlg = state.Handle;
    ProcessState& process = State();
    if (Selection(dlg, kPresetsList) < 0) return;
    const std::u16string name = GetText(dlg, kPresetsList);
    if (name.empty() || process.Presets.count(name) == 0) return;
    if (!Confirm(state, kTextDelete, name)) return;

    process.Presets.erase(name);
    // The entry that shows the name goes, so list and store keep the same names even when the
    // edit field was changed after the selection.
    const int index = ListIndexOf(dlg, name);
    ListSelect(dlg, kPresetsList, -1);
    if (index >= 0) ListDelete(dlg, kPresetsList, index);
    for (int id : {kPresetLoad, kPresetDelete, kPresetAdd}) Enable(dlg, id, false);
    state.SaveNeeded = true;
    MarkPresetDeleted(process.Changes, name);
}

} // namespace

void PresetsCommand(DialogState& state, int id, int code) {
    switch (id) {
    case kPresetsList:
        if (code == kSelChange || code == kEditChange) RefreshPresetButtons(state);
        break;
    case kPresetLoad:
        LoadPreset(state);
        break;
    case kPresetDelete:
        DeletePreset(state);
        break;
    case kPresetAdd:
        AddOrSavePreset(state);
        break;
    default:
        break;
    }
}

void RefreshPresetButtons(DialogState& state) {
    DialogHandle dlg = state.Handle;
    if (Selection(dlg, kPresetsList) >= 0) {
        Enable(dlg, kPresetLoad, true);
        Enable(dlg, kPresetDelete, true);
        Enable(dlg, kPresetAdd, true);
        SetText(dlg, kPresetAdd, Text(kTextSave));
        return;
    }
    Enable(dlg, kPresetLoad, false);
    Enable(dlg, kPresetDelete, false);
    SetText(dlg, kPresetAdd, Text(kTextAdd));
    Enable(dlg, kPresetAdd, !GetText(dlg, kPresetsList).empty());
}

} // namespace gleanery::dialog
