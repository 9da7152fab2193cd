// Why the plug-in could not create or write the output file: it answers with a code only, so
// the host asks the system itself.
#pragma once

#include <filesystem>
#include <string>

namespace gleanery::cli {

// The reason `path` cannot be created now (": No such file or directory", ": a directory has
// that name", ...), with its leading ": "; empty when the system sees none.
std::string WhyNotCreated(const std::filesystem::path& path);
// The reason a write to `path` may have failed (a full disk), or empty.
std::string WhyNotWritten(const std::filesystem::path& path);

} // namespace gleanery::cli
