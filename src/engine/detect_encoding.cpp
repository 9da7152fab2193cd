// Encoding detection: byte-order marks, a UTF-16 guess for unmarked text and the UTF checks.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <utf8.h>

#include "engine/readers.h"
#include "engine/utf8_validity.h"
#include "settings/process_state.h"

namespace gleanery {

namespace {

// Reads 16-bit units stored as bytes in a given order, so that a check can run over the check
// buffer in place without reinterpreting its bytes.
struct UnitsInOrder {
    using iterator_category = std::input_iterator_tag;
    using value_type = uint16_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const uint16_t*;
    using reference = uint16_t;

    const unsigned char* p = nullptr;
    bool bigEndian = false;

    uint16_t operator*() const {
        return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                         : static_cast<uint16_t>(p[1] << 8 | p[0]);
    }
    UnitsInOrder& operator++() {
        p += 2;
        return *this;
    }
    UnitsInOrder operator++(int) {
        UnitsInOrder old = *this;
        p += 2;
        return old;
    }
    bool operator==(const UnitsInOrder& other) const { return p == other.p; }
};

// An output iterator that drops what it is given: the conversion is run only for its verdict.
struct Discard {
    using iterator_category = std::output_iterator_tag;
    using value_type = void;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = void;

    Discard& operator*() { return *this; }
    Discard& operator=(uint8_t) { return *this; }
    Discard& operator++() { return *this; }
    Discard operator++(int) { return *this; }
};

bool IsHighSurrogateUnit(uint16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

template <class It>
bool UnitsAreValid(It begin, size_t count, bool nonCharacterScan) {
    if (count == 0) return true;
    It last = begin;
    std::advance(last, count - 1);
    // The check buffer may have cut a surrogate pair: a trailing high surrogate is left out.
    if (IsHighSurrogateUnit(*last)) --count;
    It end = begin;
    std::advance(end, count);
    if (nonCharacterScan) {
        for (It it = begin; it != end; ++it)
            if (*it == 0xFFFF) return false;
    }
    try {
        utf8::utf16to8(begin, end, Discard{});
    } catch (const utf8::invalid_utf16&) {
        return false;
    } catch (const utf8::exception&) {
        return false;
    }
    return true;
}

// Steps 3 to 8 of the detection for a file of at least 2 bytes. False when the check buffer or a
// swapped copy could not be allocated or the read failed.
bool ExamineStart(int64_t size, uint32_t& bomLength, platform::File& input, FileState& file,
                  const Settings& settings) {
    const int64_t check = settings.EncodingCheck > 0 ? settings.EncodingCheck : kMinEncodingCheck;
    const size_t n = static_cast<size_t>(std::min<int64_t>(size, check));
    auto buffer = detail::TryAllocate<unsigned char>(static_cast<uint64_t>(n) + 1);
    if (!buffer) return false;
    unsigned char* bytes = buffer.get();
    size_t got = 0;
    if (!platform::Read(input, bytes, n, got) || got != n) return false;
    bytes[n] = 0;

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
                const bool valid = CheckUtf16(bytes + 2, n - 2, feff, true, allocated);
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
            const bool valid = CheckUtf16(bytes, n, bigEndian, false, allocated);
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

Utf16Guess GuessUtf16(const unsigned char* bytes, size_t n) {
    // Every count but `full` needs a zero byte in the buffer, and `full` alone never makes a
    // guess (an odd count's padding zero adds at most 1 to `little`, never above the threshold):
    // most text has no zero byte and is settled by one fast scan.
    if (std::memchr(bytes, 0, n) == nullptr) return Utf16Guess::Neither;
    uint64_t little = 0, big = 0, zero = 0, full = 0;
    for (size_t i = 0; i < n; i += 2) {
        const unsigned char b0 = bytes[i];
        // An odd count pairs the last byte with the zero that follows the buffer.
        const unsigned char b1 = i + 1 < n ? bytes[i + 1] : 0;
        if (b0 != 0 && b1 == 0) ++little;
        if (b0 == 0 && b1 != 0) ++big;
        if (b0 == 0 && b1 == 0) ++zero;
        if (b0 == 0xFF && b1 == 0xFF) ++full;
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
    if (zero > 0 || full > 0) return Utf16Guess::Neither;
    if (little > threshold) return Utf16Guess::LittleEndian;
    if (big > threshold) return Utf16Guess::BigEndian;
    return Utf16Guess::Neither;
}

bool CheckUtf16(const unsigned char* bytes, size_t length, bool bigEndian, bool nonCharacterScan,
                bool& ok) {
    ok = true;
    const size_t units = length / 2;
    if (bigEndian != State().HostIsBigEndian) {
        // Data in the other byte order is checked on a swapped copy.
        auto copy = detail::TryAllocate<char16_t>(units + 1);
        if (!copy) {
            ok = false;
            return false;
        }
        UnitsInOrder in{bytes, bigEndian};
        for (size_t i = 0; i < units; ++i, ++in) copy[i] = static_cast<char16_t>(*in);
        return UnitsAreValid(static_cast<const char16_t*>(copy.get()), units, nonCharacterScan);
    }
    return UnitsAreValid(UnitsInOrder{bytes, bigEndian}, units, nonCharacterScan);
}

bool DetectEncoding(int64_t size, uint32_t& bomLength, platform::File& input, FileState& file,
                    const Settings& settings) {
    bomLength = 0;
    // Binary mode searches raw bytes from the start of the file.
    if (settings.BinaryMode) return true;
    file.IsUtf8 = false;
    file.IsUtf16 = false;
    file.IsBigEndian = false;
    if (size < 0) return false;

    bool success = true;
    if (size >= 2) {
        success = ExamineStart(size, bomLength, input, file, settings);
        if (!success) bomLength = 0;
    }
    // In search-and-replace mode the mark is part of the text that is searched and copied.
    if (settings.SearchAndReplace) bomLength = 0;
    if (!platform::Seek(input, bomLength)) success = false;
    return success;
}

} // namespace gleanery
