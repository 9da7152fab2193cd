// A stand-in for Double Commander's dialog API: DialogBoxLFM loads the form text the plug-in
// hands over into an in-memory form (controls, classes, captions, events), and SendDlgMsg answers
// as the host does, raising the LCL events that the host raises, also for changes the plug-in
// makes itself. A test scripts the user: clicks, typing, list picks, the close box.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gleanery::test {

struct FormControl {
    std::string Name;
    std::string Class; // TButton, TCheckBox, TComboBox, TMemo, TLabel, TGroupBox
    std::string Parent;
    std::map<std::string, std::string> Props; // as written in the form
    std::string Text;                         // caption or text, UTF-8
    bool Enabled = true;
    bool Visible = true;
    bool Checked = false;
    bool ReadOnly = false;
    int MaxLength = 0;
    std::vector<std::string> Items;
    int ItemIndex = -1;
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

struct HostForm {
    using DlgProc = intptr_t (*)(uintptr_t, char*, intptr_t, intptr_t, intptr_t);

    // What the user does while the form is open; the close box ends it if the script does not.
    std::function<void(HostForm&)> User;

    std::string Lfm;
    std::string Name;
    std::string Caption;
    std::map<std::string, std::string> Props;
    std::vector<FormControl> Controls; // in form order
    int Left = 120, Top = 90, Width = 0, Height = 0;
    bool Open = false;
    int ModalResult = 0;
    int Openings = 0;
    std::string Focused;
    // Everything the real host would have failed at: unknown messages, classes, properties or
    // handlers, list indexes out of range (an exception in the host).
    std::vector<std::string> Faults;

    DlgProc Proc = nullptr;
    std::string TextResult; // DM_GETTEXT's answer stays valid until the next call
    int32_t RectResult[4] = {0, 0, 0, 0};
};

// The form that the stand-in functions work on; a test points it at its own.
extern HostForm* g_hostForm;

int32_t StandInDialogBoxLfm(intptr_t lfmData, unsigned long dataSize, HostForm::DlgProc proc);
intptr_t StandInSendDlgMsg(uintptr_t dlg, char* itemName, intptr_t msg, intptr_t wParam,
                           intptr_t lParam);

// Parses the form text; false (with the reason) when the host could not load it.
bool ParseForm(const std::string& lfm, HostForm& form, std::string& error);

// The user. Each action returns false when the control is missing, hidden or disabled.
FormControl* Find(HostForm& form, const std::string& name);
FormControl& Item(HostForm& form, const std::string& name);
bool Click(HostForm& form, const std::string& name);
bool Type(HostForm& form, const std::string& name, const std::string& utf8); // keys, then key-up
bool Pick(HostForm& form, const std::string& name, int index);
void CloseBox(HostForm& form);

} // namespace gleanery::test
