// The match loop: runs the compiled expression over one part of one file and writes every
// reported match through the replacement template into the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/match_hash.h"
#include "engine/search_context.h"

namespace gleanery {

inline constexpr size_t kFlushThreshold = 0x20000;
inline constexpr size_t kOutputBufferCapacity = 0x40001;

// Searches `length` bytes (code-page text, UTF-8 or binary) of `file`.
SearchStatus SearchBytes(const char* text, size_t length, SearchContext& context, FileState& file);
// Searches `length` UTF-16 units in the machine's byte order.
SearchStatus SearchUnits(const char16_t* text, size_t length, SearchContext& context,
                         FileState& file);

// Line mode's headers before the results of a file and of a line: `>>>> "name":` (the name in
// the code page in binary mode, else UTF-8) and `>> Line n:`, each with a line break.
void AppendFileHeader(std::string& out, std::u16string_view name, const Settings& settings);
void AppendLineHeader(std::string& out, uint32_t line);

// Line mode: the first unit at or after `from` of a block of lines that a match could lie on;
// the lines before it need no search (see PassOverLine). `length` when there is none, SIZE_MAX
// when the job's lines must all be searched (search and replace copies each one). `wellFormed`:
// the lines before it need no check of their encoding.
size_t NextPossibleMatch(const char* text, size_t length, size_t from, SearchContext& context,
                         FileState& file, bool& wellFormed);
size_t NextPossibleMatch(const char16_t* text, size_t length, size_t from, SearchContext& context,
                         FileState& file, bool& wellFormed);
// Counts a line before the next possible match as searched, as its search would, and true; false
// when it must be searched after all (its encoding is to be checked, and fails).
bool PassOverLine(const char* line, size_t length, bool wellFormed, SearchContext& context,
                  FileState& file);
bool PassOverLine(const char16_t* line, size_t length, bool wellFormed, SearchContext& context,
                  FileState& file);
// Counts `lines` lines before the next possible match, whose encoding needs no check, as searched.
void PassOverLines(uint64_t lines, SearchContext& context, FileState& file);

// Results wait in the output buffer at most this long while a job goes on, so that a host that
// follows the output file (a pipe on the command line) sees them as they are found.
inline constexpr uint32_t kFlushIntervalMs = 100;
// Writes what the output buffer holds when the last write lies more than kFlushIntervalMs back.
// False when that write failed.
bool FlushWhenDue(SearchContext& context, uint32_t now);

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
    // Line mode passes over the lines before the next place a match could lie on (false: every
    // line is searched, to compare the ways of searching).
    bool LinesPassedOver = true;
};
namespace detail {
// The bounds every search uses; tests and fuzz targets make them small to cut often.
SearchSlices& Slices();
} // namespace detail

} // namespace gleanery
