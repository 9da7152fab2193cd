#include "engine/utf8_validity.h"

#include <cstdint>
#include <cstring>

namespace gleanery {

size_t AsciiPrefixLength(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if (word & 0x8080808080808080ULL) break;
    }
    while (i < length && bytes[i] < 0x80) ++i;
    return i;
}

bool IsValidUtf8(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    for (;;) {
        i += AsciiPrefixLength(bytes + i, length - i);
        if (i == length) return true;
        // The well-formed sequences: the lead byte fixes the length and the range of the second
        // byte, which rules out overlong forms, surrogates and code points above U+10FFFF.
        const unsigned char lead = bytes[i];
        size_t size = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            size = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            size = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            size = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (length - i < size) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (size_t k = 2; k < size; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        i += size;
    }
}

} // namespace gleanery
