// The change records that tell a save what to do with each preset's section: keep it, rewrite it,
// remove it, or give a new preset a section; and the sections the presets take.
#include "settings/presets.h"

#include <string_view>

#include "settings/settings_document_ini.h"
#include "settings/settings_session.h"

namespace gleanery {

void MarkPresetSaved(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) return;
    if (it->second.Kind == PresetChange::Kept) it->second.Kind = PresetChange::Changed;
}

void MarkPresetAdded(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) {
        changes.emplace(name, ChangeRecord{});
    } else if (it->second.Kind == PresetChange::Deleted) {
        // Deleted earlier in this cycle: its old section is rewritten instead of removed.
        it->second.Kind = PresetChange::Changed;
    }
}

void MarkPresetDeleted(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) return;
    if (it->second.Kind == PresetChange::New) {
        // Never written: nothing to remove from the file.
        changes.erase(it);
        return;
    }
    it->second.Kind = PresetChange::Deleted;
}

std::string PresetSection(int32_t number) {
    return "gleanery" + std::to_string(number);
}

// Section names compare without regard to case, as the document looks them up; one pass over the
// document's sections instead of 2048 look-ups.
std::set<int32_t> PresetSectionNumbers(const SettingsDocument& doc) {
    std::set<int32_t> numbers;
    CSimpleIniA::TNamesDepend sections;
    doc.ini.GetAllSections(sections);
    constexpr std::string_view kPrefix = "gleanery";
    for (const CSimpleIniA::Entry& entry : sections) {
        const std::string_view name(entry.pItem);
        if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 4) continue;
        bool prefix = true;
        for (size_t i = 0; i < kPrefix.size(); ++i)
            prefix = prefix && (name[i] | 0x20) == kPrefix[i];
        const std::string_view digits = name.substr(kPrefix.size());
        if (!prefix || digits[0] == '0') continue;
        int32_t n = 0;
        for (char c : digits) n = (c >= '0' && c <= '9' && n >= 0) ? n * 10 + (c - '0') : -1;
        if (n >= 1 && n <= kMaxPresetSection) numbers.insert(n);
    }
    return numbers;
}

std::set<int32_t> SectionsInUse(const SettingsDocument& doc, const PresetStore& presets,
                                const ChangeRecords& changes) {
    std::set<int32_t> used = PresetSectionNumbers(doc);
    for (const auto& [name, record] : changes)
        if (record.Kind == PresetChange::Deleted) used.erase(record.Section);
    for (const auto& [name, settings] : presets) {
        auto it = changes.find(name);
        if (it == changes.end() || it->second.Kind == PresetChange::New ||
            it->second.Kind == PresetChange::Deleted)
            continue;
        const int32_t n = it->second.Section;
        if (n >= 1 && n <= kMaxPresetSection) used.insert(n);
    }
    return used;
}

int32_t PresetCapacityLeft(const SettingsSession& session) {
    const std::set<int32_t> used =
        SectionsInUse(session.Document, session.Presets, session.Changes);
    int32_t waiting = 0; // new presets that take a number at the next save
    for (const auto& [name, settings] : session.Presets) {
        auto it = session.Changes.find(name);
        if (it == session.Changes.end() || it->second.Kind == PresetChange::New) ++waiting;
    }
    int32_t left = kMaxPresetSection - static_cast<int32_t>(used.size()) - waiting;
    return left > 0 ? left : 0;
}

} // namespace gleanery
