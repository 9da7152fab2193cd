#include "engine/utf8_validity.h"

#include <cstdint>
#include <cstring>

#include "platform/utf8_sequence.h"

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
        const platform::Utf8Lead rule = platform::Utf8LeadOf(bytes[i]);
        const size_t size = static_cast<size_t>(rule.length);
        if (size == 0 || length - i < size) return false;
        if (bytes[i + 1] < rule.low || bytes[i + 1] > rule.high) return false;
        for (size_t k = 2; k < size; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        i += size;
    }
}

} // namespace gleanery
