// Input reading: encoding detection and the three readers.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace gleanery {

// Each reader closes `input` before it returns. The status says whether the job goes on. A file
// that could not be read whole (a read or an allocation failed, or the file got shorter while it
// was read) is searched as far as it was read and marked `ReadIncomplete`; a match lost where its
// text was cut marks it `CutMatchLost`.
SearchStatus ReadWholeFile(InputSource input, int64_t dataSize, SearchContext& context,
                           FileState& file);
SearchStatus ReadFileInParts(InputSource input, int64_t dataSize, SearchContext& context,
                             FileState& file, uint32_t memoryMiB);
SearchStatus ReadLines(InputSource input, int64_t dataSize, SearchContext& context, FileState& file,
                       uint32_t memoryMiB);

// Room for the files one thread reads whole, kept from file to file, so that such files cost
// neither an allocation nor fresh pages from the system. It is given back before a file that is
// read in parts or lines, whose reader takes memory of its own: a thread never holds both.
struct LoadBuffer {
    std::unique_ptr<char16_t[]> Units;
    size_t Capacity = 0; // in units
};
// The room a load buffer takes: enough for most files at first, and once a larger file comes,
// room for the largest file that is read whole, so that it never grows step by step (every step
// would take fresh pages from the system for the same bytes).
inline constexpr uint64_t kLeastLoadBytes = 0x40000;
inline constexpr uint64_t kMostLoadBytes = 0x500000;
void GiveBack(LoadBuffer& buffer);

// A file read whole in one go when it was opened, so that the encoding check and the search take
// their bytes from one read.
struct LoadedFile {
    // Holds the file's bytes, with room for a terminating unit behind them; null when the file
    // was not loaded.
    LoadBuffer* Buffer = nullptr;
    size_t Arrived = 0;
    bool ReadFailed = false;
};
// Reads the `size` bytes of the open `input` into `buffer` and closes it. False, with `input`
// left open and untouched, when there is no memory for them.
bool LoadWholeFile(platform::File& input, int64_t size, LoadBuffer& buffer, LoadedFile& loaded);
// Ends the file's hold on its buffer.
void ReleaseLoaded(LoadedFile& loaded);
// Searches a loaded file's text as ReadWholeFile searches what it reads: the `dataSize` bytes
// from byte `offset` (past a byte-order mark) on. Releases the file's hold on the buffer.
SearchStatus SearchLoadedFile(LoadedFile& loaded, uint32_t offset, int64_t dataSize,
                              SearchContext& context, FileState& file);

// Sizes the readers work with.
inline constexpr uint64_t kLineBlockBytes = 0x40000;     // ReadLines block (UTF-16: 0x20000 units)
inline constexpr uint64_t kFallbackPartBytes = 0x500000; // parts when memory is short: 5 MiB

namespace detail {
// Allocates `count` units without throwing; null when memory is short or a test made the
// allocation fail.
template <class T>
std::unique_ptr<T[]> TryAllocate(uint64_t count) {
    if (platform::ShouldFail(platform::FaultKind::Allocate)) return nullptr;
    if (count == 0 || count > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}

// ReadFileInParts with the part size in bytes (the MiB form calls this with memoryMiB << 20).
SearchStatus ReadFileInPartsOfSize(InputSource input, int64_t dataSize, SearchContext& context,
                                   FileState& file, uint64_t partBytes);
// ReadLines with the block size and the carry limit (the read memory) in bytes.
SearchStatus ReadLinesInBlocks(InputSource input, int64_t dataSize, SearchContext& context,
                               FileState& file, uint64_t blockBytes, uint64_t carryLimitBytes);
} // namespace detail

} // namespace gleanery
