// The settings file "Gleanery.ini": a load reads it (on first use the sample file) into the
// session's document, preset store, change records and last settings; a save writes them back.
#include "settings/settings_file.h"

#include <set>
#include <string>
#include <utility>

#include "platform/files.h"
#include "settings/ini_text.h"
#include "settings/presets.h"
#include "settings/settings_document_ini.h"
#include "settings/settings_keys.h"
#include "settings/whole_file.h"

namespace gleanery {

namespace {

constexpr char16_t kLastEntryName[] = u"___last___option___";

std::u16string SettingsFilePath(const SettingsSession& session) {
    return (session.IniDirectory.empty() ? session.PluginDirectory : session.IniDirectory) +
           u"Gleanery.ini";
}

std::u16string SampleFilePath(const SettingsSession& session) {
    return session.PluginDirectory + u"Gleanery.Sample.ini";
}

// The name under which the last settings take their turn among the presets when a save writes
// them: the first of a series that no preset has.
std::u16string LastSettingsName(const PresetStore& presets) {
    std::u16string lastName = kLastEntryName;
    for (int i = 0; presets.count(lastName); ++i)
        lastName = std::u16string(kLastEntryName) + FileTextToWide(std::to_string(i));
    return lastName;
}

// Writes the new and changed presets into their sections and the last settings into theirs;
// false when a new preset found no free section. A section the document does not hold yet is
// added after all others, so the order of these writes is the order of new sections in the file:
// the last settings are written where their name sorts among the presets', which keeps the files
// of earlier versions' saves in the same order.
bool WriteSections(const SettingsSession& session) {
    SettingsDocument& doc = session.Document;
    const std::u16string lastName = LastSettingsName(session.Presets);
    bool lastWritten = false;
    auto writeLast = [&] {
        WriteSettings(doc, kLastSection, session.Current, nullptr);
        lastWritten = true;
    };
    bool allWritten = true;
    std::set<int32_t> used = SectionsInUse(doc, session.Presets, session.Changes);
    int32_t nextFree = 1;
    for (const auto& [name, settings] : session.Presets) {
        if (!lastWritten && lastName < name) writeLast();
        auto it = session.Changes.find(name);
        // A preset without a record has never been written: treat it as new.
        const ChangeRecord record = it == session.Changes.end() ? ChangeRecord{} : it->second;
        int32_t number = 0;
        if (record.Kind == PresetChange::New) {
            while (used.count(nextFree)) ++nextFree;
            if (nextFree > kMaxPresetSection) {
                // A section above the last one read back would be lost at the next load.
                allWritten = false;
                continue;
            }
            number = nextFree;
            used.insert(number);
        } else if (record.Kind == PresetChange::Changed) {
            number = record.Section;
        } else {
            continue; // unchanged: its section already holds it
        }
        WriteSettings(doc, PresetSection(number).c_str(), settings, &name);
    }
    if (!lastWritten) writeLast();
    return allWritten;
}

} // namespace

bool LoadSettingsAndPresets(SettingsSession& session, bool* lastAvailable, TextBoxFont* font) {
    // A cycle starts empty; a second load must not merge into the first.
    DiscardSettingsAndPresets(session);

    const std::u16string settingsPath = SettingsFilePath(session);
    std::u16string path = settingsPath;
    bool sampleInUse = false;
    if (platform::KindOf(path) != platform::PathKind::File) {
        path = SampleFilePath(session);
        sampleInUse = true;
        if (platform::KindOf(path) != platform::PathKind::File) {
            if (lastAvailable) *lastAvailable = false;
            return true;
        }
    }

    std::string data;
    if (!ReadWholeFile(path, data)) {
        session.Document.loadFailed = !sampleInUse;
        if (lastAvailable) *lastAvailable = false;
        return false;
    }
    if (!detail::LoadSettingsData(session, data, lastAvailable, font)) {
        session.Document.loadFailed = !sampleInUse;
        return false;
    }

    // First run: the sample becomes the user's own settings file. A failed copy only means the
    // sample is read again next time.
    if (sampleInUse && session.Durable) ReplaceFileContent(settingsPath, data, true);
    return true;
}

namespace detail {

bool LoadSettingsData(SettingsSession& session, std::string_view data, bool* lastAvailable,
                      TextBoxFont* font) {
    SettingsDocument& doc = session.Document;
    DiscardSettingsAndPresets(session);
    auto refuse = [&] {
        ResetSettingsDocument(doc);
        if (lastAvailable) *lastAvailable = false;
        return false;
    };
    std::string decoded;
    if (data.size() >= 2 && (data.substr(0, 2) == "\xFF\xFE" || data.substr(0, 2) == "\xFE\xFF")) {
        if (!Utf16FileText(data.substr(2), data[0] == '\xFE', decoded)) return refuse();
        data = decoded;
    }
    // The document ends its text at a zero byte: what follows would be lost at the next save.
    if (data.find('\0') != std::string_view::npos) return refuse();
    if (doc.ini.LoadData(data.data(), data.size()) < 0) return refuse();
    doc.fileComment = LeadingComment(data);

    for (int32_t n : PresetSectionNumbers(doc)) {
        const std::string section = PresetSection(n);
        Settings settings = ReadSettings(doc, section.c_str(), session.UsableCodePages);
        const std::u16string sectionName = FileTextToWide(section);
        std::u16string name = PresetName(doc, section.c_str());
        if (name.empty() || session.Presets.count(name)) name = sectionName;
        session.Presets[name] = std::move(settings);
        session.Changes[name] = ChangeRecord{PresetChange::Kept, n};
    }

    if (doc.ini.GetSectionSize(kLastSection) > 0) {
        session.Current = ReadSettings(doc, kLastSection, session.UsableCodePages);
    } else if (lastAvailable) {
        *lastAvailable = false;
    }

    if (font) ReadFont(doc, *font);
    return true;
}

std::optional<std::string> SaveSettingsData(SettingsSession& session, const TextBoxFont* font,
                                            bool& allPresetsWritten) {
    SettingsDocument& doc = session.Document;
    allPresetsWritten = true;
    if (doc.loadFailed) {
        // The file on disk could not be read; writing this cycle's document over it would lose
        // every preset it holds.
        ResetSettingsDocument(doc);
        return std::nullopt;
    }
    doc.ini.SetSpaces(false);

    for (const auto& [name, record] : session.Changes)
        if (record.Kind == PresetChange::Deleted)
            doc.ini.Delete(PresetSection(record.Section).c_str(), nullptr);
    allPresetsWritten = WriteSections(session);
    WriteFont(doc, font);

    std::string data = SerializeDocument(doc);
    ResetSettingsDocument(doc);
    return data;
}

} // namespace detail

bool SaveSettingsAndPresets(SettingsSession& session, const TextBoxFont* font) {
    bool allPresetsWritten = true;
    const std::optional<std::string> data =
        detail::SaveSettingsData(session, font, allPresetsWritten);
    return data && ReplaceFileContent(SettingsFilePath(session), *data, session.Durable) &&
           allPresetsWritten;
}

void DiscardSettingsAndPresets(SettingsSession& session) {
    session.Presets.clear();
    session.Changes.clear();
    ResetSettingsDocument(session.Document);
}

} // namespace gleanery
