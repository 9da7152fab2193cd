// The result of a pack to "-": the finished output file copied to standard output.
#pragma once

#include <filesystem>
#include <string>

namespace gleanery::cli {

enum class CopyResult { Done, Cancelled, Failed };

// Copies `file` to standard output. With `lines` (results the plug-in separated by CR LF) every
// CR LF becomes the platform's line end and the last line gets one too, so that line tools
// (sort, uniq, wc -l) see each result as a line. A terminal gets the text with its control
// characters escaped; a pipe or a file gets the bytes. Ctrl-C stops the copy (Cancelled); when
// the reader has gone (a closed pipe) the process ends by SIGPIPE, as a filter does, after its
// temporary directory is removed.
CopyResult CopyToStdout(const std::filesystem::path& file, bool lines, std::string& error);

} // namespace gleanery::cli
