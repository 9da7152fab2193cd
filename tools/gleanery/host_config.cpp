#include "host_config.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include "platform/system.h"
#include "settings/code_pages.h"
#include "settings/process_state.h"
#include "settings/settings_file.h"
#include "terminal.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

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
    config.hostIni = config.dir / "gleanery-host.ini";
    config.pluginIni = config.dir / "wcxplugins.ini";
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

bool CopyConfig(const fs::path& dir, fs::path& copy, std::string& error) {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 16; ++attempt) {
        copy = fs::temp_directory_path(ec) / ("gleanery-run-" + std::to_string(random()));
        if (fs::create_directory(copy, ec)) {
            fs::copy(dir, copy, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
                     ec);
            if (!ec) return true;
            error = "cannot copy " + dir.string() + ": " + ec.message();
            fs::remove_all(copy, ec);
            return false;
        }
    }
    error = "cannot create a temporary directory";
    return false;
}

bool EditSettings(const HostConfig& config, const fs::path& pluginDir,
                  const std::optional<std::string>& preset,
                  const std::vector<std::function<void(Settings&)>>& edits, bool save,
                  Settings& settings, PresetStore* presets, std::string& error) {
    ProcessState& state = State();
    state.PluginDirectory = DirWithSeparator(pluginDir);
    state.IniDirectory = DirWithSeparator(config.dir);
    state.UsableCodePages = ProbeUsableCodePages();
    state.CurrentSettings = Settings();

    TextBoxFont font;
    bool lastAvailable = true;
    if (!LoadSettingsAndPresets(&lastAvailable, &font)) {
        DiscardSettingsAndPresets();
        error = "the settings file in " + config.dir.string() + " is present but not readable";
        return false;
    }
    if (presets) *presets = state.Presets;
    if (preset) {
        const auto it = state.Presets.find(ToUtf16(*preset));
        if (it == state.Presets.end()) {
            DiscardSettingsAndPresets();
            error = "no preset named '" + *preset + "' (see: gleanery presets)";
            return false;
        }
        state.CurrentSettings = it->second;
    }
    for (const auto& edit : edits) edit(state.CurrentSettings);
    settings = state.CurrentSettings;

    bool ok = true;
    if (save) {
        ok = SaveSettingsAndPresets(font.FaceName[0] ? &font : nullptr);
        if (!ok) error = "could not save the settings to " + config.dir.string();
    }
    DiscardSettingsAndPresets();
    return ok;
}

} // namespace gleanery::cli
