#include "plugin_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <utf8.h>

#include "host/dc_startup_record.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace gleanery::test {

namespace {

HostLog* g_host = nullptr;

template <typename F>
void Bind(void* handle, const char* name, F& target) {
#if defined(_WIN32)
    target = reinterpret_cast<F>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name)));
#else
    target = reinterpret_cast<F>(dlsym(handle, name));
#endif
}

int WCX_CALL FixtureMessageBox(char* text, char* caption, int32_t flags);
int WCX_CALL FixtureProgress(char16_t* name, int size);

} // namespace

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::u16string U16(const std::string& utf8) {
    std::u16string out;
    utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(out));
    return out;
}

std::string U8(const std::u16string& text) {
    std::string out;
    utf8::utf16to8(text.begin(), text.end(), std::back_inserter(out));
    return out;
}

void PluginTest::SetUp() {
    pluginDir = root / "plugin";
    configDir = root / "config";
    work = root / "work";
    fs::create_directories(pluginDir);
    fs::create_directories(configDir);
    fs::create_directories(work);
    hostIni = configDir / "host.ini";
    pluginIni = configDir / "wcxplugins.ini";
    WriteFile(hostIni, "[Configuration]\r\n");
    // A private copy of the library: its process-wide state is this test's alone.
    fs::copy_file(GLEANERY_PLUGIN_PATH, pluginDir / fs::path(GLEANERY_PLUGIN_PATH).filename());
    g_host = &host;
}

void PluginTest::TearDown() {
    Unload();
    g_host = nullptr;
}

void PluginTest::Load() {
#if defined(_WIN32)
    _wputenv_s(L"COMMANDER_INI", hostIni.wstring().c_str());
    lib.handle =
        LoadLibraryW((pluginDir / fs::path(GLEANERY_PLUGIN_PATH).filename()).wstring().c_str());
#else
    setenv("COMMANDER_INI", hostIni.string().c_str(), 1);
    lib.handle = dlopen((pluginDir / fs::path(GLEANERY_PLUGIN_PATH).filename()).c_str(),
                        RTLD_NOW | RTLD_LOCAL);
#endif
    ASSERT_NE(lib.handle, nullptr);
    Bind(lib.handle, "GetPackerCaps", lib.GetPackerCaps);
    Bind(lib.handle, "GetBackgroundFlags", lib.GetBackgroundFlags);
    Bind(lib.handle, "PackFilesW", lib.PackFilesW);
    Bind(lib.handle, "PackFiles", lib.PackFiles);
    Bind(lib.handle, "OpenArchive", lib.OpenArchive);
    Bind(lib.handle, "OpenArchiveW", lib.OpenArchiveW);
    Bind(lib.handle, "ReadHeader", lib.ReadHeader);
    Bind(lib.handle, "ReadHeaderEx", lib.ReadHeaderEx);
    Bind(lib.handle, "ReadHeaderExW", lib.ReadHeaderExW);
    Bind(lib.handle, "ProcessFile", lib.ProcessFile);
    Bind(lib.handle, "ProcessFileW", lib.ProcessFileW);
    Bind(lib.handle, "CloseArchive", lib.CloseArchive);
    Bind(lib.handle, "SetProcessDataProc", lib.SetProcessDataProc);
    Bind(lib.handle, "SetProcessDataProcW", lib.SetProcessDataProcW);
    Bind(lib.handle, "PackSetDefaultParams", lib.PackSetDefaultParams);
    Bind(lib.handle, "ExtensionInitialize", lib.ExtensionInitialize);
    Bind(lib.handle, "ConfigurePacker", lib.ConfigurePacker);
    Bind(lib.handle, "GleaneryJobNotesW", lib.GleaneryJobNotesW);
    Bind(lib.handle, "GleaneryPackFilesStreamW", lib.GleaneryPackFilesStreamW);
    ASSERT_NE(lib.PackFilesW, nullptr);
    ASSERT_NE(lib.PackSetDefaultParams, nullptr);

    wcx::PackDefaultParamStruct params{};
    params.size = sizeof params;
    // The host may fill the whole name field without a terminating zero; the plug-in copes.
    const std::string iniName = pluginIni.string();
    std::memcpy(params.DefaultIniName, iniName.data(),
                std::min(iniName.size(), sizeof params.DefaultIniName));
    lib.PackSetDefaultParams(&params);
    if (callExtensionInitialize && lib.ExtensionInitialize) {
        wcx::DcStartupFields fields;
        fields.HostMessageBox = FixtureMessageBox;
        fields.DialogBoxLfm = hostDialogBoxLfm;
        fields.SendDlgMsg = hostSendDlgMsg;
        std::vector<unsigned char> record = wcx::DcStartupRecord(fields);
        lib.ExtensionInitialize(record.data());
    }
    lib.SetProcessDataProcW(nullptr, FixtureProgress);
}

void PluginTest::Unload() {
    if (!lib.handle) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(lib.handle));
#else
    dlclose(lib.handle);
#endif
    lib = PluginLibrary{};
}

void PluginTest::WriteLastSettings(const std::string& lastSection) {
    // A stored section without `replace` means an empty template; tests want the whole match.
    const std::string replace =
        lastSection.find("replace=") == std::string::npos ? "replace=$0\r\n" : "";
    WriteFile(pluginDir / "Gleanery.ini", "[gleanery_last]\r\n" + replace + lastSection);
}

int PluginTest::Pack(const fs::path& archive, const std::vector<std::string>& files) {
    std::u16string source = work.u16string();
    source.push_back(static_cast<char16_t>(fs::path::preferred_separator));
    std::u16string addList;
    for (const std::string& f : files) {
        addList += U16(f);
        addList.push_back(u'\0');
    }
    addList.push_back(u'\0');
    std::u16string archiveText = archive.u16string();
    return lib.PackFilesW(archiveText.data(), nullptr, source.data(), addList.data(), 0);
}

namespace {

struct HandedRuns {
    std::vector<std::u16string> runs;
    size_t next = 0;
};

const char16_t* WCX_CALL NextRun(void* data) {
    HandedRuns& handed = *static_cast<HandedRuns*>(data);
    return handed.next < handed.runs.size() ? handed.runs[handed.next++].c_str() : u"";
}

} // namespace

int PluginTest::PackInRuns(const fs::path& archive, const std::vector<std::string>& files) {
    if (lib.GleaneryPackFilesStreamW == nullptr) return -1;
    std::u16string source = work.u16string();
    source.push_back(static_cast<char16_t>(fs::path::preferred_separator));
    HandedRuns handed;
    for (size_t at = 0; at < files.size();) {
        std::u16string run;
        for (const size_t end = std::min(files.size(), at + handed.runs.size() % 3 + 1); at < end;
             ++at)
            run += U16(files[at]) + u'\0';
        handed.runs.push_back(run + u'\0');
    }
    std::u16string archiveText = archive.u16string();
    return lib.GleaneryPackFilesStreamW(archiveText.data(), source.data(), &NextRun, &handed);
}

namespace {

int WCX_CALL FixtureMessageBox(char* text, char* caption, int32_t flags) {
    g_host->boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(flags));
    if (g_host->answers.empty()) return (flags & 0x100) ? 7 : ((flags & 0xF) == 0 ? 1 : 6);
    const int answer = g_host->answers.front();
    g_host->answers.pop_front();
    return answer;
}

int WCX_CALL FixtureProgress(char16_t* name, int size) {
    g_host->progress.push_back(U8(name) + "|" + std::to_string(size));
    return g_host->abortAtCall > 0 &&
                   static_cast<int>(g_host->progress.size()) >= g_host->abortAtCall
               ? 0
               : 1;
}

} // namespace

} // namespace gleanery::test
