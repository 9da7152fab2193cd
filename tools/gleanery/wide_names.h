// File names as the plug-in takes them: UTF-16. On POSIX a name is a byte string that need not
// be UTF-8; each byte that is not part of a well-formed UTF-8 sequence travels as the lone
// surrogate U+DC80..U+DCFF (U+DC00 + the byte), which the plug-in's file layer turns back into
// that byte, so every name reaches the plug-in intact and names the same file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace gleanery::cli {

std::u16string WideName(const std::filesystem::path::string_type& native);
// WideName appended to `out`.
void AppendWideName(const std::filesystem::path::string_type& native, std::u16string& out);
inline std::u16string WideName(const std::filesystem::path& path) {
    return WideName(path.native());
}
// The inverse of WideName.
std::filesystem::path PathFromWide(std::u16string_view name);

} // namespace gleanery::cli
