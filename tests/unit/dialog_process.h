// The process a headless dialog test runs in: a fresh process state with the built-in texts,
// fixed system code pages, and a private plug-in directory that holds the settings file. Made
// before the dialog opens and gone (directory and all) after it has closed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/process_state.h"
#include "settings/settings_file.h"
#include "settings/texts.h"
#include "support/temp_dir.h"

namespace gleanery::test {

struct DialogProcess {
    TempDir temp;
    const std::filesystem::path& dir = temp.path;

    DialogProcess(const std::string& prefix, std::vector<uint32_t> usableCodePages) : temp(prefix) {
        CreateProcessState();
        ProcessState& st = State();
        InterfaceTexts().clear();
        EnterBuiltInTexts(InterfaceTexts());
        st.PluginDirectory = (dir / "").u16string();
        st.IniDirectory.clear();
        st.System.AnsiCodePage = 1252;
        st.System.OemCodePage = 437;
        st.System.UsableCodePages = std::move(usableCodePages);
        st.CurrentSettings = Settings{};
        st.Font = TextBoxFont{};
        st.DialogX = st.DialogY = kNoDialogPosition;
        SettingsSession session = SettingsSessionOf(st);
        DiscardSettingsAndPresets(session);
    }
    DialogProcess(const DialogProcess&) = delete;
    DialogProcess& operator=(const DialogProcess&) = delete;
    ~DialogProcess() {
        SettingsSession session = SettingsSessionOf(State());
        DiscardSettingsAndPresets(session);
        State().CurrentSettings = Settings{};
    }

    std::filesystem::path Ini() const { return dir / "Gleanery.ini"; }
    void WriteIni(const std::string& bytes) const { WriteAll(Ini(), bytes); }
    std::string ReadIni() const { return ReadAll(Ini()); }
};

} // namespace gleanery::test
