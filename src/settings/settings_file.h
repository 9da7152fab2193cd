// The settings file "Gleanery.ini": last settings, presets and the text-box font, loaded into and
// saved from a settings session.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/settings.h"
#include "settings/settings_session.h"

namespace gleanery {

// Loads the settings file (or the sample file on first run) into the session: its document,
// preset store and change records start afresh, and the stored last settings replace its current
// settings. `lastAvailable`, when given, is set to false when no last settings could be taken;
// `font`, when given, takes the stored text-box font.
bool LoadSettingsAndPresets(SettingsSession& session, bool* lastAvailable, TextBoxFont* font);
// Writes the session's current settings and presets, and `font`, to the settings file. It reads
// the settings, the preset store and the change records and never changes them; the document is
// used up (empty afterwards, whatever the outcome), so a cycle ends with its save.
bool SaveSettingsAndPresets(SettingsSession& session, const TextBoxFont* font);
// Ends a load-save cycle: empties the session's preset store, change records and document.
void DiscardSettingsAndPresets(SettingsSession& session);

namespace detail {
// The two halves of a load and a save that work on the file's bytes, without the file around
// them. LoadSettingsData starts a cycle from `data`; false when the bytes cannot be parsed.
bool LoadSettingsData(SettingsSession& session, std::string_view data, bool* lastAvailable,
                      TextBoxFont* font);
// The bytes a save writes, or nothing when this cycle must not write (its load failed).
// `allPresetsWritten` is false when some preset found no free section.
std::optional<std::string> SaveSettingsData(SettingsSession& session, const TextBoxFont* font,
                                            bool& allPresetsWritten);
} // namespace detail

} // namespace gleanery
