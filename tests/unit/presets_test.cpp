// The change records kept by the presets panel and read by the save.
#include "settings/presets.h"

#include <gtest/gtest.h>

#include "session_records.h"
#include "settings/settings_file.h"

namespace gleanery {
namespace {

using test::Changed;
using test::Deleted;
using test::Kept;
using test::New;

TEST(PresetChangeRecords, SavingOverAPresetMarksOnlyReadSectionsChanged) {
    ChangeRecords changes{{u"read", Kept(7)}, {u"new", New()}, {u"changed", Changed(3)}};
    MarkPresetSaved(changes, u"read");
    MarkPresetSaved(changes, u"new");
    MarkPresetSaved(changes, u"changed");
    MarkPresetSaved(changes, u"unknown");
    EXPECT_EQ(changes,
              (ChangeRecords{{u"read", Changed(7)}, {u"new", New()}, {u"changed", Changed(3)}}));
    // Saving again leaves it changed.
    MarkPresetSaved(changes, u"read");
    EXPECT_EQ(changes[u"read"], Changed(7));
}

TEST(PresetChangeRecords, DeletingAndAddingAgain) {
    ChangeRecords changes{{u"read", Kept(2)}, {u"changed", Changed(5)}};
    MarkPresetDeleted(changes, u"read");
    MarkPresetDeleted(changes, u"changed");
    EXPECT_EQ(changes, (ChangeRecords{{u"read", Deleted(2)}, {u"changed", Deleted(5)}}));
    // A second delete of the same name changes nothing.
    MarkPresetDeleted(changes, u"read");
    EXPECT_EQ(changes[u"read"], Deleted(2));

    // Adding a name deleted earlier rewrites its old section instead of removing it.
    MarkPresetAdded(changes, u"read");
    EXPECT_EQ(changes[u"read"], Changed(2));
    // ... and deleting it once more marks it deleted again.
    MarkPresetDeleted(changes, u"read");
    EXPECT_EQ(changes[u"read"], Deleted(2));
}

TEST(PresetChangeRecords, AddedAndDeletedInOneCycleLeavesNoTrace) {
    ChangeRecords changes{{u"a", Kept(1)}};
    MarkPresetAdded(changes, u"A"); // names differ by case: a second preset
    EXPECT_EQ(changes, (ChangeRecords{{u"a", Kept(1)}, {u"A", New()}}));
    MarkPresetSaved(changes, u"A"); // overwriting a preset that has no section yet
    EXPECT_EQ(changes[u"A"], New());
    MarkPresetDeleted(changes, u"A");
    EXPECT_EQ(changes, (ChangeRecords{{u"a", Kept(1)}}));
    // Adding a name that already has a live record leaves it alone.
    MarkPresetAdded(changes, u"a");
    EXPECT_EQ(changes[u"a"], Kept(1));
}

TEST(PresetCapacity, CountsSectionsTakenAndPresetsWaitingForOne) {
    test::SessionRecords st;
    EXPECT_EQ(PresetCapacityLeft(st.Session), kMaxPresetSection);

    st.Presets[u"read"] = Settings{};
    st.Changes[u"read"] = Kept(4);
    st.Presets[u"changed"] = Settings{};
    st.Changes[u"changed"] = Changed(9);
    st.Presets[u"new"] = Settings{};
    st.Changes[u"new"] = New();
    st.Changes[u"gone"] = Deleted(11); // its section is freed by the next save
    EXPECT_EQ(PresetCapacityLeft(st.Session), kMaxPresetSection - 3);

    MarkPresetDeleted(st.Changes, u"new");
    st.Presets.erase(u"new");
    MarkPresetDeleted(st.Changes, u"read");
    st.Presets.erase(u"read");
    EXPECT_EQ(PresetCapacityLeft(st.Session), kMaxPresetSection - 1);
    DiscardSettingsAndPresets(st.Session);
    EXPECT_TRUE(st.Changes.empty());
    EXPECT_TRUE(st.Presets.empty());
}

} // namespace
} // namespace gleanery
