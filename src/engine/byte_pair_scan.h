// The scan behind a literal start's candidates: where two of the literal's bytes stand at their
// distance from each other. A scan for one byte stops at every occurrence of it, and in ordinary
// text even a capital letter stands every few hundred bytes; two bytes together stop about where
// the literal stands.
#pragma once

#include <cstddef>

namespace gleanery {

struct BytePair {
    // The byte looked for at a position and the one `Gap` bytes after it (Gap > 0). A fold of
    // 0x20 makes an ASCII letter stand for both its cases (the byte is its lower case); 0 for
    // anything else.
    unsigned char First = 0;
    unsigned char FirstFold = 0;
    unsigned char Second = 0;
    unsigned char SecondFold = 0;
    size_t Gap = 1;
};

// The first position p in [from, end) where bytes[p] and bytes[p + Gap] are the pair's, or `end`.
// The bytes up to end - 1 + Gap must be readable.
size_t NextBytePair(const unsigned char* bytes, size_t from, size_t end, const BytePair& pair);

} // namespace gleanery
