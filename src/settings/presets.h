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
// What the next save does with a preset's section.
enum class PresetChange {
    New,     // never written: the preset takes a free section
    Kept,    // read and unchanged: its section stays as it is
    Changed, // read and changed: its section is rewritten
    Deleted, // read and deleted: its section is removed
};
struct ChangeRecord {
    PresetChange Kind = PresetChange::New;
    int32_t Section = 0; // the section the preset was read from; 0 for a new one
    bool operator==(const ChangeRecord&) const = default;
};
// Per preset name.
using ChangeRecords = std::map<std::u16string, ChangeRecord>;
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
