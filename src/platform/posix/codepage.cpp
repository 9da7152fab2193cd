// Code page conversions on POSIX. Windows code page numbers are mapped to iconv names; UTF-8 is
// converted here directly. Single-byte code pages are converted through a 256-entry table built
// once from iconv (and a reverse table built on first use), multi-byte ones through cached iconv
// descriptors. Behaviour follows the Windows converters where it is cheap to do so:
// - bytes that the code page leaves undefined, and invalid or incomplete multi-byte sequences,
//   become U+FFFD;
// - characters the code page cannot represent, and unpaired surrogates, become the default
//   character (one per code point; no "best fit" replacement such as A for A-macron).
#include "platform/codepage.h"
#include "platform/unicode.h"
#include "platform/utf8_sequence.h"

#include <iconv.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace gleanery::platform {

namespace {

constexpr char16_t kReplacement = kReplacementCharacter;
constexpr char kSystemDefaultChar = '?';

const char* NativeUtf16() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

struct CodePageName {
    uint32_t codePage;
    const char* iconvName;
    bool multiByte;
};

// Every code page the plug-in offers, with the iconv name of the same character set. Names that
// the C library's iconv lacks make the code page unknown, as on a system without it.
constexpr CodePageName kNames[] = {
    {437, "CP437", false},         {708, "ASMO-708", false},
    {720, "CP720", false},         {737, "CP737", false},
    {775, "CP775", false},         {850, "CP850", false},
    {852, "CP852", false},         {855, "CP855", false},
    {857, "CP857", false},         {858, "CP858", false},
    {860, "CP860", false},         {861, "CP861", false},
    {862, "CP862", false},         {863, "CP863", false},
    {864, "CP864", false},         {865, "CP865", false},
    {866, "CP866", false},         {869, "CP869", false},
    {874, "CP874", false},         {932, "CP932", true},
    {936, "CP936", true},          {949, "CP949", true},
    {950, "CP950", true},          {1250, "CP1250", false},
    {1251, "CP1251", false},       {1252, "CP1252", false},
    {1253, "CP1253", false},       {1254, "CP1254", false},
    {1255, "CP1255", false},       {1256, "CP1256", false},
    {1257, "CP1257", false},       {1258, "CP1258", false},
    {1361, "JOHAB", true},         {10000, "MACINTOSH", false},
    {10004, "MACARABIC", false},   {10005, "MACHEBREW", false},
    {10006, "MACGREEK", false},    {10007, "MACCYRILLIC", false},
    {10010, "MACROMANIA", false},  {10017, "MACUKRAINIAN", false},
    {10021, "MACTHAI", false},     {10029, "MAC-CENTRALEUROPE", false},
    {10079, "MAC-IS", false},      {10081, "MACTURKISH", false},
    {10082, "MACCROATIAN", false}, {20127, "ASCII", false},
    {20269, "ISO_6937", true},     {20866, "KOI8-R", false},
    {20932, "EUC-JP", true},       {20936, "GB2312", true},
    {20949, "EUC-KR", true},       {21866, "KOI8-U", false},
    {28591, "ISO-8859-1", false},  {28592, "ISO-8859-2", false},
    {28593, "ISO-8859-3", false},  {28594, "ISO-8859-4", false},
    {28595, "ISO-8859-5", false},  {28596, "ISO-8859-6", false},
    {28597, "ISO-8859-7", false},  {28598, "ISO-8859-8", false},
    {28599, "ISO-8859-9", false},  {28603, "ISO-8859-13", false},
    {28605, "ISO-8859-15", false}, {38598, "ISO-8859-8", false},
    {50220, "ISO-2022-JP", true},  {50221, "ISO-2022-JP", true},
    {50222, "ISO-2022-JP", true},  {50225, "ISO-2022-KR", true},
    {50227, "ISO-2022-CN", true},  {50229, "ISO-2022-CN-EXT", true},
    {51932, "EUC-JP", true},       {51936, "EUC-CN", true},
    {51949, "EUC-KR", true},       {51950, "EUC-TW", true},
    {52936, "HZ", true},           {54936, "GB18030", true},
};

const CodePageName* FindName(uint32_t codePage) {
    for (const auto& entry : kNames) {
        if (entry.codePage == codePage) return &entry;
    }
    return nullptr;
}

// ---- converters -------------------------------------------------------------------------------

struct SingleByteTable {
    std::array<char16_t, 256> toWide{};
    std::array<bool, 256> defined{};
    // From UTF-16 units back to bytes, in blocks of 256 units: a code page's characters fall in a
    // handful of blocks, and a table of all 65536 units would cost every run that converts
    // anything 16 fresh pages. Byte 0 means none, except for U+0000.
    std::once_flag reverseOnce;
    std::array<uint8_t, 256> blockOf{}; // index into blocks; block 0 is all none
    std::vector<std::array<uint8_t, 256>> blocks;
};

struct Converter {
    uint32_t codePage = 0;
    bool known = false;
    bool multiByte = false;
    SingleByteTable table;
    // Multi-byte: descriptors reused under the lock (iconv descriptors keep state).
    std::mutex lock;
    iconv_t toWide = reinterpret_cast<iconv_t>(-1);
    iconv_t fromWide = reinterpret_cast<iconv_t>(-1);

    ~Converter() {
        if (toWide != reinterpret_cast<iconv_t>(-1)) iconv_close(toWide);
        if (fromWide != reinterpret_cast<iconv_t>(-1)) iconv_close(fromWide);
    }
};

bool BuildSingleByteTable(const char* name, SingleByteTable& table) {
    iconv_t cd = iconv_open(NativeUtf16(), name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    for (int byte = 0; byte < 256; ++byte) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(byte);
        char* src = &in;
        size_t srcLeft = 1;
        char16_t units[4];
        char* dst = reinterpret_cast<char*>(units);
        size_t dstLeft = sizeof units;
        size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        // Converters that hold back a base letter for a following combining mark release it
        // on the flush.
        if (result != static_cast<size_t>(-1)) result = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        const size_t produced = (sizeof units - dstLeft) / sizeof(char16_t);
        if (result != static_cast<size_t>(-1) && srcLeft == 0 && produced == 1 &&
            units[0] != kReplacement) {
            table.toWide[byte] = units[0];
            table.defined[byte] = true;
        } else {
            table.toWide[byte] = kReplacement;
        }
    }
    iconv_close(cd);
    return true;
}

void BuildReverse(SingleByteTable& table) {
    table.blocks.assign(1, {});
    // From the top down so that the lowest byte wins when two bytes share a character.
    for (int byte = 255; byte > 0; --byte) {
        if (!table.defined[byte]) continue;
        const char16_t unit = table.toWide[byte];
        uint8_t& block = table.blockOf[unit >> 8];
        if (block == 0) {
            block = static_cast<uint8_t>(table.blocks.size());
            table.blocks.emplace_back();
        }
        table.blocks[block][unit & 0xFF] = static_cast<uint8_t>(byte);
    }
}

std::unique_ptr<Converter> MakeConverter(uint32_t codePage) {
    auto converter = std::make_unique<Converter>();
    converter->codePage = codePage;
    const CodePageName* name = FindName(codePage);
    if (name == nullptr) return converter;
    converter->multiByte = name->multiByte;
    if (!name->multiByte) {
        converter->known = BuildSingleByteTable(name->iconvName, converter->table);
        return converter;
    }
    converter->toWide = iconv_open(NativeUtf16(), name->iconvName);
    converter->fromWide = iconv_open(name->iconvName, NativeUtf16());
    converter->known = converter->toWide != reinterpret_cast<iconv_t>(-1) &&
                       converter->fromWide != reinterpret_cast<iconv_t>(-1);
    return converter;
}

std::mutex g_convertersLock;
std::map<uint32_t, std::unique_ptr<Converter>>& Converters() {
    static std::map<uint32_t, std::unique_ptr<Converter>> converters;
    return converters;
}

// Converters live until the library is unloaded, so the per-thread shortcut stays valid.
thread_local Converter* t_lastConverter = nullptr;

Converter* ConverterFor(uint32_t codePage) {
    Converter* last = t_lastConverter;
    if (last != nullptr && last->codePage == codePage) return last;
    std::lock_guard guard(g_convertersLock);
    auto& converters = Converters();
    auto found = converters.find(codePage);
    if (found == converters.end()) {
        found = converters.emplace(codePage, MakeConverter(codePage)).first;
    }
    t_lastConverter = found->second.get();
    return t_lastConverter;
}

// ---- UTF-8 -----------------------------------------------------------------------------------

// Decodes UTF-8; every maximal ill-formed subsequence becomes one U+FFFD.
void Utf8ToWideAppend(std::string_view in, std::u16string& out) {
    out.reserve(out.size() + in.size());
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        const Utf8Lead rule = Utf8LeadOf(b);
        if (rule.length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        const int length = rule.length;
        char32_t cp = b & (0x7F >> length); // the lead byte's payload bits
        size_t j = i + 1;
        bool ok = true;
        for (int k = 1; k < length; ++k, ++j) {
            const unsigned char lower = k == 1 ? rule.low : 0x80;
            const unsigned char upper = k == 1 ? rule.high : 0xBF;
            if (j >= n || s[j] < lower || s[j] > upper) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[j] & 0x3F);
        }
        if (!ok) {
            out += kReplacement;
            i = j; // resume at the byte that broke the sequence
            continue;
        }
        AppendUtf16(cp, out);
        i = j;
    }
}

// ---- iconv helpers ---------------------------------------------------------------------------

void AppendNativeUtf16(const char* bytes, size_t count, std::u16string& out) {
    const size_t units = count / sizeof(char16_t);
    const size_t old = out.size();
    out.resize(old + units);
    std::memcpy(out.data() + old, bytes, units * sizeof(char16_t));
}

void IconvToWide(Converter& converter, std::string_view in, std::u16string& out) {
    std::lock_guard guard(converter.lock);
    iconv_t cd = converter.toWide;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    alignas(char16_t) char buffer[8192];
    bool flushed = false;
    while (!flushed) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const bool flushing = srcLeft == 0;
        const size_t result = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                       : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        AppendNativeUtf16(buffer, sizeof buffer - dstLeft, out);
        if (result != static_cast<size_t>(-1)) {
            flushed = flushing;
            continue;
        }
        if (error == E2BIG) continue;
        if (flushing) break; // nothing left to replace
        out += kReplacement;
        if (error == EILSEQ && srcLeft > 0) {
            ++src;
            --srcLeft;
        } else {
            srcLeft = 0; // incomplete sequence at the end, or a converter failure
        }
    }
}

bool IconvFromWide(Converter& converter, std::u16string_view in, char defaultChar,
                   std::string& out) {
    std::lock_guard guard(converter.lock);
    iconv_t cd = converter.fromWide;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[8192];
    auto convert = [&](const char16_t* data, size_t count, bool& bad, size_t& consumed) {
        char* src = reinterpret_cast<char*>(const_cast<char16_t*>(data));
        size_t srcLeft = count * sizeof(char16_t);
        bad = false;
        while (true) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            const int error = errno;
            out.append(buffer, sizeof buffer - dstLeft);
            if (result != static_cast<size_t>(-1)) break;
            if (error == E2BIG) continue;
            bad = true;
            break;
        }
        consumed = count - srcLeft / sizeof(char16_t);
    };
    const char16_t substitute[1] = {static_cast<char16_t>(static_cast<unsigned char>(defaultChar))};
    size_t at = 0;
    while (at < in.size()) {
        bool bad = false;
        size_t consumed = 0;
        convert(in.data() + at, in.size() - at, bad, consumed);
        at += consumed;
        if (!bad) break;
        // The character at `at` has no form in this code page: put the default character in
        // its place, encoded through the converter so that shift states stay right.
        size_t skip = 1;
        if (IsSurrogatePairAt(in, at)) skip = 2;
        at += std::min(skip, in.size() - at);
        bool substituteBad = false;
        size_t substituteUsed = 0;
        convert(substitute, 1, substituteBad, substituteUsed);
        if (substituteBad) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out += defaultChar;
        }
    }
    // Return to the initial shift state at the end.
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, sizeof buffer - dstLeft);
    return true;
}

} // namespace

bool AppendWideAsCodePage(uint32_t codePage, std::u16string_view in, int8_t defaultChar,
                          std::string& out) {
    if (codePage == kUtf8CodePage) {
        AppendUtf16AsUtf8(in, out);
        return true;
    }
    Converter* converter = ConverterFor(codePage);
    if (!converter->known) return false;
    if (in.empty()) return true;
    const char substitute = defaultChar >= 1 ? static_cast<char>(defaultChar) : kSystemDefaultChar;
    if (converter->multiByte) return IconvFromWide(*converter, in, substitute, out);

    SingleByteTable& table = converter->table;
    std::call_once(table.reverseOnce, [&table] { BuildReverse(table); });
    const auto& blockOf = table.blockOf;
    const auto& blocks = table.blocks;
    const size_t n = in.size();
    const size_t old = out.size();
    out.resize(old + n);
    char* dst = out.data() + old;
    size_t written = 0;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        const uint8_t byte = blocks[blockOf[c >> 8]][c & 0xFF];
        if (byte != 0 || c == 0) {
            dst[written++] = static_cast<char>(byte);
            continue;
        }
        // One default character per code point: a surrogate pair stands for one character.
        if (IsSurrogatePairAt(in, i)) ++i;
        dst[written++] = substitute;
    }
    out.resize(old + written);
    return true;
}

bool AppendCodePageAsWide(uint32_t codePage, std::string_view in, std::u16string& out) {
    if (codePage == kUtf8CodePage) {
        Utf8ToWideAppend(in, out);
        return true;
    }
    Converter* converter = ConverterFor(codePage);
    if (!converter->known) return false;
    if (in.empty()) return true;
    if (converter->multiByte) {
        IconvToWide(*converter, in, out);
        return true;
    }
    const auto& toWide = converter->table.toWide;
    const size_t old = out.size();
    out.resize(old + in.size());
    char16_t* dst = out.data() + old;
    for (size_t i = 0; i < in.size(); ++i) dst[i] = toWide[static_cast<unsigned char>(in[i])];
    return true;
}

std::string WideToUtf8(std::u16string_view in) {
    std::string out;
    AppendUtf16AsUtf8(in, out);
    return out;
}

std::u16string Utf8ToWide(std::string_view in) {
    std::u16string out;
    Utf8ToWideAppend(in, out);
    return out;
}

bool IsLeadByte(uint32_t codePage, uint8_t byte) {
    switch (codePage) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
    case 54936:
        return byte >= 0x81 && byte <= 0xFE;
    case 1361:
        return (byte >= 0x84 && byte <= 0xD3) || (byte >= 0xD8 && byte <= 0xDE) ||
               (byte >= 0xE0 && byte <= 0xF9);
    case 20932:
    case 51932:
        return byte == 0x8E || (byte >= 0xA1 && byte <= 0xFE);
    case 20936:
    case 20949:
    case 51936:
    case 51949:
        return byte >= 0xA1 && byte <= 0xFE;
    default:
        return false;
    }
}

// ---- the system code pages --------------------------------------------------------------------

namespace {

struct LocaleCodePages {
    uint32_t ansi;
    uint32_t oem;
};

// The ANSI and OEM code pages Windows assigns to a language (and, where it matters, a territory).
LocaleCodePages CodePagesOfLocale(const std::string& locale) {
    constexpr LocaleCodePages kDefault{1252, 437};
    if (locale.empty() || locale == "C" || locale == "POSIX") return kDefault;
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    const size_t underscore = name.find('_');
    const std::string language = name.substr(0, underscore);
    const std::string territory =
        underscore == std::string::npos ? std::string() : name.substr(underscore + 1);
    if (language == "C" || language == "POSIX") return kDefault;

    struct Entry {
        const char* language;
        LocaleCodePages pages;
    };
    static constexpr Entry kLanguages[] = {
        {"en", {1252, 850}}, {"de", {1252, 850}}, {"fr", {1252, 850}},  {"es", {1252, 850}},
        {"it", {1252, 850}}, {"nl", {1252, 850}}, {"pt", {1252, 850}},  {"da", {1252, 850}},
        {"sv", {1252, 850}}, {"nb", {1252, 850}}, {"nn", {1252, 850}},  {"no", {1252, 850}},
        {"fi", {1252, 850}}, {"ca", {1252, 850}}, {"eu", {1252, 850}},  {"gl", {1252, 850}},
        {"af", {1252, 850}}, {"ga", {1252, 850}}, {"id", {1252, 850}},  {"ms", {1252, 850}},
        {"sw", {1252, 850}}, {"fo", {1252, 850}}, {"is", {1252, 861}},  {"ru", {1251, 866}},
        {"uk", {1251, 866}}, {"bg", {1251, 866}}, {"be", {1251, 866}},  {"mk", {1251, 866}},
        {"kk", {1251, 866}}, {"pl", {1250, 852}}, {"cs", {1250, 852}},  {"sk", {1250, 852}},
        {"hu", {1250, 852}}, {"sl", {1250, 852}}, {"hr", {1250, 852}},  {"ro", {1250, 852}},
        {"sq", {1250, 852}}, {"bs", {1250, 852}}, {"sr", {1250, 852}},  {"el", {1253, 737}},
        {"tr", {1254, 857}}, {"az", {1254, 857}}, {"he", {1255, 862}},  {"iw", {1255, 862}},
        {"ar", {1256, 720}}, {"fa", {1256, 720}}, {"ur", {1256, 720}},  {"lt", {1257, 775}},
        {"lv", {1257, 775}}, {"et", {1257, 775}}, {"vi", {1258, 1258}}, {"th", {874, 874}},
        {"ja", {932, 932}},  {"ko", {949, 949}},
    };
    if (language == "en" && (territory.empty() || territory == "US")) return kDefault;
    if (language == "fr" && territory == "CA") return {1252, 863};
    if (language == "zh") {
        if (territory == "TW" || territory == "HK" || territory == "MO") return {950, 950};
        return {936, 936};
    }
    for (const auto& entry : kLanguages) {
        if (language == entry.language) return entry.pages;
    }
    return kDefault;
}

std::string CurrentLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return std::string();
}

} // namespace

uint32_t SystemAnsiCodePage() {
    return CodePagesOfLocale(CurrentLocaleName()).ansi;
}

uint32_t SystemOemCodePage() {
    return CodePagesOfLocale(CurrentLocaleName()).oem;
}

} // namespace gleanery::platform
