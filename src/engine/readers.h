// Input reading: encoding detection and the three readers.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

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
struct LoadBuffer;
// ReadWholeFile reads a file larger than kLoadBytes through `room` (the thread's load buffer),
// when given, instead of memory of its own.
SearchStatus ReadWholeFile(InputSource input, int64_t dataSize, SearchContext& context,
                           FileState& file, LoadBuffer* room = nullptr);
SearchStatus ReadFileInParts(InputSource input, int64_t dataSize, SearchContext& context,
                             FileState& file, uint32_t memoryMiB);
SearchStatus ReadLines(InputSource input, int64_t dataSize, SearchContext& context, FileState& file,
                       uint32_t memoryMiB);

namespace detail {
// Where read buffers start: on a cache line. The system copies a file's bytes into them about
// twice as fast as into memory that starts 16 bytes into a line (measured on the tree of the
// benchmarks: the copy's system time 0.24 -> 0.14 s), whatever the size of the reads.
inline constexpr size_t kBufferAlignment = 64;
struct AlignedFree {
    void operator()(void* units) const {
        ::operator delete[](units, std::align_val_t{kBufferAlignment});
    }
};
template <class T>
using AlignedUnits = std::unique_ptr<T[], AlignedFree>;

// Allocates `count` units on a cache line without throwing; null when memory is short or a test
// made the allocation fail.
template <class T>
AlignedUnits<T> TryAllocate(uint64_t count) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= kBufferAlignment);
    if (platform::ShouldFail(platform::FaultKind::Allocate)) return nullptr;
    if (count == 0 || count > SIZE_MAX / sizeof(T)) return nullptr;
    void* room = ::operator new[](static_cast<size_t>(count) * sizeof(T),
                                  std::align_val_t{kBufferAlignment}, std::nothrow);
    return AlignedUnits<T>(static_cast<T*>(room));
}
} // namespace detail

// Room for the files one thread reads, kept from file to file, so that they cost neither an
// allocation nor fresh pages from the system (a fault for every page, each time memory is taken
// anew). Files up to kLoadBytes are read into it whole at their open; a larger file searched
// whole has its encoding checked in it and is then read through it a block at a time, so that the
// room never grows (grown for the largest file, it would take that file's pages in every thread).
// It is given back before a file that is read in parts or lines, whose reader takes memory of its
// own: a thread never holds both.
struct LoadBuffer {
    detail::AlignedUnits<char16_t> Units;
    size_t Capacity = 0; // in units
};
inline constexpr uint64_t kLoadBytes = 0x40000;
// The room's size in units: kLoadBytes, a read buffer's alignment and a terminating unit or two.
inline constexpr uint64_t kLoadRoomUnits = (kLoadBytes + detail::kBufferAlignment) / 2 + 2;
// Gives `buffer` its room unless it has it. False when there is no memory for it.
bool EnsureLoadRoom(LoadBuffer& buffer);
void GiveBack(LoadBuffer& buffer);

// A file read whole when it was opened, so that the encoding check and the search take their
// bytes from one read.
struct LoadedFile {
    // Holds the file's bytes, with room for a terminating unit behind them; null when the file
    // was not loaded.
    LoadBuffer* Buffer = nullptr;
    size_t Expected = 0; // the file's size when it was opened
    size_t Arrived = 0;
    bool ReadFailed = false;
    // Every byte that arrived was found to be well-formed UTF-8 as it arrived (see FinishLoading).
    bool WellFormedUtf8 = false;
};
// Reads the first `firstBytes` (all of them when fewer) of the `size` bytes of the open `input`
// into `buffer`, which gets room for all of them. False, with `input` left open and untouched,
// when there is no memory for them.
bool StartLoading(platform::File& input, int64_t size, size_t firstBytes, LoadBuffer& buffer,
                  LoadedFile& loaded);
// Reads the rest of a file StartLoading began and closes `input`. With `checkUtf8`, the bytes are
// read a block at a time and each block is checked for well-formed UTF-8 while it is still in the
// processor's cache (a check of the whole text after the read would fetch it from memory again);
// `WellFormedUtf8` then says whether every byte passed.
void FinishLoading(platform::File& input, LoadedFile& loaded, bool checkUtf8);
// The blocks FinishLoading checks: they stay in the processor's second-level cache between the
// copy and the check.
inline constexpr uint64_t kCheckedBlockBytes = 0x20000;
// StartLoading and FinishLoading in one, without the check.
bool LoadWholeFile(platform::File& input, int64_t size, LoadBuffer& buffer, LoadedFile& loaded);
// Ends the file's hold on its buffer.
void ReleaseLoaded(LoadedFile& loaded);
// Searches a loaded file's text as ReadWholeFile searches what it reads: the `dataSize` bytes
// from byte `offset` (past a byte-order mark) on. Releases the file's hold on the buffer.
SearchStatus SearchLoadedFile(LoadedFile& loaded, uint32_t offset, int64_t dataSize,
                              SearchContext& context, FileState& file);
// ReadLines over a loaded file's `dataSize` bytes from byte `offset` on, as it reads the file (a
// file in line mode that fits the buffer is loaded at its open like any other: read again, it
// would cost a seek and a read more). Releases the file's hold on the buffer.
SearchStatus SearchLoadedLines(LoadedFile& loaded, uint32_t offset, int64_t dataSize,
                               SearchContext& context, FileState& file, uint32_t memoryMiB);

// Files read whole from this size on are read and searched a block at a time (see
// ReadWholeFileInBlocks): smaller ones are read in one go into the thread's kept buffer.
inline constexpr uint64_t kStreamedFromBytes = kLoadBytes;
inline constexpr uint64_t kStreamBlockBytes = 0x40000;

// Sizes the readers work with.
inline constexpr uint64_t kLineBlockBytes = 0x40000;     // ReadLines block (UTF-16: 0x20000 units)
inline constexpr uint64_t kFallbackPartBytes = 0x500000; // parts when memory is short: 5 MiB

namespace detail {
// ReadWholeFile for a file read and searched a block of `blockBytes` at a time (0: in one go),
// with what one search of the whole text finds; a UTF file's output is held (at most `heldLimit`
// bytes of it) until its last block passed the encoding check.
// `room`, when given and large enough for a block, is read into instead of memory of its own.
SearchStatus ReadWholeFileInBlocks(InputSource input, int64_t dataSize, SearchContext& context,
                                   FileState& file, uint64_t blockBytes, size_t heldLimit,
                                   LoadBuffer* room = nullptr);
// ReadFileInParts with the part size in bytes (the MiB form calls this with memoryMiB << 20).
SearchStatus ReadFileInPartsOfSize(InputSource input, int64_t dataSize, SearchContext& context,
                                   FileState& file, uint64_t partBytes);
// ReadLines with the block size and the carry limit (the read memory) in bytes.
SearchStatus ReadLinesInBlocks(InputSource input, int64_t dataSize, SearchContext& context,
                               FileState& file, uint64_t blockBytes, uint64_t carryLimitBytes);
} // namespace detail

} // namespace gleanery
