// The control-access layer over Double Commander's SendDlgMsg. Controls are addressed by their
// form names (dialog/form_names.h). What the host's API has no message for is done the closest
// honest way: no edit selection (the dialog names positions in its texts instead), no fonts or
// colours at run time (the form carries them), tooltips as the form's hints.
#include <cstring>

#include "dialog/controls.h"
#include "dialog/dialog_layout.h"
#include "dialog/doublecmd/host_dialog.h"
#include "dialog/form_names.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

namespace gleanery::dialog {

using namespace doublecmd;

namespace {

constexpr int kAverageCharWidth = 7;
constexpr int kScrollBarWidth = 16;
constexpr int kScreenDpi = 96;

HostDialog& Dlg(DialogHandle handle) {
    return *static_cast<HostDialog*>(handle);
}

// Changes made by the layer raise the same events as the user's; the dialog must not see them.
struct QuietScope {
    HostDialog& dlg;
    explicit QuietScope(HostDialog& d) : dlg(d) { ++dlg.Quiet; }
    ~QuietScope() { --dlg.Quiet; }
    QuietScope(const QuietScope&) = delete;
    QuietScope& operator=(const QuietScope&) = delete;
};

bool IsMemo(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"Edit";
}

bool IsDropDownList(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"ComboBox" && (layout->Style & 0x3) == kCbsDropDownList;
}

bool IsEditableList(int id) {
    const ControlLayout* layout = FindControl(id);
    return layout && layout->Class == u"ComboBox" && (layout->Style & 0x3) == kCbsDropDown;
}

// The form's memos keep LF line ends; the dialog's texts have CR LF (and the replacement help
// CR CR LF on some lines).
std::string ToForm(int id, std::u16string_view text) {
    if (!IsMemo(id)) return platform::WideToUtf8(text);
    std::u16string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            size_t j = i;
            while (j < text.size() && text[j] == u'\r') ++j;
            if (j < text.size() && text[j] == u'\n') {
                lines.push_back(u'\n');
                i = j;
                continue;
            }
        }
        lines.push_back(text[i]);
    }
    return platform::WideToUtf8(lines);
}

std::u16string FromForm(int id, const char* utf8) {
    if (!utf8) return {};
    std::u16string text = platform::Utf8ToWide(std::string_view(utf8, std::strlen(utf8)));
    if (!IsMemo(id)) return text;
    std::u16string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) crlf.push_back(u'\r');
        crlf.push_back(text[i]);
    }
    return crlf;
}

HostRect Bounds(HostDialog& dlg, int id) {
    HostRect rect{};
    const intptr_t result = Send(dlg, id, id == 0 ? kDmGetDlgBounds : kDmGetItemBounds);
    if (result != 0 && result != -1)
        std::memcpy(&rect, reinterpret_cast<const void*>(result), sizeof rect);
    return rect;
}

void SetBounds(HostDialog& dlg, HostRect rect) {
    Send(dlg, 0, kDmSetDlgBounds, reinterpret_cast<intptr_t>(&rect));
}

} // namespace

namespace doublecmd {

intptr_t Send(HostDialog& dlg, int id, intptr_t msg, intptr_t wParam, intptr_t lParam) {
    if (dlg.Gone || !dlg.Send || !dlg.Form) return 0;
    std::string name;
    if (id != 0) {
        name = std::string(FormNameOf(id));
        if (name.empty()) return 0;
    }
    return dlg.Send(dlg.Form, id == 0 ? nullptr : name.data(), msg, wParam, lParam);
}

} // namespace doublecmd

bool SetText(DialogHandle handle, int id, std::u16string_view text) {
    HostDialog& dlg = Dlg(handle);
    if (IsDropDownList(id)) return false; // a drop-down list has no text of its own
    std::string utf8 = ToForm(id, text);
    QuietScope quiet(dlg);
    if (Send(dlg, id, kDmSetText, reinterpret_cast<intptr_t>(utf8.data())) == -1) return false;
    if (id == kRegexEdit) dlg.LastRegexText = std::u16string(text);
    return true;
}

std::u16string GetText(DialogHandle handle, int id) {
    const intptr_t text = Send(Dlg(handle), id, kDmGetText);
    return text == -1 ? std::u16string() : FromForm(id, reinterpret_cast<const char*>(text));
}

void SetCaption(DialogHandle handle, std::u16string_view text) {
    std::string utf8 = platform::WideToUtf8(text);
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), 0, kDmSetText, reinterpret_cast<intptr_t>(utf8.data()));
}

void Check(DialogHandle handle, int id, bool checked) {
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), id, kDmSetCheck, checked ? 1 : 0);
}

bool IsChecked(DialogHandle handle, int id) {
    return Send(Dlg(handle), id, kDmGetCheck) == 1;
}

void Enable(DialogHandle handle, int id, bool enabled) {
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), id, kDmEnable, enabled ? 1 : 0);
}

bool IsEnabled(DialogHandle handle, int id) {
    return Send(Dlg(handle), id, kDmEnable, -1) == 1;
}

// The API cannot make a memo read-only at run time; a disabled memo cannot be typed in either.
void SetReadOnly(DialogHandle handle, int id, bool readOnly) {
    Enable(handle, id, !readOnly);
}

// The memos carry their limit in the form; the API sets it for edit fields and combo boxes.
void SetTextLimit(DialogHandle handle, int id, int limit) {
    if (IsMemo(id)) return;
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), id, kDmSetMaxTextLength, limit);
}

// No message selects text in a memo or reads its selection: the dialog sees no selection.
void SetEditSelection(DialogHandle, int, int, int) {}

void GetEditSelection(DialogHandle, int, int& start, int& end) {
    start = end = 0;
}

void ScrollCaretIntoView(DialogHandle, int) {}

bool ShowsEditSelection(DialogHandle) {
    return false;
}

void Focus(DialogHandle handle, int id) {
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), id, kDmSetFocus);
}

int ListAdd(DialogHandle handle, int id, std::u16string_view entry) {
    std::string utf8 = platform::WideToUtf8(entry);
    QuietScope quiet(Dlg(handle));
    return static_cast<int>(
        Send(Dlg(handle), id, kDmListAdd, reinterpret_cast<intptr_t>(utf8.data())));
}

void ListDelete(DialogHandle handle, int id, int index) {
    if (index < 0 || index >= ListCount(handle, id)) return;
    QuietScope quiet(Dlg(handle));
    Send(Dlg(handle), id, kDmListDelete, index);
}

int ListCount(DialogHandle handle, int id) {
    const intptr_t count = Send(Dlg(handle), id, kDmListGetCount);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::u16string ListEntry(DialogHandle handle, int id, int index) {
    if (index < 0 || index >= ListCount(handle, id)) return {};
    return FromForm(id,
                    reinterpret_cast<const char*>(Send(Dlg(handle), id, kDmListGetItem, index)));
}

void ListSelect(DialogHandle handle, int id, int index) {
    HostDialog& dlg = Dlg(handle);
    if (index >= ListCount(handle, id)) index = -1;
    QuietScope quiet(dlg);
    Send(dlg, id, kDmListSetItemIndex, index < 0 ? -1 : index);
    // Clearing the selection of a list with an edit field empties the field, as on Windows.
    if (index < 0 && IsEditableList(id)) {
        char empty[1] = {0};
        Send(dlg, id, kDmSetText, reinterpret_cast<intptr_t>(empty));
    }
}

int Selection(DialogHandle handle, int id) {
    const intptr_t index = Send(Dlg(handle), id, kDmListGetItemIndex);
    return index < 0 ? -1 : static_cast<int>(index);
}

// GTK sizes a combo box's pop-up list to its entries itself.
void SetDropDownWidth(DialogHandle, int, int) {}

int ScreenPixelsPerInchY(DialogHandle) {
    return kScreenDpi;
}

// Fonts cannot be set through the API: the form's fonts stay. The handles only keep the
// dialog's own bookkeeping (which description is in use) as it is on Windows.
FontHandle CreateFontFrom(DialogHandle, const TextBoxFont& font) {
    if (font.FaceName[0] == 0) return nullptr;
    return new TextBoxFont(font);
}

void DeleteFont(DialogHandle, FontHandle font) {
    delete static_cast<TextBoxFont*>(font);
}

void SetFont(DialogHandle, int, FontHandle, Redraw) {}

int MeasureTextWidth(DialogHandle, FontHandle font, std::u16string_view text) {
    return font ? static_cast<int>(text.size()) * kAverageCharWidth : 0;
}

int VerticalScrollBarWidth(DialogHandle) {
    return kScrollBarWidth;
}

BrushHandle CreateButtonFaceBrush(DialogHandle handle) {
    return handle; // the status line keeps the form's colours; nothing to create
}

void DeleteBrush(DialogHandle, BrushHandle) {}

// The form hides the font button: the host has no font chooser to offer.
bool ChooseTextBoxFont(DialogHandle, TextBoxFont&) {
    return false;
}

Rect WindowRect(DialogHandle handle) {
    const HostRect rect = Bounds(Dlg(handle), 0);
    return {rect.Left, rect.Top, rect.Right, rect.Bottom};
}

// Item bounds come relative to the control's parent; only controls placed on the form itself are
// asked for (the replace editor), so the form's origin makes them screen coordinates.
Rect ControlRect(DialogHandle handle, int id) {
    HostDialog& dlg = Dlg(handle);
    const HostRect form = Bounds(dlg, 0);
    const HostRect item = Bounds(dlg, id);
    return {form.Left + item.Left, form.Top + item.Top, form.Left + item.Right,
            form.Top + item.Bottom};
}

void ResizeWindow(DialogHandle handle, int width, int height) {
    HostDialog& dlg = Dlg(handle);
    HostRect rect = Bounds(dlg, 0);
    rect.Right = rect.Left + width;
    rect.Bottom = rect.Top + height;
    SetBounds(dlg, rect);
}

void MoveWindowTo(DialogHandle handle, int x, int y) {
    HostDialog& dlg = Dlg(handle);
    HostRect rect = Bounds(dlg, 0);
    rect = {x, y, x + rect.Right - rect.Left, y + rect.Bottom - rect.Top};
    SetBounds(dlg, rect);
}

// The form carries the tooltip texts as hints.
bool CreateTooltips(DialogHandle) {
    return true;
}

void RemoveTooltips(DialogHandle) {}

int ShowMessage(DialogHandle, const std::u16string& text, const std::u16string& title,
                uint32_t flags) {
    return platform::ShowMessageBox(text, title, flags);
}

void EndDialogWith(DialogHandle handle, int result) {
    HostDialog& dlg = Dlg(handle);
    dlg.Result = result;
    if (dlg.ClosedByHost) return;
    dlg.ClosedByHost = true;
    Send(dlg, 0, kDmClose, result);
}

} // namespace gleanery::dialog
