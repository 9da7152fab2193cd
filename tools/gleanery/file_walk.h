// The inputs of a pack, found as grep -r finds them: operands in the order given, directories
// walked in name order, links met while walking left alone unless asked to follow them, no file
// taken twice, and whatever cannot be searched named on standard error with the system's reason.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
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

// Inputs handed over while the walk goes on, so that the search can begin with the first ones.
struct WalkFeed {
    std::mutex lock;
    std::condition_variable found;
    std::vector<Input> inputs; // found and not yet taken
    bool done = false;         // the walk has ended
    // The taker wants no more (the pack ended early): the walk ends at its next look.
    std::atomic<bool> abandoned{false};
};

struct Walk {
    // The inputs found; with a feed, only those not yet handed to it.
    std::vector<Input> inputs;
    // Something named or met could not be searched (each already reported, or held).
    bool incomplete = false;
    // The reports are held here instead of going to standard error at once (a walk beside other
    // work has them said when it is done).
    bool holdProblems = false;
    std::vector<std::string> heldProblems;
    // Set: the inputs go to the feed as they are found, directory by directory.
    WalkFeed* feed = nullptr;
};

// Collects the inputs of `operands`; with `follow` links met while walking are followed too
// (each directory entered once, so a link loop ends). Stops early after Ctrl-C.
void CollectInputs(const std::vector<std::string>& operands, bool follow, Walk& walk);

// Waits for inputs found since the last call and moves them to the end of `into`; false once the
// walk has ended and every input was taken.
bool TakeFound(WalkFeed& feed, std::vector<Input>& into);

} // namespace gleanery::cli
