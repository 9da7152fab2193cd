// The duplicate filter's 64-bit hash of a match's text. Its values are part of the filter's
// behaviour (equal hashes count as equal texts), so the formula never changes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gleanery {

// The hash over UTF-8 (or raw) bytes; pass the previous result as `h` to continue a hash over a
// text given in pieces.
inline uint64_t MatchHash(const char* bytes, size_t length, uint64_t h = 0xCBF29CE484222325ULL) {
    for (size_t i = 0; i < length; ++i) {
        const uint64_t b =
            static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(bytes[i])));
        const uint64_t x = (h ^ b) * 0x106CC0001B3ULL;
        const uint64_t y = (x ^ (x >> 14)) * 0x41ULL;
        h = (y ^ (y >> 34)) * 0x401ULL;
    }
    return h;
}

} // namespace gleanery
