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

namespace {

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Whether `text` begins with `prefix`, ASCII letters in either case.
bool StartsWithIgnoringCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

} // namespace

const Settings* FindPreset(const PresetStore& store, const std::string& name, std::string& error) {
    const std::u16string wanted = ToUtf16(name);
    if (const auto it = store.find(wanted); it != store.end()) return &it->second;
    std::vector<PresetStore::const_iterator> candidates;
    for (auto it = store.begin(); it != store.end(); ++it) {
        if (it->first.size() == wanted.size() && StartsWithIgnoringCase(it->first, wanted))
            return &it->second;
        if (StartsWithIgnoringCase(it->first, wanted)) candidates.push_back(it);
    }
    if (candidates.size() == 1) return &candidates.front()->second;
    if (candidates.empty()) {
        error = "no preset named '" + name + "' (see: gleanery presets)";
    } else {
        error = "'" + name + "' begins the names of several presets:";
        for (const auto& it : candidates) error += "\n  " + ToUtf8(it->first);
    }
    return nullptr;
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
    SettingsSession session{current,         store,        changes,         *document,
                            pluginDirectory, iniDirectory, usableCodePages, !config.privateCopy};

    TextBoxFont font;
    bool lastAvailable = true;
    if (!LoadSettingsAndPresets(session, &lastAvailable, &font)) {
        error = "the settings file in " + config.dir.string() + " is present but not readable";
        return false;
    }
    if (presets) *presets = store;
    if (preset) {
        const Settings* found = FindPreset(store, *preset, error);
        if (!found) return false;
        current = *found;
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
