// A file's output held back until the file is known to be well encoded.
//
// A search of a whole UTF text at once has the library check the text before it looks for the
// first match, so a file with one bad character anywhere yields nothing but its mark as badly
// encoded. A large file searched as it is read, block by block, finds out about a bad block only
// when it arrives: its output is held in memory meanwhile, and dropped, with everything else the
// file added to the job's results, when a bad block comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/search_context.h"

namespace gleanery {

struct HeldOutput {
    HeldOutput() = default;
    // The context points at the hold while it lasts: it stays where it is.
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    // A hold that was neither released nor dropped (an exception left the reading) gives the
    // context its output and its duplicate filter back; what it held is lost with the file.
    ~HeldOutput();

    SearchContext* Context = nullptr;
    bool Ended = false; // released or dropped
    OutputSink Real;    // where the output goes once it is let go
    ByteRoom Bytes;
    // The most bytes held. Beyond it (or when memory runs short) the output is let go at once
    // and can no longer be dropped: a bad block after that leaves the results before it.
    size_t Limit = 0;
    bool LetGo = false;

    // The job's results as they stood before the file.
    size_t BufferBefore = 0;
    uint64_t BytesWrittenBefore = 0;
    uint64_t MatchCountBefore = 0;
    uint64_t DuplicateCountBefore = 0;
    uint64_t PartsEndedEarlyBefore = 0;
    uint32_t ItemsWrittenBefore = 0;
    bool BomWrittenBefore = false;
    bool OutputStartedBefore = false;
    size_t RecordsBefore = 0;
    size_t CounterMarksBefore = 0;
    uint64_t CountersMadeBefore = 0;
    // The values the file's searches added to the duplicate filter (when they add to it), taken
    // out again when the file is dropped: a copy of the filter for every large file would cost
    // as much as the filter, however little the file adds.
    std::vector<uint64_t> HashesAdded;
    bool Journaled = false;
};

// From now on the context's output goes into `held` until it is released or dropped.
void HoldOutput(SearchContext& context, HeldOutput& held, size_t limit);
// Writes out what is held and gives the context its output back. False when the writing failed.
bool ReleaseHeld(HeldOutput& held);
// Takes the job's results back to where they stood before the file and gives the context its
// output back. False when the output was let go already: what was written stays.
bool DropHeld(HeldOutput& held);

} // namespace gleanery
