// The change records kept by the presets panel and read by the save.
#include "settings/presets.h"

#include <gtest/gtest.h>

#include "settings/process_state.h"
#include "settings/settings_file.h"

namespace gleanery {
namespace {

TEST(PresetChangeRecords, SavingOverAPresetMarksOnlyReadSectionsChanged) {
    ChangeRecords changes{{u"read", 7}, {u"new", 0}, {u"changed", kChangedMark + 3}};
    MarkPresetSaved(changes, u"read");
    MarkPresetSaved(changes, u"new");
    MarkPresetSaved(changes, u"changed");
    MarkPresetSaved(changes, u"unknown");
    EXPECT_EQ(
        changes,
        (ChangeRecords{{u"read", kChangedMark + 7}, {u"new", 0}, {u"changed", kChangedMark + 3}}));
    // Saving again does not add the mark twice.
    MarkPresetSaved(changes, u"read");
    EXPECT_EQ(changes[u"read"], kChangedMark + 7);
}

TEST(PresetChangeRecords, DeletingAndAddingAgain) {
    ChangeRecords changes{{u"read", 2}, {u"changed", kChangedMark + 5}};
    MarkPresetDeleted(changes, u"read");
    MarkPresetDeleted(changes, u"changed");
    EXPECT_EQ(changes,
              (ChangeRecords{{u"read", kDeletedMark + 2}, {u"changed", kDeletedMark + 5}}));
    // A second delete of the same name changes nothing.
    MarkPresetDeleted(changes, u"read");
    EXPECT_EQ(changes[u"read"], kDeletedMark + 2);

    // Adding a name deleted earlier rewrites its old section instead of removing it.
    MarkPresetAdded(changes, u"read");
    EXPECT_EQ(changes[u"read"], kChangedMark + 2);
    // ... and deleting it once more marks it deleted again, without the changed mark.
    MarkPresetDeleted(changes, u"read");
    EXPECT_EQ(changes[u"read"], kDeletedMark + 2);
}

TEST(PresetChangeRecords, AddedAndDeletedInOneCycleLeavesNoTrace) {
    ChangeRecords changes{{u"a", 1}};
    MarkPresetAdded(changes, u"A"); // names differ by case: a second preset
    EXPECT_EQ(changes, (ChangeRecords{{u"a", 1}, {u"A", 0}}));
    MarkPresetSaved(changes, u"A"); // overwriting a preset that has no section yet
    EXPECT_EQ(changes[u"A"], 0);
    MarkPresetDeleted(changes, u"A");
    EXPECT_EQ(changes, (ChangeRecords{{u"a", 1}}));
    // Adding a name that already has a live record leaves it alone.
    MarkPresetAdded(changes, u"a");
    EXPECT_EQ(changes[u"a"], 1);
}

TEST(PresetCapacity, CountsSectionsTakenAndPresetsWaitingForOne) {
    CreateProcessState();
    ProcessState& st = State();
    DiscardSettingsAndPresets();
    EXPECT_EQ(PresetCapacityLeft(), kMaxPresetSection);

    st.Presets[u"read"] = Settings{};
    st.Changes[u"read"] = 4;
    st.Presets[u"changed"] = Settings{};
    st.Changes[u"changed"] = kChangedMark + 9;
    st.Presets[u"new"] = Settings{};
    st.Changes[u"new"] = 0;
    st.Changes[u"gone"] = kDeletedMark + 11; // its section is freed by the next save
    EXPECT_EQ(PresetCapacityLeft(), kMaxPresetSection - 3);

    MarkPresetDeleted(st.Changes, u"new");
    st.Presets.erase(u"new");
    MarkPresetDeleted(st.Changes, u"read");
    st.Presets.erase(u"read");
    EXPECT_EQ(PresetCapacityLeft(), kMaxPresetSection - 1);
    DiscardSettingsAndPresets();
    EXPECT_TRUE(st.Changes.empty());
    EXPECT_TRUE(st.Presets.empty());
}

} // namespace
} // namespace gleanery
