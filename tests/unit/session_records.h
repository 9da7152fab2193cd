// The records of a settings session, owned by a test instead of the process state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/presets.h"
#include "settings/settings.h"
#include "settings/settings_document.h"
#include "settings/settings_session.h"

namespace gleanery::test {

struct SessionRecords {
    Settings CurrentSettings;
    PresetStore Presets;
    ChangeRecords Changes;
    SettingsDocumentPtr Document = NewSettingsDocument();
    std::u16string PluginDirectory;
    std::u16string IniDirectory;
    std::vector<uint32_t> UsableCodePages;
    SettingsSession Session{CurrentSettings, Presets,      Changes,        *Document,
                            PluginDirectory, IniDirectory, UsableCodePages};

    SessionRecords() = default;
    SessionRecords(const SessionRecords&) = delete; // the session refers to this one's members
    SessionRecords& operator=(const SessionRecords&) = delete;
};

// Change records as tests write them: a new preset, and one read from section `n`.
inline ChangeRecord New() {
    return {};
}
inline ChangeRecord Kept(int32_t n) {
    return {PresetChange::Kept, n};
}
inline ChangeRecord Changed(int32_t n) {
    return {PresetChange::Changed, n};
}
inline ChangeRecord Deleted(int32_t n) {
    return {PresetChange::Deleted, n};
}

} // namespace gleanery::test
