// The real settings dialog, opened the way the file manager opens it: a host program loads the
// plug-in, hands it its default parameters, and calls ConfigurePacker with its main window as
// owner. A second thread finds the dialog and works it through Win32 calls: every control of the
// template with its ID, class, caption, style and geometry, the collapsed width, the lists; then
// it changes a few options, presses OK and reads the settings file.
//   dialog_ui_test <plug-in> <screenshot directory>
// The screenshot of the collapsed dialog is settings-dialog-<wcx64|wcx>.png.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "dialog/dialog_layout.h"
#include "ui_host.h"

namespace {

using namespace gleanery::dialog;
using namespace gleanery::ui_test;

std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

BOOL CALLBACK PrintOwnWindow(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId())
        std::printf("  window \"%s\" class %s\n", Narrow(WindowText(window)).c_str(),
                    Narrow(ClassName(window)).c_str());
    return TRUE;
}

BOOL CALLBACK CountNonEditChild(HWND child, LPARAM counter) {
    if (ClassName(child) != L"Edit") ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

void CheckControls(HWND dlg) {
    Expect(WindowText(dlg) == L"Gleanery Settings", "dialog caption");
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE));
    const DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    Expect((style & dialogStyle) == dialogStyle, "dialog style");

    int count = 0;
    for (const ControlLayout& layout : DialogControls()) {
        const std::string name = "control " + std::to_string(layout.Id);
        HWND item = GetDlgItem(dlg, layout.Id);
        Expect(item != nullptr, name + " exists");
        if (!item) continue;
        ++count;
        Expect(lstrcmpiW(ClassName(item).c_str(), Wide(layout.Class).c_str()) == 0,
               name + " class " + Narrow(ClassName(item)));
        const bool captioned =
            layout.Class == u"Button" || (layout.Class == u"Static" && layout.Id != kStatusLine);
        if (captioned)
            Expect(WindowText(item) == Wide(layout.Caption),
                   name + " caption \"" + Narrow(WindowText(item)) + "\"");
        const DWORD actual = static_cast<DWORD>(GetWindowLongW(item, GWL_STYLE));
        // Edits show WS_BORDER as a client edge; a combo box gives its scroll bar to its list.
        DWORD expected = layout.Style & ~static_cast<DWORD>(WS_BORDER);
        if (layout.Class == u"ComboBox") expected &= ~static_cast<DWORD>(WS_VSCROLL);
        Expect((actual & expected) == expected && (actual & 0xFFFF) == (expected & 0xFFFF),
               name + " style " + std::to_string(actual) + " for " + std::to_string(expected));
        Expect((actual & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE),
               name + " child and visible");
        const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(item, GWL_EXSTYLE));
        Expect((exStyle & layout.ExStyle) == layout.ExStyle, name + " extended style");
        // Geometry in dialog units: the dialog manager converts position and size separately.
        RECT want{layout.X, layout.Y, layout.Width, layout.Height};
        MapDialogRect(dlg, &want);
        RECT got{};
        GetWindowRect(item, &got);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
        const bool combo = layout.Class == u"ComboBox"; // its window is the closed field
        Expect(got.left == want.left && got.top == want.top && got.right - got.left == want.right &&
                   (combo || got.bottom - got.top == want.bottom),
               name + " geometry " + std::to_string(got.left) + "," + std::to_string(got.top) +
                   "," + std::to_string(got.right - got.left) + "," +
                   std::to_string(got.bottom - got.top));
    }
    Expect(count == 54, "54 controls");

    // Collapsed: the right border 8 pixels right of the replace editor; the help pane disabled.
    RECT window{};
    GetWindowRect(dlg, &window);
    RECT replace{};
    GetWindowRect(GetDlgItem(dlg, kReplaceEdit), &replace);
    Expect(window.right == replace.right + 8, "collapsed width");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kHelpPane)), "help pane disabled");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kTestStart)), "Start disabled");

    auto entries = [dlg](int id) {
        return static_cast<int>(SendDlgItemMessageW(dlg, id, CB_GETCOUNT, 0, 0));
    };
    Expect(entries(kMemoryList) == 17, "read memory list");
    Expect(entries(kDefaultCharacterList) == 96, "replacement character list");
    Expect(entries(kEncodingCheckList) == 8, "encoding check list");
    Expect(entries(kOutfileExtensionList) == 3, "outfile extension list");
    Expect(entries(kCodePageList) >= 2, "code page list");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)) == L"OK!", "status line");

    // Tooltips: one tool per child that is not an edit field, texts asked of the dialog by ID.
    HWND tooltip = nullptr;
    while ((tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr)))
        if (GetWindow(tooltip, GW_OWNER) == dlg) break;
    Expect(tooltip != nullptr, "tooltip window owned by the dialog");
    if (!tooltip) return;
    int tools = 0;
    EnumChildWindows(dlg, CountNonEditChild, reinterpret_cast<LPARAM>(&tools));
    Expect(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0) == tools, "one tool per non-edit child");
    auto tipOf = [dlg, tooltip](int id) {
        wchar_t text[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = dlg;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dlg, id));
        tool.lpszText = text;
        SendMessageW(tooltip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return std::wstring(text);
    };
    Expect(tipOf(kGroupButton) == L"Assign selection or complete text to a group",
           "tooltip of 1001: " + Narrow(tipOf(kGroupButton)));
    Expect(tipOf(kRegexHelp) == L"PCRE Syntax", "tooltip of 1042");
    Expect(tipOf(kIdOk).empty(), "no tooltip text for OK");
}

DWORD WINAPI WorkDialog(void* parameter) {
    const Run& run = *static_cast<const Run*>(parameter);
    HWND dlg = WaitForWindow(L"Gleanery Settings");
    Expect(dlg != nullptr, "dialog window found");
    if (!dlg) {
        EnumWindows(PrintOwnWindow, 0);
        return 1;
    }
    Expect(GetWindow(dlg, GW_OWNER) == run.Host, "owned by the host window");
    CheckControls(dlg);
    Sleep(300); // let it paint
    Screenshot(run, L"settings-dialog");

    // A faulty expression shows its error; a good one is accepted.
    Type(dlg, kRegexEdit, L"(\\d+");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)).find(L"missing )") == 0,
           "error in the status line: " + Narrow(WindowText(GetDlgItem(dlg, kStatusLine))));
    Type(dlg, kRegexEdit, L"(\\d+)");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)) == L"OK!", "status after the fix");

    Click(dlg, kLineMode);
    Click(dlg, kCaseSensitive);
    Click(dlg, kCopyClip);
    Expect(IsWindowEnabled(GetDlgItem(dlg, kDeleteCopied)) != FALSE, "Delete enabled by Copy");
    Click(dlg, kSearchAndReplace);
    Expect(IsDlgButtonChecked(dlg, kLineMode) == BST_UNCHECKED, "Search and Replace clears Line");
    Click(dlg, kSearchAndReplace);
    Click(dlg, kLineMode);
    SendDlgItemMessageW(dlg, kOutfileExtensionList, CB_SETCURSEL, 1, 0);
    Click(dlg, kIdOk);
    return 0;
}

void CheckSettingsFile(const std::string& ini) {
    for (const char* key :
         {"regex=(\\d+)\r\n", "LineMode=true\r\n", "CaseSensitive=true\r\n", "CopyClip=1\r\n",
          "OutfileExtension=1\r\n", "SearchAndReplace=false\r\n"})
        Expect(ini.find(key) != std::string::npos, std::string("settings file holds ") + key);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return RunHostedDialog(argc, argv, "dialog_ui_test", WorkDialog, CheckSettingsFile);
}
