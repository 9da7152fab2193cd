// The names a pack searches. A file manager hands them over whole: entries relative to the
// source path, each ended by a zero, an empty entry ending all. A host that is still looking for
// the files (the command line walking a tree) hands them over in runs of that form as it finds
// them, so that the search begins with the first names instead of after the last.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace gleanery {

// The host's way to the next run of names: it waits until it has one, and gives an empty run
// (or none) once there are no more. Called on the host's thread only; every run it gives stays
// valid until the pack returns.
using MoreNamesFn = const char16_t* (*)(void* data);

struct AddList {
    // The runs taken so far, in order.
    std::vector<const char16_t*> Runs;
    MoreNamesFn More = nullptr;
    void* MoreData = nullptr;
    // The host gave its last run.
    bool Ended = false;
};

// A place in an add list: the run, and the entry in it (null: the run's first).
struct AddListPlace {
    size_t Run = 0;
    const char16_t* Entry = nullptr;
};

// The list a file manager hands over whole.
AddList WholeAddList(const char16_t* entries);

// The entry at `at` and `at` moved past it; false at the list's end. Waits for the host's next
// run when the runs taken so far are done.
bool NextEntry(AddList& list, AddListPlace& at, std::u16string_view& entry);

// Whether NextEntry has an entry for `at` without asking the host for more.
bool EntryAtHand(const AddList& list, AddListPlace at);

} // namespace gleanery
