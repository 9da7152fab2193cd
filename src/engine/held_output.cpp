#include "engine/held_output.h"

#include <algorithm>
#include <new>

namespace gleanery {

namespace {

// The real output is started (emptied, for a file that had no output before) only when the held
// bytes go to it: a file whose output is dropped must not empty it either.
bool RestartHeld(void*) {
    return true;
}

// The room held output takes at the start: more than the output of most large files.
constexpr size_t kHeldReserveBytes = size_t{4} << 20;

// The held bytes' room goes back to the context for the next file (up to a bound: a file with an
// unusual amount of output does not keep its memory for the rest of the job).
constexpr size_t kKeptRoomBytes = size_t{16} << 20;

void ReturnRoom(HeldOutput& held) {
    held.Bytes.Size = 0;
    if (held.Bytes.Capacity > kKeptRoomBytes) held.Bytes = ByteRoom{};
    if (held.Context != nullptr) std::swap(held.Context->HeldRoom, held.Bytes);
}

bool LetGo(HeldOutput& held) {
    held.LetGo = true;
    const OutputSink& real = held.Real;
    if (!held.OutputStartedBefore && !real.Restart(real.Target)) return false;
    const bool written =
        held.Bytes.Size == 0 || real.Write(real.Target, held.Bytes.Data.get(), held.Bytes.Size);
    ReturnRoom(held);
    return written;
}

bool WriteHeld(void* target, const char* bytes, size_t count) {
    HeldOutput& held = *static_cast<HeldOutput*>(target);
    // Where the room cannot grow, the output is written out after all: results are not lost for
    // want of memory to hold them.
    if (!held.LetGo && count <= held.Limit - held.Bytes.Size && Append(held.Bytes, bytes, count))
        return true;
    if (!held.LetGo && !LetGo(held)) return false;
    return held.Real.Write(held.Real.Target, bytes, count);
}

} // namespace

HeldOutput::~HeldOutput() {
    if (Context == nullptr || Ended) return;
    ReturnRoom(*this);
    Context->Output = Real;
    Context->Result.SeenHashes.journal = nullptr;
}

void HoldOutput(SearchContext& context, HeldOutput& held, size_t limit) {
    ResultState& result = context.Result;
    if (context.JobSettings.NoDuplicates && !result.Records.On) {
        held.Journaled = true;
        result.SeenHashes.journal = &held.HashesAdded;
    }
    held.Context = &context;
    held.Real = context.Output;
    held.Limit = limit;
    // Room for the output a large file usually has, taken at once: grown step by step, the room
    // would be copied at every step and take fresh pages twice over. (Only what is written takes
    // pages; a reservation the system cannot grant just leaves the growing to the appends.)
    std::swap(held.Bytes, context.HeldRoom);
    Reserve(held.Bytes, std::min(limit, kHeldReserveBytes));
    held.BufferBefore = result.OutputBuffer.size();
    held.BytesWrittenBefore = result.BytesWritten;
    held.MatchCountBefore = result.MatchCount;
    held.DuplicateCountBefore = result.DuplicateCount;
    held.PartsEndedEarlyBefore = result.PartsEndedEarly;
    held.ItemsWrittenBefore = result.ItemsWritten;
    held.BomWrittenBefore = result.BomWritten;
    held.OutputStartedBefore = result.OutputStarted;
    held.RecordsBefore = result.Records.Matches.size();
    held.CounterMarksBefore = result.Records.Counters.size();
    held.CountersMadeBefore = result.Records.CountersMade;
    context.Output = OutputSink{&held, &RestartHeld, &WriteHeld};
}

bool ReleaseHeld(HeldOutput& held) {
    held.Ended = true;
    held.Context->Output = held.Real;
    held.Context->Result.SeenHashes.journal = nullptr;
    return held.LetGo || LetGo(held);
}

bool DropHeld(HeldOutput& held) {
    held.Ended = true;
    SearchContext& context = *held.Context;
    context.Output = held.Real;
    ResultState& result = context.Result;
    result.SeenHashes.journal = nullptr;
    if (held.LetGo) return false;
    // The first bytes that left the buffer while the file was held were the ones it held before.
    if (held.Bytes.Size == 0)
        result.OutputBuffer.resize(held.BufferBefore);
    else
        result.OutputBuffer.assign(held.Bytes.Data.get(),
                                   std::min(held.Bytes.Size, held.BufferBefore));
    ReturnRoom(held);
    result.BytesWritten = held.BytesWrittenBefore;
    result.MatchCount = held.MatchCountBefore;
    result.DuplicateCount = held.DuplicateCountBefore;
    result.PartsEndedEarly = held.PartsEndedEarlyBefore;
    result.ItemsWritten = held.ItemsWrittenBefore;
    result.BomWritten = held.BomWrittenBefore;
    result.OutputStarted = held.OutputStartedBefore;
    result.Records.Matches.resize(held.RecordsBefore);
    result.Records.Counters.resize(held.CounterMarksBefore);
    result.Records.CountersMade = held.CountersMadeBefore;
    for (auto it = held.HashesAdded.rbegin(); it != held.HashesAdded.rend(); ++it)
        result.SeenHashes.erase(*it);
    return true;
}

} // namespace gleanery
