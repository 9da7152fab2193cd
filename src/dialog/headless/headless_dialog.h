// The headless dialog: the settings dialog's controls as an in-memory table, driven through the
// same command dispatcher as the real window. Tests open it, act as the user would (click, type,
// pick list entries, answer message boxes and the font chooser) and look at the controls.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dialog/controls.h"
#include "dialog/settings_dialog.h"

namespace gleanery::dialog {

struct HeadlessFont {
    TextBoxFont Description;
};

struct HeadlessControl {
    int Id = 0;
    std::u16string Class;
    std::u16string Text;
    bool Checked = false;
    bool Enabled = true;
    bool ReadOnly = false;
    int Limit = 0; // 0: the class default
    int SelStart = 0;
    int SelEnd = 0;
    bool CaretScrolled = false;
    std::vector<std::u16string> Entries;
    int Selected = -1;
    int DropDownWidth = -1; // -1: never set
    const HeadlessFont* Font = nullptr;
    bool RedrawnWithFont = false;
    Rect Bounds; // screen pixels
};

struct HeadlessMessage {
    std::u16string Text;
    std::u16string Title;
    uint32_t Flags = 0;
};

struct HeadlessDialog {
    // Set up by the test before opening.
    std::deque<int> Answers;                       // message box answers, in order
    std::function<bool(TextBoxFont&)> FontChooser; // the user's choice; none: cancelled
    std::set<std::u16string> MissingFaces;         // fonts that cannot be created
    std::set<int> RefusedCaptions;                 // controls whose SetText fails once
    bool TooltipsFail = false;
    bool NoSelection = false; // editors without a visible selection, as in a host's form
    int DpiY = 96;

    // The window.
    std::map<int, HeadlessControl> Controls;
    std::u16string Caption;
    Rect Window;
    int Focused = 0;
    bool Open = false;
    int Result = 0;
    bool TooltipsCreated = false;
    int LiveFonts = 0;
    int LiveBrushes = 0;
    std::vector<HeadlessMessage> Messages;

    DialogState State;
};

// Creates the controls from the template and runs the initialisation.
void OpenHeadless(HeadlessDialog& dlg);

// What the user does. Each returns false (and does nothing) when the control is missing or
// disabled, as a real window would not deliver the action.
bool Click(HeadlessDialog& dlg, int id);                            // a check box toggles first
bool Type(HeadlessDialog& dlg, int id, const std::u16string& text); // replaces the text
bool Pick(HeadlessDialog& dlg, int id, int index);                  // list selection change
bool SelectText(HeadlessDialog& dlg, int id, int start, int end);

HeadlessControl& Control(HeadlessDialog& dlg, int id);

} // namespace gleanery::dialog
