// Double Commander's dialog API (its plug-in SDK, extension.h): a modal form given as LFM text,
// whose events come to a callback, and one function that sends messages to the form's controls,
// addressed by name. Strings are UTF-8; calls use the C calling convention.
#pragma once

#include <cstdint>
#include <string>

#include "dialog/settings_dialog.h"

namespace gleanery::dialog::doublecmd {

// Messages to the form (DM_*) and events from it (DN_*), with the SDK's numbers.
inline constexpr intptr_t kDmClose = 1;
inline constexpr intptr_t kDmEnable = 2;
inline constexpr intptr_t kDmGetDlgBounds = 4;
inline constexpr intptr_t kDmGetItemBounds = 5;
inline constexpr intptr_t kDmGetText = 6;
inline constexpr intptr_t kDmKeyDown = 7;
inline constexpr intptr_t kDmKeyUp = 8;
inline constexpr intptr_t kDmSetFocus = 10;
inline constexpr intptr_t kDmSetText = 12;
inline constexpr intptr_t kDmSetMaxTextLength = 13;
inline constexpr intptr_t kDmShowItem = 15;
inline constexpr intptr_t kDmGetCheck = 16;
inline constexpr intptr_t kDmSetCheck = 17;
inline constexpr intptr_t kDmListGetItem = 18;
inline constexpr intptr_t kDmListGetItemIndex = 19;
inline constexpr intptr_t kDmListSetItemIndex = 20;
inline constexpr intptr_t kDmListDelete = 21;
inline constexpr intptr_t kDmListAdd = 22;
inline constexpr intptr_t kDmListGetCount = 27;
inline constexpr intptr_t kDmSetDlgBounds = 30;
inline constexpr intptr_t kDnClick = 0x1001;
inline constexpr intptr_t kDnDblClick = 0x1002;
inline constexpr intptr_t kDnChange = 0x1003;
inline constexpr intptr_t kDnGotFocus = 0x1004;
inline constexpr intptr_t kDnInitDialog = 0x1005;
inline constexpr intptr_t kDnKillFocus = 0x1006;
inline constexpr intptr_t kDnKeyUp = kDmKeyUp;

// The form's rectangles (LCL's TRect: four 32-bit integers).
struct HostRect {
    int32_t Left, Top, Right, Bottom;
};

using DlgProc = intptr_t (*)(uintptr_t dlg, char* itemName, intptr_t msg, intptr_t wParam,
                             intptr_t lParam);
using DialogBoxLfmProc = int32_t (*)(intptr_t lfmData, unsigned long dataSize, DlgProc dlgProc);

// Both functions come from the host's extension record; without them there is no dialog.
void SetHostDialogApi(DialogBoxLfmProc dialogBoxLfm, DlgProc sendDlgMsg);

// One opening of the dialog in the host's form: the control layer's dialog handle.
struct HostDialog {
    DlgProc Send = nullptr;
    uintptr_t Form = 0; // the host's dialog, known from the first event on
    bool Initialised = false;
    bool Gone = false;         // the host's form no longer exists
    bool ClosedByHost = false; // the form is closed already: no close request back
    HostRect LastBounds{};     // the form's rectangle when last asked, kept past its end
    int Quiet = 0;             // > 0 while the layer itself changes controls
    int Result = 0;
    std::u16string LastRegexText; // for telling real edits of the expression from other keys
    DialogState State;
};

// Sends a message to a control (0: the form itself); 0 once the form is gone.
intptr_t Send(HostDialog& dlg, int id, intptr_t msg, intptr_t wParam = 0, intptr_t lParam = 0);

} // namespace gleanery::dialog::doublecmd
