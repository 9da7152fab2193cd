// ASCII runs and UTF-8 validity (and UTF-16's runs without surrogates). Encoding detection scans
// the check buffer of every file and an unchecked search scans the whole text first, so on x86 both
// run on vector instructions (16 bytes a step with SSSE3, 32 with AVX2, 64 for the validity with
// AVX-512), chosen once by what the processor offers; elsewhere, and for the few bytes after the
// last whole step, a scalar scan skips ASCII eight bytes at a time and decodes only where a byte of
// 0x80 or above stands.
#pragma once

#include <cstddef>

namespace gleanery {

// Length of the leading run of bytes below 0x80.
size_t AsciiPrefixLength(const unsigned char* bytes, size_t length);

// A length of leading UTF-16 units, none of them a surrogate (D800 to DFFF), in whole steps of
// the widest vectors the processor has: 0 where it has none wider than the caller's own, or
// where a surrogate stands in the first step. What follows is for the caller to judge.
size_t SurrogateFreeSteps(const char16_t* units, size_t count);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF and no sequence cut off at the end.
bool IsValidUtf8(const unsigned char* bytes, size_t length);

namespace detail {

// The ways of scanning; every one gives the same answers, the choice is only about speed.
enum class Utf8Scan { Scalar, Ssse3, Avx2, Avx512 };

// Whether this build and this processor can run `scan` (Scalar always can).
bool Utf8ScanAvailable(Utf8Scan scan);

// The scan the public functions use: the widest available one.
Utf8Scan ChosenUtf8Scan();

// The public functions on one given scan, which must be available.
size_t AsciiPrefixLengthOn(Utf8Scan scan, const unsigned char* bytes, size_t length);
bool IsValidUtf8On(Utf8Scan scan, const unsigned char* bytes, size_t length);

} // namespace detail

} // namespace gleanery
