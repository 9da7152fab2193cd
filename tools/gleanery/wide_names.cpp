#include "wide_names.h"

#include "platform/unicode.h"
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

std::u16string WideName(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    std::u16string wide;
    wide.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char32_t code = byte;
        const size_t length =
            byte < 0x80 ? 1 : platform::Utf8SequenceAt(bytes, i, platform::Utf8LeadOf(byte), code);
        if (length == 0) {
            wide.push_back(platform::EscapedByteUnit(byte));
            ++i;
            continue;
        }
        platform::AppendUtf16(code, wide);
        i += length;
    }
    return wide;
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

} // namespace gleanery::cli
