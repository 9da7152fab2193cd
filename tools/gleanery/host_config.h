// The host's configuration directory: the host's own ini file (COMMANDER_INI), the plug-in ini
// the host suggests (DefaultIniName) and, beside them, the plug-in's settings file.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/presets.h"
#include "settings/settings.h"

namespace gleanery::cli {

struct HostConfig {
    std::filesystem::path dir;
    std::filesystem::path hostIni;   // COMMANDER_INI
    std::filesystem::path pluginIni; // DefaultIniName, with UseTcIniDir=1
    // A run's private copy, gone with the run: its settings are saved without waiting for the
    // disk.
    bool privateCopy = false;
};

// Creates the directory and its two host files when missing.
bool PrepareConfig(const std::filesystem::path& dir, HostConfig& config, std::string& error);
// The default directory: $XDG_CONFIG_HOME/gleanery, else ~/.config/gleanery.
std::filesystem::path DefaultConfigDir();
// Copies into the directory `copy` the files of `dir` that the plug-in reads: its settings file,
// the host ini that COMMANDER_INI names and the ini the host suggests. Nothing else is copied
// and no directory is walked; a file that is a link is copied when it leads to a regular file
// (the plug-in would read it through the link), and skipped otherwise.
bool CopyConfig(const std::filesystem::path& dir, const std::filesystem::path& copy,
                std::string& error);

// The preset `name` names: by its whole name, else by the start of one name only, ASCII letters
// in either case. Null, with the reason (the candidates when several begin so), otherwise.
const Settings* FindPreset(const PresetStore& store, const std::string& name, std::string& error);

// Reads the settings file of `config` (seeded from the sample beside the plug-in on first use).
// With `preset` the settings of the preset it names (FindPreset) become the current ones; `edits`
// are applied; with `save` the result is stored as the last settings. `settings` receives the
// outcome, `presets` the stored presets. An `accept` that returns false (with its reason in
// `error`) stops the edit before anything is stored.
using SettingsCheck = std::function<bool(const Settings&, std::string& error)>;
bool EditSettings(const HostConfig& config, const std::filesystem::path& pluginDir,
                  const std::optional<std::string>& preset,
                  const std::vector<std::function<void(Settings&)>>& edits, bool save,
                  Settings& settings, PresetStore* presets, std::string& error,
                  const SettingsCheck& accept = nullptr);

} // namespace gleanery::cli
