#include "host_config.h"

#include <cstdlib>
#include <fstream>

#include "platform/system.h"
#include "settings/settings_document.h"
#include "settings/settings_file.h"
#include "terminal.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

constexpr const char* kSettingsFileName = "Gleanery.ini";
constexpr const char* kHostIniName = "gleanery-host.ini";
constexpr const char* kPluginIniName = "wcxplugins.ini";

std::u16string DirWithSeparator(const fs::path& dir) {
    std::u16string text = dir.u16string();
    if (text.empty() || text.back() != platform::PathSeparator())
        text.push_back(platform::PathSeparator());
    return text;
}

} // namespace

fs::path DefaultConfigDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return fs::path(xdg) / "gleanery";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".config" / "gleanery";
    if (const char* appData = std::getenv("APPDATA"); appData && *appData)
        return fs::path(appData) / "gleanery";
    return fs::current_path() / ".gleanery";
}

bool PrepareConfig(const fs::path& dir, HostConfig& config, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
        error = "cannot create the settings directory " + dir.string();
        return false;
    }
    config.dir = fs::absolute(dir);
    config.hostIni = config.dir / kHostIniName;
    config.pluginIni = config.dir / kPluginIniName;
    if (!fs::exists(config.hostIni)) {
        // The host's own ini: a [Configuration] languageini=NAME_XXX.LNG line selects the
        // language section XXX of Gleanery.lng beside the plug-in.
        std::ofstream(config.hostIni, std::ios::binary) << "[Configuration]\r\n";
    }
    if (platform::ReadProfileInt(config.pluginIni.string(), "gleanery", "UseTcIniDir", 0) != 1 &&
        !platform::WriteProfileString(config.pluginIni.string(), "gleanery", "UseTcIniDir", "1")) {
        error = "cannot write " + config.pluginIni.string();
        return false;
    }
    return true;
}

bool CopyConfig(const fs::path& dir, const fs::path& copy, std::string& error) {
    for (const char* name : {kSettingsFileName, kHostIniName, kPluginIniName}) {
        std::error_code ec;
        if (!fs::is_regular_file(dir / name, ec)) continue;
        if (!fs::copy_file(dir / name, copy / name, ec)) {
            error = "cannot copy " + (dir / name).string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

bool EditSettings(const HostConfig& config, const fs::path& pluginDir,
                  const std::optional<std::string>& preset,
                  const std::vector<std::function<void(Settings&)>>& edits, bool save,
                  Settings& settings, PresetStore* presets, std::string& error,
                  const SettingsCheck& accept) {
    // The host's own records for one load-save cycle, as the plug-in keeps them for its dialog.
    Settings current;
    PresetStore store;
    ChangeRecords changes;
    const SettingsDocumentPtr document = NewSettingsDocument();
    const std::u16string pluginDirectory = DirWithSeparator(pluginDir);
    const std::u16string iniDirectory = DirWithSeparator(config.dir);
    // Not probed: the settings file's code pages are probed one by one as it names them.
    const std::vector<uint32_t> usableCodePages;
    SettingsSession session{current,         store,        changes,        *document,
                            pluginDirectory, iniDirectory, usableCodePages};

    TextBoxFont font;
    bool lastAvailable = true;
    if (!LoadSettingsAndPresets(session, &lastAvailable, &font)) {
        error = "the settings file in " + config.dir.string() + " is present but not readable";
        return false;
    }
    if (presets) *presets = store;
    if (preset) {
        const auto it = store.find(ToUtf16(*preset));
        if (it == store.end()) {
            error = "no preset named '" + *preset + "' (see: gleanery presets)";
            return false;
        }
        current = it->second;
    }
    for (const auto& edit : edits) edit(current);
    settings = current;

    bool ok = !accept || accept(settings, error);
    if (ok && save) {
        ok = SaveSettingsAndPresets(session, font.FaceName[0] ? &font : nullptr);
        if (!ok) error = "could not save the settings to " + config.dir.string();
    }
    return ok;
}

} // namespace gleanery::cli
