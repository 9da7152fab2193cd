// The control-access layer over an in-memory control table, and the actions of a simulated user.
// Geometry follows the template with the dialog base units of "MS Shell Dlg" 8 pt at 96 dpi
// (6 by 13 pixels) inside a window frame of 3 pixels and a 22-pixel caption.
#include "dialog/headless/headless_dialog.h"

#include <algorithm>

#include "dialog/dialog_layout.h"
#include "platform/message_box.h"

namespace gleanery::dialog {

namespace {

constexpr int kBaseX = 6;
constexpr int kBaseY = 13;
constexpr int kFrame = 3;
constexpr int kCaptionHeight = 22;
constexpr int kInitialLeft = 200;
constexpr int kInitialTop = 150;
constexpr int kCharWidth = 6;
constexpr int kScrollBarWidth = 17;

HeadlessDialog& Dlg(DialogHandle handle) {
    return *static_cast<HeadlessDialog*>(handle);
}

HeadlessControl* Find(DialogHandle handle, int id) {
    auto& controls = Dlg(handle).Controls;
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : &it->second;
}

bool IsCheckBox(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"Button" && (layout->Style & 0xF) == kBsAutoCheckBox;
}

bool IsDropDownList(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"ComboBox" && (layout->Style & 0x3) == kCbsDropDownList;
}

void Shift(HeadlessDialog& dlg, int dx, int dy) {
    auto move = [dx, dy](Rect& r) {
        r.Left += dx;
        r.Right += dx;
        r.Top += dy;
        r.Bottom += dy;
    };
    move(dlg.Window);
    for (auto& [id, control] : dlg.Controls) move(control.Bounds);
}

} // namespace

HeadlessControl& Control(HeadlessDialog& dlg, int id) {
    return dlg.Controls.at(id);
}

void OpenHeadless(HeadlessDialog& dlg) {
    dlg.Controls.clear();
    dlg.Caption = std::u16string(kTemplateCaption);
    const int clientLeft = kInitialLeft + kFrame;
    const int clientTop = kInitialTop + kFrame + kCaptionHeight;
    dlg.Window = {kInitialLeft, kInitialTop, clientLeft + kDialogWidthDu * kBaseX / 4 + kFrame,
                  clientTop + kDialogHeightDu * kBaseY / 8 + kFrame};
    for (const ControlLayout& layout : DialogControls()) {
        HeadlessControl control;
        control.Id = layout.Id;
        control.Class = std::u16string(layout.Class);
        control.Text = std::u16string(layout.Caption);
        control.ReadOnly = (layout.Class == u"Edit") && (layout.Style & kEsReadOnly);
        control.Bounds = {clientLeft + layout.X * kBaseX / 4, clientTop + layout.Y * kBaseY / 8,
                          clientLeft + (layout.X + layout.Width) * kBaseX / 4,
                          clientTop + (layout.Y + layout.Height) * kBaseY / 8};
        dlg.Controls[layout.Id] = control;
    }
    dlg.Open = true;
    dlg.Result = 0;
    dlg.State = DialogState{};
    dlg.State.Handle = &dlg;
    InitialiseDialog(dlg.State);
}

bool Click(HeadlessDialog& dlg, int id) {
    if (!dlg.Open) return false;
    auto it = dlg.Controls.find(id);
    if (it == dlg.Controls.end() || !it->second.Enabled) return false;
    if (IsCheckBox(id)) it->second.Checked = !it->second.Checked;
    DispatchCommand(dlg.State, id, kClicked);
    return true;
}

bool Type(HeadlessDialog& dlg, int id, const std::u16string& text) {
    if (!dlg.Open) return false;
    auto it = dlg.Controls.find(id);
    if (it == dlg.Controls.end() || !it->second.Enabled || it->second.ReadOnly) return false;
    HeadlessControl& control = it->second;
    control.Text = text;
    if (control.Limit > 0 && control.Text.size() > static_cast<size_t>(control.Limit))
        control.Text.resize(static_cast<size_t>(control.Limit));
    const int end = static_cast<int>(control.Text.size());
    control.SelStart = control.SelEnd = end;
    if (control.Class == u"ComboBox") {
        control.Selected = -1;
        DispatchCommand(dlg.State, id, kEditChange);
    } else {
        DispatchCommand(dlg.State, id, kEnChange);
    }
    return true;
}

bool Pick(HeadlessDialog& dlg, int id, int index) {
    if (!dlg.Open) return false;
    auto it = dlg.Controls.find(id);
    if (it == dlg.Controls.end() || !it->second.Enabled) return false;
    HeadlessControl& control = it->second;
    if (index < 0 || static_cast<size_t>(index) >= control.Entries.size()) return false;
    control.Selected = index;
    control.Text = control.Entries[static_cast<size_t>(index)];
    DispatchCommand(dlg.State, id, kSelChange);
    return true;
}

bool SelectText(HeadlessDialog& dlg, int id, int start, int end) {
    HeadlessControl* control = Find(&dlg, id);
    if (!control) return false;
    control->SelStart = start;
    control->SelEnd = end;
    return true;
}

// --- the control-access layer -------------------------------------------------------------

bool SetText(DialogHandle handle, int id, std::u16string_view text) {
    HeadlessDialog& dlg = Dlg(handle);
    HeadlessControl* control = Find(handle, id);
    if (!control) return false;
    if (dlg.RefusedCaptions.erase(id) > 0) return false;
    if (IsDropDownList(id)) return false; // a drop-down list has no text of its own
    control->Text = std::u16string(text);
    if (control->Class == u"Edit") control->SelStart = control->SelEnd = 0;
    return true;
}

std::u16string GetText(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control ? control->Text : std::u16string();
}

void SetCaption(DialogHandle handle, std::u16string_view text) {
    Dlg(handle).Caption = std::u16string(text);
}

void Check(DialogHandle handle, int id, bool checked) {
    if (HeadlessControl* control = Find(handle, id)) control->Checked = checked;
}

bool IsChecked(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control && control->Checked;
}

void Enable(DialogHandle handle, int id, bool enabled) {
    if (HeadlessControl* control = Find(handle, id)) control->Enabled = enabled;
}

bool IsEnabled(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control && control->Enabled;
}

void SetReadOnly(DialogHandle handle, int id, bool readOnly) {
    if (HeadlessControl* control = Find(handle, id)) control->ReadOnly = readOnly;
}

void SetTextLimit(DialogHandle handle, int id, int limit) {
    if (HeadlessControl* control = Find(handle, id)) control->Limit = limit;
}

void SetEditSelection(DialogHandle handle, int id, int start, int end) {
    if (HeadlessControl* control = Find(handle, id)) {
        const int size = static_cast<int>(control->Text.size());
        control->SelStart = std::clamp(start, 0, size);
        control->SelEnd = std::clamp(end, 0, size);
        control->CaretScrolled = false;
    }
}

void GetEditSelection(DialogHandle handle, int id, int& start, int& end) {
    start = end = 0;
    if (HeadlessControl* control = Find(handle, id)) {
        start = control->SelStart;
        end = control->SelEnd;
    }
}

void ScrollCaretIntoView(DialogHandle handle, int id) {
    if (HeadlessControl* control = Find(handle, id)) control->CaretScrolled = true;
}

bool ShowsEditSelection(DialogHandle handle) {
    return !Dlg(handle).NoSelection;
}

void Focus(DialogHandle handle, int id) {
    Dlg(handle).Focused = id;
}

int ListAdd(DialogHandle handle, int id, std::u16string_view entry) {
    HeadlessControl* control = Find(handle, id);
    if (!control) return -1;
    control->Entries.emplace_back(entry);
    return static_cast<int>(control->Entries.size()) - 1;
}

void ListDelete(DialogHandle handle, int id, int index) {
    HeadlessControl* control = Find(handle, id);
    if (!control || index < 0 || static_cast<size_t>(index) >= control->Entries.size()) return;
    control->Entries.erase(control->Entries.begin() + index);
    if (control->Selected == index) {
        control->Selected = -1;
        control->Text.clear();
    } else if (control->Selected > index) {
        --control->Selected;
    }
}

int ListCount(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control ? static_cast<int>(control->Entries.size()) : 0;
}

std::u16string ListEntry(DialogHandle handle, int id, int index) {
    HeadlessControl* control = Find(handle, id);
    if (!control || index < 0 || static_cast<size_t>(index) >= control->Entries.size()) return {};
    return control->Entries[static_cast<size_t>(index)];
}

void ListSelect(DialogHandle handle, int id, int index) {
    HeadlessControl* control = Find(handle, id);
    if (!control) return;
    if (index < 0 || static_cast<size_t>(index) >= control->Entries.size()) {
        control->Selected = -1;
        control->Text.clear();
        return;
    }
    control->Selected = index;
    control->Text = control->Entries[static_cast<size_t>(index)];
}

int Selection(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control ? control->Selected : -1;
}

void SetDropDownWidth(DialogHandle handle, int id, int pixels) {
    if (HeadlessControl* control = Find(handle, id)) control->DropDownWidth = pixels;
}

int ScreenPixelsPerInchY(DialogHandle handle) {
    return Dlg(handle).DpiY;
}

FontHandle CreateFontFrom(DialogHandle handle, const TextBoxFont& font) {
    HeadlessDialog& dlg = Dlg(handle);
    const std::u16string face(font.FaceName.data());
    if (face.empty() || dlg.MissingFaces.count(face)) return nullptr;
    ++dlg.LiveFonts;
    return new HeadlessFont{font};
}

void DeleteFont(DialogHandle handle, FontHandle font) {
    if (!font) return;
    --Dlg(handle).LiveFonts;
    delete static_cast<HeadlessFont*>(font);
}

void SetFont(DialogHandle handle, int id, FontHandle font, Redraw redraw) {
    if (HeadlessControl* control = Find(handle, id)) {
        control->Font = static_cast<const HeadlessFont*>(font);
        control->RedrawnWithFont = redraw == Redraw::Now;
    }
}

int MeasureTextWidth(DialogHandle, FontHandle font, std::u16string_view text) {
    return font ? static_cast<int>(text.size()) * kCharWidth : 0;
}

int VerticalScrollBarWidth(DialogHandle) {
    return kScrollBarWidth;
}

BrushHandle CreateButtonFaceBrush(DialogHandle handle) {
    ++Dlg(handle).LiveBrushes;
    return &Dlg(handle).LiveBrushes;
}

void DeleteBrush(DialogHandle handle, BrushHandle brush) {
    if (brush) --Dlg(handle).LiveBrushes;
}

bool ChooseTextBoxFont(DialogHandle handle, TextBoxFont& font) {
    HeadlessDialog& dlg = Dlg(handle);
    if (!dlg.FontChooser) return false;
    TextBoxFont choice = font;
    if (!dlg.FontChooser(choice)) return false;
    font = choice;
    return true;
}

Rect WindowRect(DialogHandle handle) {
    return Dlg(handle).Window;
}

Rect ControlRect(DialogHandle handle, int id) {
    HeadlessControl* control = Find(handle, id);
    return control ? control->Bounds : Rect{};
}

void ResizeWindow(DialogHandle handle, int width, int height) {
    Rect& window = Dlg(handle).Window;
    window.Right = window.Left + width;
    window.Bottom = window.Top + height;
}

void MoveWindowTo(DialogHandle handle, int x, int y) {
    HeadlessDialog& dlg = Dlg(handle);
    Shift(dlg, x - dlg.Window.Left, y - dlg.Window.Top);
}

bool CreateTooltips(DialogHandle handle) {
    HeadlessDialog& dlg = Dlg(handle);
    dlg.TooltipsCreated = !dlg.TooltipsFail;
    return dlg.TooltipsCreated;
}

void RemoveTooltips(DialogHandle handle) {
    Dlg(handle).TooltipsCreated = false;
}

int ShowMessage(DialogHandle handle, const std::u16string& text, const std::u16string& title,
                uint32_t flags) {
    HeadlessDialog& dlg = Dlg(handle);
    dlg.Messages.push_back({text, title, flags});
    if (dlg.Answers.empty()) return platform::DefaultAnswer(flags);
    const int answer = dlg.Answers.front();
    dlg.Answers.pop_front();
    return answer;
}

void EndDialogWith(DialogHandle handle, int result) {
    HeadlessDialog& dlg = Dlg(handle);
    dlg.Open = false;
    dlg.Result = result;
}

} // namespace gleanery::dialog
