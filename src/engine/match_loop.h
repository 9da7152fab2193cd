// The match loop: runs the compiled expression over one part of one file and writes every
// reported match through the replacement template into the output.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/compiled_expression.h"
#include "engine/hash_set.h"
#include "engine/replacement_template.h"
#include "engine/text_pieces.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace gleanery {

struct FileState {
    bool IsUtf8 = false;
    bool IsUtf16 = false;
    bool IsBigEndian = false;
    bool CheckUtfOnFirstSearch = false;
    bool BadEncoding = false;
    // The library stopped a search of this file at one of its limits (match limit, recursion
    // limit, JIT stack, memory): results after that point of a part are missing.
    bool EndedEarly = false;
    // The expression's form for this file's encoding did not compile: nothing of it was searched.
    bool NotCompiled = false;
    // The next search is the rest of a line whose start was searched already (a line longer
    // than the read memory goes in pieces): it keeps the line's number and its line-mode header.
    bool ContinuesLine = false;
    bool LineHeaderWritten = false;
    std::u16string FileName;
    std::array<int, 300> OutputVector{};
};

struct ResultState {
    ReplacementTemplate Template;
    HashSet64 SeenHashes;
    uint64_t TotalParts = 0;
    uint32_t PartsInFile = 0;
    uint64_t PartsEndedEarly = 0;
    uint64_t MatchCount = 0;
    uint64_t DuplicateCount = 0;
    uint32_t ItemsWritten = 0;
    bool FileHeaderWritten = false;
    bool OutputStarted = false;
    std::string OutputBuffer;
    // Conversion state and scratch space reused from match to match.
    CodePageText Conversion;
    std::string HashScratch;
};

inline constexpr size_t kFlushThreshold = 0x20000;
inline constexpr size_t kOutputBufferCapacity = 0x40001;

// Searches `length` bytes (code-page text, UTF-8 or binary). False when the output could not
// be written.
bool SearchBytes(const char* text, size_t length, platform::File& output,
                 const CompiledExpression& compiled, FileState& file, Settings& settings,
                 ResultState& result, bool& abort);
// Searches `length` UTF-16 units in the machine's byte order.
bool SearchUnits(const char16_t* text, size_t length, platform::File& output,
                 const CompiledExpression& compiled, FileState& file, Settings& settings,
                 ResultState& result, bool& abort);
// Truncates the output on first use and, when `write` is set and `ok`, writes the buffer.
// Returns the new ok.
bool FlushOutput(platform::File& output, ResultState& result, bool ok, bool write);

// Bounds of the slices a long search is cut into, in units of the text (see the match loop).
// Each text starts small, since one start position of a costly expression can take a fraction of
// a millisecond; slices double while they take little time, up to a size where the cutting costs
// nothing measurable (one library call per 16 Ki units).
struct SearchSlices {
    size_t Smallest = 0x10;
    size_t First = 0x100;
    size_t Largest = 0x4000;
    // Expressions whose matches lie within a line and hold a required character are searched in
    // the lines that hold it, in texts of at least this many units (SIZE_MAX: never, to compare
    // the ways of searching).
    size_t LinesFrom = 0x400;
};
namespace detail {
// The bounds every search uses; tests and fuzz targets make them small to cut often.
SearchSlices& Slices();
} // namespace detail

// The duplicate filter's 64-bit hash over UTF-8 (or raw) bytes; pass the previous result as `h`
// to continue a hash over a text given in pieces.
uint64_t MatchHash(const char* bytes, size_t length, uint64_t h = 0xCBF29CE484222325ULL);

} // namespace gleanery
