// The three readers: whole file, parts, and lines. They bring the input into memory in the units
// the match loop needs and call it once per part or line; a part or a piece of a long line that
// the text goes on beyond leaves what its search could not finish for the next one.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/detect_encoding.h"
#include "engine/held_output.h"
#include "engine/readers.h"
#include "engine/utf8_validity.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "platform/utf8_sequence.h"

namespace gleanery {

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// Everything one reader hands on to the match loop for every piece of one file.
struct Sink {
    SearchContext& context;
    FileState& file;
    // How the searches so far ended: a limit lets the reading go on, a cancel or a failed write
    // ends it.
    SearchStatus status = SearchStatus::GoOn;

    bool Going() const { return GoesOn(status); }
    void Note(SearchStatus latest) {
        if (Going() && latest != SearchStatus::GoOn) status = latest;
    }
    void Search(const char* text, size_t length) { Note(SearchBytes(text, length, context, file)); }
    void Search(const char16_t* text, size_t length) {
        Note(SearchUnits(text, length, context, file));
    }
    // Searches a piece that the file's text goes on beyond. Returns where the search must be taken
    // up again (everything before is done); the units from there on are to be carried, at most
    // `carryLimit` of them, and searched again with what follows.
    template <class Unit>
    size_t SearchOpen(const Unit* text, size_t length, size_t carryLimit) {
        file.MoreFollows = true;
        file.CarryLimit = carryLimit;
        file.ResumeAt = length; // a search that finds nothing to do leaves nothing open
        Search(text, length);
        file.MoreFollows = false;
        file.CarryLimit = kCarryWithoutLimit;
        return std::min(file.ResumeAt, length);
    }
    const Settings& JobSettings() const { return context.JobSettings; }
    // The host's progress callback, which may ask to stop.
    void Progress(uint64_t bytes) {
        if (Going() && !FlushWhenDue(context, platform::TickCount()))
            Note(SearchStatus::WriteFailed);
        const int size = bytes > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
        if (!context.KeepGoing(file.FileName, size)) Note(SearchStatus::Cancelled);
    }
};

bool NeedsSwap(const FileState& file) {
    return file.IsUtf16 && file.IsBigEndian != platform::kHostIsBigEndian;
}

void SwapUnits(char16_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i)
        units[i] = static_cast<char16_t>((units[i] >> 8) | (units[i] << 8));
}

template <class Unit>
bool IsLineEnd(Unit u) {
    return static_cast<char16_t>(static_cast<std::make_unsigned_t<Unit>>(u)) == kLf ||
           static_cast<char16_t>(static_cast<std::make_unsigned_t<Unit>>(u)) == kCr;
}

// Index of the first CR or LF at or after `i`; `count` when there is none. The line reader
// spends most of its time here, between two searches, so the scan looks at eight bytes (four
// UTF-16 units) at a time: a lane holds a line end when it is zero after an xor with CR or LF
// in every lane. The lowest lane the test flags is exact (a borrow only spreads upwards), and
// on a little-endian machine the lowest lane is the first unit. The last few units go one by one.
template <class Unit>
size_t NextLineEnd(const Unit* units, size_t i, size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr size_t kLanes = sizeof(uint64_t) / sizeof(Unit);
        constexpr uint64_t kOnes =
            sizeof(Unit) == 1 ? 0x0101010101010101ULL : 0x0001000100010001ULL;
        constexpr uint64_t kHighBits = kOnes << (8 * sizeof(Unit) - 1);
        constexpr uint64_t kLfLanes = kOnes * kLf;
        constexpr uint64_t kCrLanes = kOnes * kCr;
        auto zeroLanes = [](uint64_t v) { return (v - kOnes) & ~v & kHighBits; };
        for (; i + kLanes <= count; i += kLanes) {
            uint64_t word;
            std::memcpy(&word, units + i, sizeof word);
            const uint64_t ends = zeroLanes(word ^ kLfLanes) | zeroLanes(word ^ kCrLanes);
            if (ends != 0) return i + std::countr_zero(ends) / (8 * sizeof(Unit));
        }
    }
    while (i < count && !IsLineEnd(units[i])) ++i;
    return i;
}

template <class Unit>
bool Is(Unit u, char16_t what) {
    return static_cast<char16_t>(static_cast<std::make_unsigned_t<Unit>>(u)) == what;
}

// The line ends among the units from `from` to `to` (before `count`), a CR LF pair counting as
// one: every LF and every CR that no LF follows. A CR before `to` that an LF follows must have
// that LF before `to` too. Eight bytes (four UTF-16 units) a step: a lane is a line end when it is
// zero after an xor with LF, or with CR while the lane one unit on is not zero after one with LF.
template <class Unit>
uint64_t CountLineEnds(const Unit* units, size_t from, size_t to, size_t count) {
    uint64_t ends = 0;
    size_t i = from;
#ifdef __SSE2__
    if constexpr (sizeof(Unit) == 1) {
        // Sixteen bytes a step: every line end subtracts -1 from its byte's counter, and the
        // counters are summed before any could overflow.
        const __m128i lfs = _mm_set1_epi8(kLf);
        const __m128i crs = _mm_set1_epi8(kCr);
        while (i + 16 <= to && i + 16 < count) {
            __m128i counters = _mm_setzero_si128();
            for (int step = 0; step < 255 && i + 16 <= to && i + 16 < count; ++step, i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
                const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 1));
                const __m128i lone =
                    _mm_andnot_si128(_mm_cmpeq_epi8(n, lfs), _mm_cmpeq_epi8(v, crs));
                counters = _mm_sub_epi8(counters, _mm_or_si128(_mm_cmpeq_epi8(v, lfs), lone));
            }
            const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
            ends += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
                    static_cast<uint64_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
        }
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        constexpr size_t kLanes = sizeof(uint64_t) / sizeof(Unit);
        constexpr uint64_t kOnes =
            sizeof(Unit) == 1 ? 0x0101010101010101ULL : 0x0001000100010001ULL;
        constexpr uint64_t kLow = kOnes * (sizeof(Unit) == 1 ? 0x7F : 0x7FFF);
        // Exactly the zero lanes' high bits (no borrow crosses a lane).
        auto zeroLanes = [](uint64_t v) { return ~(((v & kLow) + kLow) | v | kLow); };
        // How many lanes have their high bit set: the lanes, shifted to 0 or 1, summed into the
        // top lane by a multiplication (a population count is a library call where the
        // processor's instruction may not be assumed).
        constexpr unsigned kLaneBits = 8 * sizeof(Unit);
        auto lanesSet = [](uint64_t highBits) {
            return ((highBits >> (kLaneBits - 1)) * kOnes) >> (64 - kLaneBits);
        };
        // (The next units are read one unit on: up to `to`, which is before `count`.)
        for (; i + kLanes <= to && i + kLanes < count; i += kLanes) {
            uint64_t word, next;
            std::memcpy(&word, units + i, sizeof word);
            std::memcpy(&next, units + i + 1, sizeof next);
            const uint64_t lf = zeroLanes(word ^ (kOnes * kLf));
            const uint64_t lone =
                zeroLanes(word ^ (kOnes * kCr)) & ~zeroLanes(next ^ (kOnes * kLf));
            ends += lanesSet(lf) + lanesSet(lone);
        }
    }
    for (; i < to; ++i) {
        if (Is(units[i], kLf) || (Is(units[i], kCr) && !(i + 1 < count && Is(units[i + 1], kLf))))
            ++ends;
    }
    return ends;
}

// Where the last line that begins before `limit` (and whose line end lies whole before `count`)
// begins, from `from` on; `from` when no line end comes before it.
template <class Unit>
size_t LastLineStartBefore(const Unit* units, size_t from, size_t limit, size_t count) {
    for (size_t j = std::min(limit, count); j > from; --j) {
        const size_t at = j - 1;
        if (!IsLineEnd(units[at])) continue;
        size_t start = at + 1;
        if (Is(units[at], kCr) && start < count && Is(units[start], kLf)) ++start;
        // (A CR at the block's end may be the first half of a pair; a line end at the very end of
        // the text is followed by one more line: the line-by-line walk sees to both.)
        if (start <= limit && start < count) return start;
    }
    return from;
}

// Reads up to `bytes` bytes and returns how many arrived. A failed or short read (the file got
// shorter since its size was taken) marks the file as not read whole; what arrived before stays
// usable. Its end may cut a character, and what arrived need not be what the encoding check saw,
// so the next search of the file checks its text.
void NoteArrival(bool read, size_t got, uint64_t bytes, FileState& file) {
    if (!read || got < bytes) {
        file.ReadIncomplete = true;
        file.CheckUtfOnFirstSearch = true;
    }
}

size_t ReadWhatArrives(InputSource& input, void* buffer, uint64_t bytes, FileState& file) {
    if (bytes == 0) return 0;
    size_t got = 0;
    const bool read = input.Read(input.Target, buffer, static_cast<size_t>(bytes), got);
    got = std::min<size_t>(got, static_cast<size_t>(bytes));
    NoteArrival(read, got, bytes, file);
    return got;
}

// Whether a text that is nothing but the start of one cut character may be cut to nothing: a
// reader that carries what it cuts off may; one that must search something keeps it whole.
enum class CutAlone { Kept, Carried };

// The bytes up to the end of the last whole UTF-8 character: without the start of a character
// whose lead byte claims more bytes than follow it.
size_t Utf8WholeLength(const unsigned char* bytes, size_t count, CutAlone alone) {
    size_t start = count; // the last byte that is not a continuation byte
    while (start > 0 && count - start < 4 && (bytes[start - 1] & 0xC0) == 0x80) --start;
    if (start == 0) return count;
    const size_t needed = platform::Utf8ClaimedLength(bytes[start - 1]);
    const size_t present = count - (start - 1);
    const bool cut = needed > present && (start - 1 > 0 || alone == CutAlone::Carried);
    return cut ? start - 1 : count;
}

// The units up to the end of the last whole character. A piece cut where a buffer ends may end
// inside a character in UTF text; the searched text would then end in invalid UTF and the whole
// piece be reported as badly encoded. The incomplete character goes to the next piece instead.
template <class Unit>
size_t WholeCharacters(const Unit* units, size_t count, const FileState& file,
                       CutAlone alone = CutAlone::Kept) {
    if constexpr (sizeof(Unit) == 2) {
        const size_t least = alone == CutAlone::Carried ? 0 : 1;
        const bool highSurrogateLast = count > least && platform::IsHighSurrogate(units[count - 1]);
        return file.IsUtf16 && highSurrogateLast ? count - 1 : count;
    } else {
        return file.IsUtf8
                   ? Utf8WholeLength(reinterpret_cast<const unsigned char*>(units), count, alone)
                   : count;
    }
}

// Reads from byte `arrived` on up to byte `expected` with `read(to, count, got)`, which answers
// false on a failure. With `checkUtf8` the bytes come in blocks, each checked for well-formed UTF-8
// while it is still in the processor's cache (one check of the whole text after the read would
// fetch it from memory again), and the answer is whether all of them, from the first, are; a
// block's check ends before a character its end cuts, which the next one takes. Without, one read
// brings all and the answer is false. A file that got shorter since its size was taken answers the
// next read with nothing.
template <class Read>
bool ReadChecking(Read&& read, unsigned char* bytes, size_t& arrived, size_t expected,
                  bool checkUtf8, bool& failed) {
    size_t checked = 0; // ends on a whole character
    bool wellFormed = checkUtf8;
    auto check = [&](size_t end) {
        if (!wellFormed || end <= checked) return;
        wellFormed = IsValidUtf8(bytes + checked, end - checked);
        checked = end;
    };
    while (!failed && arrived < expected) {
        if (checkUtf8) check(Utf8WholeLength(bytes, arrived, CutAlone::Kept));
        const size_t want = checkUtf8 ? std::min<size_t>(kCheckedBlockBytes, expected - arrived)
                                      : expected - arrived;
        size_t got = 0;
        failed = !read(bytes + arrived, want, got);
        arrived += std::min(got, want);
        if (got < want) break;
    }
    check(arrived);
    return wellFormed && !failed && arrived == expected;
}

// ---- whole file ---------------------------------------------------------------------------

// Buffers from this size on are filled with large pages where the system offers them.
constexpr uint64_t kLargeBufferBytes = 0x400000;

// Searches the whole text of a file: the `got` bytes at `text`, with room for one more unit
// behind them. A file that got shorter is searched as far as it was read; one that yielded
// nothing is not searched at all (an empty match there would be no result of the file): false.
template <class Unit>
bool SearchArrived(Unit* text, size_t got, Sink& sink) {
    size_t units = got / sizeof(Unit);
    if (sink.file.ReadIncomplete) {
        if (units == 0) return false;
        units = WholeCharacters(text, units, sink.file);
    }
    text[units] = 0;
    if constexpr (sizeof(Unit) == 2) {
        if (NeedsSwap(sink.file)) SwapUnits(text, units);
    }
    sink.Search(text, units);
    return true;
}

template <class Unit>
void SearchWholeFile(InputSource& input, uint64_t bytes, detail::AlignedUnits<Unit>& buffer,
                     Sink& sink) {
    if (bytes >= kLargeBufferBytes) platform::AdviseLargeBuffer(buffer.get(), bytes);
    // The rest of a UTF-8 text the encoding check did not see is checked as it arrives.
    FileState& file = sink.file;
    const bool checkUtf8 = sizeof(Unit) == 1 && file.IsUtf8 && file.CheckUtfOnFirstSearch;
    auto read = [&](unsigned char* to, size_t count, size_t& got) {
        return input.Read(input.Target, to, count, got);
    };
    size_t got = 0;
    bool failed = false;
    const bool wellFormed = ReadChecking(read, reinterpret_cast<unsigned char*>(buffer.get()), got,
                                         static_cast<size_t>(bytes), checkUtf8, failed);
    NoteArrival(!failed, got, bytes, file);
    if (wellFormed) file.CheckUtfOnFirstSearch = false;
    input.Close(input.Target);
    if (!SearchArrived(buffer.get(), got, sink)) return;
    buffer.reset();
    // Reported once the file is done. A 0 answer still stops the job: the user cancelled, and the
    // files after this one must not be searched.
    sink.Progress(got);
}

// False when there is no memory for the whole file.
template <class Unit>
bool SearchWholeFileIfRoom(InputSource& input, uint64_t bytes, Sink& sink) {
    auto buffer = detail::TryAllocate<Unit>(bytes / sizeof(Unit) + 1);
    if (!buffer) return false;
    SearchWholeFile(input, bytes, buffer, sink);
    return true;
}

// ---- whole file, block by block -------------------------------------------------------------

// Whether the units hold no surrogate but in a high-low pair (what the library's check of UTF-16
// text asks for). Runs without a surrogate, the rule in most text, are passed over 32 units a step
// on vector instructions, 16 where there are none (four units to a word: a lane is a surrogate
// when it is zero after masking and an xor with 0xD800).
bool IsWellFormedUtf16(const char16_t* units, size_t count) {
    constexpr uint64_t kOnes = 0x0001000100010001ULL;
    constexpr uint64_t kHighBits = kOnes << 15;
    constexpr uint64_t kMask = kOnes * 0xF800;
    constexpr uint64_t kSurrogates = kOnes * 0xD800;
    auto surrogateLanes = [](uint64_t word) {
        const uint64_t v = (word & kMask) ^ kSurrogates;
        return (v - kOnes) & ~v & kHighBits;
    };
    size_t i = 0;
    while (i < count) {
        // Long runs without a surrogate, the common case, pass by the widest vectors there are.
        i += SurrogateFreeSteps(units + i, count - i);
#ifdef __SSE2__
        if (i + 32 <= count) {
            const __m128i mask = _mm_set1_epi16(static_cast<short>(0xF800));
            const __m128i lead = _mm_set1_epi16(static_cast<short>(0xD800));
            __m128i any = _mm_setzero_si128();
            for (size_t k = 0; k < 32; k += 8) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + k));
                any = _mm_or_si128(any, _mm_cmpeq_epi16(_mm_and_si128(v, mask), lead));
            }
            if (_mm_movemask_epi8(any) == 0) {
                i += 32;
                continue;
            }
        }
#endif
        if (i + 16 <= count) {
            uint64_t words[4];
            std::memcpy(words, units + i, sizeof words);
            if ((surrogateLanes(words[0]) | surrogateLanes(words[1]) | surrogateLanes(words[2]) |
                 surrogateLanes(words[3])) == 0) {
                i += 16;
                continue;
            }
        }
        const char16_t u = units[i++];
        if (platform::IsLowSurrogate(u)) return false;
        if (platform::IsHighSurrogate(u) && (i == count || !platform::IsLowSurrogate(units[i++])))
            return false;
    }
    return true;
}

template <class Unit>
bool IsWellFormed(const Unit* units, size_t count) {
    if constexpr (sizeof(Unit) == 2)
        return IsWellFormedUtf16(units, count);
    else
        return IsValidUtf8(reinterpret_cast<const unsigned char*>(units), count);
}

// The units up to the end of the last whole character, none when the first is cut: the rest goes
// with the next block.
template <class Unit>
size_t CompleteCharacters(const Unit* units, size_t count, const FileState& file) {
    return WholeCharacters(units, count, file, CutAlone::Carried);
}

// Whether the searches of the file have an expression to run: without one every search fails
// before the library looks at the text's encoding.
bool HasForm(const CompiledExpression& compiled, const FileState& file) {
    if (file.IsUtf16) return compiled.Utf16Code != nullptr;
    return (file.IsUtf8 ? compiled.Utf8Code : compiled.AnsiCode) != nullptr;
}

// A file read whole reports its progress every this many bytes.
constexpr uint64_t kStreamProgressBytes = 0x400000;

// A large file searched whole, read a block at a time into memory that stays in the processor's
// cache, instead of into one buffer of its size that the system must first clear and that every
// byte crosses main memory twice to reach. It finds what one search of the whole text finds:
// every block but the last is searched knowing that the text goes on, and what that search leaves
// open is carried, however long (a read then brings at least as much new text as is carried, so
// that no text is searched more than about twice). A UTF file's blocks are checked as they
// arrive; its output is held until the last block passed, and a bad block drops it (a search of
// the whole text finds a bad character before its first match). A search that stopped at one of
// the library's limits ends the file's searching, as it would end the one search of the whole;
// the rest is still read for its check. The file counts as one part. False when there is no
// memory to begin with.
template <class Unit>
bool SearchStreamed(InputSource& input, uint64_t bytes, uint64_t blockBytes, size_t heldLimit,
                    LoadBuffer* room, Sink& sink) {
    constexpr uint64_t kUnit = sizeof(Unit);
    constexpr size_t kPadUnits = detail::kBufferAlignment / kUnit;
    FileState& file = sink.file;
    SearchContext& context = sink.context;
    const uint64_t blockUnits = std::max<uint64_t>(1, blockBytes / kUnit);
    // (Room for the block, the carried units' alignment, a unit a UTF-16 file's odd byte starts
    // and the terminating unit.)
    size_t capacity = static_cast<size_t>(std::min(blockUnits, bytes / kUnit + 1)) + kPadUnits + 2;
    // The thread's room when it is large enough, memory of its own otherwise (and once a carry
    // outgrows the room).
    detail::AlignedUnits<Unit> owned;
    Unit* buffer = nullptr;
    if (room != nullptr && room->Capacity * 2 >= capacity * kUnit) {
        buffer = reinterpret_cast<Unit*>(room->Units.get());
        capacity = room->Capacity * 2 / kUnit;
    } else {
        owned = detail::TryAllocate<Unit>(capacity);
        if (!owned) return false;
        buffer = owned.get();
    }
    const bool checked = (file.IsUtf8 || file.IsUtf16) && file.CheckUtfOnFirstSearch;
    HeldOutput held;
    if (checked) HoldOutput(context, held, heldLimit);
    // The blocks' own checks stand for the library's.
    file.CheckUtfOnFirstSearch = false;
    const uint32_t partsBefore = context.Result.PartsInFile;

    bool searching = true;
    bool searchedAny = false;
    bool bad = false;
    const Unit* carriedFrom = nullptr;
    size_t carried = 0;   // units taken over from the last block
    size_t unchecked = 0; // the carried units at their end not yet checked: a character cut in two
    uint64_t position = 0;
    uint64_t reported = 0;
    while (position < bytes && sink.Going()) {
        // A carry of up to half a block is topped up to a block, a longer one doubled: the room
        // of a block holds the first, and every read brings at least as much new text as is
        // carried.
        const uint64_t newUnits = carried <= blockUnits / 2 ? blockUnits - carried : carried;
        const uint64_t toRead = std::min(newUnits * kUnit, bytes - position);
        const size_t needed = carried + static_cast<size_t>(toRead / kUnit) + kPadUnits + 2;
        if (needed > capacity) {
            const size_t grown = std::max(needed, capacity * 2);
            auto larger = detail::TryAllocate<Unit>(grown);
            if (!larger) {
                // The carried text is searched as the text's end, up to its last whole character
                // (a cut one is not searched, nor checked): the rest is not read.
                file.ReadIncomplete = true;
                Unit* units = buffer;
                std::memmove(units, carriedFrom, carried * kUnit);
                const size_t length = CompleteCharacters(units, carried, file);
                if (searching && length != 0) {
                    units[length] = 0;
                    sink.Search(units, length);
                    searchedAny = true;
                }
                break;
            }
            capacity = grown;
            if (carried != 0) std::memcpy(larger.get(), carriedFrom, carried * kUnit);
            carriedFrom = larger.get();
            buffer = larger.get();
            owned = std::move(larger);
        }
        // The carried units go just before a cache line, so that the read fills memory that
        // starts on one.
        Unit* units = buffer + (kPadUnits - carried % kPadUnits) % kPadUnits;
        if (carried != 0) std::memmove(units, carriedFrom, carried * kUnit);
        const size_t got = ReadWhatArrives(input, units + carried, toRead, file);
        position += got;
        size_t count = carried + got / kUnit;
        if constexpr (sizeof(Unit) == 2) {
            if (NeedsSwap(file)) SwapUnits(units + carried, count - carried);
        }
        const bool last = position >= bytes || file.ReadIncomplete;
        if (last && file.ReadIncomplete) count = WholeCharacters(units, count, file);
        const size_t whole = last ? count : CompleteCharacters(units, count, file);
        if (checked) {
            const size_t from = carried - unchecked;
            bad = !IsWellFormed(units + from, whole - from);
            unchecked = count - whole;
            if (bad) break;
        }
        if (searching && last) {
            // The arrived text is searched, unless a file that got shorter yielded nothing.
            // (Nothing left means nothing to search: the text's end was searched with the block
            // before, and an empty match at the end of a text is no result.)
            if (count != 0) {
                units[count] = 0;
                sink.Search(units, count);
                searchedAny = true;
            }
            carried = 0;
        } else if (searching) {
            const Unit kept = units[whole];
            units[whole] = 0;
            const size_t resume = sink.SearchOpen(units, whole, kCarryWithoutLimit);
            searchedAny = true;
            units[whole] = kept;
            carried = count - resume;
            carriedFrom = units + resume;
            if (sink.status == SearchStatus::LimitHit) searching = false;
        }
        // Once the searching ended, only a text still to be checked is read on.
        if (!searching && !checked) break;
        if (!searching) {
            carried = unchecked;
            carriedFrom = units + count - unchecked;
        }
        if (!sink.Going()) break;
        const uint64_t done = last ? position : position - carried * kUnit;
        if (last || done - reported >= kStreamProgressBytes) {
            sink.Progress(done - reported);
            reported = done;
        }
        if (last) break;
    }
    // One search of the whole ran, and failed at once when the text was badly encoded.
    if (searchedAny || bad) context.Result.PartsInFile = partsBefore + 1;
    if (bad) {
        file.BadEncoding = true;
        if (DropHeld(held)) file.EndedEarly = file.CutMatchLost = false;
    } else if (checked && !ReleaseHeld(held)) {
        sink.Note(SearchStatus::WriteFailed);
    }
    return true;
}

// ---- parts ----------------------------------------------------------------------------------

// Every part is one search. Each part but the last is searched knowing that the text goes on, up
// to its last whole character: a match that runs on past the part's end is not reported there,
// and the search hands back where it must be taken up again. The units from there on move to the
// buffer's start and the next read fills the rest of the part. At most half a part is carried, so
// every read brings at least half a part of new text and no text is searched more than about
// twice; a match that would need more is searched as if the part's end were the text's, and the
// file is marked.
template <class Unit>
void SearchParts(InputSource& input, uint64_t dataSize, uint64_t partBytes, Sink& sink) {
    constexpr uint64_t kUnit = sizeof(Unit);
    // Parts hold whole units; a part never exceeds what one allocation can address.
    partBytes = std::min<uint64_t>(partBytes, SIZE_MAX / 4) / kUnit * kUnit;
    if (partBytes == 0) partBytes = kUnit;

    detail::AlignedUnits<Unit> buffer; // one buffer for the whole file, sized by the first part
    // The carried units go just before a cache line, so that every read fills memory that starts
    // on one (the system copies into it faster).
    constexpr size_t kPadUnits = detail::kBufferAlignment / kUnit;
    const Unit* carriedFrom = nullptr;
    uint64_t position = 0; // bytes read
    uint64_t reported = 0; // bytes reported to the host as done
    size_t carried = 0;    // units taken over from the previous part
    while (position < dataSize && sink.Going()) {
        if (!buffer) {
            uint64_t first = std::min(partBytes, dataSize);
            buffer = detail::TryAllocate<Unit>(first / kUnit + 1 + kPadUnits);
            if (!buffer && partBytes > kFallbackPartBytes) {
                partBytes = kFallbackPartBytes;
                first = std::min(partBytes, dataSize);
                buffer = detail::TryAllocate<Unit>(first / kUnit + 1 + kPadUnits);
            }
            if (!buffer) {
                sink.file.ReadIncomplete = true;
                break;
            }
            if (first >= kLargeBufferBytes) platform::AdviseLargeBuffer(buffer.get(), first);
        }
        Unit* units = buffer.get() + (kPadUnits - carried % kPadUnits) % kPadUnits;
        if (carried != 0) std::memmove(units, carriedFrom, carried * kUnit);
        const uint64_t toRead = std::min(partBytes - carried * kUnit, dataSize - position);
        const size_t got = ReadWhatArrives(input, units + carried, toRead, sink.file);
        position += got;
        size_t count = carried + got / kUnit;
        if constexpr (sizeof(Unit) == 2) {
            if (NeedsSwap(sink.file)) SwapUnits(units + carried, count - carried);
        }

        const bool last = position >= dataSize || sink.file.ReadIncomplete;
        if (last) {
            // A file that got shorter ends where its reading did, on a whole character.
            if (sink.file.ReadIncomplete) {
                if (count == 0) break;
                count = WholeCharacters(units, count, sink.file);
            }
            units[count] = 0;
            sink.Search(units, count);
            carried = 0;
        } else {
            const size_t length = WholeCharacters(units, count, sink.file);
            const size_t beyond = count - length; // a character cut in two
            const size_t half = static_cast<size_t>(partBytes / kUnit / 2);
            const size_t limit = half > beyond ? half - beyond : 0;
            const Unit kept = units[length];
            units[length] = 0;
            size_t resume = sink.SearchOpen(units, length, limit);
            units[length] = kept;
            // The search leaves no more open than the limit. Should it leave more, the characters
            // it keeps only to look back at (searched already) are given up, and should all of the
            // part still be open, its open rest too: there would be no room for the next read.
            if (length - resume > limit) {
                resume = std::min(length, resume + std::exchange(sink.file.SearchFrom, 0));
                if (resume == 0) {
                    resume = length;
                    sink.file.CutMatchLost = true;
                }
            }
            carried = count - resume;
            carriedFrom = units + resume;
        }
        if (!sink.Going()) break;
        const uint64_t done = last ? position : position - carried * kUnit;
        sink.Progress(done - reported);
        reported = done;
        if (last) break;
    }
}

// ---- lines ----------------------------------------------------------------------------------

// A growable buffer that never throws, with a ceiling on how far it grows at once.
template <class Unit>
struct CarryBuffer {
    detail::AlignedUnits<Unit> data;
    size_t size = 0;
    size_t capacity = 0;
    size_t ceiling = 0; // the most it ever needs to hold

    bool Reserve(size_t wanted) {
        if (wanted <= capacity) return true;
        size_t grown = std::max(wanted, std::min(capacity * 2, ceiling));
        auto fresh = detail::TryAllocate<Unit>(grown);
        if (!fresh) return false;
        if (size != 0) std::memcpy(fresh.get(), data.get(), size * sizeof(Unit));
        data = std::move(fresh);
        capacity = grown;
        return true;
    }
    bool Append(const Unit* units, size_t count) {
        if (count == 0) return true;
        if (!Reserve(size + count)) return false;
        std::memcpy(data.get() + size, units, count * sizeof(Unit));
        size += count;
        return true;
    }
};

template <class Unit>
struct LineReader {
    Sink& sink;
    CarryBuffer<Unit> carry;
    bool stopped = false; // an allocation failed: the rest of the file is skipped

    bool Going() const { return !stopped && sink.Going(); }

    // One line: joined to the carried start of the line when there is one.
    void Line(const Unit* text, size_t length) {
        if (carry.size == 0) {
            sink.Search(text, length);
        } else if (!carry.Append(text, length)) {
            stopped = true;
        } else {
            sink.Search(carry.data.get(), carry.size);
            carry.size = 0;
        }
        // The next line is a text of its own: a search that was over for this one is not for it.
        sink.file.ContinuesLine = false;
        sink.file.SearchOver = false;
    }
    void EmptyLine() {
        static const Unit kEmpty[1] = {0};
        sink.file.ContinuesLine = false;
        sink.Search(kEmpty, 0);
    }
    // The carried start of a line longer than the read memory, searched knowing that the line
    // goes on; the rest follows as the same line. What the search left open stays in the carry,
    // at most half the read memory of it, so that at least half of it is new text each time.
    void Piece(size_t carryLimit) {
        Unit* units = carry.data.get();
        const size_t whole = WholeCharacters(units, carry.size, sink.file);
        const size_t beyond = carry.size - whole; // a character cut in two
        const size_t half = carryLimit / 2;
        const size_t resume = sink.SearchOpen(units, whole, half > beyond ? half - beyond : 0);
        sink.file.ContinuesLine = true;
        carry.size -= resume;
        std::memmove(units, units + resume, carry.size * sizeof(Unit));
    }
};

// The stretch of a block's lines whose encoding one check found sound: every line in it is (a
// line break is a character of its own), so its lines need no check of their own, which in text of
// short lines costs more than the search of the few that can hold a match. The stretch leaves out
// a line that joins text carried from the block before or runs on into the next one.
struct SoundLines {
    size_t from = 0;
    size_t end = 0; // empty: every line is checked on its own
};

template <class Unit>
SoundLines SoundLinesOf(const Unit* units, size_t start, size_t count, bool lastBlock,
                        const LineReader<Unit>& reader) {
    const FileState& file = reader.sink.file;
    if (!file.CheckUtfOnFirstSearch || (sizeof(Unit) == 1 && !file.IsUtf8)) return {};
    SoundLines sound{start, count};
    if (reader.carry.size != 0 || file.ContinuesLine)
        sound.from = NextLineEnd(units, start, count) + 1;
    if (!lastBlock)
        while (sound.end > sound.from && !IsLineEnd(units[sound.end - 1])) --sound.end;
    if (sound.end <= sound.from) return {};
    bool wellFormed = false;
    if constexpr (sizeof(Unit) == 1)
        wellFormed = IsValidUtf8(reinterpret_cast<const unsigned char*>(units + sound.from),
                                 sound.end - sound.from);
    else
        wellFormed = !HoldsSurrogates(units + sound.from, sound.end - sound.from);
    return wellFormed ? sound : SoundLines{};
}

template <class Unit>
void SearchLines(InputSource& input, uint64_t dataSize, uint64_t blockBytes,
                 uint64_t carryLimitBytes, Sink& sink) {
    constexpr uint64_t kUnit = sizeof(Unit);
    const uint64_t totalUnits = dataSize / kUnit;
    if (totalUnits == 0) return;
    const uint64_t blockUnits =
        std::max<uint64_t>(1, std::min<uint64_t>(blockBytes, SIZE_MAX / 4) / kUnit);
    const uint64_t carryLimitUnits = std::min<uint64_t>(carryLimitBytes, SIZE_MAX / 4) / kUnit;

    auto block = detail::TryAllocate<Unit>(std::min(blockUnits, totalUnits) + 1);
    LineReader<Unit> reader{sink, {}};
    // The carry never holds more than the limit plus one block before it is searched.
    reader.carry.ceiling = static_cast<size_t>(carryLimitUnits + blockUnits + 1);
    if (!block || !reader.carry.Reserve(static_cast<size_t>(kLineBlockBytes / kUnit))) {
        sink.file.ReadIncomplete = true;
        return;
    }

    uint64_t done = 0;      // units read so far
    bool pendingCr = false; // the previous block ended with a CR
    while (done < totalUnits && reader.Going()) {
        const size_t wanted = static_cast<size_t>(std::min(blockUnits, totalUnits - done));
        Unit* units = block.get();
        size_t count = ReadWhatArrives(input, units, wanted * kUnit, sink.file) / kUnit;
        // A file that got shorter ends where its reading did, on a whole character.
        if (sink.file.ReadIncomplete) count = WholeCharacters(units, count, sink.file);
        if constexpr (sizeof(Unit) == 2) {
            if (NeedsSwap(sink.file)) SwapUnits(units, count);
        }
        const bool lastBlock = done + count == totalUnits || sink.file.ReadIncomplete;
        if (count == 0) {
            // Nothing more arrived: the line begun before is the last one, or, after a line
            // end that closed the text, the empty line that follows it.
            if (reader.carry.size != 0)
                reader.Line(units, 0);
            else if (pendingCr)
                reader.EmptyLine();
            break;
        }

        size_t start = 0;
        if (pendingCr) {
            pendingCr = false;
            if (Is(units[0], kLf)) {
                // The LF completes the CR that ended the previous block's last line.
                start = 1;
                if (lastBlock && count == 1) reader.EmptyLine();
            }
        }
        // Lines before the next place a match could lie on are counted, not searched.
        size_t possible = detail::Slices().LinesPassedOver ? 0 : SIZE_MAX;
        bool wellFormed = false; // the lines before `possible` need no check of their encoding
        const SoundLines sound = possible == SIZE_MAX
                                     ? SoundLines{}
                                     : SoundLinesOf(units, start, count, lastBlock, reader);
        const bool checks = sink.file.CheckUtfOnFirstSearch;
        // A line of the sound stretch is searched without a check of its encoding.
        auto checkLineAt = [&](size_t at) {
            sink.file.CheckUtfOnFirstSearch =
                checks && !(at >= sound.from && at < sound.end && reader.carry.size == 0 &&
                            !sink.file.ContinuesLine);
        };
        for (size_t i = start; reader.Going();) {
            checkLineAt(start);
            if (possible != SIZE_MAX && reader.carry.size == 0 && !sink.file.ContinuesLine) {
                if (possible <= start)
                    possible =
                        NextPossibleMatch(units, count, start, sink.context, sink.file, wellFormed);
                // The lines before the one the next possible match lies on are counted in one
                // go, as every one of them would be passed over.
                if (possible != SIZE_MAX && possible > start &&
                    (wellFormed || !sink.file.CheckUtfOnFirstSearch)) {
                    const size_t to = LastLineStartBefore(units, start, possible, count);
                    PassOverLines(CountLineEnds(units, start, to, count), sink.context, sink.file);
                    start = i = to;
                }
            }
            i = NextLineEnd(units, i, count);
            if (i == count) break;
            size_t endLast = i; // last unit of the line end
            if (possible != SIZE_MAX && possible <= start && reader.carry.size == 0)
                possible =
                    NextPossibleMatch(units, count, start, sink.context, sink.file, wellFormed);
            if (possible == SIZE_MAX || possible < i || reader.carry.size != 0 ||
                !PassOverLine(units + start, i - start, wellFormed, sink.context, sink.file))
                reader.Line(units + start, i - start);
            if (Is(units[i], kCr)) {
                if (i + 1 < count) {
                    if (Is(units[i + 1], kLf)) endLast = i + 1;
                } else if (!lastBlock) {
                    pendingCr = true;
                }
            }
            start = i = endLast + 1;
            // A line end that closes the file is followed by one more, empty line.
            if (lastBlock && endLast == count - 1 && reader.Going()) reader.EmptyLine();
        }
        if (reader.Going() && start < count) {
            checkLineAt(start);
            if (lastBlock) {
                reader.Line(units + start, count - start);
            } else if (!reader.carry.Append(units + start, count - start)) {
                // The line runs on into the next block, but there is no memory to keep it.
                reader.stopped = true;
            } else if (reader.carry.size > carryLimitUnits) {
                // Longer than the read memory: searched in pieces of about that size.
                reader.Piece(static_cast<size_t>(carryLimitUnits));
            }
        }
        sink.file.CheckUtfOnFirstSearch = checks;
        // Without memory for a line, the rest of the file is not searched.
        if (reader.stopped) sink.file.ReadIncomplete = true;
        if (!reader.Going()) break;
        done += count;
        sink.Progress(count * kUnit);
    }
}

} // namespace

SearchStatus ReadWholeFile(InputSource input, int64_t dataSize, SearchContext& context,
                           FileState& file, LoadBuffer* room) {
    return detail::ReadWholeFileInBlocks(
        input, dataSize, context, file,
        dataSize > static_cast<int64_t>(kStreamedFromBytes) ? kStreamBlockBytes : 0,
        static_cast<size_t>(std::max<int64_t>(dataSize, 0)), room);
}

bool EnsureLoadRoom(LoadBuffer& buffer) {
    if (buffer.Capacity >= kLoadRoomUnits) return true;
    GiveBack(buffer);
    buffer.Units = detail::TryAllocate<char16_t>(kLoadRoomUnits);
    buffer.Capacity = buffer.Units ? static_cast<size_t>(kLoadRoomUnits) : 0;
    return buffer.Units != nullptr;
}

bool StartLoading(platform::File& input, int64_t size, size_t firstBytes, LoadBuffer& buffer,
                  LoadedFile& loaded) {
    const auto bytes = static_cast<uint64_t>(size);
    const uint64_t units = bytes / 2 + 2;
    if (buffer.Capacity < units) {
        const uint64_t room = std::max(units, kLoadRoomUnits);
        GiveBack(buffer);
        buffer.Units = detail::TryAllocate<char16_t>(room);
        buffer.Capacity = buffer.Units ? static_cast<size_t>(room) : 0;
        if (!buffer.Units) return false;
        if (bytes >= kLargeBufferBytes) platform::AdviseLargeBuffer(buffer.Units.get(), bytes);
    }
    loaded = LoadedFile{};
    loaded.Buffer = &buffer;
    loaded.Expected = static_cast<size_t>(bytes);
    const size_t first = std::min<size_t>(firstBytes, loaded.Expected);
    size_t got = 0;
    loaded.ReadFailed = first != 0 && !platform::Read(input, buffer.Units.get(), first, got);
    loaded.Arrived = std::min(got, first);
    return true;
}

void FinishLoading(platform::File& input, LoadedFile& loaded, bool checkUtf8) {
    auto* bytes = reinterpret_cast<unsigned char*>(loaded.Buffer->Units.get());
    auto read = [&](unsigned char* to, size_t count, size_t& got) {
        return platform::Read(input, to, count, got);
    };
    const bool wellFormed =
        ReadChecking(read, bytes, loaded.Arrived, loaded.Expected, checkUtf8, loaded.ReadFailed);
    loaded.WellFormedUtf8 = checkUtf8 && wellFormed;
    platform::Close(input);
}

bool LoadWholeFile(platform::File& input, int64_t size, LoadBuffer& buffer, LoadedFile& loaded) {
    if (!StartLoading(input, size, static_cast<size_t>(size), buffer, loaded)) return false;
    FinishLoading(input, loaded, false);
    return true;
}

void GiveBack(LoadBuffer& buffer) {
    buffer.Units.reset();
    buffer.Capacity = 0;
}

void ReleaseLoaded(LoadedFile& loaded) {
    loaded.Buffer = nullptr;
}

SearchStatus SearchLoadedFile(LoadedFile& loaded, uint32_t offset, int64_t dataSize,
                              SearchContext& context, FileState& file) {
    Sink sink{context, file};
    const auto bytes = static_cast<uint64_t>(dataSize);
    const size_t got =
        std::min<size_t>(loaded.Arrived - std::min<size_t>(offset, loaded.Arrived), bytes);
    if (bytes != 0) NoteArrival(!loaded.ReadFailed, got, bytes, file);
    // A UTF-16 text starts on a whole unit: its mark, when skipped, is one unit long.
    char16_t* units = loaded.Buffer->Units.get();
    const bool searched = file.IsUtf16
                              ? SearchArrived(units + offset / 2, got, sink)
                              : SearchArrived(reinterpret_cast<char*>(units) + offset, got, sink);
    ReleaseLoaded(loaded);
    if (searched) sink.Progress(got);
    return sink.status;
}

namespace {

// A loaded file's bytes as an input, read as the file would be read: what arrived, then the
// failure that ended the loading, if one did.
struct LoadedInput {
    const char* bytes;
    size_t size;
    size_t at;
    bool failsAtEnd;
};

bool ReadLoadedInput(void* target, void* buffer, size_t count, size_t& got) {
    auto& in = *static_cast<LoadedInput*>(target);
    got = std::min(count, in.size - in.at);
    if (got != 0) std::memcpy(buffer, in.bytes + in.at, got);
    in.at += got;
    return got != 0 || count == 0 || !in.failsAtEnd;
}

void CloseLoadedInput(void*) {}

} // namespace

SearchStatus SearchLoadedLines(LoadedFile& loaded, uint32_t offset, int64_t dataSize,
                               SearchContext& context, FileState& file, uint32_t memoryMiB) {
    const size_t from = std::min<size_t>(offset, loaded.Arrived);
    LoadedInput in{reinterpret_cast<const char*>(loaded.Buffer->Units.get()) + from,
                   loaded.Arrived - from, 0, loaded.ReadFailed};
    const SearchStatus status = detail::ReadLinesInBlocks(
        InputSource{&in, &ReadLoadedInput, &CloseLoadedInput}, dataSize, context, file,
        kLineBlockBytes, static_cast<uint64_t>(memoryMiB) << 20);
    ReleaseLoaded(loaded);
    return status;
}

SearchStatus ReadFileInParts(InputSource input, int64_t dataSize, SearchContext& context,
                             FileState& file, uint32_t memoryMiB) {
    return detail::ReadFileInPartsOfSize(input, dataSize, context, file,
                                         static_cast<uint64_t>(memoryMiB) << 20);
}

SearchStatus ReadLines(InputSource input, int64_t dataSize, SearchContext& context, FileState& file,
                       uint32_t memoryMiB) {
    return detail::ReadLinesInBlocks(input, dataSize, context, file, kLineBlockBytes,
                                     static_cast<uint64_t>(memoryMiB) << 20);
}

namespace detail {

SearchStatus ReadFileInPartsOfSize(InputSource input, int64_t dataSize, SearchContext& context,
                                   FileState& file, uint64_t partBytes) {
    Sink sink{context, file};
    if (dataSize > 0) {
        if (file.IsUtf16)
            SearchParts<char16_t>(input, dataSize, partBytes, sink);
        else
            SearchParts<char>(input, dataSize, partBytes, sink);
    }
    input.Close(input.Target);
    return sink.status;
}

SearchStatus ReadWholeFileInBlocks(InputSource input, int64_t dataSize, SearchContext& context,
                                   FileState& file, uint64_t blockBytes, size_t heldLimit,
                                   LoadBuffer* room) {
    if (dataSize < 0) {
        // Without a known size there is nothing that could be read whole.
        input.Close(input.Target);
        file.ReadIncomplete = true;
        return SearchStatus::GoOn;
    }
    const Settings& settings = context.JobSettings;
    Sink sink{context, file};
    const auto bytes = static_cast<uint64_t>(dataSize);
    // Line mode and search and replace never search a file whole this way; a file without a
    // compiled form is left to the one search that reports it.
    const bool streamed =
        blockBytes != 0 && dataSize > 0 && !settings.LineMode && !settings.SearchAndReplace &&
        HasForm(context.Compiled, file) &&
        (file.IsUtf16 ? SearchStreamed<char16_t>(input, bytes, blockBytes, heldLimit, room, sink)
                      : SearchStreamed<char>(input, bytes, blockBytes, heldLimit, room, sink));
    if (streamed) {
        input.Close(input.Target);
        return sink.status;
    }
    const bool searched = file.IsUtf16 ? SearchWholeFileIfRoom<char16_t>(input, bytes, sink)
                                       : SearchWholeFileIfRoom<char>(input, bytes, sink);
    if (searched) return sink.status;
    // Not enough memory for the whole file: large files are read in 5 MiB parts instead.
    if (bytes > kFallbackPartBytes)
        return ReadFileInPartsOfSize(input, dataSize, context, file, kFallbackPartBytes);
    input.Close(input.Target);
    file.ReadIncomplete = true;
    return SearchStatus::GoOn;
}

SearchStatus ReadLinesInBlocks(InputSource input, int64_t dataSize, SearchContext& context,
                               FileState& file, uint64_t blockBytes, uint64_t carryLimitBytes) {
    Sink sink{context, file};
    if (dataSize > 0) {
        if (file.IsUtf16)
            SearchLines<char16_t>(input, dataSize, blockBytes, carryLimitBytes, sink);
        else
            SearchLines<char>(input, dataSize, blockBytes, carryLimitBytes, sink);
    }
    input.Close(input.Target);
    return sink.status;
}

} // namespace detail

} // namespace gleanery
