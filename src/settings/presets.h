// Presets in memory: the preset store, the change records of one load-save cycle, and which
// section of the settings file holds which preset.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "settings/settings.h"
#include "settings/settings_document.h"

namespace gleanery {

// Named Settings, ordered by UTF-16 code units.
using PresetStore = std::map<std::u16string, Settings>;
// Per preset name: 0 new, n read from section n, 0x20000 + n changed, 0x40000 + n deleted.
using ChangeRecords = std::map<std::u16string, int32_t>;

inline constexpr int32_t kChangedMark = 0x20000;
inline constexpr int32_t kDeletedMark = 0x40000;
// Preset sections are gleanery1 to gleanery2048; a load reads no others.
inline constexpr int32_t kMaxPresetSection = 2048;

struct SettingsSession;

// Presets panel transitions.
void MarkPresetSaved(ChangeRecords& changes, const std::u16string& name);   // overwrite existing
void MarkPresetAdded(ChangeRecords& changes, const std::u16string& name);   // add under new name
void MarkPresetDeleted(ChangeRecords& changes, const std::u16string& name); // delete

// The name of preset section `number`.
std::string PresetSection(int32_t number);
// The numbers 1 to kMaxPresetSection whose preset section the document holds, in ascending order.
std::set<int32_t> PresetSectionNumbers(const SettingsDocument& doc);
// Section numbers that hold a preset now or will after the next save: those of the document
// (presets that lost their name to another one included, so they are never overwritten) and
// those of changed and unchanged presets, without the sections of deleted presets.
std::set<int32_t> SectionsInUse(const SettingsDocument& doc, const PresetStore& presets,
                                const ChangeRecords& changes);

// How many more presets under new names the settings file can take (the session's store, change
// records and document). Adding a name without a change record needs a value above 0; a save
// never writes a section above kMaxPresetSection and reports false for a preset it had to leave
// out.
int32_t PresetCapacityLeft(const SettingsSession& session);

} // namespace gleanery
