#include "engine/byte_pair_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

namespace gleanery {
namespace {

// Texts of a filler with a few bytes strewn in, and ranges anywhere in them: every scan answers
// what a loop over the range one byte at a time answers, through its vector steps (whole steps
// without a hit included), its tail, or both.
TEST(BytePairScan, EveryScanAgreesWithALoopOverTheRange) {
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    const unsigned char strewn[] = {'a', 'A', 'b', 'B', '\n', '\r', 0xC3, 0x80};
    for (int round = 0; round < 80; ++round) {
        const size_t size = 1 + next() % 500;
        // (Room after the text for the pair scan's second byte.)
        std::string text(size + 8, 'x');
        for (size_t i = 0; i < size; ++i)
            if (next() % (round % 2 == 0 ? 6 : 90) == 0)
                text[i] = static_cast<char>(strewn[next() % 8]);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (int range = 0; range < 25; ++range) {
            const size_t from = next() % (size + 1);
            const size_t end = from + next() % (size + 1 - from);
            for (const auto& [a, b] :
                 {std::pair<unsigned char, unsigned char>{'a', 'A'}, {'\n', '\r'}, {'b', 'b'}}) {
                size_t first = end;
                size_t last = end;
                for (size_t i = from; i < end; ++i) {
                    if (bytes[i] != a && bytes[i] != b) continue;
                    if (first == end) first = i;
                    last = i;
                }
                EXPECT_EQ(NextEitherByte(bytes, from, end, a, b), first) << from << ".." << end;
                EXPECT_EQ(LastEitherByte(bytes, from, end, a, b), last) << from << ".." << end;
            }
            // 'a' in either case, then 'b' one to four bytes on.
            const BytePair pair{'a', 0x20, 'b', 0, 1 + next() % 4};
            size_t expected = end;
            for (size_t i = from; i < end && expected == end; ++i)
                if ((bytes[i] | 0x20) == 'a' && bytes[i + pair.Gap] == 'b') expected = i;
            EXPECT_EQ(NextBytePair(bytes, from, end, pair), expected)
                << from << ".." << end << " gap " << pair.Gap;
            // Each width of vectors the processor offers.
            for (const auto scan :
                 {detail::Utf8Scan::Scalar, detail::Utf8Scan::Avx2, detail::Utf8Scan::Avx512}) {
                if (!detail::Utf8ScanAvailable(scan)) continue;
                EXPECT_EQ(detail::NextBytePairOn(scan, bytes, from, end, pair), expected)
                    << from << ".." << end << " gap " << pair.Gap << " scan " << int(scan);
            }
        }
    }
}

} // namespace
} // namespace gleanery
