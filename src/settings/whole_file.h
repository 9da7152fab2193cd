// Reading a settings file whole and replacing it whole.
#pragma once

#include <string>

namespace gleanery {

// The file's bytes; false when it cannot be opened or read, or holds more than 5 MiB.
bool ReadWholeFile(const std::u16string& path, std::string& data);

// Writes the whole content into a new file beside `path` and puts that file in its place in one
// step, so that a failed write (disk full, no permission) leaves the old file as it was, and a
// reader sees either the old file or the new one, never a part. With `durable` the new content
// is on the disk before the file takes the old one's place (a crash then leaves one or the other).
bool ReplaceFileContent(const std::u16string& path, const std::string& data, bool durable);

} // namespace gleanery
