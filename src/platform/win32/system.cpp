// System facts on Windows.
#include "platform/system.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <vector>

// windows.h maps this name to its own WriteProfileStringA/W; ours is the platform layer's.
#undef WriteProfileString

namespace gleanery::platform {

uint64_t AvailablePhysicalMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return status.ullAvailPhys;
}

namespace {

struct StackWork {
    void (*work)(void*);
    void* context;
};

DWORD WINAPI RunStackWork(void* argument) {
    const auto* stackWork = static_cast<const StackWork*>(argument);
    stackWork->work(stackWork->context);
    return 0;
}

} // namespace

bool RunOnLargeStack(size_t stackBytes, void (*work)(void*), void* context) {
    StackWork stackWork{work, context};
    HANDLE thread = CreateThread(nullptr, stackBytes, &RunStackWork, &stackWork,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}

uint32_t TickCount() {
    return GetTickCount();
}

std::optional<std::u16string> Environment(const std::u16string& name) {
    if (name.empty()) return std::nullopt;
    std::vector<wchar_t> buffer(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(win32::Wide(name), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            // Zero is also the length of a variable that is set but empty.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::u16string();
        }
        if (length < buffer.size()) return win32::FromWide(buffer.data(), length);
        buffer.resize(length); // the length needed, terminating zero included
    }
    return std::nullopt;
}

std::u16string ModuleFilePath() {
    // The module that holds this code: the plug-in library when the platform layer is linked into
    // it, the program itself in a test program.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleFilePath), &module))
        return std::u16string();
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= 65536) {
        const DWORD length =
            GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::u16string();
        // A name that filled the buffer may have been cut short.
        if (length < buffer.size()) return win32::FromWide(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
    return std::u16string();
}

char16_t PathSeparator() {
    return u'\\';
}

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int fallback) {
    return static_cast<int>(
        GetPrivateProfileIntA(section.c_str(), key.c_str(), fallback, file.c_str()));
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
           0;
}

// Large pages need a privilege that file-manager users do not hold; page faults are cheap enough.
void AdviseLargeBuffer(void*, size_t) {}

} // namespace gleanery::platform
