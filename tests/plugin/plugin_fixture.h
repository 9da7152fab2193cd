// Drives a private copy of the built plug-in library through its exports, as a file manager
// does, inside a temporary directory: plug-in directory, host config and work files.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/wcx.h"
#include "support/temp_dir.h"

namespace gleanery::test {

namespace fs = std::filesystem;

struct PluginLibrary {
    void* handle = nullptr;
    int(WCX_CALL* GetPackerCaps)() = nullptr;
    int(WCX_CALL* GetBackgroundFlags)() = nullptr;
    int(WCX_CALL* PackFilesW)(char16_t*, char16_t*, char16_t*, char16_t*, int) = nullptr;
    int(WCX_CALL* PackFiles)(char*, char*, char*, char*, int) = nullptr;
    void*(WCX_CALL* OpenArchive)(wcx::OpenArchiveData*) = nullptr;
    void*(WCX_CALL* OpenArchiveW)(wcx::OpenArchiveDataW*) = nullptr;
    int(WCX_CALL* ReadHeader)(void*, void*) = nullptr;
    int(WCX_CALL* ReadHeaderEx)(void*, void*) = nullptr;
    int(WCX_CALL* ReadHeaderExW)(void*, void*) = nullptr;
    int(WCX_CALL* ProcessFile)(void*, int, char*, char*) = nullptr;
    int(WCX_CALL* ProcessFileW)(void*, int, char16_t*, char16_t*) = nullptr;
    int(WCX_CALL* CloseArchive)(void*) = nullptr;
    void(WCX_CALL* SetProcessDataProc)(void*, void*) = nullptr;
    void(WCX_CALL* SetProcessDataProcW)(void*, ProcessDataProc) = nullptr;
    void(WCX_CALL* PackSetDefaultParams)(wcx::PackDefaultParamStruct*) = nullptr;
    void(WCX_CALL* ExtensionInitialize)(void*) = nullptr;
    void(WCX_CALL* ConfigurePacker)(void*, void*) = nullptr;
    int(WCX_CALL* GleaneryJobNotesW)(char16_t*, int) = nullptr;
    int(WCX_CALL* GleaneryPackFilesStreamW)(char16_t*, char16_t*, wcx::GleaneryMoreNamesProc,
                                            void*) = nullptr;
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& text);

// What the host saw of the plug-in, and how it answers.
struct HostLog {
    // Message boxes: each shown box as "caption|text|flags"; scripted answers, else the default.
    std::vector<std::string> boxes;
    std::deque<int> answers;
    // Progress calls: "name|size"; the callback answers 0 from call number `abortAtCall` on.
    std::vector<std::string> progress;
    int abortAtCall = 0;
};

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the private copy: sets COMMANDER_INI, calls PackSetDefaultParams and
    // ExtensionInitialize (message boxes come to this fixture), installs the progress callback.
    void Load();
    void Unload();

    // Writes the plug-in's settings file with `lastSection` as the body of [gleanery_last]
    // (with replace=$0 unless it sets `replace`).
    void WriteLastSettings(const std::string& lastSection);

    // Packs `files` (names relative to `work`, directories end with '/') into `archive`.
    int Pack(const fs::path& archive, const std::vector<std::string>& files);
    // The same through GleaneryPackFilesStreamW, the names handed over in runs of 1, 2 and 3, as
    // a host hands them over while it is still finding them.
    int PackInRuns(const fs::path& archive, const std::vector<std::string>& files);

    TempDir temp{"gleanery-plugin"};
    const fs::path& root = temp.path; // everything of this test
    fs::path pluginDir;               // the private copy of the plug-in and its settings
    fs::path configDir;               // the host's ini files
    fs::path work;                    // input files
    fs::path hostIni;                 // COMMANDER_INI
    fs::path pluginIni;               // DefaultIniName
    PluginLibrary lib;
    bool callExtensionInitialize = true;
    // Double Commander's DialogBoxLFM and SendDlgMsg for the extension record; none by default.
    void* hostDialogBoxLfm = nullptr;
    void* hostSendDlgMsg = nullptr;
    HostLog host;
};

} // namespace gleanery::test
