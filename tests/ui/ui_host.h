// The host side of the dialog's UI tests: a program that loads a private copy of the built
// plug-in as the file manager does, hands it its default parameters and opens the settings
// dialog through ConfigurePacker from a window of its own, while a second thread works the
// dialog through Win32 calls. Checks count failures instead of stopping; screenshots are taken
// with ImageMagick's import, a Linux program started through Wine.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace gleanery::ui_test {

inline int g_failures = 0;

inline void Expect(bool ok, const std::string& what) {
    if (ok) return;
    ++g_failures;
    std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
}

inline std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

inline std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

inline std::wstring ItemText(HWND dlg, int id) {
    return WindowText(GetDlgItem(dlg, id));
}

template <typename F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct Run {
    HWND Host = nullptr;
    std::wstring ScreenshotDir;
    std::wstring Label;                        // the plug-in's extension: "wcx64" or "wcx"
    std::wstring Title = L"Gleanery Settings"; // the dialog's caption, to find it by
    std::wstring Directory;                    // where the copy of the plug-in lies
    std::wstring HostIni;                      // the host's ini file named to the plug-in
    std::vector<std::wstring> Arguments;       // the command line after the screenshot directory
    // Hands the plug-in its default parameters again, as each start of the file manager does (the
    // language is chosen then), and opens the dialog once more with a worker; returns when the
    // dialog has closed.
    std::function<void(DWORD(WINAPI*)(void*))> Reopen;
};

namespace detail {

struct WindowQuery {
    const wchar_t* Title;
    HWND Found = nullptr;
};

// Dialog-class windows of this process only: tests running side by side under one display
// each open a dialog with the same title.
inline BOOL CALLBACK MatchOwnDialog(HWND window, LPARAM parameter) {
    auto& query = *reinterpret_cast<WindowQuery*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (pid != GetCurrentProcessId() || lstrcmpW(name, L"#32770") != 0 ||
        !IsWindowVisible(window) || WindowText(window) != query.Title)
        return TRUE;
    query.Found = window;
    return FALSE;
}

} // namespace detail

// A visible dialog-class window of this process with this title, or null.
inline HWND FindOwnWindow(const wchar_t* title) {
    detail::WindowQuery query{title};
    EnumWindows(detail::MatchOwnDialog, reinterpret_cast<LPARAM>(&query));
    return query.Found;
}

// The same, waited for.
inline HWND WaitForWindow(const wchar_t* title) {
    for (int tries = 0; tries < 1200; ++tries) { // a first Wine start can be slow
        if (HWND found = FindOwnWindow(title)) return found;
        Sleep(50);
    }
    return nullptr;
}

// A picture of the screen as <screenshot directory>\<name>-<label>.png; its path is printed.
inline void Screenshot(const Run& run, const std::wstring& name) {
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

inline void Click(HWND dlg, int id) {
    SendMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// Replaces an editor's text as typing does (with a change notification).
inline void Type(HWND dlg, int id, const wchar_t* text) {
    HWND edit = GetDlgItem(dlg, id);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

inline std::pair<DWORD, DWORD> Selection(HWND dlg, int id) {
    DWORD start = 0;
    DWORD end = 0;
    SendDlgItemMessageW(dlg, id, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace detail {

struct PackDefaultParams {
    int size;
    DWORD PluginInterfaceVersionLow;
    DWORD PluginInterfaceVersionHi;
    char DefaultIniName[MAX_PATH];
};

using ConfigurePackerProc = void(WINAPI*)(HWND, HINSTANCE);
using PackSetDefaultParamsProc = void(WINAPI*)(PackDefaultParams*);

inline LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Worker {
    DWORD(WINAPI* Work)(void*);
    Run* Context;
};

// Runs the test's worker; should it stop with the dialog still open (a check failed on the
// way), the dialog is cancelled, so that the modal ConfigurePacker call returns.
inline DWORD WINAPI GuardedWork(void* parameter) {
    const Worker& worker = *static_cast<const Worker*>(parameter);
    const DWORD result = worker.Work(worker.Context);
    for (int tries = 0; tries < 100; ++tries) {
        HWND left = FindOwnWindow(worker.Context->Title.c_str());
        if (!left) return result;
        if (tries == 50) {
            Expect(false, "the dialog was left open by the test");
            PostMessageW(left, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        Sleep(100);
    }
    return result;
}

} // namespace detail

// The whole program: `program <plug-in> <screenshot directory> [arguments]`. Copies the plug-in
// into a fresh directory (where it keeps its settings file), opens its dialog from a host window
// with `worker` working it, then hands the settings file the dialog left to `check`, and then the
// run to `more`, which may open the dialog again. Returns the exit code.
inline int RunHostedDialog(int argc, wchar_t** argv, const char* program,
                           DWORD(WINAPI* worker)(void*),
                           void (*check)(const std::string& settingsFile),
                           void (*more)(Run& run) = nullptr) {
    if (argc < 3) {
        std::printf("usage: %s <plug-in> <screenshot directory> [arguments]\n", program);
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"gleanery_" +
                             std::wstring(program, program + std::strlen(program)) + L"_" +
                             std::to_wstring(GetCurrentProcessId());
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
    run.Directory = dir;
    run.Arguments.assign(argv + 3, argv + argc);

    HMODULE module = LoadLibraryW(plugin.c_str());
    if (!module) {
        std::printf("cannot load %s\n", Narrow(plugin).c_str());
        return 1;
    }
    auto configure = Export<detail::ConfigurePackerProc>(module, "ConfigurePacker");
    auto defaults = Export<detail::PackSetDefaultParamsProc>(module, "PackSetDefaultParams");
    Expect(configure && defaults, "exports found");
    if (!configure || !defaults) return 1;
    detail::PackDefaultParams params{};
    params.size = sizeof params;
    params.PluginInterfaceVersionLow = 20;
    params.PluginInterfaceVersionHi = 2;
    run.HostIni = dir + L"\\wincmd.ini";
    std::strncpy(params.DefaultIniName, Narrow(run.HostIni).c_str(), MAX_PATH - 1);
    defaults(&params);

    WNDCLASSW hostClass{};
    hostClass.lpfnWndProc = detail::HostProc;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"GleaneryTestHost";
    RegisterClassW(&hostClass);
    run.Host = CreateWindowW(L"GleaneryTestHost", L"Host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                             nullptr, nullptr, hostClass.hInstance, nullptr);

    const auto open = [&](DWORD(WINAPI * work)(void*)) {
        detail::Worker guarded{work, &run};
        HANDLE thread = CreateThread(nullptr, 0, detail::GuardedWork, &guarded, 0, nullptr);
        configure(run.Host, module);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    };
    open(worker);

    const std::wstring settingsFile = dir + L"\\Gleanery.ini";
    check(ReadFile(settingsFile));
    if (more) {
        run.Reopen = [&](DWORD(WINAPI * work)(void*)) {
            defaults(&params);
            open(work);
        };
        more(run);
    }

    DestroyWindow(run.Host);
    FreeLibrary(module);
    DeleteFileW(settingsFile.c_str());
    DeleteFileW(run.HostIni.c_str());
    DeleteFileW(plugin.c_str());
    RemoveDirectoryW(dir.c_str());
    std::printf(g_failures ? "%d check(s) failed\n" : "all checks passed\n", g_failures);
    return g_failures ? 1 : 0;
}

} // namespace gleanery::ui_test
