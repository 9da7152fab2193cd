#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/hash_set.h"

namespace gleanery {
namespace {

TEST(HashSet64Test, InsertTellsNewFromSeenIncludingZero) {
    HashSet64 set;
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.count(0), 0u);
    EXPECT_TRUE(set.insert(0).second);
    EXPECT_FALSE(set.insert(0).second);
    EXPECT_TRUE(set.insert(0xCBF29CE484222325ULL).second);
    EXPECT_FALSE(set.insert(0xCBF29CE484222325ULL).second);
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(set.count(0), 1u);
    EXPECT_EQ(set.count(1), 0u);
    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.count(0), 0u);
    EXPECT_EQ(set.count(0xCBF29CE484222325ULL), 0u);
}

TEST(HashSet64Test, AgreesWithAnOrderedSetAcrossGrowth) {
    // Values that share their low or high bits probe the same slots: the set must still keep
    // each of them once, through several doublings of the table.
    HashSet64 set;
    std::set<uint64_t> reference;
    uint64_t x = 1;
    for (int i = 0; i < 50000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const uint64_t value = (i % 3 == 0) ? (x & 0xFFFF) << 48 : (i % 3 == 1) ? x & 0xFFF : x;
        EXPECT_EQ(set.insert(value).second, reference.insert(value).second) << i;
    }
    EXPECT_EQ(set.size(), reference.size());
    for (uint64_t v : reference) ASSERT_EQ(set.count(v), 1u);
    EXPECT_EQ(set.count(0x123456789ULL), reference.count(0x123456789ULL));
}

TEST(HashSet64Test, AJournalsInsertionsAreTakenBack) {
    // Taking back what a journal recorded (in the reverse order, as a dropped file does) leaves
    // exactly the values from before; values seen before are not journaled.
    HashSet64 set;
    std::set<uint64_t> reference;
    uint64_t x = 7;
    for (int i = 0; i < 20000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        set.insert(i % 2 ? x : x & 0xFFFFF);
        reference.insert(i % 2 ? x : x & 0xFFFFF);
    }
    const std::set<uint64_t> before = reference;
    const std::vector<uint64_t> old(before.begin(), before.end());
    std::vector<uint64_t> journal;
    set.journal = &journal;
    for (int i = 0; i < 8000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const uint64_t value = i % 4 == 0 ? old[i % old.size()] : i % 4 == 1 ? x & 0xFFFFF : x;
        EXPECT_EQ(set.insert(value).second, reference.insert(value).second) << i;
    }
    set.journal = nullptr;
    EXPECT_EQ(journal.size(), reference.size() - before.size());
    for (auto it = journal.rbegin(); it != journal.rend(); ++it) set.erase(*it);
    EXPECT_EQ(set.size(), before.size());
    for (uint64_t v : reference) ASSERT_EQ(set.count(v), before.count(v)) << v;
}

TEST(HashSet64Test, ErasingKeepsTheRestOfARunFoundAcrossTheTablesEnd) {
    // Values whose probes start in the last slot and in the first ones make one run that wraps
    // around the end of the table; erasing any of them, in any order, must leave every other
    // one reachable.
    HashSet64 probe;
    probe.insert(1); // a table of its first size
    const size_t mask = probe.slots.size() - 1;
    std::vector<uint64_t> values;
    for (uint64_t v = 1; values.size() < 24; ++v) {
        const size_t home = HashSet64::Home(v, mask);
        if (home == mask || (home <= 1 && values.size() % 3 == 0)) values.push_back(v);
    }
    for (size_t start = 0; start < 3; ++start) {
        HashSet64 set;
        for (uint64_t v : values) set.insert(v);
        std::set<uint64_t> left(values.begin(), values.end());
        for (size_t i = start; i < values.size(); i += 3) {
            set.erase(values[i]);
            left.erase(values[i]);
            for (uint64_t v : values) ASSERT_EQ(set.count(v), left.count(v)) << v;
        }
        EXPECT_EQ(set.size(), left.size());
    }
}

} // namespace
} // namespace gleanery
