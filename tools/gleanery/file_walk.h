// The inputs of a pack, found as grep -r finds them: operands in the order given, directories
// walked in name order, links met while walking left alone unless asked to follow them, no file
// taken twice, and whatever cannot be searched named on standard error with the system's reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gleanery::cli {

struct Input {
    // A file: its absolute path. A stream: the operand as given ("-" for standard input). Text in
    // the system's own form: a path object for each of many files would take every name apart
    // into its components, only for the name to be handed on whole.
    std::filesystem::path::string_type path;
    // Standard input, or a FIFO or character device named as an operand: read as it comes.
    bool stream = false;
};

struct Walk {
    std::vector<Input> inputs;
    // Something named or met could not be searched (each already reported, or held).
    bool incomplete = false;
    // The reports are held here instead of going to standard error at once (a walk beside other
    // work has them said when it is done).
    bool holdProblems = false;
    std::vector<std::string> heldProblems;
};

// Collects the inputs of `operands`; with `follow` links met while walking are followed too
// (each directory entered once, so a link loop ends). Without, directories are listed on up to
// `threads` threads. Stops early after Ctrl-C.
void CollectInputs(const std::vector<std::string>& operands, bool follow, unsigned threads,
                   Walk& walk);

// The threads a walk lists directories on for the search's Threads setting: as many as the
// search has workers (one per core for 0, none beside the calling one for 1), at most a few: more
// would only queue up on the file system.
inline constexpr unsigned kMostWalkThreads = 8;
unsigned WalkThreads(int32_t threadsSetting);

} // namespace gleanery::cli
