// What every search of one job shares: the settings, the compiled forms, the system's facts, the
// running results, where the output goes and whom to tell about progress. The job builds it once;
// the readers and the match loop take it instead of a long list of parameters, and tests build one
// over an in-memory output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/compiled_expression.h"
#include "engine/byte_room.h"
#include "engine/search_state.h"
#include "platform/files.h"
#include "platform/system_facts.h"
#include "settings/settings.h"

namespace gleanery {

// How a search (of a part, a line, a file) ended, for the caller to decide what comes next.
enum class SearchStatus {
    GoOn,        // done; the next part or file may follow
    LimitHit,    // the library stopped at one of its limits: the file is marked, the job goes on
    Cancelled,   // the host asked to stop: nothing more is searched
    WriteFailed, // the output could not be written: nothing more is searched
};

// Whether the job goes on after a search that ended so.
inline bool GoesOn(SearchStatus status) {
    return status == SearchStatus::GoOn || status == SearchStatus::LimitHit;
}

// Where the results go: the output file in a pack, a string in tests. Plain functions over an
// opaque target, so the match loop never knows which.
struct OutputSink {
    void* Target = nullptr;
    // Empties the output before its first write: an existing file the user agreed to replace
    // must not keep any of its old content.
    bool (*Restart)(void* target) = nullptr;
    bool (*Write)(void* target, const char* bytes, size_t count) = nullptr;
};
OutputSink FileSink(platform::File& file);
OutputSink StringSink(std::string& text);

// Where a reader takes a file's bytes from: the open input file in a pack, memory in tests.
struct InputSource {
    void* Target = nullptr;
    // Reads up to `count` bytes, fewer only at the end; `got` says how many. False on a failure.
    bool (*Read)(void* target, void* buffer, size_t count, size_t& got) = nullptr;
    // Done with the input. A reader closes it as soon as it has what it needs, so that a file is
    // not held open through a long search of its text.
    void (*Close)(void* target) = nullptr;
};
InputSource FileSource(platform::File& file);

// The host's progress callback for a file: the bytes done since the last call (0: still
// working). False asks to stop.
using ProgressFn = bool (*)(const std::u16string& fileName, int bytes);

struct SearchContext {
    const Settings& JobSettings;
    const CompiledExpression& Compiled;
    const platform::SystemFacts& System;
    ResultState& Result;
    OutputSink Output;
    ProgressFn Progress = nullptr;
    // Set for the searches of a worker thread in a parallel job, which never call the host: the
    // job's stop flag answers for it, and the bytes done are counted for the host's thread to
    // report.
    const std::atomic<bool>* Stop = nullptr;
    std::atomic<uint64_t>* BytesDone = nullptr;
    // Room for the output a large file's search holds back (see HeldOutput), kept from file to
    // file: fresh memory costs a fault of every page it takes, each time it is taken.
    ByteRoom HeldRoom{};

    // Asks the host whether to go on; a missing callback always goes on.
    bool KeepGoing(const std::u16string& fileName, int bytes) const {
        if (Stop != nullptr) {
            if (bytes > 0) BytesDone->fetch_add(static_cast<uint64_t>(bytes));
            return !Stop->load(std::memory_order_relaxed);
        }
        return Progress == nullptr || Progress(fileName, bytes);
    }
};

// Empties the output on its first use. False when that failed.
bool StartOutput(const OutputSink& output, ResultState& result);
// Starts the output if need be and writes what the result buffer holds. False when either failed.
bool FlushOutput(const OutputSink& output, ResultState& result);

} // namespace gleanery
