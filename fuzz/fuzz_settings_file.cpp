// The settings-file loader on arbitrary files, followed by a save and a second load: whatever
// the file held, the settings that were loaded come back unchanged from the file we wrote.
#include <fstream>

#include "fuzz_support.h"
#include "settings/settings_file.h"

using namespace gleanery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    const uint8_t mode = in.Byte();
    const std::string path = fuzz::ScratchDirectory() + "Gleanery.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << in.Rest();

    ProcessState& state = State();
    state.CurrentSettings = Settings{};
    bool lastAvailable = true;
    TextBoxFont font;
    const bool loaded = LoadSettingsAndPresets(&lastAvailable, (mode & 1) ? &font : nullptr);
    if (loaded && (mode & 2)) {
        const Settings first = state.CurrentSettings;
        if (!SaveSettingsAndPresets((mode & 1) ? &font : nullptr)) std::abort();
        DiscardSettingsAndPresets();
        state.CurrentSettings = Settings{};
        bool again = true;
        if (!LoadSettingsAndPresets(&again, nullptr) || !again) std::abort();
        if (!(state.CurrentSettings == first)) std::abort();
    }
    DiscardSettingsAndPresets();
    return 0;
}
