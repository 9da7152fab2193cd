// Encoding detection: byte-order marks, a UTF-16 guess for unmarked text and the UTF checks.
#include "engine/detect_encoding.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/readers.h"
#include "engine/utf8_validity.h"
#include "platform/unicode.h"

namespace gleanery {

namespace {

int64_t CheckLimit(const Settings& settings) {
    return settings.EncodingCheck > 0 ? settings.EncodingCheck : kMinEncodingCheck;
}

// The unit at `index` of 16-bit units stored in the machine's byte order (the check buffer need
// not be aligned for char16_t).
uint16_t UnitAt(const unsigned char* units, size_t index) {
    uint16_t unit;
    std::memcpy(&unit, units + 2 * index, sizeof unit);
    return unit;
}

// A flag (0x80) in every byte of `word` that is zero, and in no other.
constexpr uint64_t ZeroBytes(uint64_t word) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    return ~(((word & kLow7) + kLow7) | word | kLow7);
}

// In eight bytes read into a word: the flag bits of the first byte of each pair of bytes, and the
// flags of each pair's second byte moved onto its first's.
constexpr uint64_t kFirstOfPairs =
    std::endian::native == std::endian::little ? 0x0080008000800080ULL : 0x8000800080008000ULL;
constexpr uint64_t SecondOntoFirst(uint64_t flags) {
    return std::endian::native == std::endian::little ? flags >> 8 : flags << 8;
}
// How many of the four pairs have their flag set: each flag moved to the lowest bit of its
// pair's 16 bits, and the four added up in the top 16 bits by one multiplication (a population
// count instruction is not there on every processor the build runs on).
constexpr uint64_t PairsFlagged(uint64_t flags) {
    constexpr int kShift = std::endian::native == std::endian::little ? 7 : 15;
    return ((flags >> kShift) * 0x0001000100010001ULL) >> 48;
}

// True when one of the four units packed in `word` is a surrogate, or 0xFFFF when `scanFfff`:
// only those need a closer look. A lane of x is zero exactly when (x - 1) & ~x sets its top bit.
bool FourUnitsNeedALook(uint64_t word, bool scanFfff) {
    constexpr uint64_t kOnes = 0x0001000100010001ULL;
    constexpr uint64_t kTops = 0x8000800080008000ULL;
    const uint64_t surrogate = (word & 0xF800F800F800F800ULL) ^ 0xD800D800D800D800ULL;
    uint64_t zero = (surrogate - kOnes) & ~surrogate & kTops;
    if (scanFfff) {
        const uint64_t ffff = ~word;
        zero |= (ffff - kOnes) & ~ffff & kTops;
    }
    return zero != 0;
}

// `units`: `count` 16-bit units in the machine's byte order.
bool UnitsAreValid(const unsigned char* units, size_t count, bool nonCharacterScan) {
    if (count == 0) return true;
    // The check buffer may have cut a surrogate pair: a trailing high surrogate is left out.
    if (platform::IsHighSurrogate(UnitAt(units, count - 1))) --count;
    size_t i = 0;
    while (i < count) {
        if (count - i >= 4) {
            uint64_t word;
            std::memcpy(&word, units + 2 * i, sizeof word);
            if (!FourUnitsNeedALook(word, nonCharacterScan)) {
                i += 4;
                continue;
            }
        }
        const uint16_t unit = UnitAt(units, i++);
        if (nonCharacterScan && unit == 0xFFFF) return false;
        if (!platform::IsSurrogate(unit)) continue;
        // A high surrogate needs a low one right after it; a low one never stands alone.
        if (platform::IsLowSurrogate(unit) || i == count) return false;
        const uint16_t low = UnitAt(units, i);
        if (!platform::IsLowSurrogate(low)) return false;
        ++i;
    }
    return true;
}

// Steps 4 to 8 of the detection for a file of at least 2 bytes, over the first `n` bytes (the
// check buffer; nothing after them is looked at, so they may be the start of the whole file read
// at once). False when a swapped copy could not be allocated.
bool ExamineStart(const unsigned char* bytes, size_t n, int64_t size, uint32_t& bomLength,
                  FileState& file, const Settings& settings) {
    const int64_t check = CheckLimit(settings);
    bool checkRan = false; // CheckUtf16 ran over data behind a UTF-16 mark
    bool skipUtf8Check = false;
    const bool feff = n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
    const bool fffe = n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (feff || fffe) {
        if (size % 2 != 0) {
            // An odd size cannot be UTF-16: code-page text, the mark bytes searched as text.
            skipUtf8Check = true;
        } else {
            file.IsUtf16 = true;
            file.IsBigEndian = feff;
            bomLength = 2;
            if (size >= 3) {
                bool allocated = true;
                const bool valid =
                    CheckUtf16(bytes + 2, n - 2, feff, NonCharacterScan::On, allocated);
                checkRan = true;
                if (!allocated) return false;
                if (!valid) {
                    bomLength = 0;
                    // The marked data is known to be invalid: have the first search of every
                    // part validate it, so that PCRE never runs unchecked over bad UTF-16 and
                    // the file is reported as partly skipped.
                    file.CheckUtfOnFirstSearch = true;
                }
            }
        }
    } else if (size >= 3 && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        file.IsUtf8 = true;
        bomLength = 3;
    }

    if (!file.IsUtf8 && !file.IsUtf16 && !checkRan && size % 2 == 0) {
        const Utf16Guess guess = GuessUtf16(bytes, n);
        if (guess != Utf16Guess::Neither) {
            const bool bigEndian = guess == Utf16Guess::BigEndian;
            bool allocated = true;
            const bool valid = CheckUtf16(bytes, n, bigEndian, NonCharacterScan::Off, allocated);
            if (!allocated) return false;
            if (valid) {
                file.IsUtf16 = true;
                file.IsBigEndian = bigEndian;
            }
        }
    }

    if (checkRan || file.IsUtf16 || skipUtf8Check) return true;

    // Pure ASCII stays code-page text (unless a UTF-8 mark was found).
    const size_t ascii = AsciiPrefixLength(bytes, n);
    if (ascii == n) return true;
    bool valid = IsValidUtf8(bytes + ascii, n - ascii);
    if (!valid && size > check) {
        // The check buffer may end inside a character of a longer file.
        for (size_t cut = 1; cut <= 3 && cut < n && !valid; ++cut) {
            const size_t end = n - cut;
            valid = end <= ascii || IsValidUtf8(bytes + ascii, end - ascii);
        }
    }
    if (valid) {
        file.IsUtf8 = true;
    } else if (file.IsUtf8) {
        // A UTF-8 mark in front of invalid data: the mark bytes are searched as text.
        file.IsUtf8 = false;
        bomLength = 0;
    }
    return true;
}

} // namespace

// The check buffer's length: the file's first EncodingCheck bytes, or all of a shorter file.
size_t EncodingCheckLength(int64_t size, const Settings& settings) {
    return static_cast<size_t>(std::clamp<int64_t>(size, 0, CheckLimit(settings)));
}

Utf16Guess GuessUtf16(const unsigned char* bytes, size_t n) {
    // Every count but `full` needs a zero byte in the buffer, and `full` alone never makes a
    // guess (an odd count's padding zero adds at most 1 to `little`, never above the threshold):
    // most text has no zero byte and is settled by one fast scan.
    if (std::memchr(bytes, 0, n) == nullptr) return Utf16Guess::Neither;
    uint64_t little = 0, big = 0;
    size_t i = 0;
    // Four pairs at a time; binary data with a zero byte but few zero pairs (compressed data)
    // is read to the end of the check buffer.
    for (; i + sizeof(uint64_t) <= n; i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        const uint64_t zero = ZeroBytes(word);
        const uint64_t first = zero & kFirstOfPairs;
        const uint64_t second = SecondOntoFirst(zero) & kFirstOfPairs;
        const uint64_t full = ZeroBytes(~word);
        if ((first & second) != 0 || (full & SecondOntoFirst(full) & kFirstOfPairs) != 0)
            return Utf16Guess::Neither;
        little += PairsFlagged(second & ~first);
        big += PairsFlagged(first & ~second);
    }
    for (; i < n; i += 2) {
        const unsigned char b0 = bytes[i];
        // An odd count pairs the last byte with the zero that follows the buffer.
        const unsigned char b1 = i + 1 < n ? bytes[i + 1] : 0;
        // A pair of two zero bytes or of two 0xFF bytes rules UTF-16 out whatever the other
        // counts: binary data, which has such pairs early, is settled there.
        if (b0 == b1 && (b0 == 0 || b0 == 0xFF)) return Utf16Guess::Neither;
        if (b0 != 0 && b1 == 0) ++little;
        if (b0 == 0 && b1 != 0) ++big;
    }
    uint64_t threshold;
    if (n <= 100)
        threshold = 1;
    else if (n <= 250)
        threshold = 9;
    else if (n <= 500)
        threshold = 24;
    else
        threshold = n / 12;
    if (little > threshold && big > threshold) return Utf16Guess::Neither;
    if (little > threshold) return Utf16Guess::LittleEndian;
    if (big > threshold) return Utf16Guess::BigEndian;
    return Utf16Guess::Neither;
}

bool CheckUtf16(const unsigned char* bytes, size_t length, bool bigEndian, NonCharacterScan scan,
                bool& ok) {
    const bool nonCharacterScan = scan == NonCharacterScan::On;
    ok = true;
    const size_t units = length / 2;
    if (bigEndian != platform::kHostIsBigEndian) {
        // Data in the other byte order is checked on a swapped copy.
        auto copy = detail::TryAllocate<char16_t>(units + 1);
        if (!copy) {
            ok = false;
            return false;
        }
        for (size_t i = 0; i < units; ++i) {
            const unsigned char first = bytes[2 * i];
            const unsigned char second = bytes[2 * i + 1];
            copy[i] = static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
        }
        return UnitsAreValid(reinterpret_cast<const unsigned char*>(copy.get()), units,
                             nonCharacterScan);
    }
    return UnitsAreValid(bytes, units, nonCharacterScan);
}

bool HoldsSurrogates(const char16_t* units, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint64_t word;
        std::memcpy(&word, units + i, sizeof word);
        if (FourUnitsNeedALook(word, false)) return true;
    }
    for (; i < count; ++i)
        if (platform::IsSurrogate(units[i])) return true;
    return false;
}

bool DetectEncodingOf(const unsigned char* start, size_t arrived, int64_t size, uint32_t& bomLength,
                      FileState& file, const Settings& settings) {
    bomLength = 0;
    // Binary mode searches raw bytes from the start of the file.
    if (settings.BinaryMode) return true;
    file.IsUtf8 = false;
    file.IsUtf16 = false;
    file.IsBigEndian = false;
    if (size < 0) return false;

    bool success = true;
    if (size >= 2) {
        const size_t n = EncodingCheckLength(size, settings);
        success = arrived >= n && ExamineStart(start, n, size, bomLength, file, settings);
        if (!success) bomLength = 0;
    }
    // In search-and-replace mode the mark is part of the text that is searched and copied.
    if (settings.SearchAndReplace) bomLength = 0;
    return success;
}

bool DetectEncoding(int64_t size, uint32_t& bomLength, platform::File& input, FileState& file,
                    const Settings& settings, unsigned char* room, size_t roomBytes, size_t* kept) {
    bomLength = 0;
    if (kept != nullptr) *kept = 0;
    if (settings.BinaryMode) return true;
    detail::AlignedUnits<unsigned char> owned;
    unsigned char* buffer = nullptr;
    size_t arrived = 0;
    if (size >= 2) {
        const size_t n = EncodingCheckLength(size, settings);
        if (room != nullptr && roomBytes > n) {
            buffer = room;
        } else {
            owned = detail::TryAllocate<unsigned char>(static_cast<uint64_t>(n) + 1);
            buffer = owned.get();
        }
        if (buffer != nullptr) {
            if (!platform::Read(input, buffer, n, arrived)) arrived = 0;
            buffer[n] = 0;
        }
    }
    bool success = DetectEncodingOf(buffer, arrived, size, bomLength, file, settings);
    if (success && kept != nullptr && buffer == room && arrived > bomLength) {
        *kept = arrived;
        return true;
    }
    if (size >= 0 && !platform::Seek(input, bomLength)) success = false;
    return success;
}

} // namespace gleanery
