// The settings file "Gleanery.ini": last settings, presets and the text-box font.
#pragma once

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

} // namespace gleanery
