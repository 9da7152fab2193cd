#include "wide_names.h"

#include "platform/unicode.h"
#include "platform/utf8_sequence.h"

namespace gleanery::cli {

#if defined(_WIN32)

// Windows names are UTF-16 already, unpaired surrogates included.
void AppendWideName(const std::wstring& native, std::u16string& out) {
    out.append(native.begin(), native.end());
}

std::filesystem::path PathFromWide(std::u16string_view name) {
    return std::filesystem::path(std::wstring(name.begin(), name.end()));
}

#else

void AppendWideName(const std::string& bytes, std::u16string& wide) {
    // A name takes at most one unit a byte: written straight into room made once, ASCII (most
    // names) a unit at a time.
    const size_t start = wide.size();
    wide.resize(start + bytes.size());
    char16_t* out = wide.data() + start;
    for (size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            *out++ = byte;
            ++i;
            continue;
        }
        char32_t code = byte;
        const size_t length = platform::Utf8SequenceAt(bytes, i, platform::Utf8LeadOf(byte), code);
        if (length == 0) {
            *out++ = platform::EscapedByteUnit(byte);
            ++i;
            continue;
        }
        if (code < 0x10000) {
            *out++ = static_cast<char16_t>(code);
        } else {
            *out++ = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        i += length;
    }
    wide.resize(static_cast<size_t>(out - wide.data()));
}

std::filesystem::path PathFromWide(std::u16string_view name) {
    std::string bytes;
    bytes.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
        if (platform::IsSurrogatePairAt(name, i)) {
            platform::AppendUtf8(platform::CodePointFromSurrogates(unit, name[i + 1]), bytes);
            ++i;
        } else if (platform::IsEscapedByte(unit)) {
            bytes += platform::EscapedByteOf(unit);
        } else if (platform::IsSurrogate(unit)) {
            platform::AppendUtf8(platform::kReplacementCharacter, bytes); // no byte string names it
        } else {
            platform::AppendUtf8(unit, bytes);
        }
    }
    return std::filesystem::path(std::move(bytes));
}

#endif

std::u16string WideName(const std::filesystem::path::string_type& native) {
    std::u16string wide;
    AppendWideName(native, wide);
    return wide;
}

} // namespace gleanery::cli
