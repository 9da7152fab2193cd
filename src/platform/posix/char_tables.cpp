// PCRE character tables for an 8-bit code page. The layout is that of pcre_maketables: 256
// lower-case bytes, 256 case-flipped bytes, ten 32-byte class bitmaps (space, xdigit, digit,
// upper, lower, word, graph, print, punct, cntrl) and 256 character-type bytes. The classes are
// taken from the Unicode properties of the character each byte stands for in the code page, so
// the tables follow the code page and not the locale of the process.
#include "platform/char_tables.h"
#include "platform/codepage.h"
#include "platform/unicode.h"

#include <pcre.h>

#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <string>
#include <wctype.h>

namespace gleanery::platform {

namespace {

constexpr size_t kCaseTable = 256;
constexpr size_t kCbitSpace = 0;
constexpr size_t kCbitXdigit = 32;
constexpr size_t kCbitDigit = 64;
constexpr size_t kCbitUpper = 96;
constexpr size_t kCbitLower = 128;
constexpr size_t kCbitWord = 160;
constexpr size_t kCbitGraph = 192;
constexpr size_t kCbitPrint = 224;
constexpr size_t kCbitPunct = 256;
constexpr size_t kCbitCntrl = 288;
constexpr size_t kCbitLength = 320;
constexpr size_t kTablesLength = 2 * kCaseTable + kCbitLength + 256;

constexpr unsigned char kCtypeSpace = 0x01;
constexpr unsigned char kCtypeLetter = 0x02;
constexpr unsigned char kCtypeDigit = 0x04;
constexpr unsigned char kCtypeXdigit = 0x08;
constexpr unsigned char kCtypeWord = 0x10;
constexpr unsigned char kCtypeMeta = 0x80;

// Unicode classification independent of the process locale.
struct Classifier {
    locale_t locale = static_cast<locale_t>(nullptr);

    Classifier() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (locale != static_cast<locale_t>(nullptr)) break;
        }
    }
    ~Classifier() {
        if (locale != static_cast<locale_t>(nullptr)) freelocale(locale);
    }
    Classifier(const Classifier&) = delete;
    Classifier& operator=(const Classifier&) = delete;

    bool Has(wint_t c, const char* property) const {
        if (locale == static_cast<locale_t>(nullptr)) return c < 0x80 && HasAscii(c, property);
        return iswctype_l(c, wctype_l(property, locale), locale) != 0;
    }
    wint_t Lower(wint_t c) const {
        if (locale == static_cast<locale_t>(nullptr)) return c >= 'A' && c <= 'Z' ? c + 32 : c;
        return towlower_l(c, locale);
    }
    wint_t Upper(wint_t c) const {
        if (locale == static_cast<locale_t>(nullptr)) return c >= 'a' && c <= 'z' ? c - 32 : c;
        return towupper_l(c, locale);
    }

    // Without a Unicode locale, only ASCII is classified (by the C locale).
    static bool HasAscii(wint_t c, const char* property) {
        return iswctype(c, wctype(property)) != 0;
    }
};

struct ByteInfo {
    bool mapped = false;
    wint_t character = 0;
};

} // namespace

const unsigned char* MakeCharTablesFor(uint32_t codePage) {
    // What each byte stands for on its own; lead bytes and undefined bytes stand for nothing.
    ByteInfo bytes[256];
    for (int b = 0; b < 256; ++b) {
        if (IsLeadByte(codePage, static_cast<uint8_t>(b))) continue;
        std::u16string wide;
        const char byte = static_cast<char>(b);
        if (!AppendCodePageAsWide(codePage, std::string_view(&byte, 1), wide)) return nullptr;
        if (wide.size() != 1 || wide[0] == kReplacementCharacter || IsSurrogate(wide[0])) continue;
        bytes[b].mapped = true;
        bytes[b].character = wide[0];
    }
    // The byte that stands for a character, for mapping case changes back.
    auto byteOf = [&bytes](wint_t character, int fallback) {
        for (int b = 0; b < 256; ++b) {
            if (bytes[b].mapped && bytes[b].character == character) return b;
        }
        return fallback;
    };

    auto* tables = static_cast<unsigned char*>(pcre_malloc(kTablesLength));
    if (tables == nullptr) return nullptr;
    std::memset(tables, 0, kTablesLength);
    unsigned char* lower = tables;
    unsigned char* flip = tables + kCaseTable;
    unsigned char* cbits = tables + 2 * kCaseTable;
    unsigned char* ctypes = cbits + kCbitLength;

    static const Classifier classifier;
    for (int b = 0; b < 256; ++b) {
        lower[b] = static_cast<unsigned char>(b);
        flip[b] = static_cast<unsigned char>(b);
        if (!bytes[b].mapped) continue;
        const wint_t c = bytes[b].character;
        const bool isUpper = classifier.Has(c, "upper");
        const bool isLower = classifier.Has(c, "lower");
        const bool isAlpha = classifier.Has(c, "alpha");
        const bool isDigit = c >= '0' && c <= '9';
        const bool isXdigit = isDigit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        const bool isSpace = classifier.Has(c, "space") || c == 0xA0;
        const bool isCntrl = classifier.Has(c, "cntrl");
        const bool isPrint = classifier.Has(c, "print");
        const bool isGraph = isPrint && !classifier.Has(c, "space") && c != 0xA0;
        const bool isAlnum = isAlpha || isDigit;
        const bool isPunct = isGraph && !isAlnum;

        const int lowerByte = byteOf(classifier.Lower(c), b);
        lower[b] = static_cast<unsigned char>(lowerByte);
        flip[b] = static_cast<unsigned char>(isLower ? byteOf(classifier.Upper(c), b) : lowerByte);

        auto set = [cbits, b](size_t offset) {
            cbits[offset + b / 8] |= static_cast<unsigned char>(1u << (b & 7));
        };
        if (isDigit) set(kCbitDigit);
        if (isUpper) set(kCbitUpper);
        if (isLower) set(kCbitLower);
        if (isAlnum || c == '_') set(kCbitWord);
        if (isSpace) set(kCbitSpace);
        if (isXdigit) set(kCbitXdigit);
        if (isGraph) set(kCbitGraph);
        if (isPrint) set(kCbitPrint);
        if (isPunct) set(kCbitPunct);
        if (isCntrl) set(kCbitCntrl);

        unsigned char type = 0;
        if (isSpace) type |= kCtypeSpace;
        if (isAlpha) type |= kCtypeLetter;
        if (isDigit) type |= kCtypeDigit;
        if (isXdigit) type |= kCtypeXdigit;
        if (isAlnum || c == '_') type |= kCtypeWord;
        // As in pcre_maketables, the terminating zero of the meta list counts as one of them.
        if (c < 0x80 && std::strchr("\\*+?{^.$|()[", static_cast<int>(c)) != nullptr)
            type |= kCtypeMeta;
        ctypes[b] = type;
    }
    return tables;
}

const unsigned char* MakeCharTables(bool oem) {
    // The system's code page always has tables; where no converter for it is installed, only
    // the ASCII characters are classified.
    const unsigned char* tables =
        MakeCharTablesFor(oem ? SystemOemCodePage() : SystemAnsiCodePage());
    return tables != nullptr ? tables : MakeCharTablesFor(20127);
}

} // namespace gleanery::platform
