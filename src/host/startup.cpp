#include "host/startup.h"

#include <SimpleIni.h>
#include <cstring>

#include "host/process_state.h"
#include "platform/char_tables.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/texts.h"

namespace gleanery {

namespace {

constexpr size_t kEnvironmentBuffer = 1024; // UTF-16 characters, terminator included

bool IsFile(const std::u16string& path) {
    return platform::KindOf(path) == platform::PathKind::File;
}

// The host's language name from its main ini file ("" when it cannot be had).
std::u16string HostLanguage(const std::u16string& hostIni) {
    const int64_t size = platform::SizeOf(hostIni);
    if (size < 0) return {};
    platform::File file = platform::OpenForReading(hostIni);
    if (!file.IsOpen()) return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    size_t got = 0;
    if (!platform::Read(file, bytes.data(), bytes.size(), got) || got != bytes.size()) return {};
    platform::Close(file);

    CSimpleIniA ini(/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false);
    if (ini.LoadData(bytes.data(), bytes.size()) < 0) return {};
    const char* value = ini.GetValue("Configuration", "languageini", "");
    std::u16string wide;
    platform::AppendCodePageAsWide(State().System.AnsiCodePage, value ? value : "", wide);
    return LanguageNameFromFile(wide);
}

} // namespace

std::u16string DirectoryOf(const std::u16string& path) {
    const size_t sep = path.rfind(platform::PathSeparator());
    return sep == std::u16string::npos ? std::u16string() : path.substr(0, sep + 1);
}

void AttachLibrary() {
    CreateProcessState();
    State().PluginDirectory = DirectoryOf(platform::ModuleFilePath());
}

void DetachLibrary() {
    DestroyProcessState();
}

void PackSetDefaultParamsImpl(const wcx::PackDefaultParamStruct* params) {
    ProcessState& state = State();

    state.System.AnsiCodePage = platform::SystemAnsiCodePage();
    state.System.OemCodePage = platform::SystemOemCodePage();

    // The C runtime locale ends at ".ACP": OEM tables first, ANSI tables second.
    if (!state.System.OemTables) state.System.OemTables = platform::MakeCharTables(/*oem=*/true);
    if (!state.System.AnsiTables) state.System.AnsiTables = platform::MakeCharTables(/*oem=*/false);

    // Whether the settings live beside the host's own ini file. The host's record may lack a
    // terminating zero, so the name is bounded by the field.
    bool useHostIniDir = false;
    if (params) {
        const std::string iniName(params->DefaultIniName,
                                  strnlen(params->DefaultIniName, sizeof(params->DefaultIniName)));
        if (!iniName.empty()) {
            const int value = platform::ReadProfileInt(iniName, "gleanery", "UseTcIniDir", 2048);
            useHostIniDir = value == 1;
            if (value == 2048)
                platform::WriteProfileString(iniName, "gleanery", "UseTcIniDir", "0");
        }
    }

    EnterBuiltInTexts(InterfaceTexts());

    std::u16string commanderIni;
    if (auto value = platform::Environment(u"COMMANDER_INI");
        value && value->size() < kEnvironmentBuffer)
        commanderIni = *value;
    const std::u16string languageFile = state.PluginDirectory + u"Gleanery.lng";

    if (!commanderIni.empty() && IsFile(languageFile) && IsFile(commanderIni)) {
        const std::u16string language = HostLanguage(commanderIni);
        if (!language.empty()) ApplyLanguageFile(InterfaceTexts(), language, languageFile);
    }

    state.IniDirectory.clear();
    if (useHostIniDir) state.IniDirectory = DirectoryOf(commanderIni);
    // The usable code pages are probed when the dialog first lists them; until then the settings
    // file's code pages are probed one by one as it names them.
}

} // namespace gleanery
