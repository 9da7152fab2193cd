#include "engine/utf8_validity.h"

#include <cstdint>
#include <cstring>

#include "platform/utf8_sequence.h"

#if defined(__x86_64__) || defined(__i386__)
#define GLEANERY_UTF8_VECTOR 1
#include <immintrin.h>
// Only these functions use the wider instructions: the rest of the program, the Windows DLLs
// among it, keeps running on any x86 processor, and the choice between them is made at run time.
#define GLEANERY_TARGET_SSSE3 __attribute__((target("ssse3")))
#define GLEANERY_TARGET_AVX2 __attribute__((target("avx2")))
#define GLEANERY_TARGET_AVX512 __attribute__((target("avx512f,avx512bw")))
#endif

namespace gleanery {
namespace {

size_t AsciiPrefixScalar(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if (word & 0x8080808080808080ULL) break;
    }
    while (i < length && bytes[i] < 0x80) ++i;
    return i;
}

// Sequence by sequence, by the rules of platform::Utf8LeadOf that the decoder follows too.
bool ValidScalar(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    for (;;) {
        i += AsciiPrefixScalar(bytes + i, length - i);
        if (i == length) return true;
        const platform::Utf8Lead rule = platform::Utf8LeadOf(bytes[i]);
        const size_t size = static_cast<size_t>(rule.length);
        if (size == 0 || length - i < size) return false;
        if (bytes[i + 1] < rule.low || bytes[i + 1] > rule.high) return false;
        for (size_t k = 2; k < size; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        i += size;
    }
}

#ifdef GLEANERY_UTF8_VECTOR

// The vector scans judge every byte by the pair it forms with the byte before it. Three tables,
// indexed by the previous byte's high nibble, its low nibble and the current byte's high nibble,
// each give a set of the faults below that the nibble allows; a fault is present where all three
// sets hold it. The previous block's last bytes stand before the first bytes of a block, so
// sequences across a block edge are judged the same way.
constexpr unsigned char kTooShort = 0x01;    // a lead byte before a non-continuation byte
constexpr unsigned char kTooLong = 0x02;     // a continuation byte after an ASCII byte
constexpr unsigned char kOverlong3 = 0x04;   // E0 before 80..9F
constexpr unsigned char kSurrogate = 0x08;   // ED before A0..BF: U+D800..DFFF
constexpr unsigned char kOverlong2 = 0x10;   // C0 or C1 before a continuation byte
constexpr unsigned char kF0OrAboveF4 = 0x20; // F0 (overlong) or F5..FF (no lead) before 80..8F
constexpr unsigned char kTooLarge = 0x40;    // F4..FF before 90..BF: above U+10FFFF
// A continuation byte after a continuation byte: a fault only where no lead byte two or three
// bytes back calls for it, which the scans check apart from the tables.
constexpr unsigned char kTwoContinuing = 0x80;
// The faults that do not depend on the previous byte's low nibble.
constexpr unsigned char kAnyLow = kTooShort | kTooLong | kTwoContinuing;

alignas(16) constexpr unsigned char kByPreviousHigh[16] = {
    // 0..7: ASCII
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    // 8..B: continuation
    kTwoContinuing, kTwoContinuing, kTwoContinuing, kTwoContinuing,
    // C, D: two-byte lead
    kTooShort | kOverlong2, kTooShort,
    // E: three-byte lead
    kTooShort | kOverlong3 | kSurrogate,
    // F: four-byte lead or a byte that never stands in UTF-8
    kTooShort | kF0OrAboveF4 | kTooLarge};

alignas(16) constexpr unsigned char kByPreviousLow[16] = {
    kAnyLow | kOverlong3 | kOverlong2 | kF0OrAboveF4, // x0
    kAnyLow | kOverlong2,                             // x1
    kAnyLow,                                          // x2
    kAnyLow,                                          // x3
    kAnyLow | kTooLarge,                              // x4
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // x5
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // x6
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // x7
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // x8
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // x9
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // xA
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // xB
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // xC
    kAnyLow | kF0OrAboveF4 | kTooLarge | kSurrogate,  // xD
    kAnyLow | kF0OrAboveF4 | kTooLarge,               // xE
    kAnyLow | kF0OrAboveF4 | kTooLarge};              // xF

alignas(16) constexpr unsigned char kByCurrentHigh[16] = {
    // 0..7: ASCII
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    // 8..B: continuation, by the range it falls in
    kTooLong | kTwoContinuing | kOverlong2 | kOverlong3 | kF0OrAboveF4, // 80..8F
    kTooLong | kTwoContinuing | kOverlong2 | kOverlong3 | kTooLarge,    // 90..9F
    kTooLong | kTwoContinuing | kOverlong2 | kSurrogate | kTooLarge,    // A0..AF
    kTooLong | kTwoContinuing | kOverlong2 | kSurrogate | kTooLarge,    // B0..BF
    // C..F: lead bytes
    kTooShort, kTooShort, kTooShort, kTooShort};

// Subtracted with saturation from the last bytes of a block: what stays above zero is a lead byte
// whose sequence goes on into the next block (F0 and above three bytes before the end, E0 and
// above two bytes before, C0 and above in the last byte).
alignas(32) constexpr unsigned char kLastCanEnd[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF, 0xBF};

// kLastCanEnd for blocks of 64 bytes.
alignas(64) constexpr unsigned char kLastCanEnd64[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF, 0xBF};

// Where the scalar scan takes over after the last whole block, ending at `end`, was found sound:
// at the start of the last sequence that began in the final three bytes, which the blocks could
// not see completed; the sequences before it were seen whole.
size_t ScalarRestart(const unsigned char* bytes, size_t end) {
    for (size_t back = 1; back <= 3 && back <= end; ++back)
        if ((bytes[end - back] & 0xC0) != 0x80) return end - back;
    return end;
}

GLEANERY_TARGET_SSSE3 size_t AsciiPrefixSsse3(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (high != 0) return i + static_cast<size_t>(__builtin_ctz(high));
    }
    return i + AsciiPrefixScalar(bytes + i, length - i);
}

// What a scan of whole blocks answers when it found a fault.
constexpr size_t kUnsound = SIZE_MAX;

// The whole blocks at the start of the text by SSSE3: kUnsound when they hold a fault, else where
// the scalar scan is to go on. The vector code of each scan stays inside one function: vectors
// passed between functions of different instruction sets would change the calling convention.
GLEANERY_TARGET_SSSE3 size_t SoundBlocksSsse3(const unsigned char* bytes, size_t length) {
    const __m128i byPreviousHigh =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kByPreviousHigh));
    const __m128i byPreviousLow = _mm_load_si128(reinterpret_cast<const __m128i*>(kByPreviousLow));
    const __m128i byCurrentHigh = _mm_load_si128(reinterpret_cast<const __m128i*>(kByCurrentHigh));
    const __m128i lastCanEnd = _mm_load_si128(reinterpret_cast<const __m128i*>(kLastCanEnd + 16));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i zero = _mm_setzero_si128();
    __m128i previous = zero;   // the block before, ASCII before the first
    __m128i unfinished = zero; // non-zero where the block before ended inside a sequence
    __m128i faults = zero;
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (_mm_movemask_epi8(block) == 0) {
            // All ASCII: wrong only when the block before left a sequence unfinished.
            faults = _mm_or_si128(faults, unfinished);
            unfinished = zero;
        } else {
            const __m128i before1 = _mm_alignr_epi8(block, previous, 15);
            const __m128i before2 = _mm_alignr_epi8(block, previous, 14);
            const __m128i before3 = _mm_alignr_epi8(block, previous, 13);
            const __m128i pairFaults = _mm_and_si128(
                _mm_and_si128(_mm_shuffle_epi8(byPreviousHigh,
                                               _mm_and_si128(_mm_srli_epi16(before1, 4), nibble)),
                              _mm_shuffle_epi8(byPreviousLow, _mm_and_si128(before1, nibble))),
                _mm_shuffle_epi8(byCurrentHigh, _mm_and_si128(_mm_srli_epi16(block, 4), nibble)));
            // A continuation after a continuation is right only as the third byte after E0..EF
            // or the third or fourth after F0..F4: the high bit stays where a lead stands two
            // bytes back at E0 or above, or three bytes back at F0 or above.
            const __m128i continuing =
                _mm_and_si128(_mm_or_si128(_mm_subs_epu8(before2, _mm_set1_epi8(0x60)),
                                           _mm_subs_epu8(before3, _mm_set1_epi8(0x70))),
                              _mm_set1_epi8(static_cast<char>(0x80)));
            faults = _mm_or_si128(faults, _mm_xor_si128(pairFaults, continuing));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(faults, zero)) != 0xFFFF) return kUnsound;
            unfinished = _mm_subs_epu8(block, lastCanEnd);
        }
        previous = block;
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(faults, zero)) != 0xFFFF) return kUnsound;
    return ScalarRestart(bytes, i);
}

// 128 bytes a step while they are all ASCII (a test and branch for every 32 bytes would cost three
// times as much on ASCII text), then 32 at a time to the first high byte.
GLEANERY_TARGET_AVX2 size_t AsciiPrefixAvx2(const unsigned char* bytes, size_t length) {
    const auto at = [bytes](size_t offset) GLEANERY_TARGET_AVX2 {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + offset));
    };
    size_t i = 0;
    for (; i + 128 <= length; i += 128) {
        const __m256i any = _mm256_or_si256(_mm256_or_si256(at(i), at(i + 32)),
                                            _mm256_or_si256(at(i + 64), at(i + 96)));
        if (_mm256_movemask_epi8(any) != 0) break;
    }
    for (; i + 32 <= length; i += 32) {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const auto high = static_cast<unsigned>(_mm256_movemask_epi8(block));
        if (high != 0) return i + static_cast<size_t>(__builtin_ctz(high));
    }
    return i + AsciiPrefixScalar(bytes + i, length - i);
}

// The faults of one 32-byte block by SoundBlocksSsse3's rules, given the vectors of the bytes one,
// two and three places before each of its bytes.
GLEANERY_TARGET_AVX2 inline __m256i Avx2BlockFaults(__m256i block, __m256i before1, __m256i before2,
                                                    __m256i before3, __m256i byPreviousHigh,
                                                    __m256i byPreviousLow, __m256i byCurrentHigh) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i pairFaults = _mm256_and_si256(
        _mm256_and_si256(
            _mm256_shuffle_epi8(byPreviousHigh,
                                _mm256_and_si256(_mm256_srli_epi16(before1, 4), nibble)),
            _mm256_shuffle_epi8(byPreviousLow, _mm256_and_si256(before1, nibble))),
        _mm256_shuffle_epi8(byCurrentHigh, _mm256_and_si256(_mm256_srli_epi16(block, 4), nibble)));
    const __m256i continuing =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(before2, _mm256_set1_epi8(0x60)),
                                         _mm256_subs_epu8(before3, _mm256_set1_epi8(0x70))),
                         _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(pairFaults, continuing);
}

// The same scan as SoundBlocksSsse3 on 256 bytes a step. A step of nothing but ASCII is passed
// over; any other has its eight blocks of 32 checked without a branch. In text where a letter
// beyond ASCII comes every few dozen bytes, a choice between passing over and checking made for
// every 32 or 64 bytes is one the processor cannot foresee, and its wrong guesses cost more than
// the checks they save; over 256 bytes it nearly always goes the same way. The bytes before each
// block are loaded from memory (they were loaded a moment ago and are in the cache) rather than
// shuffled out of the vectors, which leaves the shuffle units to the table look-ups. Faults are
// gathered and looked at once at the end.
GLEANERY_TARGET_AVX2 size_t SoundBlocksAvx2(const unsigned char* bytes, size_t length) {
    const __m256i byPreviousHigh = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kByPreviousHigh)));
    const __m256i byPreviousLow = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kByPreviousLow)));
    const __m256i byCurrentHigh = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kByCurrentHigh)));
    const __m256i lastCanEnd = _mm256_load_si256(reinterpret_cast<const __m256i*>(kLastCanEnd));
#define at(offset) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + (offset)))
    // The first block has ASCII before it: its bytes before come from a vector of zeros and itself.
    const __m256i first = at(0);
    const __m256i straddle = _mm256_permute2x128_si256(_mm256_setzero_si256(), first, 0x21);
    __m256i faults = Avx2BlockFaults(
        first, _mm256_alignr_epi8(first, straddle, 15), _mm256_alignr_epi8(first, straddle, 14),
        _mm256_alignr_epi8(first, straddle, 13), byPreviousHigh, byPreviousLow, byCurrentHigh);
    __m256i unfinished = _mm256_subs_epu8(first, lastCanEnd);
    size_t i = 32;
    for (; i + 256 <= length; i += 256) {
        __m256i any = at(i);
#pragma GCC unroll 8
        for (size_t k = 32; k < 256; k += 32) any = _mm256_or_si256(any, at(i + k));
        if (_mm256_movemask_epi8(any) == 0) {
            // All ASCII: wrong only when the block before left a sequence unfinished.
            faults = _mm256_or_si256(faults, unfinished);
            unfinished = _mm256_setzero_si256();
            continue;
        }
#pragma GCC unroll 8
        for (size_t k = i; k < i + 256; k += 32)
            faults = _mm256_or_si256(faults,
                                     Avx2BlockFaults(at(k), at(k - 1), at(k - 2), at(k - 3),
                                                     byPreviousHigh, byPreviousLow, byCurrentHigh));
        unfinished = _mm256_subs_epu8(at(i + 224), lastCanEnd);
    }
    for (; i + 32 <= length; i += 32)
        faults =
            _mm256_or_si256(faults, Avx2BlockFaults(at(i), at(i - 1), at(i - 2), at(i - 3),
                                                    byPreviousHigh, byPreviousLow, byCurrentHigh));
#undef at
    if (!_mm256_testz_si256(faults, faults)) return kUnsound;
    return ScalarRestart(bytes, i);
}

// Avx2BlockFaults for 64 bytes.
GLEANERY_TARGET_AVX512 inline __m512i
Avx512BlockFaults(__m512i block, __m512i before1, __m512i before2, __m512i before3,
                  __m512i byPreviousHigh, __m512i byPreviousLow, __m512i byCurrentHigh) {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i pairFaults = _mm512_and_si512(
        _mm512_and_si512(
            _mm512_shuffle_epi8(byPreviousHigh,
                                _mm512_and_si512(_mm512_srli_epi16(before1, 4), nibble)),
            _mm512_shuffle_epi8(byPreviousLow, _mm512_and_si512(before1, nibble))),
        _mm512_shuffle_epi8(byCurrentHigh, _mm512_and_si512(_mm512_srli_epi16(block, 4), nibble)));
    const __m512i continuing =
        _mm512_and_si512(_mm512_or_si512(_mm512_subs_epu8(before2, _mm512_set1_epi8(0x60)),
                                         _mm512_subs_epu8(before3, _mm512_set1_epi8(0x70))),
                         _mm512_set1_epi8(static_cast<char>(0x80)));
    return _mm512_xor_si512(pairFaults, continuing);
}

// A table of 16 bytes in each of a vector's four lanes.
GLEANERY_TARGET_AVX512 inline __m512i Avx512Table(const unsigned char* table) {
    // (The masked forms: GCC 12 takes the others' undefined source for an uninitialised value.)
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

// SoundBlocksAvx2 with blocks of 64 bytes, four to a step of 256. Where the processor checks a
// block of 64 about as fast as one of 32 (a full-width vector unit), the check of a block that
// just arrived in the cache takes little more than a third of AVX2's time.
GLEANERY_TARGET_AVX512 size_t SoundBlocksAvx512(const unsigned char* bytes, size_t length) {
    const __m512i byPreviousHigh = Avx512Table(kByPreviousHigh);
    const __m512i byPreviousLow = Avx512Table(kByPreviousLow);
    const __m512i byCurrentHigh = Avx512Table(kByCurrentHigh);
    const __m512i lastCanEnd = _mm512_load_si512(reinterpret_cast<const void*>(kLastCanEnd64));
#define at(offset) _mm512_loadu_si512(reinterpret_cast<const void*>(bytes + (offset)))
    // The first block has ASCII before it: each 16 bytes of it have the 16 before them (zeros
    // before the first) shifted in.
    const __m512i first = at(0);
    const __m512i lanesBefore = _mm512_maskz_alignr_epi64(0xFF, first, _mm512_setzero_si512(), 6);
    __m512i faults = Avx512BlockFaults(first, _mm512_alignr_epi8(first, lanesBefore, 15),
                                       _mm512_alignr_epi8(first, lanesBefore, 14),
                                       _mm512_alignr_epi8(first, lanesBefore, 13), byPreviousHigh,
                                       byPreviousLow, byCurrentHigh);
    __m512i unfinished = _mm512_subs_epu8(first, lastCanEnd);
    size_t i = 64;
    for (; i + 256 <= length; i += 256) {
        const __m512i any = _mm512_or_si512(_mm512_or_si512(at(i), at(i + 64)),
                                            _mm512_or_si512(at(i + 128), at(i + 192)));
        if (_mm512_movepi8_mask(any) == 0) {
            faults = _mm512_or_si512(faults, unfinished);
            unfinished = _mm512_setzero_si512();
            continue;
        }
#pragma GCC unroll 4
        for (size_t k = i; k < i + 256; k += 64)
            faults = _mm512_or_si512(faults, Avx512BlockFaults(at(k), at(k - 1), at(k - 2),
                                                               at(k - 3), byPreviousHigh,
                                                               byPreviousLow, byCurrentHigh));
        unfinished = _mm512_subs_epu8(at(i + 192), lastCanEnd);
    }
    for (; i + 64 <= length; i += 64)
        faults = _mm512_or_si512(faults,
                                 Avx512BlockFaults(at(i), at(i - 1), at(i - 2), at(i - 3),
                                                   byPreviousHigh, byPreviousLow, byCurrentHigh));
#undef at
    if (_mm512_test_epi64_mask(faults, faults) != 0) return kUnsound;
    return ScalarRestart(bytes, i);
}

// 128 units a step; a step that holds a surrogate ends the run.
GLEANERY_TARGET_AVX2 size_t SurrogateFreeAvx2(const char16_t* units, size_t count) {
    const __m256i mask = _mm256_set1_epi16(static_cast<short>(0xF800));
    const __m256i surrogate = _mm256_set1_epi16(static_cast<short>(0xD800));
    size_t i = 0;
    for (; i + 128 <= count; i += 128) {
        __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 8
        for (size_t k = i; k < i + 128; k += 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + k));
            any = _mm256_or_si256(any, _mm256_cmpeq_epi16(_mm256_and_si256(v, mask), surrogate));
        }
        if (!_mm256_testz_si256(any, any)) break;
    }
    return i;
}

// The scalar scan finishes the text outside the vector functions: called from them, it would
// run (and with it the code after it) with the upper halves of the AVX registers still in use,
// which costs every later SSE instruction on some processors. A text shorter than one block
// (a match, a line's piece) goes to it straight away.
bool ValidSsse3(const unsigned char* bytes, size_t length) {
    if (length < 16) return ValidScalar(bytes, length);
    const size_t restart = SoundBlocksSsse3(bytes, length);
    return restart != kUnsound && ValidScalar(bytes + restart, length - restart);
}

bool ValidAvx2(const unsigned char* bytes, size_t length) {
    if (length < 32) return ValidScalar(bytes, length);
    const size_t restart = SoundBlocksAvx2(bytes, length);
    return restart != kUnsound && ValidScalar(bytes + restart, length - restart);
}

bool ValidAvx512(const unsigned char* bytes, size_t length) {
    if (length < 64) return ValidAvx2(bytes, length);
    const size_t restart = SoundBlocksAvx512(bytes, length);
    return restart != kUnsound && ValidScalar(bytes + restart, length - restart);
}

#endif // GLEANERY_UTF8_VECTOR

struct Scan {
    size_t (*asciiPrefix)(const unsigned char*, size_t);
    bool (*valid)(const unsigned char*, size_t);
};

Scan ScanOf(detail::Utf8Scan scan) {
#ifdef GLEANERY_UTF8_VECTOR
    if (scan == detail::Utf8Scan::Avx512) return {AsciiPrefixAvx2, ValidAvx512};
    if (scan == detail::Utf8Scan::Avx2) return {AsciiPrefixAvx2, ValidAvx2};
    if (scan == detail::Utf8Scan::Ssse3) return {AsciiPrefixSsse3, ValidSsse3};
#else
    (void)scan;
#endif
    return {AsciiPrefixScalar, ValidScalar};
}

detail::Utf8Scan WidestScan() {
#ifdef GLEANERY_UTF8_VECTOR
    // Needed only before constructors have run, harmless after; the result is the same in every
    // thread.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        return detail::Utf8Scan::Avx512;
    if (__builtin_cpu_supports("avx2")) return detail::Utf8Scan::Avx2;
    if (__builtin_cpu_supports("ssse3")) return detail::Utf8Scan::Ssse3;
#endif
    return detail::Utf8Scan::Scalar;
}

// Asked once per process; the workers of a parallel search may ask first at the same time, which
// the initialisation of a function-local static settles.
const Scan& ChosenScan() {
    static const Scan chosen = ScanOf(detail::ChosenUtf8Scan());
    return chosen;
}

} // namespace

size_t AsciiPrefixLength(const unsigned char* bytes, size_t length) {
    return ChosenScan().asciiPrefix(bytes, length);
}

size_t SurrogateFreeSteps(const char16_t* units, size_t count) {
#ifdef GLEANERY_UTF8_VECTOR
    if (detail::ChosenUtf8Scan() >= detail::Utf8Scan::Avx2) return SurrogateFreeAvx2(units, count);
#else
    (void)units;
    (void)count;
#endif
    return 0;
}

bool IsValidUtf8(const unsigned char* bytes, size_t length) {
    return ChosenScan().valid(bytes, length);
}

namespace detail {

Utf8Scan ChosenUtf8Scan() {
    static const Utf8Scan chosen = WidestScan();
    return chosen;
}

bool Utf8ScanAvailable(Utf8Scan scan) {
    // Each scan's instructions are a superset of the narrower one's.
    return static_cast<int>(scan) <= static_cast<int>(ChosenUtf8Scan());
}

size_t AsciiPrefixLengthOn(Utf8Scan scan, const unsigned char* bytes, size_t length) {
    return ScanOf(Utf8ScanAvailable(scan) ? scan : Utf8Scan::Scalar).asciiPrefix(bytes, length);
}

bool IsValidUtf8On(Utf8Scan scan, const unsigned char* bytes, size_t length) {
    return ScanOf(Utf8ScanAvailable(scan) ? scan : Utf8Scan::Scalar).valid(bytes, length);
}

} // namespace detail

} // namespace gleanery
