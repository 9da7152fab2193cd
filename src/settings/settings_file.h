// The settings file "Gleanery.ini": last settings, presets and the text-box font.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace gleanery {

// Loads the settings file (or the sample file on first run) into the settings document, the
// preset store and the change records, and the stored last settings into the current settings.
// `lastAvailable`, when given, is set to false when no last settings could be taken.
bool LoadSettingsAndPresets(bool* lastAvailable, TextBoxFont* font);
// Writes the document with the current settings and the presets back to the settings file.
bool SaveSettingsAndPresets(const TextBoxFont* font);
// Ends a load-save cycle: empties the preset store, the change records and the document.
void DiscardSettingsAndPresets();

namespace detail {
// The two halves of a load and a save that work on the file's bytes, without the file around
// them. LoadSettingsData starts a cycle from `data`; false when the bytes cannot be parsed.
bool LoadSettingsData(std::string_view data, bool* lastAvailable, TextBoxFont* font);
// The bytes a save writes, or nothing when this cycle must not write (its load failed).
// `allPresetsWritten` is false when some preset found no free section.
std::optional<std::string> SaveSettingsData(const TextBoxFont* font, bool& allPresetsWritten);
} // namespace detail

} // namespace gleanery
