// Inputs read as they come (standard input, a FIFO, a device) are copied into the run's private
// directory before the pack: the plug-in searches files whose size it can tell. The copy is
// named so that what the plug-in writes of the name (line-mode headers, \xNn and \xNN) is what
// the user gave: "(standard input)", or the operand itself.
#pragma once

#include <filesystem>
#include <string>

#include "file_walk.h"

namespace gleanery::cli {

// The name standard input is searched under.
inline constexpr char kStandardInputName[] = "(standard input)";

// Copies the stream `input` into `scratch` (the working directory during the pack). `entry`
// receives the add-list entry that reaches the copy from there: the operand itself when it is
// relative (or names a descriptor of this process, /dev/fd/N, which then leads to the copy),
// else the operand's absolute path without its root. False with the system's reason in `error`.
bool CopyStream(const Input& input, const std::filesystem::path& scratch, size_t index,
                std::u16string& entry, std::string& error);

} // namespace gleanery::cli
