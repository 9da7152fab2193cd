#include "engine/add_list.h"

#include <string>

namespace gleanery {

namespace {

// Moves `at` past the ends of the runs taken so far; true when it stands on an entry.
bool OnEntry(const AddList& list, AddListPlace& at) {
    while (at.Run < list.Runs.size()) {
        if (at.Entry == nullptr) at.Entry = list.Runs[at.Run];
        if (at.Entry != nullptr && *at.Entry != 0) return true;
        ++at.Run;
        at.Entry = nullptr;
    }
    return false;
}

} // namespace

AddList WholeAddList(const char16_t* entries) {
    AddList list;
    list.Runs.push_back(entries);
    list.Ended = true;
    return list;
}

bool NextEntry(AddList& list, AddListPlace& at, std::u16string_view& entry) {
    while (!OnEntry(list, at)) {
        if (list.Ended || list.More == nullptr) return false;
        const char16_t* run = list.More(list.MoreData);
        if (run == nullptr || *run == 0) {
            list.Ended = true;
            return false;
        }
        list.Runs.push_back(run);
    }
    const size_t length = std::char_traits<char16_t>::length(at.Entry);
    entry = std::u16string_view(at.Entry, length);
    at.Entry += length + 1;
    return true;
}

bool EntryAtHand(const AddList& list, AddListPlace at) {
    return OnEntry(list, at);
}

} // namespace gleanery
