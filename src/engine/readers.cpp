// The three readers: whole file, parts cut at newlines, and lines. They bring the input into
// memory in the units the match loop needs and call it once per part or line.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>

#include "engine/readers.h"
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
    const Settings& JobSettings() const { return context.JobSettings; }
    // The host's progress callback, which may ask to stop.
    void Progress(uint64_t bytes) {
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

// Reads exactly `bytes` bytes; false on a failed or short read.
bool ReadExactly(InputSource& input, void* buffer, uint64_t bytes) {
    if (bytes == 0) return true;
    size_t got = 0;
    return input.Read(input.Target, buffer, static_cast<size_t>(bytes), got) && got == bytes;
}

// ---- whole file ---------------------------------------------------------------------------

// Buffers from this size on are filled with large pages where the system offers them.
constexpr uint64_t kLargeBufferBytes = 0x400000;

template <class Unit>
void SearchWholeFile(InputSource& input, uint64_t bytes, std::unique_ptr<Unit[]>& buffer,
                     Sink& sink) {
    const size_t units = static_cast<size_t>(bytes / sizeof(Unit));
    if (bytes >= kLargeBufferBytes) platform::AdviseLargeBuffer(buffer.get(), bytes);
    if (!ReadExactly(input, buffer.get(), bytes)) {
        input.Close(input.Target);
        return;
    }
    input.Close(input.Target);
    buffer[units] = 0;
    if constexpr (sizeof(Unit) == 2) {
        if (NeedsSwap(sink.file)) SwapUnits(buffer.get(), units);
    }
    sink.Search(buffer.get(), units);
    buffer.reset();
    // Reported once the file is done. A 0 answer still stops the job: the user cancelled, and the
    // files after this one must not be searched.
    sink.Progress(bytes);
}

// False when there is no memory for the whole file.
template <class Unit>
bool SearchWholeFileIfRoom(InputSource& input, uint64_t bytes, Sink& sink) {
    auto buffer = detail::TryAllocate<Unit>(bytes / sizeof(Unit) + 1);
    if (!buffer) return false;
    SearchWholeFile(input, bytes, buffer, sink);
    return true;
}

// ---- parts cut at newlines ------------------------------------------------------------------

// Index of the last LF in the units, else of the last CR; `count` when there is neither.
template <class Unit>
size_t LastNewline(const Unit* units, size_t count) {
    for (size_t i = count; i-- > 0;)
        if (Is(units[i], kLf)) return i;
    for (size_t i = count; i-- > 0;)
        if (Is(units[i], kCr)) return i;
    return count;
}

// The units up to the end of the last whole character. A full part without any newline is cut
// where the part ends; in UTF text that may be inside a character, and the searched text would
// then end in invalid UTF and the whole part be reported as badly encoded. The incomplete
// character goes to the next part instead.
template <class Unit>
size_t WholeCharacters(const Unit* units, size_t count, const FileState& file) {
    if constexpr (sizeof(Unit) == 2) {
        const bool highSurrogateLast = count > 1 && platform::IsHighSurrogate(units[count - 1]);
        return file.IsUtf16 && highSurrogateLast ? count - 1 : count;
    } else {
        if (!file.IsUtf8) return count;
        size_t start = count; // the last byte that is not a continuation byte
        while (start > 0 && count - start < 4 &&
               (static_cast<unsigned char>(units[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start == 0) return count;
        const auto lead = static_cast<unsigned char>(units[start - 1]);
        const size_t needed = platform::Utf8ClaimedLength(lead);
        const size_t present = count - (start - 1);
        return needed > present && start - 1 > 0 ? start - 1 : count;
    }
}

template <class Unit>
void SearchParts(InputSource& input, uint64_t dataSize, uint64_t partBytes, Sink& sink) {
    constexpr uint64_t kUnit = sizeof(Unit);
    // Parts hold whole units; a part never exceeds what one allocation can address.
    partBytes = std::min<uint64_t>(partBytes, SIZE_MAX / 4) / kUnit * kUnit;
    if (partBytes == 0) partBytes = kUnit;

    std::unique_ptr<Unit[]> buffer; // one buffer for the whole file, sized by the first part
    uint64_t position = 0;          // bytes consumed
    size_t carried = 0;             // bytes after the last cut, kept at the buffer's start
    while (position < dataSize && sink.Going()) {
        uint64_t toRead = std::min(partBytes, dataSize - position);
        if (!buffer) {
            buffer = detail::TryAllocate<Unit>(toRead / kUnit + 1);
            if (!buffer && partBytes > kFallbackPartBytes) {
                partBytes = kFallbackPartBytes;
                toRead = std::min(partBytes, dataSize - position);
                buffer = detail::TryAllocate<Unit>(toRead / kUnit + 1);
            }
            if (!buffer) break;
            if (toRead >= kLargeBufferBytes) platform::AdviseLargeBuffer(buffer.get(), toRead);
        }
        // The text after the previous cut is already in memory; read only the rest of the part.
        if (!ReadExactly(input, reinterpret_cast<char*>(buffer.get()) + carried, toRead - carried))
            break;
        Unit* units = buffer.get();
        const size_t count = static_cast<size_t>(toRead / kUnit);
        if constexpr (sizeof(Unit) == 2) {
            if (NeedsSwap(sink.file)) SwapUnits(units + carried / kUnit, count - carried / kUnit);
        }
        units[count] = 0;

        uint64_t consumed = toRead;
        carried = 0;
        const size_t cut = toRead == partBytes ? LastNewline(units, count) : count;
        if (cut == count) {
            // The last part, or a full part without any newline: searched whole, up to its last
            // whole character.
            const size_t whole =
                toRead == partBytes ? WholeCharacters(units, count, sink.file) : count;
            sink.Search(units, whole);
            if (whole < count) {
                consumed = whole * kUnit;
                carried = (count - whole) * kUnit;
                std::memmove(units, units + whole, carried);
            }
        } else {
            const size_t through = cut + 1; // units up to and including the newline
            consumed = through * kUnit;
            size_t length = through;
            if (position + consumed < dataSize && !sink.JobSettings().SearchAndReplace) {
                // The newline is left out of the text; CR LF counts as one newline.
                --length;
                if (Is(units[cut], kLf) && cut > 0 && Is(units[cut - 1], kCr)) --length;
            }
            sink.Search(units, length);
            // The next part starts right after the newline.
            carried = (count - through) * kUnit;
            if (carried != 0) std::memmove(units, units + through, carried);
        }
        if (!sink.Going()) break;
        position += consumed;
        sink.Progress(consumed);
    }
}

// ---- lines ----------------------------------------------------------------------------------

// A growable buffer that never throws, with a ceiling on how far it grows at once.
template <class Unit>
struct CarryBuffer {
    std::unique_ptr<Unit[]> data;
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
        sink.file.ContinuesLine = false;
    }
    void EmptyLine() {
        static const Unit kEmpty[1] = {0};
        sink.file.ContinuesLine = false;
        sink.Search(kEmpty, 0);
    }
    // The start of a line longer than the read memory; the rest follows as the same line.
    void Piece(Unit* units, size_t length) {
        sink.Search(units, length);
        sink.file.ContinuesLine = true;
    }
};

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
    if (!block) return;
    LineReader<Unit> reader{sink, {}};
    // The carry never holds more than the limit plus one block before it is searched.
    reader.carry.ceiling = static_cast<size_t>(carryLimitUnits + blockUnits + 1);
    if (!reader.carry.Reserve(static_cast<size_t>(kLineBlockBytes / kUnit))) return;

    uint64_t done = 0;      // units read so far
    bool pendingCr = false; // the previous block ended with a CR
    while (done < totalUnits && reader.Going()) {
        const size_t count = static_cast<size_t>(std::min(blockUnits, totalUnits - done));
        if (!ReadExactly(input, block.get(), count * kUnit)) break;
        Unit* units = block.get();
        if constexpr (sizeof(Unit) == 2) {
            if (NeedsSwap(sink.file)) SwapUnits(units, count);
        }
        const bool lastBlock = done + count == totalUnits;

        size_t start = 0;
        if (pendingCr) {
            pendingCr = false;
            if (Is(units[0], kLf)) {
                // The LF completes the CR that ended the previous block's last line.
                start = 1;
                if (lastBlock && count == 1) reader.EmptyLine();
            }
        }
        for (size_t i = start; reader.Going();) {
            i = NextLineEnd(units, i, count);
            if (i == count) break;
            size_t endLast = i; // last unit of the line end
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
        if (!reader.Going()) break;
        if (start < count) {
            if (lastBlock) {
                reader.Line(units + start, count - start);
            } else {
                // The line runs on into the next block.
                if (!reader.carry.Append(units + start, count - start)) break;
                if (reader.carry.size > carryLimitUnits) {
                    // Longer than the read memory: searched in pieces of that size. A piece
                    // ends on a whole character; the rest of one cut in two starts the next.
                    Unit* carried = reader.carry.data.get();
                    const size_t whole = WholeCharacters(carried, reader.carry.size, sink.file);
                    reader.Piece(carried, whole);
                    reader.carry.size -= whole;
                    std::memmove(carried, carried + whole, reader.carry.size * sizeof(Unit));
                }
            }
        }
        if (!sink.Going()) break;
        done += count;
        sink.Progress(count * kUnit);
    }
}

} // namespace

SearchStatus ReadWholeFile(InputSource input, int64_t dataSize, SearchContext& context,
                           FileState& file) {
    if (dataSize < 0) {
        // Without a known size there is nothing that could be read whole.
        input.Close(input.Target);
        return SearchStatus::GoOn;
    }
    Sink sink{context, file};
    const uint64_t bytes = static_cast<uint64_t>(dataSize);
    const bool searched = file.IsUtf16 ? SearchWholeFileIfRoom<char16_t>(input, bytes, sink)
                                       : SearchWholeFileIfRoom<char>(input, bytes, sink);
    if (searched) return sink.status;
    // Not enough memory for the whole file: large files are read in 5 MiB parts instead.
    if (bytes > kFallbackPartBytes)
        return detail::ReadFileInPartsOfSize(input, dataSize, context, file, kFallbackPartBytes);
    input.Close(input.Target);
    return SearchStatus::GoOn;
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
