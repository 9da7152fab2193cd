// Loading a WCX plug-in library and resolving its exports, as a file manager does.
#pragma once

#include <string>

#include "host/wcx.h"

namespace gleanery::cli {

struct PluginExports {
    void* library = nullptr;
    int(WCX_CALL* GetPackerCaps)() = nullptr;
    int(WCX_CALL* PackFilesW)(char16_t*, char16_t*, char16_t*, char16_t*, int) = nullptr;
    void(WCX_CALL* SetProcessDataProcW)(void*, ProcessDataProc) = nullptr;
    void(WCX_CALL* PackSetDefaultParams)(wcx::PackDefaultParamStruct*) = nullptr;
    void(WCX_CALL* ExtensionInitialize)(void*) = nullptr;       // optional
    int(WCX_CALL* GleaneryJobNotesW)(char16_t*, int) = nullptr; // optional, Gleanery's own
    int(WCX_CALL* GleaneryPackFilesStreamW)(char16_t*, char16_t*, wcx::GleaneryMoreNamesProc,
                                            void*) = nullptr; // optional, Gleanery's own
};

// Loads the library at `path`; on failure returns false and says why in `error`.
bool LoadPlugin(const std::string& path, PluginExports& exports, std::string& error);
void UnloadPlugin(PluginExports& exports);
// The plug-in beside this program, or in ../lib/gleanery when only that one exists.
std::string DefaultPluginPath();

} // namespace gleanery::cli
