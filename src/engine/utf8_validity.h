// ASCII runs and UTF-8 validity. Encoding detection scans the check buffer of every file, so the
// scan skips plain ASCII eight bytes at a time and decodes only where a byte of 0x80 or above
// stands; the match loop and the code-page conversions skip ASCII runs the same way.
#pragma once

#include <cstddef>

namespace gleanery {

// Length of the leading run of bytes below 0x80.
size_t AsciiPrefixLength(const unsigned char* bytes, size_t length);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF and no sequence cut off at the end.
bool IsValidUtf8(const unsigned char* bytes, size_t length);

} // namespace gleanery
