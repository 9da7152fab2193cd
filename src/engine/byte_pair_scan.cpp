#include "engine/byte_pair_scan.h"

#include <cstdint>
#include <cstring>

#include "engine/utf8_validity.h"

#if defined(__x86_64__) || defined(__i386__)
#define GLEANERY_PAIR_VECTOR 1
#include <immintrin.h>
#endif

namespace gleanery {
namespace {

bool Holds(unsigned char byte, unsigned char wanted, unsigned char fold) {
    return static_cast<unsigned char>(byte | fold) == wanted;
}

#ifdef GLEANERY_PAIR_VECTOR

#define GLEANERY_TARGET_AVX2 __attribute__((target("avx2")))
#define GLEANERY_TARGET_AVX512 __attribute__((target("avx512f,avx512bw")))

GLEANERY_TARGET_AVX2 inline __m256i Load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Where the pair stands among the 32 positions from `at` on: the first byte's vector and the one
// `gap` bytes after it, each compared (after the fold) with its byte.
GLEANERY_TARGET_AVX2 inline __m256i PairHits(const unsigned char* at, size_t gap, __m256i first,
                                             __m256i firstFold, __m256i second,
                                             __m256i secondFold) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(Load(at), firstFold), first),
                            _mm256_cmpeq_epi8(_mm256_or_si256(Load(at + gap), secondFold), second));
}

// 128 positions a step, then 64: the steps' hits are told apart only where there are any, since
// in text a step without the pair is the rule, and the test and branch of a step cost as much as
// its comparisons. The first position that holds the pair, or where the whole steps ended. Only
// these functions use AVX2; they run where the processor offers it.
GLEANERY_TARGET_AVX2 size_t PairAvx2(const unsigned char* bytes, size_t from, size_t end,
                                     const BytePair& pair) {
    const __m256i first = _mm256_set1_epi8(static_cast<char>(pair.First));
    const __m256i firstFold = _mm256_set1_epi8(static_cast<char>(pair.FirstFold));
    const __m256i second = _mm256_set1_epi8(static_cast<char>(pair.Second));
    const __m256i secondFold = _mm256_set1_epi8(static_cast<char>(pair.SecondFold));
    const size_t gap = pair.Gap;
    const auto found = [](__m256i low, __m256i high) GLEANERY_TARGET_AVX2 {
        return static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
               (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32);
    };
    size_t i = from;
    for (; i + 128 <= end; i += 128) {
        const __m256i a = PairHits(bytes + i, gap, first, firstFold, second, secondFold);
        const __m256i b = PairHits(bytes + i + 32, gap, first, firstFold, second, secondFold);
        const __m256i c = PairHits(bytes + i + 64, gap, first, firstFold, second, secondFold);
        const __m256i d = PairHits(bytes + i + 96, gap, first, firstFold, second, secondFold);
        const __m256i any = _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d));
        if (_mm256_testz_si256(any, any)) continue;
        const uint64_t low = found(a, b);
        if (low != 0) return i + static_cast<size_t>(__builtin_ctzll(low));
        return i + 64 + static_cast<size_t>(__builtin_ctzll(found(c, d)));
    }
    for (; i + 64 <= end; i += 64) {
        const __m256i a = PairHits(bytes + i, gap, first, firstFold, second, secondFold);
        const __m256i b = PairHits(bytes + i + 32, gap, first, firstFold, second, secondFold);
        const __m256i any = _mm256_or_si256(a, b);
        if (_mm256_testz_si256(any, any)) continue;
        return i + static_cast<size_t>(__builtin_ctzll(found(a, b)));
    }
    return i;
}

// Where the pair stands among the 64 positions from `at` on, as a mask: the second byte is compared
// only where the first matched.
GLEANERY_TARGET_AVX512 inline uint64_t PairHits512(const unsigned char* at, size_t gap,
                                                   __m512i first, __m512i firstFold, __m512i second,
                                                   __m512i secondFold) {
    const __mmask64 firsts = _mm512_cmpeq_epi8_mask(
        _mm512_or_si512(_mm512_loadu_si512(reinterpret_cast<const void*>(at)), firstFold), first);
    return _mm512_mask_cmpeq_epi8_mask(
        firsts,
        _mm512_or_si512(_mm512_loadu_si512(reinterpret_cast<const void*>(at + gap)), secondFold),
        second);
}

// PairAvx2 on vectors of 64 bytes: 128 positions a step, then 64.
GLEANERY_TARGET_AVX512 size_t PairAvx512(const unsigned char* bytes, size_t from, size_t end,
                                         const BytePair& pair) {
    const __m512i first = _mm512_set1_epi8(static_cast<char>(pair.First));
    const __m512i firstFold = _mm512_set1_epi8(static_cast<char>(pair.FirstFold));
    const __m512i second = _mm512_set1_epi8(static_cast<char>(pair.Second));
    const __m512i secondFold = _mm512_set1_epi8(static_cast<char>(pair.SecondFold));
    const size_t gap = pair.Gap;
    size_t i = from;
    for (; i + 128 <= end; i += 128) {
        const uint64_t low = PairHits512(bytes + i, gap, first, firstFold, second, secondFold);
        const uint64_t high =
            PairHits512(bytes + i + 64, gap, first, firstFold, second, secondFold);
        if ((low | high) == 0) continue;
        if (low != 0) return i + static_cast<size_t>(__builtin_ctzll(low));
        return i + 64 + static_cast<size_t>(__builtin_ctzll(high));
    }
    for (; i + 64 <= end; i += 64) {
        const uint64_t hits = PairHits512(bytes + i, gap, first, firstFold, second, secondFold);
        if (hits != 0) return i + static_cast<size_t>(__builtin_ctzll(hits));
    }
    return i;
}

// 64 positions a step, forwards: the first that holds `a` or `b`, or where the whole steps ended.
GLEANERY_TARGET_AVX2 size_t EitherAvx2(const unsigned char* bytes, size_t from, size_t end,
                                       unsigned char a, unsigned char b) {
    const __m256i first = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i second = _mm256_set1_epi8(static_cast<char>(b));
    const auto hits = [&](size_t at) GLEANERY_TARGET_AVX2 {
        const __m256i v = Load(bytes + at);
        return _mm256_or_si256(_mm256_cmpeq_epi8(v, first), _mm256_cmpeq_epi8(v, second));
    };
    size_t i = from;
    for (; i + 64 <= end; i += 64) {
        const __m256i low = hits(i);
        const __m256i high = hits(i + 32);
        const __m256i any = _mm256_or_si256(low, high);
        if (_mm256_testz_si256(any, any)) continue;
        const uint64_t found =
            static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
            (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32);
        return i + static_cast<size_t>(__builtin_ctzll(found));
    }
    return i;
}

// 32 positions a step, backwards from `end`: true with `found` at the last that holds `a` or `b`;
// false with `end` where the whole steps ended.
GLEANERY_TARGET_AVX2 bool LastEitherAvx2(const unsigned char* bytes, size_t from, size_t& end,
                                         unsigned char a, unsigned char b, size_t& found) {
    const __m256i first = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i second = _mm256_set1_epi8(static_cast<char>(b));
    for (; end - from >= 32; end -= 32) {
        const __m256i v = Load(bytes + end - 32);
        const auto hits = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, first), _mm256_cmpeq_epi8(v, second))));
        if (hits != 0) {
            found = end - 32 + 31 - static_cast<size_t>(__builtin_clz(hits));
            return true;
        }
    }
    return false;
}

bool HasAvx2() {
    // Asked once per process (see ChosenUtf8Scan for the threads).
    static const bool has = detail::ChosenUtf8Scan() >= detail::Utf8Scan::Avx2;
    return has;
}

#endif

// The scan a byte at a time: the positions the vector scan leaves, and every scan where the
// processor has no vectors for it.
size_t NextBytePairScalar(const unsigned char* bytes, size_t from, size_t end,
                          const BytePair& pair) {
    const unsigned char* gapped = bytes + pair.Gap;
    if (pair.FirstFold == 0) {
        // The library's single-byte scan where the first byte has one case.
        while (from < end) {
            const void* hit = std::memchr(bytes + from, pair.First, end - from);
            if (hit == nullptr) return end;
            from = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
            if (Holds(gapped[from], pair.Second, pair.SecondFold)) return from;
            ++from;
        }
        return end;
    }
    for (; from < end; ++from)
        if (Holds(bytes[from], pair.First, pair.FirstFold) &&
            Holds(gapped[from], pair.Second, pair.SecondFold))
            return from;
    return end;
}

} // namespace

size_t NextEitherByte(const unsigned char* bytes, size_t from, size_t end, unsigned char a,
                      unsigned char b) {
    if (from >= end) return end;
    if (a == b) {
        const void* hit = std::memchr(bytes + from, a, end - from);
        return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes) : end;
    }
#ifdef GLEANERY_PAIR_VECTOR
    if (HasAvx2() && end - from >= 64) from = EitherAvx2(bytes, from, end, a, b);
#endif
    for (; from < end; ++from)
        if (bytes[from] == a || bytes[from] == b) return from;
    return end;
}

size_t LastEitherByte(const unsigned char* bytes, size_t from, size_t end, unsigned char a,
                      unsigned char b) {
    const size_t none = end;
    if (from >= end) return none;
#ifdef GLEANERY_PAIR_VECTOR
    size_t found = 0;
    if (HasAvx2() && end - from >= 32 && LastEitherAvx2(bytes, from, end, a, b, found))
        return found;
#endif
    while (end > from) {
        --end;
        if (bytes[end] == a || bytes[end] == b) return end;
    }
    return none;
}

size_t NextBytePair(const unsigned char* bytes, size_t from, size_t end, const BytePair& pair) {
    // Asked once per process (see ChosenUtf8Scan for the threads).
    static const detail::Utf8Scan widest = detail::ChosenUtf8Scan();
    return detail::NextBytePairOn(widest, bytes, from, end, pair);
}

namespace detail {

size_t NextBytePairOn(Utf8Scan widest, const unsigned char* bytes, size_t from, size_t end,
                      const BytePair& pair) {
#ifdef GLEANERY_PAIR_VECTOR
    // The scalar scan finishes the positions after the whole steps outside the vector function
    // (see ValidAvx2 in utf8_validity.cpp for why); after a hit, it confirms it at once.
    if (end - from >= 64) {
        if (widest >= Utf8Scan::Avx512)
            from = PairAvx512(bytes, from, end, pair);
        else if (widest >= Utf8Scan::Avx2)
            from = PairAvx2(bytes, from, end, pair);
    }
#else
    (void)widest;
#endif
    return NextBytePairScalar(bytes, from, end, pair);
}

} // namespace detail

} // namespace gleanery
