#include "host/pack_job.h"

#include <new>

#include "host/process_state.h"
#include "host/wcx.h"
#include "platform/message_box.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery {

namespace {

// First use since the library was loaded: take the last settings from the settings file.
// False when the user declined to go on with defaults.
bool LoadLastSettings(ProcessState& state) {
    SettingsSession session = SettingsSessionOf(state);
    bool lastAvailable = true;
    const bool loaded = LoadSettingsAndPresets(session, &lastAvailable, nullptr);
    DiscardSettingsAndPresets(session);
    if (loaded && lastAvailable) {
        Settings& s = state.CurrentSettings;
        if (s.BinaryMode) s.WriteBom = false;
        if (s.SearchAndReplace) s.WriteBom = s.WriteStats = s.NoDuplicates = s.LineMode = false;
        return true;
    }
    return platform::AskYesNo(
        Text(kTextLastSettingsMissing) + u"\r\n" + Text(kTextContinueWithDefaults), u"Gleanery");
}

bool HostProgress(const std::u16string& fileName, int bytes) {
    return ReportProgress(fileName, bytes) != 0;
}

} // namespace

void RunPackJob(const char16_t* archivePath, const char16_t* sourcePath, const AddList& names,
                JobOutcome& outcome) {
    ProcessState& state = State();
    state.LastJobNotes.clear();
    if (state.DialogX == kNoDialogPosition && state.DialogY == kNoDialogPosition &&
        !LoadLastSettings(state)) {
        outcome.ok = true;
        return;
    }
    const JobRequest request{archivePath,           sourcePath,   names,
                             state.CurrentSettings, state.System, &HostProgress};
    RunExtractionJob(request, outcome);
    state.LastJobNotes = outcome.Notes;
}

int RunPackForHost(const char16_t* archivePath, const char16_t* sourcePath, const AddList& names) {
    JobOutcome outcome;
    try {
        RunPackJob(archivePath, sourcePath, names, outcome);
    } catch (const std::bad_alloc&) {
        return wcx::kENoMemory;
    }
    return PackResultCode(outcome);
}

} // namespace gleanery
