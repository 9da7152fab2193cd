// Code page conversions on Windows: the system's own converters.
#include "platform/codepage.h"
#include "platform/unicode.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <climits>

namespace gleanery::platform {

namespace {

// The converters take int counts. Longer texts go in pieces that end on a character boundary:
// a wide piece of kMaxWidePiece units needs at most 4 bytes a unit, a byte piece at most one
// unit a byte, so neither side of a call passes INT_MAX.
constexpr size_t kMaxWidePiece = size_t{1} << 28;
constexpr size_t kMaxBytePiece = size_t{1} << 30;
// Up to this many output bytes the output is converted straight into reserved room; longer
// conversions ask for the exact length first instead of reserving the worst case.
constexpr size_t kDirectLimit = size_t{1} << 20;

UINT SystemCodePage(uint32_t codePage) {
    return codePage == kUtf8CodePage ? CP_UTF8 : static_cast<UINT>(codePage);
}

bool IsKnown(uint32_t codePage) {
    return codePage == kUtf8CodePage || IsValidCodePage(static_cast<UINT>(codePage)) != 0;
}

size_t MaxBytesPerUnit(uint32_t codePage) {
    if (codePage == kUtf8CodePage) return 3;
    CPINFO info;
    if (!GetCPInfo(static_cast<UINT>(codePage), &info) || info.MaxCharSize < 1) return 8;
    return info.MaxCharSize;
}

// The length of the first piece of `in`, not cutting a surrogate pair.
size_t WidePiece(std::u16string_view in) {
    if (in.size() <= kMaxWidePiece) return in.size();
    size_t cut = kMaxWidePiece;
    if (IsHighSurrogate(in[cut - 1])) --cut;
    return cut;
}

// The length of the first piece of `in`, not cutting a character; 0 when the code page cannot be
// cut safely (stateful and four-byte encodings).
size_t BytePiece(uint32_t codePage, std::string_view in) {
    if (in.size() <= kMaxBytePiece) return in.size();
    size_t cut = kMaxBytePiece;
    if (codePage == kUtf8CodePage) {
        while (cut > kMaxBytePiece - 4 && (static_cast<unsigned char>(in[cut]) & 0xC0) == 0x80)
            --cut;
        return cut;
    }
    CPINFO info;
    if (!GetCPInfo(static_cast<UINT>(codePage), &info)) return 0;
    if (info.MaxCharSize == 1) return cut;
    if (info.MaxCharSize != 2) return 0;
    size_t i = 0;
    while (i < kMaxBytePiece) {
        i += IsDBCSLeadByteEx(static_cast<UINT>(codePage), static_cast<BYTE>(in[i])) ? 2 : 1;
    }
    return i > kMaxBytePiece ? i - 2 : i;
}

int ToBytes(UINT codePage, DWORD flags, std::u16string_view in, char* out, int room,
            const char* defaultChar) {
    return WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(in.data()),
                               static_cast<int>(in.size()), out, room, defaultChar, nullptr);
}

bool AppendPieceAsBytes(uint32_t codePage, std::u16string_view in, const char* defaultChar,
                        size_t maxPerUnit, std::string& out) {
    const UINT cp = SystemCodePage(codePage);
    // A character the code page lacks becomes the default character, never a look-alike: the
    // system's best-fit mapping would turn a full-width backslash or quote of an expression into
    // a real one and change what the expression means.
    DWORD flags = codePage == kUtf8CodePage ? 0 : WC_NO_BEST_FIT_CHARS;
    // Some code pages (the ISO-2022 and GB18030 families, among others) take neither flags nor a
    // default character: they convert with the system's own substitute instead of not at all.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const size_t old = out.size();
        const size_t bound = in.size() * maxPerUnit;
        if (bound <= kDirectLimit) {
            out.resize(old + bound);
            const int n =
                ToBytes(cp, flags, in, out.data() + old, static_cast<int>(bound), defaultChar);
            if (n > 0) {
                out.resize(old + static_cast<size_t>(n));
                return true;
            }
            out.resize(old);
        }
        if (bound > kDirectLimit || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            const int needed = ToBytes(cp, flags, in, nullptr, 0, defaultChar);
            if (needed > 0) {
                out.resize(old + static_cast<size_t>(needed));
                const int n = ToBytes(cp, flags, in, out.data() + old, needed, defaultChar);
                if (n > 0) {
                    out.resize(old + static_cast<size_t>(n));
                    return true;
                }
                out.resize(old);
            }
        }
        const DWORD error = GetLastError();
        if ((defaultChar == nullptr && flags == 0) ||
            (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FLAGS))
            return false;
        defaultChar = nullptr;
        flags = 0;
    }
    return false;
}

bool AppendPieceAsWide(uint32_t codePage, std::string_view in, std::u16string& out) {
    // Every byte yields at most one UTF-16 unit, invalid ones included (U+FFFD each).
    const size_t old = out.size();
    out.resize(old + in.size());
    const int n = MultiByteToWideChar(
        SystemCodePage(codePage), 0, in.data(), static_cast<int>(in.size()),
        reinterpret_cast<wchar_t*>(out.data() + old), static_cast<int>(in.size()));
    out.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    return n > 0;
}

} // namespace

bool AppendWideAsCodePage(uint32_t codePage, std::u16string_view in, int8_t defaultChar,
                          std::string& out) {
    if (!IsKnown(codePage)) return false;
    if (in.empty()) return true;
    // UTF-8 takes no default character; elsewhere one of 1 or more is ours, else the system's.
    const char substitute = static_cast<char>(defaultChar);
    const char* useDefault = codePage != kUtf8CodePage && defaultChar >= 1 ? &substitute : nullptr;
    const size_t maxPerUnit = MaxBytesPerUnit(codePage);
    const size_t start = out.size();
    while (!in.empty()) {
        const size_t piece = WidePiece(in);
        if (!AppendPieceAsBytes(codePage, in.substr(0, piece), useDefault, maxPerUnit, out)) {
            out.resize(start);
            return false;
        }
        in.remove_prefix(piece);
    }
    return true;
}

bool AppendCodePageAsWide(uint32_t codePage, std::string_view in, std::u16string& out) {
    if (!IsKnown(codePage)) return false;
    if (in.empty()) return true;
    const size_t start = out.size();
    while (!in.empty()) {
        const size_t piece = BytePiece(codePage, in);
        if (piece == 0 || !AppendPieceAsWide(codePage, in.substr(0, piece), out)) {
            out.resize(start);
            return false;
        }
        in.remove_prefix(piece);
    }
    return true;
}

std::string WideToUtf8(std::u16string_view in) {
    std::string out;
    AppendWideAsCodePage(kUtf8CodePage, in, -1, out);
    return out;
}

std::u16string Utf8ToWide(std::string_view in) {
    std::u16string out;
    AppendCodePageAsWide(kUtf8CodePage, in, out);
    return out;
}

bool IsLeadByte(uint32_t codePage, uint8_t byte) {
    if (codePage == kUtf8CodePage) return false;
    return IsDBCSLeadByteEx(static_cast<UINT>(codePage), byte) != 0;
}

uint32_t SystemAnsiCodePage() {
    return GetACP();
}

uint32_t SystemOemCodePage() {
    return GetOEMCP();
}

} // namespace gleanery::platform
