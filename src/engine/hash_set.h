// A set of 64-bit hashes for the duplicate filter: open addressing with linear probing in one
// flat array. A run can see millions of distinct results; one array probe per match keeps the
// filter cheap and its memory at 32 bytes per distinct result at most, where a node-based set
// spends an allocation and a pointer chase on every insert.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace gleanery {

struct HashSet64 {
    // Slots hold the values; 0 marks an empty slot, so the value 0 is kept aside.
    std::vector<uint64_t> slots;
    size_t used = 0; // values in `slots`
    bool hasZero = false;
    // When set, every value inserted as new is appended here first, so that the insertions can be
    // taken back (see erase). Running out of memory for it leaves the set as it was.
    std::vector<uint64_t>* journal = nullptr;

    // Inserts `value`; `second` tells whether it was new (as std::unordered_set::insert does).
    std::pair<uint64_t, bool> insert(uint64_t value) {
        if (journal != nullptr) {
            if (count(value) != 0) return {value, false};
            journal->push_back(value);
        }
        if (value == 0) {
            const bool fresh = !hasZero;
            hasZero = true;
            return {value, fresh};
        }
        if ((used + 1) * 2 > slots.size()) Grow();
        uint64_t& slot = slots[Find(slots, value)];
        if (slot == value) return {value, false};
        slot = value;
        ++used;
        return {value, true};
    }
    size_t count(uint64_t value) const {
        if (value == 0) return hasZero ? 1 : 0;
        if (slots.empty()) return 0;
        return slots[Find(slots, value)] == value ? 1 : 0;
    }
    // Removes `value` if present. The values after it in its run of occupied slots that could
    // stand in its slot move back into it, so that every value stays reachable from its own slot.
    void erase(uint64_t value) {
        if (value == 0) {
            hasZero = false;
            return;
        }
        if (slots.empty()) return;
        size_t hole = Find(slots, value);
        if (slots[hole] != value) return;
        const size_t mask = slots.size() - 1;
        for (size_t next = (hole + 1) & mask; slots[next] != 0; next = (next + 1) & mask) {
            const size_t home = Home(slots[next], mask);
            // The value at `next` may move into the hole unless its home lies after the hole, up to
            // `next` (cyclically).
            const bool homeBetween =
                hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (homeBetween) continue;
            slots[hole] = slots[next];
            hole = next;
        }
        slots[hole] = 0;
        --used;
    }
    size_t size() const { return used + (hasZero ? 1 : 0); }
    bool empty() const { return size() == 0; }
    void clear() {
        std::vector<uint64_t>().swap(slots);
        used = 0;
        hasZero = false;
    }

    // Index of the slot that holds `value`, or of the empty slot where it belongs.
    static size_t Find(const std::vector<uint64_t>& table, uint64_t value) {
        const size_t mask = table.size() - 1;
        size_t i = Home(value, mask);
        while (table[i] != 0 && table[i] != value) i = (i + 1) & mask;
        return i;
    }
    // The slot a value's probe starts at: Fibonacci hashing, the product's top bits, which every
    // bit of the value reaches (bits taken lower down would leave out the value's bits above
    // them, so that values differing only there would share a home).
    static size_t Home(uint64_t value, size_t mask) {
        return static_cast<size_t>((value * 0x9E3779B97F4A7C15ULL) >> (64 - std::popcount(mask)));
    }
    void Grow() {
        std::vector<uint64_t> bigger(slots.empty() ? 1024 : slots.size() * 2, 0);
        for (uint64_t v : slots)
            if (v != 0) bigger[Find(bigger, v)] = v;
        slots.swap(bigger);
    }
};

} // namespace gleanery
