// The change records that tell a save what to do with each preset's section: keep it (n), rewrite
// it (0x20000 + n), remove it (0x40000 + n), or give a new preset a section (0).
#include "settings/presets.h"

namespace gleanery {

void MarkPresetSaved(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) return;
    if (it->second != 0 && it->second < kChangedMark) it->second += kChangedMark;
}

void MarkPresetAdded(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) {
        changes.emplace(name, 0);
    } else if (it->second > kDeletedMark) {
        // Deleted earlier in this cycle: its old section is rewritten instead of removed.
        it->second = it->second - kDeletedMark + kChangedMark;
    }
}

void MarkPresetDeleted(ChangeRecords& changes, const std::u16string& name) {
    auto it = changes.find(name);
    if (it == changes.end()) return;
    int32_t record = it->second;
    if (record == 0) {
        // Never written: nothing to remove from the file.
        changes.erase(it);
        return;
    }
    if (record >= kDeletedMark) return; // already deleted
    if (record > kChangedMark) record -= kChangedMark;
    it->second = record + kDeletedMark;
}

} // namespace gleanery
