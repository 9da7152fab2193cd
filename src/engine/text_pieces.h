// Bounded conversions of matched text to UTF-8: code-page bytes and UTF-16 units are converted
// in pieces of limited size so that one huge match never needs one huge temporary string, and a
// piece boundary never splits a double-byte character or a surrogate pair.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unicode.h"

namespace gleanery {

// Largest piece of code-page bytes converted at once.
inline constexpr size_t kBytePieceLimit = 0x40000;
// Largest piece of UTF-16 units converted for the output, and for the duplicate hash.
inline constexpr size_t kOutputUnitPieceLimit = 0x20000;
inline constexpr size_t kHashUnitPieceLimit = 0x40000;

// True when every byte below 0x80 is the character of the same value in `codePage`, with no
// shift state: such bytes can be copied to UTF-8 without asking the system.
bool AsciiIsIdentity(uint32_t codePage);

// Conversion state for one code page, kept by the caller and reused from match to match.
struct CodePageText {
    uint32_t CodePage = 0;
    bool Prepared = false;
    bool AsciiIdentity = false;
    bool LeadTableReady = false;
    std::array<bool, 256> Lead{};
    std::u16string Wide; // scratch for the system conversion
};

// Makes `ctx` ready for `codePage` (cheap when it already is).
void PrepareCodePageText(CodePageText& ctx, uint32_t codePage);

// Length of the next piece of `remaining` bytes at `text`: at most `limit` bytes, shortened by
// one byte when the limit would cut a double-byte character. Character boundaries are found by
// walking from the piece's start.
size_t NextBytePiece(CodePageText& ctx, const char* text, size_t remaining,
                     size_t limit = kBytePieceLimit);
// Converts one piece (as chosen by NextBytePiece) from the code page to UTF-8, appended to `out`.
void AppendBytePieceAsUtf8(CodePageText& ctx, const char* text, size_t length, std::string& out);
// The whole text, piece by piece.
void AppendCodePageAsUtf8(CodePageText& ctx, const char* text, size_t length, std::string& out);

// Length of the next piece of `remaining` units: at most `limit` units, one less when the piece
// would end with a high surrogate (its pair goes into the next piece). 0 when all that is left
// is a high surrogate that ends the text; such a unit is left out.
size_t NextUnitPiece(const char16_t* text, size_t remaining, size_t limit);
// The whole text in pieces of at most `limit` units, as the output and the hash see it.
void AppendUnitPiecesAsUtf8(const char16_t* units, size_t count, size_t limit, std::string& out);

} // namespace gleanery
