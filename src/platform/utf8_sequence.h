// The well-formed UTF-8 sequences by their lead byte: how long the sequence is and the range its
// second byte must lie in, which rules out overlong forms, surrogates and code points above
// U+10FFFF. The decoder and the validity check both draw the line here.
#pragma once

#include <cstddef>
#include <string_view>

namespace gleanery::platform {

struct Utf8Lead {
    int length = 0; // 2 to 4; 0 when the byte cannot lead a multi-byte sequence
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

constexpr Utf8Lead Utf8LeadOf(unsigned char lead) {
    Utf8Lead rule;
    if (lead >= 0xC2 && lead <= 0xDF) {
        rule.length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        rule.length = 3;
        if (lead == 0xE0) rule.low = 0xA0;
        if (lead == 0xED) rule.high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        rule.length = 4;
        if (lead == 0xF0) rule.low = 0x90;
        if (lead == 0xF4) rule.high = 0x8F;
    }
    return rule;
}

// How many bytes a byte's high bits claim for its sequence (C0 to DF: 2, E0 to EF: 3, F0 and
// above: 4, anything else: 1), whether or not the sequence could be well-formed: what a cut through
// text must keep together, so that a broken sequence stays in one piece too.
constexpr size_t Utf8ClaimedLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// The multi-byte sequence at `i` of `text` as `rule` allows it (the rule of its lead byte, or one
// a caller widened): its length, with its code point in `code`; 0 when the bytes there do not
// follow the rule or the text ends first.
constexpr size_t Utf8SequenceAt(std::string_view text, size_t i, const Utf8Lead& rule,
                                char32_t& code) {
    const auto length = static_cast<size_t>(rule.length);
    if (length == 0 || i + length > text.size()) return 0;
    code = static_cast<unsigned char>(text[i]) & (0x7F >> rule.length);
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if (next < (k == 1 ? rule.low : 0x80) || next > (k == 1 ? rule.high : 0xBF)) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    return length;
}

} // namespace gleanery::platform
