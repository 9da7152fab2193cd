// The panels of the real settings dialog, opened as the file manager opens it: a second thread
// runs a test-panel session (test mode, Start, a subgroup, Next, Stop), adds, loads and deletes a
// preset (answering the question box), opens both help texts, and presses OK. Screenshots: the
// running test with its selected match, and the widened dialog with the expression help.
//   dialog_panels_ui_test <plug-in> <screenshot directory>
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

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::wstring ItemText(HWND dlg, int id) {
    return WindowText(GetDlgItem(dlg, id));
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
    HWND Host = nullptr;
    std::wstring ScreenshotDir;
    std::wstring Label;
};

HWND WaitForWindow(const wchar_t* title) {
    for (int tries = 0; tries < 1200; ++tries) { // a first Wine start can be slow
        HWND found = FindWindowW(L"#32770", title);
        if (found && IsWindowVisible(found)) return found;
        Sleep(50);
    }
    return nullptr;
}

void Screenshot(const Run& run, const std::wstring& name) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto toUnix = Export<UnixName>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!toUnix) {
        std::printf("screenshot skipped: not running under Wine\n");
        return;
    }
    CreateDirectoryW(run.ScreenshotDir.c_str(), nullptr);
    const std::wstring path = run.ScreenshotDir + L"\\" + name + L"-" + run.Label + L".png";
    DeleteFileW(path.c_str());
    char* unixPath = toUnix(path.c_str());
    if (!unixPath) return;
    const std::string unixName(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    // import is a Linux program, started from its path on the Z: drive. Wine signals its handle
    // at once, so the picture is taken when the file has appeared and stopped growing.
    std::wstring command = L"Z:\\usr\\bin\\import -window root \"" +
                           std::wstring(unixName.begin(), unixName.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("screenshot failed: cannot start import (error %lu)\n", GetLastError());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LONGLONG lastSize = -1;
    for (int tries = 0; tries < 300; ++tries) {
        Sleep(100);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) continue;
        const LONGLONG size = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size > 0 && size == lastSize) break;
        lastSize = size;
    }
    const bool saved = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    Expect(saved, "screenshot " + Narrow(name) + " written");
    if (saved) std::printf("screenshot: %s\n", unixName.c_str());
}

void Click(HWND dlg, int id) {
    SendMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// Replaces an editor's text as typing does (with a change notification).
void Type(HWND dlg, int id, const wchar_t* text) {
    HWND edit = GetDlgItem(dlg, id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

std::pair<DWORD, DWORD> Selection(HWND dlg, int id) {
    DWORD start = 0;
    DWORD end = 0;
    SendDlgItemMessageW(dlg, id, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

// The combo box notifies its parent as typing and picking would.
void Notify(HWND dlg, int id, int code) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    auto& text = *reinterpret_cast<std::wstring*>(found);
    if (lstrcmpiW(name, L"Static") == 0 && WindowText(child).size() > text.size())
        text = WindowText(child);
    return TRUE;
}

// A click whose command asks a question: posted, so that this thread can answer the box.
std::wstring AnswerQuestion(HWND dlg, int id, int answer) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    HWND box = WaitForWindow(L"Gleanery");
    Expect(box != nullptr, "question box shown");
    if (!box) return {};
    Expect(GetWindow(box, GW_OWNER) == dlg, "question box owned by the dialog");
    std::wstring text;
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
    PostMessageW(box, WM_COMMAND, answer, 0);
    for (int tries = 0; tries < 200 && IsWindow(box); ++tries) Sleep(50);
    Sleep(100); // the command finishes after the box has gone
    return text;
}

void TestPanelSession(const Run& run, HWND dlg) {
    Type(dlg, kRegexEdit, L"(\\w+)@(\\w+)");
    Click(dlg, kTestToggle);
    Expect(ItemText(dlg, kReplaceEdit).size() == 214, "the sample text in test mode");
    Expect(ItemText(dlg, kReplaceLabel) == L"Test String", "label in test mode");
    Expect(ItemText(dlg, kTestToggle) == L"<", "1031 in test mode");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kPresetsList)), "presets locked in test mode");

    Type(dlg, kReplaceEdit, L"mail a@b and c@d now");
    Click(dlg, kTestStart);
    Expect(ItemText(dlg, kTestStart) == L"Stop", "Start turns into Stop");
    Expect(ItemText(dlg, kTestToggle) == L"Prev", "1031 turns into Prev");
    Expect(ItemText(dlg, kReplaceLabel) == L"Group 0 (entire pattern)", "group line");
    Expect(Selection(dlg, kReplaceEdit) == std::pair<DWORD, DWORD>(5, 8), "first match selected");
    Expect((GetWindowLongW(GetDlgItem(dlg, kReplaceEdit), GWL_STYLE) & ES_READONLY) != 0,
           "test string read-only while running");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kCaseSensitive)), "options locked while running");
    Click(dlg, kSubgroupUp);
    Expect(ItemText(dlg, kReplaceLabel) == L"Group 1", "group line of subgroup 1");
    Click(dlg, kTestNext);
    Expect(Selection(dlg, kReplaceEdit) == std::pair<DWORD, DWORD>(13, 14),
           "subgroup 1 of the second match selected");
    SetFocus(GetDlgItem(dlg, kReplaceEdit));
    Sleep(300);
    Screenshot(run, L"test-panel-running");

    Click(dlg, kTestStart); // Stop
    Expect(ItemText(dlg, kTestStart) == L"Start", "Stop turns back into Start");
    Expect(IsWindowEnabled(GetDlgItem(dlg, kCaseSensitive)) != FALSE, "options unlocked");
    Click(dlg, kTestToggle);
    Expect(ItemText(dlg, kReplaceEdit) == L"$0", "replace string back after test mode");
    Expect(ItemText(dlg, kReplaceLabel) == L"Replace String", "label back");
}

void PresetsSession(HWND dlg) {
    HWND list = GetDlgItem(dlg, kPresetsList);
    SetWindowTextW(list, L"ui preset");
    Notify(dlg, kPresetsList, CBN_EDITCHANGE);
    Expect(IsWindowEnabled(GetDlgItem(dlg, kPresetAdd)) != FALSE, "Add enabled by a name");
    Click(dlg, kPresetAdd);
    Expect(SendMessageW(list, CB_GETCOUNT, 0, 0) == 1, "preset listed after Add");

    Type(dlg, kRegexEdit, L"x+");
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    Notify(dlg, kPresetsList, CBN_SELCHANGE);
    Expect(ItemText(dlg, kPresetAdd) == L"Save", "third button shows Save");
    Click(dlg, kPresetLoad);
    Expect(ItemText(dlg, kRegexEdit) == L"(\\w+)@(\\w+)", "Load puts the preset back");
    Expect(ItemText(dlg, kStatusLine) == L"OK!", "status after Load");

    const std::wstring question = AnswerQuestion(dlg, kPresetDelete, IDYES);
    Expect(question == L"Delete\r\n\"ui preset\" ?", "delete question: " + Narrow(question));
    Expect(SendMessageW(list, CB_GETCOUNT, 0, 0) == 0, "preset gone after Del");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kPresetDelete)), "Del disabled after Del");
}

void HelpSession(const Run& run, HWND dlg) {
    RECT collapsed{};
    GetWindowRect(dlg, &collapsed);
    Click(dlg, kRegexHelp);
    RECT wide{};
    GetWindowRect(dlg, &wide);
    RECT pane{};
    GetWindowRect(GetDlgItem(dlg, kHelpPane), &pane);
    Expect(wide.right > pane.right && wide.left == collapsed.left, "widened over the help pane");
    Expect(IsWindowEnabled(GetDlgItem(dlg, kHelpPane)) != FALSE, "help pane enabled");
    Expect(ItemText(dlg, kHelpPane).rfind(L"QUOTING\r\n", 0) == 0, "expression help shown");
    Expect(ItemText(dlg, kRegexHelp) == L"RegEx Help<", "1042 caption when open");
    Sleep(300);
    Screenshot(run, L"help-expression");

    Click(dlg, kReplaceHelp);
    RECT same{};
    GetWindowRect(dlg, &same);
    Expect(same.right == wide.right, "the width stays when switching");
    Expect(ItemText(dlg, kHelpPane).rfind(L"SUBGROUPS\r\r\n", 0) == 0, "replacement help shown");
    Expect(ItemText(dlg, kHelpPane).size() == 3089, "replacement help length");
    Expect(ItemText(dlg, kRegexHelp) == L"RegEx Help>" &&
               ItemText(dlg, kReplaceHelp) == L"Replace Help<",
           "captions swapped");
    Click(dlg, kReplaceHelp);
    RECT back{};
    GetWindowRect(dlg, &back);
    Expect(back.right == collapsed.right, "collapsed again");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kHelpPane)), "help pane disabled again");
}

DWORD WINAPI WorkDialog(void* parameter) {
    const Run& run = *static_cast<const Run*>(parameter);
    HWND dlg = WaitForWindow(L"Gleanery Settings");
    Expect(dlg != nullptr, "dialog window found");
    if (!dlg) return 1;
    TestPanelSession(run, dlg);
    PresetsSession(dlg);
    HelpSession(run, dlg);
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
        std::printf("usage: dialog_panels_ui_test <plug-in> <screenshot directory>\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    // The plug-in in a fresh directory of its own, where it keeps its settings file.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir =
        std::wstring(temp) + L"gleanery_panels_ui_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring source = argv[1];
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
    auto configure = Export<ConfigurePackerProc>(module, "ConfigurePacker");
    auto defaults = Export<PackSetDefaultParamsProc>(module, "PackSetDefaultParams");
    Expect(module && configure && defaults, "plug-in and exports found");
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
    hostClass.lpszClassName = L"GleaneryPanelsTestHost";
    RegisterClassW(&hostClass);
    run.Host = CreateWindowW(L"GleaneryPanelsTestHost", L"Host", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                             200, nullptr, nullptr, hostClass.hInstance, nullptr);

    HANDLE worker = CreateThread(nullptr, 0, WorkDialog, &run, 0, nullptr);
    configure(run.Host, module);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);

    // The deleted preset never reached the file; the test string and options did.
    const std::string ini = ReadFile(dir + L"\\Gleanery.ini");
    Expect(ini.find("ui preset") == std::string::npos, "deleted preset not written");
    Expect(ini.find("teststring=mail a@b and c@d now\r\n") != std::string::npos,
           "test string stored by OK");
    Expect(ini.find("regex=(\\w+)@(\\w+)\r\n") != std::string::npos, "loaded expression stored");

    DestroyWindow(run.Host);
    FreeLibrary(module);
    DeleteFileW((dir + L"\\Gleanery.ini").c_str());
    DeleteFileW(plugin.c_str());
    RemoveDirectoryW(dir.c_str());
    std::printf(g_failures ? "%d check(s) failed\n" : "all checks passed\n", g_failures);
    return g_failures ? 1 : 0;
}
