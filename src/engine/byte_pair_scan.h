// The scans behind a search's candidates. A literal start's: where two of the literal's bytes
// stand at their distance from each other (a scan for one byte stops at every occurrence of it,
// and in ordinary text even a capital letter stands every few hundred bytes; two bytes together
// stop about where the literal stands). A required letter's in either case, and the line breaks
// around it: where either of two bytes stands.
#pragma once

#include <cstddef>

#include "engine/utf8_validity.h"

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
namespace detail {
// NextBytePair on vectors no wider than `widest`'s, which the processor must offer.
size_t NextBytePairOn(Utf8Scan widest, const unsigned char* bytes, size_t from, size_t end,
                      const BytePair& pair);
} // namespace detail

// The first position p in [from, end) where bytes[p] is `a` or `b`, or `end`: a letter in either
// case, or a line break of either kind.
size_t NextEitherByte(const unsigned char* bytes, size_t from, size_t end, unsigned char a,
                      unsigned char b);
// The last position p in [from, end) where bytes[p] is `a` or `b`, or `end` when there is none.
size_t LastEitherByte(const unsigned char* bytes, size_t from, size_t end, unsigned char a,
                      unsigned char b);

} // namespace gleanery
