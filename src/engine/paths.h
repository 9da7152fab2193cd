// Path text helpers: the "\\?\" long form and its display.
#pragma once

#include <string>

namespace gleanery {

inline constexpr size_t kMaxPath = 260;

// "\\?\" in front, or "\\?\UNC" for a UNC path ("\\server\share" becomes "\\?\UNC\server\share").
std::u16string ToLongForm(const std::u16string& path);
// The path as shown to the user: without a long-form prefix.
std::u16string DisplayPath(const std::u16string& path);
// The name used for file operations: the long form for paths of kMaxPath characters or more,
// where the platform needs it.
std::u16string AccessName(const std::u16string& fullName);
// AccessName into `name`, keeping its room.
void AssignAccessName(const std::u16string& fullName, std::u16string& name);
// The part after the last backslash or slash; the whole text when there is neither.
std::u16string FileNamePart(const std::u16string& path);

} // namespace gleanery
