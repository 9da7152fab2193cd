// UTF-16 and UTF-8 building blocks that the converters, the search engine, the dialog and the
// command-line host share: surrogate tests, code points from pairs and back, UTF-8 encoding, and
// decimal numbers as UTF-16 text. All inline: several of them sit in loops over whole files.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace gleanery::platform {

// What an unpaired surrogate becomes wherever it has to take a UTF-8 form.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The tests take any 16-bit or wider unit: text, unaligned buffers and wider scratch values.
constexpr bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// True when the units at `i` and `i + 1` form a surrogate pair (one character, two units).
constexpr bool IsSurrogatePairAt(std::u16string_view text, size_t i) {
    return i + 1 < text.size() && IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]);
}

constexpr char32_t CodePointFromSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// A POSIX file name is bytes and need not be UTF-8: each byte outside a well-formed UTF-8 sequence
// travels in UTF-16 as the unpaired low surrogate U+DC00 + the byte (U+DC80..U+DCFF).
constexpr char16_t EscapedByteUnit(unsigned char byte) {
    return static_cast<char16_t>(0xDC00 + byte);
}
constexpr bool IsEscapedByte(char32_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}
constexpr char EscapedByteOf(char32_t unit) {
    return static_cast<char>(unit - 0xDC00);
}

// The UTF-16 form of `code` (one unit, or a surrogate pair above U+FFFF) appended to `out`.
inline void AppendUtf16(char32_t code, std::u16string& out) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
        return;
    }
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
}

// The UTF-8 forms of a code point known to take two, three or four bytes, written at `p`; each
// returns the end of what it wrote.
constexpr char* EncodeUtf8Of2(char32_t code, char* p) {
    *p++ = static_cast<char>(0xC0 | (code >> 6));
    *p++ = static_cast<char>(0x80 | (code & 0x3F));
    return p;
}
constexpr char* EncodeUtf8Of3(char32_t code, char* p) {
    *p++ = static_cast<char>(0xE0 | (code >> 12));
    *p++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (code & 0x3F));
    return p;
}
constexpr char* EncodeUtf8Of4(char32_t code, char* p) {
    *p++ = static_cast<char>(0xF0 | (code >> 18));
    *p++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (code & 0x3F));
    return p;
}

// Writes the UTF-8 form of `code` (1 to 4 bytes) at `p`; returns the end of what was written.
constexpr char* EncodeUtf8(char32_t code, char* p) {
    if (code < 0x80) {
        *p++ = static_cast<char>(code);
        return p;
    }
    if (code < 0x800) return EncodeUtf8Of2(code, p);
    if (code < 0x10000) return EncodeUtf8Of3(code, p);
    return EncodeUtf8Of4(code, p);
}

inline void AppendUtf8(char32_t code, std::string& out) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(code, bytes));
}

// UTF-16 units as UTF-8 appended to `out`; an unpaired surrogate becomes U+FFFD. Room for the
// worst case (three bytes a unit: a pair takes four bytes for two units) is made once, and the
// bytes are written straight into it, the most frequent forms tested first.
inline void AppendUtf16AsUtf8(std::u16string_view units, std::string& out) {
    const size_t count = units.size();
    const size_t start = out.size();
    out.resize(start + count * 3);
    char* p = out.data() + start;
    size_t i = 0;
    while (i < count) {
        char32_t code = units[i++];
        if (code < 0x80) {
            *p++ = static_cast<char>(code);
            continue;
        }
        if (code < 0x800) {
            p = EncodeUtf8Of2(code, p);
            continue;
        }
        if (IsHighSurrogate(code) && i < count && IsLowSurrogate(units[i])) {
            p = EncodeUtf8Of4(CodePointFromSurrogates(code, units[i++]), p);
            continue;
        }
        p = EncodeUtf8Of3(IsSurrogate(code) ? kReplacementCharacter : code, p);
    }
    out.resize(static_cast<size_t>(p - out.data()));
}

// `value` in decimal digits, with a leading '-' when it is negative.
template <std::integral Number>
std::u16string Decimal(Number value) {
    using Magnitude = std::make_unsigned_t<Number>;
    auto magnitude = static_cast<Magnitude>(value);
    bool negative = false;
    if constexpr (std::is_signed_v<Number>) {
        negative = value < 0;
        if (negative) magnitude = static_cast<Magnitude>(Magnitude{0} - magnitude);
    }
    char16_t digits[24]; // 20 digits of a 64-bit number and the sign
    char16_t* const end = digits + sizeof digits / sizeof digits[0];
    char16_t* p = end;
    do {
        *--p = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--p = u'-';
    return std::u16string(p, end);
}

} // namespace gleanery::platform
