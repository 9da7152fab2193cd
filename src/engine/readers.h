// Input reading: encoding detection and the three readers.
#pragma once

#include <cstdint>

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

} // namespace gleanery
