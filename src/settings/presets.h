// Presets in memory: the preset store, the change records and the settings document of one
// load-save cycle.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "settings/settings.h"

namespace gleanery {

// Named Settings, ordered by UTF-16 code units.
using PresetStore = std::map<std::u16string, Settings>;
// Per preset name: 0 new, n read from section n, 0x20000 + n changed, 0x40000 + n deleted.
using ChangeRecords = std::map<std::u16string, int32_t>;

inline constexpr int32_t kChangedMark = 0x20000;
inline constexpr int32_t kDeletedMark = 0x40000;
// Preset sections are gleanery1 to gleanery2048; a load reads no others.
inline constexpr int32_t kMaxPresetSection = 2048;

// The in-memory ini document (SimpleIni); defined in settings_file.cpp.
struct SettingsDocument;
struct SettingsDocumentDeleter {
    void operator()(SettingsDocument* doc) const; // defined beside SettingsDocument
};
using SettingsDocumentPtr = std::unique_ptr<SettingsDocument, SettingsDocumentDeleter>;
SettingsDocumentPtr NewSettingsDocument();
void ResetSettingsDocument(SettingsDocument& doc);
bool SettingsDocumentIsEmpty(const SettingsDocument& doc);

// Presets panel transitions.
void MarkPresetSaved(ChangeRecords& changes, const std::u16string& name);   // overwrite existing
void MarkPresetAdded(ChangeRecords& changes, const std::u16string& name);   // add under new name
void MarkPresetDeleted(ChangeRecords& changes, const std::u16string& name); // delete

// How many more presets under new names the settings file can take (State()'s store, change
// records and document). Adding a name without a change record needs a value above 0; a save
// never writes a section above kMaxPresetSection and reports false for a preset it had to leave
// out.
int32_t PresetCapacityLeft();

} // namespace gleanery
