// The control-access layer: everything the dialog's behaviour does to its window and controls,
// as free functions over a dialog handle. Two implementations exist: win32/ (the real dialog: the
// handle is its HWND), headless/ (an in-memory control table that tests drive through the same
// command dispatcher) and doublecmd/ (a form shown by Double Commander, whose controls are reached
// by name through its SendDlgMsg). A program links exactly one of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace gleanery::dialog {

using DialogHandle = void*;
using FontHandle = void*;
using BrushHandle = void*;

// Notification codes of WM_COMMAND with their Win32 values.
inline constexpr int kClicked = 0;      // BN_CLICKED, STN_CLICKED
inline constexpr int kSelChange = 1;    // CBN_SELCHANGE
inline constexpr int kEditChange = 5;   // CBN_EDITCHANGE
inline constexpr int kEnChange = 0x300; // EN_CHANGE

// Message box flags beyond those of platform/message_box.h.
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconInformation = 0x40;

// Screen rectangle in pixels.
struct Rect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// Window captions and control texts. SetText reports whether the control took the text.
bool SetText(DialogHandle dlg, int id, std::u16string_view text);
std::u16string GetText(DialogHandle dlg, int id);
void SetCaption(DialogHandle dlg, std::u16string_view text);

// Check boxes, enabling, edit state.
void Check(DialogHandle dlg, int id, bool checked);
bool IsChecked(DialogHandle dlg, int id);
void Enable(DialogHandle dlg, int id, bool enabled);
bool IsEnabled(DialogHandle dlg, int id);
void SetReadOnly(DialogHandle dlg, int id, bool readOnly);
// The most characters an editor or a combo box's edit field accepts.
void SetTextLimit(DialogHandle dlg, int id, int limit);
// Editor selection in UTF-16 units; start == end is a caret.
void SetEditSelection(DialogHandle dlg, int id, int start, int end);
void GetEditSelection(DialogHandle dlg, int id, int& start, int& end);
void ScrollCaretIntoView(DialogHandle dlg, int id);
// Whether the editors show a selection set by the dialog. Where they do not (a host's dialog API
// without selection messages), the dialog names in its labels what it would have selected.
bool ShowsEditSelection(DialogHandle dlg);
void Focus(DialogHandle dlg, int id);

// Combo box lists.
int ListAdd(DialogHandle dlg, int id, std::u16string_view entry); // the new index
void ListDelete(DialogHandle dlg, int id, int index);
int ListCount(DialogHandle dlg, int id);
std::u16string ListEntry(DialogHandle dlg, int id, int index);
void ListSelect(DialogHandle dlg, int id, int index); // -1 clears the selection
int Selection(DialogHandle dlg, int id);              // -1 when nothing is selected
void SetDropDownWidth(DialogHandle dlg, int id, int pixels);

// Fonts and the status-line brush.
int ScreenPixelsPerInchY(DialogHandle dlg);
FontHandle CreateFontFrom(DialogHandle dlg, const TextBoxFont& font); // null on failure
void DeleteFont(DialogHandle dlg, FontHandle font);
// Whether a control given a font draws itself again at once, or with the next paint.
enum class Redraw { Later, Now };
void SetFont(DialogHandle dlg, int id, FontHandle font, Redraw redraw);
// Width in pixels of `text` drawn with `font` on the screen.
int MeasureTextWidth(DialogHandle dlg, FontHandle font, std::u16string_view text);
int VerticalScrollBarWidth(DialogHandle dlg);
BrushHandle CreateButtonFaceBrush(DialogHandle dlg);
void DeleteBrush(DialogHandle dlg, BrushHandle brush);
// The system font chooser, owned by the dialog, starting from and writing into `font`
// (screen fonts that exist only). False when the user cancels.
bool ChooseTextBoxFont(DialogHandle dlg, TextBoxFont& font);

// The dialog window.
Rect WindowRect(DialogHandle dlg);
Rect ControlRect(DialogHandle dlg, int id);
void ResizeWindow(DialogHandle dlg, int width, int height); // keeps the top-left corner
void MoveWindowTo(DialogHandle dlg, int x, int y);          // keeps the size

// Tooltips for the controls (window, tools and message relay); false when any part failed, in
// which case nothing is left set up.
bool CreateTooltips(DialogHandle dlg);
void RemoveTooltips(DialogHandle dlg);

// A message box owned by the dialog; returns the platform::kId* answer.
int ShowMessage(DialogHandle dlg, const std::u16string& text, const std::u16string& title,
                uint32_t flags);
// Ends the modal loop with `result`.
void EndDialogWith(DialogHandle dlg, int result);

} // namespace gleanery::dialog
