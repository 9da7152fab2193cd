#include <gtest/gtest.h>

#include <set>

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

} // namespace
} // namespace gleanery
