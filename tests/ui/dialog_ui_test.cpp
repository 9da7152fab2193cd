// The real settings dialog, opened the way the file manager opens it: a host program loads the
// plug-in, hands it its default parameters, and calls ConfigurePacker with its main window as
// owner. A second thread finds the dialog and works it through Win32 calls: every control of the
// template with its ID, class, caption, style and geometry, the collapsed width, the lists; then
// it changes a few options, presses OK and reads the settings file.
//   dialog_ui_test <plug-in> <screenshot directory>
// The screenshot of the collapsed dialog is taken with ImageMagick's import (a Linux program,
// started through Wine) and its path is printed.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "dialog/dialog_layout.h"

namespace {

using namespace gleanery::dialog;

int g_failures = 0;

void Expect(bool ok, const std::string& what) {
    if (ok) return;
    ++g_failures;
    std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
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

template <typename F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct PackDefaultParams {
    int size;
    DWORD PluginInterfaceVersionLow;
    DWORD PluginInterfaceVersionHi;
    char DefaultIniName[MAX_PATH];
};

using ConfigurePackerProc = void(WINAPI*)(HWND, HINSTANCE);
using PackSetDefaultParamsProc = void(WINAPI*)(PackDefaultParams*);

struct Run {
    HINSTANCE Plugin = nullptr;
    HWND Host = nullptr;
    std::wstring ScreenshotDir;
    std::wstring Label;
    std::wstring ScreenshotPath;
};

HWND FindDialog() {
    for (int tries = 0; tries < 1200; ++tries) { // a first Wine start can be slow
        HWND found = FindWindowW(L"#32770", L"Gleanery Settings");
        if (found && IsWindowVisible(found)) return found;
        Sleep(50);
    }
    return nullptr;
}

void TakeScreenshot(Run& run) {
    // import is a Linux program: Wine starts it from its path on the Z: drive.
    CreateDirectoryW(run.ScreenshotDir.c_str(), nullptr);
    run.ScreenshotPath = run.ScreenshotDir + L"\\settings-dialog-" + run.Label + L".png";
    char unixPath[MAX_PATH * 3] = {};
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto toUnix = Export<UnixName>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!toUnix) {
        std::printf("screenshot skipped: not running under Wine\n");
        return;
    }
    char* path = toUnix(run.ScreenshotPath.c_str());
    if (!path) return;
    std::strncpy(unixPath, path, sizeof unixPath - 1);
    HeapFree(GetProcessHeap(), 0, path);
    DeleteFileW(run.ScreenshotPath.c_str()); // from an earlier run
    std::wstring command = L"Z:\\usr\\bin\\import -window root \"" +
                           std::wstring(unixPath, unixPath + std::strlen(unixPath)) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("screenshot failed: cannot start import (error %lu)\n", GetLastError());
        return;
    }
    // Wine hands back a handle that is signalled as soon as the Linux program has started, so
    // the picture counts as taken once its file has appeared and stopped growing.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LONGLONG lastSize = -1;
    for (int tries = 0; tries < 300; ++tries) {
        Sleep(100);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(run.ScreenshotPath.c_str(), GetFileExInfoStandard, &data))
            continue;
        const LONGLONG size = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size > 0 && size == lastSize) break;
        lastSize = size;
    }
    const bool saved = GetFileAttributesW(run.ScreenshotPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    Expect(saved, "screenshot written");
    if (saved) std::printf("screenshot of the collapsed dialog: %s\n", unixPath);
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

void Click(HWND dlg, int id) {
    SendMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

DWORD WINAPI WorkDialog(void* parameter) {
    Run& run = *static_cast<Run*>(parameter);
    HWND dlg = FindDialog();
    Expect(dlg != nullptr, "dialog window found");
    if (!dlg) {
        EnumWindows(PrintOwnWindow, 0);
        return 1;
    }
    Expect(GetWindow(dlg, GW_OWNER) == run.Host, "owned by the host window");
    CheckControls(dlg);
    Sleep(300); // let it paint
    TakeScreenshot(run);

    // A faulty expression shows its error; a good one is accepted.
    HWND regex = GetDlgItem(dlg, kRegexEdit);
    SendMessageW(regex, EM_SETSEL, 0, -1);
    SendMessageW(regex, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"(\\d+"));
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)).find(L"missing )") == 0,
           "error in the status line: " + Narrow(WindowText(GetDlgItem(dlg, kStatusLine))));
    SendMessageW(regex, EM_SETSEL, 0, -1);
    SendMessageW(regex, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"(\\d+)"));
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

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: dialog_ui_test <plug-in> <screenshot directory>\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    // The plug-in in a fresh directory of its own, where it keeps its settings file.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir =
        std::wstring(temp) + L"gleanery_ui_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring source = argv[1];
    const std::wstring fileName = source.substr(source.find_last_of(L"\\/") + 1);
    const std::wstring plugin = dir + L"\\" + fileName;
    if (!CopyFileW(source.c_str(), plugin.c_str(), FALSE)) {
        std::printf("cannot copy the plug-in\n");
        return 1;
    }
    Run run;
    run.ScreenshotDir = argv[2];
    for (wchar_t& c : run.ScreenshotDir)
        if (c == L'/') c = L'\\';
    run.Label = fileName.substr(fileName.find_last_of(L'.') + 1);

    HMODULE module = LoadLibraryW(plugin.c_str());
    if (!module) {
        std::printf("cannot load %s\n", Narrow(plugin).c_str());
        return 1;
    }
    auto configure = Export<ConfigurePackerProc>(module, "ConfigurePacker");
    auto defaults = Export<PackSetDefaultParamsProc>(module, "PackSetDefaultParams");
    Expect(configure && defaults, "exports found");
    if (!configure || !defaults) return 1;
    PackDefaultParams params{};
    params.size = sizeof params;
    params.PluginInterfaceVersionLow = 20;
    params.PluginInterfaceVersionHi = 2;
    const std::string hostIni = Narrow(dir) + "\\wincmd.ini";
    std::strncpy(params.DefaultIniName, hostIni.c_str(), MAX_PATH - 1);
    defaults(&params);

    WNDCLASSW hostClass{};
    hostClass.lpfnWndProc = HostProc;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"GleaneryTestHost";
    RegisterClassW(&hostClass);
    run.Host = CreateWindowW(L"GleaneryTestHost", L"Host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                             nullptr, nullptr, hostClass.hInstance, nullptr);
    run.Plugin = module;

    HANDLE worker = CreateThread(nullptr, 0, WorkDialog, &run, 0, nullptr);
    configure(run.Host, module);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);

    const std::string ini = ReadFile(dir + L"\\Gleanery.ini");
    for (const char* key :
         {"regex=(\\d+)\r\n", "LineMode=true\r\n", "CaseSensitive=true\r\n", "CopyClip=1\r\n",
          "OutfileExtension=1\r\n", "SearchAndReplace=false\r\n"})
        Expect(ini.find(key) != std::string::npos, std::string("settings file holds ") + key);

    DestroyWindow(run.Host);
    FreeLibrary(module);
    DeleteFileW((dir + L"\\Gleanery.ini").c_str());
    DeleteFileW(plugin.c_str());
    RemoveDirectoryW(dir.c_str());
    std::printf(g_failures ? "%d check(s) failed\n" : "all checks passed\n", g_failures);
    return g_failures ? 1 : 0;
}
