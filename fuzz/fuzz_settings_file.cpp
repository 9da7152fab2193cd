// The settings-file loader on arbitrary bytes, followed by a save and a second load: whatever
// the file held, the settings and presets that were loaded come back unchanged from the bytes we
// wrote, and saving those again writes the same bytes. Load and save run on the file's bytes
// in memory (the file functions only read and write around them), so executions stay fast.
#include "fuzz_support.h"
#include "settings/settings_file.h"

using namespace gleanery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    const uint8_t mode = in.Byte();
    const std::string bytes = in.Rest();

    ProcessState& state = State();
    state.CurrentSettings = Settings{};
    bool lastAvailable = true;
    TextBoxFont font;
    TextBoxFont* const fontOrNone = (mode & 1) ? &font : nullptr;
    const bool loaded = detail::LoadSettingsData(bytes, &lastAvailable, fontOrNone);
    if (loaded && (mode & 2)) {
        const Settings first = state.CurrentSettings;
        const auto presets = state.Presets;
        bool allWritten = false;
        const std::optional<std::string> saved = detail::SaveSettingsData(fontOrNone, allWritten);
        if (!saved) std::abort();

        state.CurrentSettings = Settings{};
        bool again = true;
        TextBoxFont fontAgain;
        if (!detail::LoadSettingsData(*saved, &again, fontOrNone ? &fontAgain : nullptr) || !again)
            std::abort();
        if (!(state.CurrentSettings == first)) std::abort();
        if (fontOrNone && font.FaceName[0] != 0 && !(fontAgain == font)) std::abort();
        // Every preset comes back under its name (the last settings joined them as a save entry).
        for (const auto& [name, settings] : presets) {
            auto it = state.Presets.find(name);
            if (allWritten && (it == state.Presets.end() || !(it->second == settings)))
                std::abort();
        }
        const std::optional<std::string> savedAgain =
            detail::SaveSettingsData(fontOrNone, allWritten);
        if (!savedAgain || *savedAgain != *saved) std::abort();
    }
    DiscardSettingsAndPresets();
    return 0;
}
