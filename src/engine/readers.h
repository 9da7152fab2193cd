// Input reading: encoding detection and the three readers.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace gleanery {

enum class Utf16Guess { Neither, LittleEndian, BigEndian };

// Decides how the open `input` is searched; leaves its position at the first byte to search.
bool DetectEncoding(int64_t size, uint32_t& bomLength, platform::File& input, FileState& file,
                    const Settings& settings);
Utf16Guess GuessUtf16(const unsigned char* bytes, size_t n);
// `ok` is cleared only when a byte-swapped copy could not be allocated.
bool CheckUtf16(const unsigned char* bytes, size_t length, bool bigEndian, bool nonCharacterScan,
                bool& ok);

// Each reader closes `input` before it returns. False only when the output could not be written.
bool ReadWholeFile(platform::File input, platform::File& output, int64_t dataSize,
                   const CompiledExpression& compiled, FileState& file, Settings& settings,
                   ResultState& result, bool& abort);
bool ReadFileInParts(platform::File input, platform::File& output, int64_t dataSize,
                     const CompiledExpression& compiled, FileState& file, Settings& settings,
                     ResultState& result, uint32_t memoryMiB, bool& abort);
bool ReadLines(platform::File input, platform::File& output, int64_t dataSize,
               const CompiledExpression& compiled, FileState& file, Settings& settings,
               ResultState& result, uint32_t memoryMiB, bool& abort);

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
bool ReadFileInPartsOfSize(platform::File input, platform::File& output, int64_t dataSize,
                           const CompiledExpression& compiled, FileState& file, Settings& settings,
                           ResultState& result, uint64_t partBytes, bool& abort);
// ReadLines with the block size and the carry limit (the read memory) in bytes.
bool ReadLinesInBlocks(platform::File input, platform::File& output, int64_t dataSize,
                       const CompiledExpression& compiled, FileState& file, Settings& settings,
                       ResultState& result, uint64_t blockBytes, uint64_t carryLimitBytes,
                       bool& abort);
} // namespace detail

} // namespace gleanery
