// The process a headless dialog test runs in: a fresh process state with the built-in texts,
// fixed system code pages, and a private plug-in directory that holds the settings file. Made
// before the dialog opens and gone (directory and all) after it has closed.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "settings/process_state.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery::test {

struct DialogProcess {
    std::filesystem::path dir;

    DialogProcess(const std::string& prefix, std::vector<uint32_t> usableCodePages) {
        CreateProcessState();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(stamp));
        std::filesystem::create_directories(dir);
        ProcessState& st = State();
        st.Texts.clear();
        EnterBuiltInTexts(st.Texts);
        st.PluginDirectory = (dir / "").u16string();
        st.IniDirectory.clear();
        st.System.AnsiCodePage = 1252;
        st.System.OemCodePage = 437;
        st.System.UsableCodePages = std::move(usableCodePages);
        st.CurrentSettings = Settings{};
        st.Font = TextBoxFont{};
        st.DialogX = st.DialogY = kNoDialogPosition;
        DiscardSettingsAndPresets();
    }
    DialogProcess(const DialogProcess&) = delete;
    DialogProcess& operator=(const DialogProcess&) = delete;
    ~DialogProcess() {
        DiscardSettingsAndPresets();
        State().CurrentSettings = Settings{};
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    std::filesystem::path Ini() const { return dir / "Gleanery.ini"; }
    void WriteIni(const std::string& bytes) const {
        std::ofstream(Ini(), std::ios::binary) << bytes;
    }
    std::string ReadIni() const {
        std::ifstream in(Ini(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

} // namespace gleanery::test
