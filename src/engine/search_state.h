// What the searches of a job keep between calls: per file, and for the whole job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/hash_set.h"
#include "engine/replacement_template.h"
#include "engine/text_pieces.h"

namespace gleanery {

// The carry limit of a reader that takes over whatever a search of a piece leaves open, however
// long (a whole file read a block at a time): the search never takes a piece's end for the text's
// end, and a piece of nothing but line breaks is left whole to the next.
inline constexpr size_t kCarryWithoutLimit = SIZE_MAX;

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
    // Set by a reader when the file's text goes on beyond the piece being searched (a part, or a
    // piece of a line longer than the read memory): the search then reports only what a search of
    // the whole text would, and stops at the first attempt that needs the text beyond.
    bool MoreFollows = false;
    // With MoreFollows: where (in units of the piece) the search must be taken up again, with the
    // text that follows appended; the piece's length when nothing was left open. Everything before
    // it is done, its matches reported and, in search and replace, its text copied.
    size_t ResumeAt = 0;
    // With MoreFollows: the most units the reader can carry into the next piece. A search that
    // would leave more open takes the piece's end for the text's end and marks CutMatchLost.
    // (The default: whatever is left open is carried, as by a reader of a whole file.)
    size_t CarryLimit = kCarryWithoutLimit;
    // Set by the search for the next piece of the same file: the carried rest begins with this
    // many units that were searched already (the characters a lookbehind at the resumption point
    // looks at); the next search starts after them.
    size_t SearchFrom = 0;
    // The search of this file is over before its end: an expression that is tried only where a
    // search starts (anchored) found nothing there, so no later piece holds a match either.
    bool SearchOver = false;
    // A match across a cut may be missing: it would have needed more than the read memory.
    bool CutMatchLost = false;
    // The file could not be read whole (a read failed, or the file got shorter while it was read).
    bool ReadIncomplete = false;
    std::u16string FileName;
};

// A match as a worker of a parallel search leaves it when the job filters duplicates or numbers
// its results: its items go to the output alone (no separator, header or counter), and the host's
// thread, which takes the files in add-list order, filters and numbers them from these.
struct MatchRecord {
    uint64_t End = 0;      // where the match's items end in the file's output
    uint64_t Hash = 0;     // of the match's text, when duplicates are filtered
    uint32_t Line = 0;     // the line (line mode)
    uint32_t Items = 0;    // items written
    uint32_t Counters = 0; // counters among them, the next ones of CounterMarks
};
// A counter item: the template code and where in the file's output its digits go.
struct CounterMark {
    uint64_t At = 0;
    int32_t Code = 0;
};
struct MatchRecords {
    bool On = false;
    // Those not yet handed on with the output: a flush of the output can take a match's counter
    // marks before the match's record is made.
    std::vector<MatchRecord> Matches;
    std::vector<CounterMark> Counters;
    uint64_t CountersMade = 0;
};

struct ResultState {
    // The library's output vector, the searches' scratch: it lives with the results of the
    // thread that searches rather than with each file, whose state a parallel search hands from
    // thread to thread (its 1,200 bytes would go along with every file).
    std::array<int, 300> OutputVector{};
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
    // When the match loop last asked the host whether to go on (see its Progress).
    bool ProgressClockStarted = false;
    uint32_t LastProgressTick = 0;
    // When results were last written out (see FlushWhenDue); the clock starts at its first look.
    bool FlushClockStarted = false;
    uint32_t LastFlushTick = 0;
    // The byte order mark the settings ask for is in the output (it goes before the first result,
    // or before the statistics when there was none).
    bool BomWritten = false;
    std::string OutputBuffer;
    // The bytes of the output written out of the buffer (or past it) so far.
    uint64_t BytesWritten = 0;
    MatchRecords Records;
    // Conversion state and scratch space reused from match to match.
    CodePageText Conversion;
    std::string HashScratch;
};

} // namespace gleanery
