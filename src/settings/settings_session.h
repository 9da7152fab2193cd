// The records one load-save cycle of the settings file works on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/presets.h"
#include "settings/settings.h"
#include "settings/settings_document.h"

namespace gleanery {

// What a load fills and a save writes back, handed to the settings-file functions by the code
// that owns the records (the plug-in's process state, the command-line host, a test). The session
// only refers to them; each function says which of them it changes.
struct SettingsSession {
    Settings& Current; // the last settings
    PresetStore& Presets;
    ChangeRecords& Changes;
    SettingsDocument& Document; // the file as read, kept from a load to the save
    // Where the files are: the sample file is always beside the plug-in, the settings file too
    // unless the host's ini directory is used (then IniDirectory is not empty). Both end in a
    // separator.
    const std::u16string& PluginDirectory;
    const std::u16string& IniDirectory;
    // The code pages a stored code page may name besides the system's two (0 and 1); while none
    // have been probed (empty), each code page the file names is probed on its own.
    const std::vector<uint32_t>& UsableCodePages;
    // Whether a saved file is on the disk before its save counts as done. A host's private copy
    // of the settings for one run, which nothing reads after the run, need not wait for it; nor
    // does it keep the sample as its own file at a first load (its host saves it anyway).
    bool Durable = true;
};

} // namespace gleanery
