#include "engine/text_pieces.h"

#include <algorithm>

#include "engine/utf8_validity.h"
#include "platform/codepage.h"

namespace gleanery {

bool AsciiIsIdentity(uint32_t codePage) {
    // Only code pages known to map 0x00-0x7F onto U+0000-U+007F without any shift state. EBCDIC
    // pages, the 7-bit national variants and the stateful encodings (ISO-2022, HZ, UTF-7) are
    // left to the system converter.
    switch (codePage) {
    case 437:
    case 708:
    case 720:
    case 737:
    case 775:
    case 850:
    case 852:
    case 855:
    case 857:
    case 858:
    case 860:
    case 861:
    case 862:
    case 863:
    case 864:
    case 865:
    case 866:
    case 869:
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case 1361:
    case 20127:
    case 20866:
    case 21866:
    case 20932:
    case 20936:
    case 20949:
    case 38598:
    case 51932:
    case 51936:
    case 51949:
    case 54936:
    case platform::kUtf8CodePage:
        return true;
    default:
        break;
    }
    if (codePage >= 1250 && codePage <= 1258) return true;
    if (codePage >= 28591 && codePage <= 28606) return true;
    return false;
}

void PrepareCodePageText(CodePageText& ctx, uint32_t codePage) {
    if (ctx.Prepared && ctx.CodePage == codePage) return;
    ctx.CodePage = codePage;
    ctx.Prepared = true;
    ctx.AsciiIdentity = AsciiIsIdentity(codePage);
    ctx.LeadTableReady = false;
}

namespace {

void EnsureLeadTable(CodePageText& ctx) {
    if (ctx.LeadTableReady) return;
    for (unsigned b = 0; b < 256; ++b)
        ctx.Lead[b] = platform::IsLeadByte(ctx.CodePage, static_cast<uint8_t>(b));
    ctx.LeadTableReady = true;
}

} // namespace

size_t NextBytePiece(CodePageText& ctx, const char* text, size_t remaining, size_t limit) {
    if (remaining <= limit) return remaining;
    if (ctx.CodePage == platform::kUtf8CodePage) {
        // Text read as code page 65001 (not valid UTF-8 as a whole): keep each sequence whole by
        // not starting the next piece on a continuation byte.
        size_t n = limit;
        while (n > 1 && limit - n < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
        return (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80 ? limit : n;
    }
    EnsureLeadTable(ctx);
    // Walk character by character from the piece's start: a backward scan from the limit cannot
    // tell a trail byte from a lead byte in double-byte code pages.
    size_t i = 0;
    while (i < limit) i += ctx.Lead[static_cast<unsigned char>(text[i])] ? 2 : 1;
    return i > limit ? limit - 1 : limit;
}

void AppendBytePieceAsUtf8(CodePageText& ctx, const char* text, size_t length, std::string& out) {
    size_t ascii = 0;
    if (ctx.AsciiIdentity) {
        // A piece starts on a character boundary, and bytes below 0x80 never lead a double-byte
        // character, so the leading run of them can be copied as it is.
        ascii = AsciiPrefixLength(reinterpret_cast<const unsigned char*>(text), length);
        out.append(text, ascii);
        if (ascii == length) return;
    }
    ctx.Wide.clear();
    platform::AppendCodePageAsWide(ctx.CodePage, std::string_view(text + ascii, length - ascii),
                                   ctx.Wide);
    platform::AppendUtf16AsUtf8(ctx.Wide, out);
}

void AppendCodePageAsUtf8(CodePageText& ctx, const char* text, size_t length, std::string& out) {
    while (length > 0) {
        size_t piece = NextBytePiece(ctx, text, length);
        AppendBytePieceAsUtf8(ctx, text, piece, out);
        text += piece;
        length -= piece;
    }
}

size_t NextUnitPiece(const char16_t* text, size_t remaining, size_t limit) {
    size_t n = std::min(remaining, limit);
    if (n > 0 && platform::IsHighSurrogate(text[n - 1])) --n;
    return n;
}

void AppendUnitPiecesAsUtf8(const char16_t* units, size_t count, size_t limit, std::string& out) {
    while (count > 0) {
        size_t piece = NextUnitPiece(units, count, limit);
        if (piece == 0) break; // a lone high surrogate ends the text
        platform::AppendUtf16AsUtf8(std::u16string_view(units, piece), out);
        units += piece;
        count -= piece;
    }
}

} // namespace gleanery
