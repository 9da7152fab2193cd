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
#include <optional>
#include <string>

#include "engine/search_context.h"

namespace gleanery {

struct HeldOutput {
    SearchContext* Context = nullptr;
    OutputSink Real; // where the output goes once it is let go
    std::string Bytes;
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
    std::optional<HashSet64> HashesBefore; // when the searches add to the duplicate filter
};

// From now on the context's output goes into `held` (which must stay where it is until it is
// released or dropped). False, with nothing held, when there is no memory to keep the state the
// file may have to be taken back to.
bool HoldOutput(SearchContext& context, HeldOutput& held, size_t limit);
// Writes out what is held and gives the context its output back. False when the writing failed.
bool ReleaseHeld(HeldOutput& held);
// Takes the job's results back to where they stood before the file and gives the context its
// output back. False when the output was let go already: what was written stays.
bool DropHeld(HeldOutput& held);

} // namespace gleanery
