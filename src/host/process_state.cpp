#include "host/process_state.h"

#include <pcre.h>

namespace gleanery {

namespace {
ProcessState* g_state = nullptr;
} // namespace

ProcessState& State() {
    // Hosts always attach the library before calling in; tests call CreateProcessState first.
    // Creating on demand keeps a stray early call from touching a null pointer.
    if (!g_state) CreateProcessState();
    return *g_state;
}

void CreateProcessState() {
    if (g_state) return;
    g_state = new ProcessState();
    g_state->Document = NewSettingsDocument();
}

void DestroyProcessState() {
    if (!g_state) return;
    if (g_state->System.OemTables) pcre_free(const_cast<unsigned char*>(g_state->System.OemTables));
    if (g_state->System.AnsiTables)
        pcre_free(const_cast<unsigned char*>(g_state->System.AnsiTables));
    delete g_state;
    g_state = nullptr;
}

SettingsSession SettingsSessionOf(ProcessState& state) {
    if (!state.Document) state.Document = NewSettingsDocument();
    return SettingsSession{state.CurrentSettings,
                           state.Presets,
                           state.Changes,
                           *state.Document,
                           state.PluginDirectory,
                           state.IniDirectory,
                           state.System.UsableCodePages};
}

int ReportProgress(const std::u16string& fileName, int size) {
    ProcessDataProc proc = State().ProcessData;
    if (!proc) return 1;
    // The host's callback takes a mutable pointer; it gets its own copy to write into if it likes.
    std::u16string copy = fileName;
    return proc(copy.data(), size);
}

} // namespace gleanery
