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

    static Settings current;
    static PresetStore store;
    static ChangeRecords changes;
    static const SettingsDocumentPtr document = NewSettingsDocument();
    static const std::u16string directory = fuzz::Wide(fuzz::ScratchDirectory());
    static const std::vector<uint32_t> usableCodePages;
    SettingsSession session{current,   store,     changes,        *document,
                            directory, directory, usableCodePages};
    current = Settings{};
    bool lastAvailable = true;
    TextBoxFont font;
    TextBoxFont* const fontOrNone = (mode & 1) ? &font : nullptr;
    const bool loaded = detail::LoadSettingsData(session, bytes, &lastAvailable, fontOrNone);
    if (loaded && (mode & 2)) {
        const Settings first = current;
        const auto presets = store;
        bool allWritten = false;
        const std::optional<std::string> saved =
            detail::SaveSettingsData(session, fontOrNone, allWritten);
        if (!saved) std::abort();

        current = Settings{};
        bool again = true;
        TextBoxFont fontAgain;
        if (!detail::LoadSettingsData(session, *saved, &again, fontOrNone ? &fontAgain : nullptr) ||
            !again)
            std::abort();
        if (!(current == first)) std::abort();
        if (fontOrNone && font.FaceName[0] != 0 && !(fontAgain == font)) std::abort();
        // Every preset comes back under its name.
        for (const auto& [name, settings] : presets) {
            auto it = store.find(name);
            if (allWritten && (it == store.end() || !(it->second == settings))) std::abort();
        }
        const std::optional<std::string> savedAgain =
            detail::SaveSettingsData(session, fontOrNone, allWritten);
        if (!savedAgain || *savedAgain != *saved) std::abort();
    }
    DiscardSettingsAndPresets(session);
    return 0;
}
