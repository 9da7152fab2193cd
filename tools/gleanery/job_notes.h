// What the plug-in noted after a pack about files it could not search whole, on standard error:
// a file not opened with the system's reason, a file partly skipped for its encoding, and the
// plug-in's own lists (a limit ended the search, the expression did not compile for a file, ...)
// under their headings.
#pragma once

#include <filesystem>

#include "plugin_library.h"

namespace gleanery::cli {

// Prints the notes of the last pack; true when they named any file. `output` is the pack's
// output file, which the plug-in never reads as input.
bool ReportJobNotes(const PluginExports& plugin, const std::filesystem::path& output);

} // namespace gleanery::cli
