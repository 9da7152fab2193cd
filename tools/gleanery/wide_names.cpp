#include "wide_names.h"

#include "platform/utf8_sequence.h"

namespace gleanery::cli {

#if defined(_WIN32)

// Windows names are UTF-16 already, unpaired surrogates included.
std::u16string WideName(const std::filesystem::path& path) {
    const std::wstring& native = path.native();
    return std::u16string(native.begin(), native.end());
}

std::filesystem::path PathFromWide(std::u16string_view name) {
    return std::filesystem::path(std::wstring(name.begin(), name.end()));
}

#else

namespace {

// The length of the well-formed UTF-8 sequence at `i` with its code point, or 0.
size_t SequenceAt(const std::string& bytes, size_t i, char32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const platform::Utf8Lead rule = platform::Utf8LeadOf(lead);
    if (rule.length == 0 || i + static_cast<size_t>(rule.length) > bytes.size()) return 0;
    code = lead & (0x7F >> rule.length);
    for (int k = 1; k < rule.length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]);
        const unsigned char low = k == 1 ? rule.low : 0x80;
        const unsigned char high = k == 1 ? rule.high : 0xBF;
        if (next < low || next > high) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    return static_cast<size_t>(rule.length);
}

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

std::u16string WideName(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    std::u16string wide;
    wide.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char32_t code = byte;
        const size_t length = byte < 0x80 ? 1 : SequenceAt(bytes, i, code);
        if (length == 0) {
            wide.push_back(static_cast<char16_t>(0xDC00 + byte));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return wide;
}

std::filesystem::path PathFromWide(std::u16string_view name) {
    std::string bytes;
    bytes.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
            name[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (name[i + 1] - 0xDC00), bytes);
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            bytes += static_cast<char>(unit - 0xDC00);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(0xFFFD, bytes); // no byte string names it
        } else {
            AppendUtf8(unit, bytes);
        }
    }
    return std::filesystem::path(std::move(bytes));
}

#endif

} // namespace gleanery::cli
