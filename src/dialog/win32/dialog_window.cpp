// The real settings dialog: template 1 run modally by the dialog manager, its procedure, and the
// tooltips with their message relay. The behaviour itself lives in settings_dialog.cpp.
#include <windows.h>

#include <commctrl.h>

#include "dialog/dialog_layout.h"
#include "dialog/settings_dialog.h"
#include "dialog/status_line.h"

namespace gleanery {

namespace {

using dialog::DialogState;

// The dialog is modal and open once at a time; its hook procedure has no other way to reach it.
DialogState* g_dialog = nullptr;
HWND g_dialogWindow = nullptr;
HWND g_tooltip = nullptr;
HHOOK g_hook = nullptr;

// The tools are not subclassed: mouse moves over the dialog's children reach the tooltip here.
LRESULT CALLBACK RelayMouseMoves(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && g_tooltip && g_dialogWindow) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (message->message == WM_MOUSEMOVE && IsChild(g_dialogWindow, message->hwnd)) {
            MSG copy = *message;
            SendMessageW(g_tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&copy));
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

BOOL CALLBACK AddTool(HWND child, LPARAM added) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (lstrcmpW(name, L"Edit") == 0) return TRUE; // case-sensitive, as the class is registered
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = g_dialogWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(child);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    if (SendMessageW(g_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)))
        ++*reinterpret_cast<int*>(added);
    return TRUE;
}

void TearDownTooltips() {
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    if (g_tooltip) DestroyWindow(g_tooltip);
    g_tooltip = nullptr;
}

INT_PTR CALLBACK SettingsDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (!g_dialog) return TRUE;
        g_dialogWindow = window;
        g_dialog->Handle = window;
        dialog::InitialiseDialog(*g_dialog);
        return TRUE; // the dialog manager sets the default focus
    case WM_COMMAND:
        if (g_dialog) dialog::DispatchCommand(*g_dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        if (!g_dialog || !g_dialog->StatusBrush ||
            reinterpret_cast<HWND>(lParam) != GetDlgItem(window, dialog::kStatusLine))
            return FALSE;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        if (auto colour = dialog::StatusTextColour(*g_dialog, GetSysColor(COLOR_BTNTEXT)))
            SetTextColor(dc, *colour);
        return reinterpret_cast<INT_PTR>(g_dialog->StatusBrush);
    }
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code != TTN_GETDISPINFOW || !g_dialog || !g_hook) return FALSE;
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom));
        if (const std::u16string* text = dialog::TooltipText(*g_dialog, id))
            info->lpszText = reinterpret_cast<LPWSTR>(const_cast<char16_t*>(text->c_str()));
        return TRUE;
    }
    case WM_MOVE:
        SendMessageW(window, WM_SETFOCUS, 0, 0);
        return FALSE;
    case WM_DESTROY:
        // Closing went through CloseDialog; a window destroyed by other means must not leave a
        // hook into this library behind.
        TearDownTooltips();
        return FALSE;
    default:
        return FALSE;
    }
}

HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

} // namespace

namespace dialog {

bool CreateTooltips(DialogHandle dlg) {
    HWND window = static_cast<HWND>(dlg);
    TearDownTooltips();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    g_tooltip = CreateWindowExW(
        0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
    if (!g_tooltip) return false;
    SendMessageW(g_tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(1000, 0));
    int added = 0;
    EnumChildWindows(window, AddTool, reinterpret_cast<LPARAM>(&added));
    if (added > 0)
        g_hook = SetWindowsHookExW(WH_GETMESSAGE, RelayMouseMoves, nullptr, GetCurrentThreadId());
    if (!g_hook) {
        TearDownTooltips();
        return false;
    }
    return true;
}

void RemoveTooltips(DialogHandle) {
    TearDownTooltips();
}

} // namespace dialog

intptr_t ShowSettingsDialog(void* parent, void* instance) {
    // The template is this library's; a host that hands over another module still gets it.
    HINSTANCE module = static_cast<HINSTANCE>(instance);
    if (!module || !FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(5)))
        module = OwnModule();
    DialogState state;
    g_dialog = &state;
    const INT_PTR result = DialogBoxParamW(module, MAKEINTRESOURCEW(1), static_cast<HWND>(parent),
                                           SettingsDialogProc, 0);
    TearDownTooltips();
    g_dialog = nullptr;
    g_dialogWindow = nullptr;
    return result;
}

} // namespace gleanery
