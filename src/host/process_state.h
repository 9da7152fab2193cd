// The plug-in's process-wide state: created when the library is attached, released when it is
// detached. There are no threads of our own; the host runs the dialog and a pack one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/system_facts.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "settings/settings_document.h"
#include "settings/settings_session.h"

namespace gleanery {

// The calling convention of the host interface: stdcall on 32-bit Windows, the C one elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define WCX_CALL __stdcall
#else
#define WCX_CALL
#endif

// The host's progress callback: file name, size; 0 means stop.
using ProcessDataProc = int(WCX_CALL*)(char16_t* fileName, int size);

inline constexpr int32_t kNoDialogPosition = 268435455;

struct ProcessState {
    Settings CurrentSettings;
    TextBoxFont Font;
    PresetStore Presets;
    ChangeRecords Changes;
    SettingsDocumentPtr Document;
    std::u16string PluginDirectory; // with a trailing separator
    std::u16string IniDirectory;    // empty unless the host's ini directory is used
    platform::SystemFacts System;
    ProcessDataProc ProcessData = nullptr;
    void* ModuleInstance = nullptr;
    // What the last pack left for its host to tell the user (see IncompleteSearchesText).
    std::u16string LastJobNotes;
    int32_t DialogX = kNoDialogPosition;
    int32_t DialogY = kNoDialogPosition;
};

// The one instance. Valid between library attach and detach.
ProcessState& State();
void CreateProcessState();
void DestroyProcessState();

// The settings session over the process's own records: the current settings, presets, change
// records and document, the directories and the usable code pages.
SettingsSession SettingsSessionOf(ProcessState& state);

// Calls the host's progress callback; a missing callback counts as "go on".
int ReportProgress(const std::u16string& fileName, int size);

} // namespace gleanery
