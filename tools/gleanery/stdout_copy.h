// The result of a pack to "-": the private output file followed while the plug-in writes it, and
// copied to standard output as it grows.
#pragma once

#include <filesystem>
#include <string>

namespace gleanery::cli {

enum class CopyResult { Done, Cancelled, Failed, Closed };

struct FollowOptions {
    // Results the plug-in separated by CR LF: every CR LF becomes the platform's line end and the
    // last line gets one too, so that line tools (sort, uniq, wc -l) see each result as a line.
    // Without it (search and replace, binary mode) file contents go out byte for byte.
    bool lines = true;
    // The statistics block names the output file: there it names standard output instead of the
    // private file (empty: nothing to rename).
    std::string privateName;
};

// Starts copying `file` (made by the plug-in later, possibly never) to standard output on a
// thread of its own. A terminal gets the text with its control characters escaped; a pipe or a
// file gets the bytes.
void StartFollowing(const std::filesystem::path& file, const FollowOptions& options);
// Whether the reader of standard output has gone (a closed pipe): the pack should stop.
bool StdoutClosed();
// After the pack: copies what is left (nothing after Ctrl-C: Cancelled) and ends the thread.
// Closed when the reader went away, Failed with the system's reason in `error` when a write
// failed otherwise.
CopyResult FinishFollowing(std::string& error);

} // namespace gleanery::cli
