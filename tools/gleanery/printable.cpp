#include "printable.h"

#include <cstdio>

#include "platform/unicode.h"
#include "platform/utf8_sequence.h"

namespace gleanery::cli {

namespace {

void AppendEscape(const char* format, unsigned value, std::string& out) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// The length of the sequence at `i` when it is well-formed UTF-8 or the three-byte form of a
// surrogate (what an unchecked UTF-16 conversion makes of an unpaired one), else 0.
size_t SequenceAt(std::string_view text, size_t i, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[i]);
    platform::Utf8Lead rule = platform::Utf8LeadOf(lead);
    if (lead == 0xED) rule.high = 0xBF;
    return platform::Utf8SequenceAt(text, i, rule, code);
}

} // namespace

std::string Printable(std::string_view text, LineBreaks lineBreaks) {
    const bool keepLineBreaks = lineBreaks == LineBreaks::Keep;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            const bool lineBreak = byte == '\n' || byte == '\t' ||
                                   (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
            if ((byte < 0x20 || byte == 0x7F) && !(keepLineBreaks && lineBreak))
                AppendEscape("\\x%02X", byte, out);
            else
                out += static_cast<char>(byte);
            ++i;
            continue;
        }
        char32_t code = 0;
        const size_t length = SequenceAt(text, i, code);
        if (length == 0) {
            AppendEscape("\\x%02X", byte, out);
            ++i;
            continue;
        }
        if (platform::IsEscapedByte(code))
            AppendEscape("\\x%02X", static_cast<unsigned char>(platform::EscapedByteOf(code)), out);
        else if (code <= 0x9F || platform::IsSurrogate(code))
            AppendEscape("\\u%04X", static_cast<unsigned>(code), out);
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

size_t CompletePrefix(std::string_view text) {
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto byte = static_cast<unsigned char>(text[n - back]);
        if (byte < 0x80) return n;
        if (byte >= 0xC0) {
            const int length = platform::Utf8LeadOf(byte).length;
            return length > static_cast<int>(back) ? n - back : n;
        }
    }
    return n;
}

} // namespace gleanery::cli
