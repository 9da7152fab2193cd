#include "plugin_library.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace gleanery::cli {

namespace {

std::filesystem::path ProgramDirectory() {
#if defined(_WIN32)
    wchar_t buffer[4096];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 4096);
    return std::filesystem::path(std::wstring(buffer, n)).parent_path();
#else
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
#endif
}

enum class Export { Required, Optional };

template <typename F>
bool Resolve(void* library, const char* name, F& target, std::string& error, Export kind) {
#if defined(_WIN32)
    void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    void* symbol = dlsym(library, name);
#endif
    target = reinterpret_cast<F>(symbol);
    if (!symbol && kind == Export::Required) {
        error = std::string("the library does not export ") + name;
        return false;
    }
    return true;
}

} // namespace

std::string DefaultPluginPath() {
#if defined(_WIN32)
    const char* name = sizeof(void*) == 8 ? "Gleanery.wcx64" : "Gleanery.wcx";
#else
    const char* name = "Gleanery.so";
#endif
    const std::filesystem::path beside = ProgramDirectory() / name;
    // An installed host lives in PREFIX/bin and its plug-in in PREFIX/lib/gleanery.
    const std::filesystem::path installed = ProgramDirectory() / ".." / "lib" / "gleanery" / name;
    std::error_code ec;
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
        return installed.lexically_normal().string();
    return beside.string();
}

bool LoadPlugin(const std::string& path, PluginExports& exports, std::string& error) {
#if defined(_WIN32)
    HMODULE library = LoadLibraryW(std::filesystem::path(path).wstring().c_str());
    if (!library) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
#else
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return false;
    }
#endif
    exports.library = library;
    return Resolve(library, "GetPackerCaps", exports.GetPackerCaps, error, Export::Required) &&
           Resolve(library, "PackFilesW", exports.PackFilesW, error, Export::Required) &&
           Resolve(library, "SetProcessDataProcW", exports.SetProcessDataProcW, error,
                   Export::Required) &&
           Resolve(library, "PackSetDefaultParams", exports.PackSetDefaultParams, error,
                   Export::Required) &&
           Resolve(library, "ExtensionInitialize", exports.ExtensionInitialize, error,
                   Export::Optional) &&
           Resolve(library, "GleaneryJobNotesW", exports.GleaneryJobNotesW, error,
                   Export::Optional) &&
           Resolve(library, "GleaneryPackFilesStreamW", exports.GleaneryPackFilesStreamW, error,
                   Export::Optional);
}

void UnloadPlugin(PluginExports& exports) {
    if (!exports.library) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(exports.library));
#else
    dlclose(exports.library);
#endif
    exports.library = nullptr;
}

} // namespace gleanery::cli
