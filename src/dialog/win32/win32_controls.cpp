// The control-access layer over the real dialog: the handle is the dialog's HWND, controls are
// reached by their IDs.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>

#include "dialog/controls.h"
#include "platform/message_box.h"
#include "platform/win32/wide.h"

namespace gleanery::dialog {

namespace {

HWND Window(DialogHandle dlg) {
    return static_cast<HWND>(dlg);
}

HWND Item(DialogHandle dlg, int id) {
    return GetDlgItem(Window(dlg), id);
}

LRESULT Send(DialogHandle dlg, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageW(Window(dlg), id, message, wParam, lParam);
}

std::wstring Terminated(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

bool IsComboBox(DialogHandle dlg, int id) {
    wchar_t name[32] = {};
    GetClassNameW(Item(dlg, id), name, 32);
    return lstrcmpiW(name, L"ComboBox") == 0;
}

LOGFONTW ToLogFont(const TextBoxFont& font) {
    LOGFONTW lf{};
    lf.lfHeight = font.Height;
    lf.lfWidth = font.Width;
    lf.lfEscapement = font.Escapement;
    lf.lfOrientation = font.Orientation;
    lf.lfWeight = font.Weight;
    lf.lfItalic = font.Italic;
    lf.lfUnderline = font.Underline;
    lf.lfStrikeOut = font.StrikeOut;
    lf.lfCharSet = font.CharSet;
    lf.lfOutPrecision = font.OutPrecision;
    lf.lfClipPrecision = font.ClipPrecision;
    lf.lfQuality = font.Quality;
    lf.lfPitchAndFamily = font.PitchAndFamily;
    std::copy(font.FaceName.begin(), font.FaceName.end() - 1, lf.lfFaceName);
    return lf;
}

TextBoxFont FromLogFont(const LOGFONTW& lf) {
    TextBoxFont font;
    font.Height = lf.lfHeight;
    font.Width = lf.lfWidth;
    font.Escapement = lf.lfEscapement;
    font.Orientation = lf.lfOrientation;
    font.Weight = lf.lfWeight;
    font.Italic = lf.lfItalic;
    font.Underline = lf.lfUnderline;
    font.StrikeOut = lf.lfStrikeOut;
    font.CharSet = lf.lfCharSet;
    font.OutPrecision = lf.lfOutPrecision;
    font.ClipPrecision = lf.lfClipPrecision;
    font.Quality = lf.lfQuality;
    font.PitchAndFamily = lf.lfPitchAndFamily;
    for (size_t i = 0; i + 1 < font.FaceName.size() && lf.lfFaceName[i]; ++i)
        font.FaceName[i] = static_cast<char16_t>(lf.lfFaceName[i]);
    return font;
}

Rect FromRect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

} // namespace

bool SetText(DialogHandle dlg, int id, std::u16string_view text) {
    return SetDlgItemTextW(Window(dlg), id, Terminated(text).c_str()) != FALSE;
}

std::u16string GetText(DialogHandle dlg, int id) {
    HWND item = Item(dlg, id);
    if (!item) return {};
    const int length = GetWindowTextLengthW(item);
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(item, buffer.data(), length + 1);
    return platform::win32::FromWide(buffer.data(), static_cast<size_t>(std::max(got, 0)));
}

void SetCaption(DialogHandle dlg, std::u16string_view text) {
    SetWindowTextW(Window(dlg), Terminated(text).c_str());
}

void Check(DialogHandle dlg, int id, bool checked) {
    CheckDlgButton(Window(dlg), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool IsChecked(DialogHandle dlg, int id) {
    return IsDlgButtonChecked(Window(dlg), id) == BST_CHECKED;
}

void Enable(DialogHandle dlg, int id, bool enabled) {
    EnableWindow(Item(dlg, id), enabled ? TRUE : FALSE);
}

bool IsEnabled(DialogHandle dlg, int id) {
    return IsWindowEnabled(Item(dlg, id)) != FALSE;
}

void SetReadOnly(DialogHandle dlg, int id, bool readOnly) {
    Send(dlg, id, EM_SETREADONLY, readOnly ? TRUE : FALSE);
}

void SetTextLimit(DialogHandle dlg, int id, int limit) {
    Send(dlg, id, IsComboBox(dlg, id) ? CB_LIMITTEXT : EM_SETLIMITTEXT, static_cast<WPARAM>(limit));
}

void SetEditSelection(DialogHandle dlg, int id, int start, int end) {
    Send(dlg, id, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void GetEditSelection(DialogHandle dlg, int id, int& start, int& end) {
    DWORD from = 0;
    DWORD to = 0;
    Send(dlg, id, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    start = static_cast<int>(from);
    end = static_cast<int>(to);
}

void ScrollCaretIntoView(DialogHandle dlg, int id) {
    Send(dlg, id, EM_SCROLLCARET);
}

bool ShowsEditSelection(DialogHandle) {
    return true;
}

void Focus(DialogHandle dlg, int id) {
    // SetFocus keeps the editor's selection (moving the dialog focus would select everything).
    SetFocus(Item(dlg, id));
}

int ListAdd(DialogHandle dlg, int id, std::u16string_view entry) {
    const std::wstring text = Terminated(entry);
    return static_cast<int>(Send(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void ListDelete(DialogHandle dlg, int id, int index) {
    Send(dlg, id, CB_DELETESTRING, static_cast<WPARAM>(index));
}

int ListCount(DialogHandle dlg, int id) {
    return std::max(0, static_cast<int>(Send(dlg, id, CB_GETCOUNT)));
}

std::u16string ListEntry(DialogHandle dlg, int id, int index) {
    const LRESULT length = Send(dlg, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length < 0) return {};
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = Send(dlg, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(buffer.data()));
    if (got == CB_ERR || got < 0) return {};
    return platform::win32::FromWide(buffer.data(), static_cast<size_t>(got));
}

void ListSelect(DialogHandle dlg, int id, int index) {
    Send(dlg, id, CB_SETCURSEL, static_cast<WPARAM>(index));
}

int Selection(DialogHandle dlg, int id) {
    const LRESULT index = Send(dlg, id, CB_GETCURSEL);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void SetDropDownWidth(DialogHandle dlg, int id, int pixels) {
    Send(dlg, id, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(pixels));
}

int ScreenPixelsPerInchY(DialogHandle) {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

FontHandle CreateFontFrom(DialogHandle, const TextBoxFont& font) {
    const LOGFONTW lf = ToLogFont(font);
    return CreateFontIndirectW(&lf);
}

void DeleteFont(DialogHandle, FontHandle font) {
    if (font) DeleteObject(static_cast<HFONT>(font));
}

void SetFont(DialogHandle dlg, int id, FontHandle font, Redraw redraw) {
    Send(dlg, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw == Redraw::Now ? TRUE : FALSE);
}

int MeasureTextWidth(DialogHandle, FontHandle font, std::u16string_view text) {
    HDC screen = GetDC(nullptr);
    if (!screen) return 0;
    HGDIOBJ previous = font ? SelectObject(screen, static_cast<HFONT>(font)) : nullptr;
    SIZE size{};
    const std::wstring wide = Terminated(text);
    if (!GetTextExtentPoint32W(screen, wide.c_str(), static_cast<int>(wide.size()), &size))
        size.cx = 0;
    if (previous) SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return size.cx;
}

int VerticalScrollBarWidth(DialogHandle) {
    return GetSystemMetrics(SM_CXVSCROLL);
}

BrushHandle CreateButtonFaceBrush(DialogHandle) {
    return CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
}

void DeleteBrush(DialogHandle, BrushHandle brush) {
    if (brush) DeleteObject(static_cast<HBRUSH>(brush));
}

bool ChooseTextBoxFont(DialogHandle dlg, TextBoxFont& font) {
    LOGFONTW lf = ToLogFont(font);
    CHOOSEFONTW choose{};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = Window(dlg);
    choose.lpLogFont = &lf;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_FORCEFONTEXIST;
    if (!ChooseFontW(&choose)) return false;
    font = FromLogFont(lf);
    return true;
}

Rect WindowRect(DialogHandle dlg) {
    RECT r{};
    GetWindowRect(Window(dlg), &r);
    return FromRect(r);
}

Rect ControlRect(DialogHandle dlg, int id) {
    RECT r{};
    GetWindowRect(Item(dlg, id), &r);
    return FromRect(r);
}

void ResizeWindow(DialogHandle dlg, int width, int height) {
    SetWindowPos(Window(dlg), nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveWindowTo(DialogHandle dlg, int x, int y) {
    SetWindowPos(Window(dlg), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ShowMessage(DialogHandle dlg, const std::u16string& text, const std::u16string& title,
                uint32_t flags) {
    const int answer =
        MessageBoxW(Window(dlg), platform::win32::Wide(text), platform::win32::Wide(title), flags);
    // A box that could not be shown counts as its default button: nothing goes ahead unasked.
    return answer != 0 ? answer : platform::DefaultAnswer(flags);
}

void EndDialogWith(DialogHandle dlg, int result) {
    EndDialog(Window(dlg), result);
}

} // namespace gleanery::dialog
