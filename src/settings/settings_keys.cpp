// The mapping between the settings file and the Settings record: which key holds which field,
// in which text form, and which stored values are taken (a value out of range leaves the field at
// its default).
#include "settings/settings_keys.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utf8.h>
#include <utility>

#include "platform/unicode.h"
#include "settings/code_pages.h"
#include "settings/sample_test_text.h"
#include "settings/settings_document_ini.h"

namespace gleanery {

namespace {

constexpr size_t kMaxNumberLength = 63;
constexpr char kFontSection[] = "gleanery";

// Decimal, or hexadecimal after "0x"/"0X"; the whole value must be the number.
bool ParseNumber(const char* value, int64_t& number) {
    if (!value) return false;
    size_t length = std::strlen(value);
    if (length == 0 || length > kMaxNumberLength) return false;
    const char* digits = value;
    int base = 10;
    if (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        digits = value + 2;
        base = 16;
    }
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(digits, &end, base);
    if (end == digits || *end != '\0' || errno == ERANGE) return false;
    number = parsed;
    return true;
}

bool ParseBool(const char* value, bool fallback) {
    if (!value) return fallback;
    switch (value[0]) {
    case '1':
    case 't':
    case 'T':
    case 'y':
    case 'Y':
        return true;
    case '0':
    case 'f':
    case 'F':
    case 'n':
    case 'N':
        return false;
    case 'o':
    case 'O':
        if (value[1] == 'n' || value[1] == 'N') return true;
        if (value[1] == 'f' || value[1] == 'F') return false;
        break;
    default:
        break;
    }
    return fallback;
}

// An empty list has not been probed yet (a pack probes only what its settings name).
bool IsUsableCodePage(int64_t codePage, const std::vector<uint32_t>& usable) {
    if (codePage == 0 || codePage == 1) return true;
    if (usable.empty())
        return codePage > 0 && codePage <= UINT32_MAX &&
               ProbeCodePage(static_cast<uint32_t>(codePage));
    return std::find(usable.begin(), usable.end(), codePage) != usable.end();
}

// 131072 is level 1, each doubling one level more.
int32_t EncodingCheckLevel(int32_t bytes) {
    int32_t level = 1;
    int64_t size = bytes;
    while (size > kMinEncodingCheck) {
        size /= 2;
        ++level;
    }
    return level;
}

// The switches of a settings section, in the order a save writes them.
constexpr std::pair<const char*, bool Settings::*> kSwitches[] = {
    {"BinaryMode", &Settings::BinaryMode},
    {"SearchAndReplace", &Settings::SearchAndReplace},
    {"LineMode", &Settings::LineMode},
    {"NoDuplicates", &Settings::NoDuplicates},
    {"WriteBom", &Settings::WriteBom},
    {"WriteStats", &Settings::WriteStats},
    {"CaseSensitive", &Settings::CaseSensitive},
    {"Dotall", &Settings::Dotall},
    {"Multiline", &Settings::Multiline},
    {"UnicodeProperties", &Settings::UnicodeProperties},
    {"EmptyValid", &Settings::EmptyValid},
};

// The JIT switch is written where it is off, or where the section has it already, so that files
// of users who never turned it off keep their form.
constexpr char kJitKey[] = "Jit";
// The same for the worker count, written where it is not the default (one per core).
constexpr char kThreadsKey[] = "Threads";
constexpr int64_t kMaxThreads = 64;

std::string FormatFont(const TextBoxFont& font) {
    const int64_t numbers[] = {
        font.Height,        font.Width,     font.Escapement,    font.Orientation, font.Weight,
        font.Italic,        font.Underline, font.StrikeOut,     font.CharSet,     font.OutPrecision,
        font.ClipPrecision, font.Quality,   font.PitchAndFamily};
    std::string out;
    for (int64_t n : numbers) {
        out += std::to_string(n);
        out += ',';
    }
    size_t length = 0;
    while (length + 1 < font.FaceName.size() && font.FaceName[length] != 0) ++length;
    out += WideToFileText(std::u16string_view(font.FaceName.data(), length), false);
    return out;
}

// atoi-like: leading white space, trailing characters ignored, no digits gives 0.
int64_t LeadingNumber(std::string_view field) {
    std::string copy(field);
    return std::strtoll(copy.c_str(), nullptr, 10);
}

bool ParseFont(std::string_view value, TextBoxFont& font) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = value.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(value.substr(start));
            break;
        }
        fields.push_back(value.substr(start, comma - start));
        start = comma + 1;
    }
    if (fields.size() != 14) return false;

    TextBoxFont parsed;
    int32_t* wide[] = {&parsed.Height, &parsed.Width, &parsed.Escapement, &parsed.Orientation,
                       &parsed.Weight};
    uint8_t* narrow[] = {&parsed.Italic,  &parsed.Underline,     &parsed.StrikeOut,
                         &parsed.CharSet, &parsed.OutPrecision,  &parsed.ClipPrecision,
                         &parsed.Quality, &parsed.PitchAndFamily};
    for (size_t i = 0; i < 5; ++i)
        *wide[i] = static_cast<int32_t>(static_cast<uint32_t>(LeadingNumber(fields[i])));
    for (size_t i = 0; i < 8; ++i) *narrow[i] = static_cast<uint8_t>(LeadingNumber(fields[5 + i]));

    // The record holds 31 characters and a terminating zero; a longer stored name is cut, never
    // in the middle of a surrogate pair.
    std::u16string face = FileTextToWide(fields[13], false);
    constexpr size_t kMaxFace = 31;
    if (face.size() > kMaxFace) {
        size_t cut = kMaxFace;
        if (platform::IsHighSurrogate(face[cut - 1])) --cut;
        face.resize(cut);
    }
    std::copy(face.begin(), face.end(), parsed.FaceName.begin());
    font = parsed;
    return true;
}

} // namespace

Settings ReadSettings(const SettingsDocument& doc, const char* section,
                      const std::vector<uint32_t>& usableCodePages) {
    const CSimpleIniA& ini = doc.ini;
    Settings s;
    auto value = [&](const char* key) { return ini.GetValue(section, key, nullptr); };
    auto flag = [&](const char* key, bool& field) { field = ParseBool(value(key), field); };
    auto number = [&](const char* key, int64_t& out) { return ParseNumber(value(key), out); };

    if (const char* v = value("regex"); v && *v) s.regex = FileTextToWide(v);
    const char* replace = value("replace");
    s.replace = replace ? FileTextToWide(replace) : std::u16string();
    const char* test = value("teststring");
    s.teststring = test ? FileTextToWide(test) : std::u16string();

    for (const auto& [key, field] : kSwitches) flag(key, s.*field);
    flag(kJitKey, s.Jit);

    int64_t n = 0;
    if (number("CopyClip", n) && n >= 0 && n <= 2) s.CopyClip = static_cast<int8_t>(n);
    if (number("Memory", n) && n >= 5 && n <= 500) s.Memory = static_cast<int32_t>(n);
    if (number("EncodingCheck", n) && n >= 1 && n <= 8)
        s.EncodingCheck = kMinEncodingCheck << (n - 1);
    if (number("CodePage", n) && IsUsableCodePage(n, usableCodePages))
        s.CodePage = static_cast<int32_t>(n);
    if (number("DefaultCharacter", n) && (n == -1 || (n >= 32 && n <= 126)))
        s.DefaultCharacter = static_cast<int8_t>(n);
    s.OutfileExtension =
        (number("OutfileExtension", n) && n >= 0 && n <= 2) ? static_cast<int8_t>(n) : int8_t{0};
    if (number(kThreadsKey, n) && n >= 0 && n <= kMaxThreads) s.Threads = static_cast<int32_t>(n);
    return s;
}

void WriteSettings(SettingsDocument& doc, const char* section, const Settings& s,
                   const std::u16string* name) {
    CSimpleIniA& ini = doc.ini;
    auto text = [&](const char* key, const std::string& value) {
        ini.SetValue(section, key, value.c_str());
    };
    auto flag = [&](const char* key, bool value) { text(key, value ? "true" : "false"); };
    auto number = [&](const char* key, int64_t value) { text(key, std::to_string(value)); };

    if (name) text("name", WideToFileText(*name));
    text("regex", WideToFileText(s.regex));
    text("replace", WideToFileText(s.replace));
    // The sample text is what the test panel shows for an empty test string; storing it would
    // only make it look like the user's own text.
    text("teststring",
         s.teststring == kSampleTestText ? std::string() : WideToFileText(s.teststring));
    for (const auto& [key, field] : kSwitches) flag(key, s.*field);
    if (!s.Jit || ini.GetValue(section, kJitKey, nullptr) != nullptr) flag(kJitKey, s.Jit);
    number("CopyClip", s.CopyClip);
    number("Memory", s.Memory);
    number("EncodingCheck", EncodingCheckLevel(s.EncodingCheck));
    number("CodePage", s.CodePage);
    number("DefaultCharacter", s.DefaultCharacter);
    number("OutfileExtension", s.OutfileExtension);
    if (s.Threads != 0 || ini.GetValue(section, kThreadsKey, nullptr) != nullptr)
        number(kThreadsKey, s.Threads);
}

void ReadFont(const SettingsDocument& doc, TextBoxFont& font) {
    if (doc.ini.GetSectionSize(kFontSection) <= 0) return;
    if (const char* stored = doc.ini.GetValue(kFontSection, "font", nullptr))
        ParseFont(stored, font);
}

void WriteFont(SettingsDocument& doc, const TextBoxFont* font) {
    if (font && font->FaceName[0] != 0) {
        doc.ini.SetValue(kFontSection, "font", FormatFont(*font).c_str());
    } else {
        doc.ini.Delete(kFontSection, "font", /*removeEmpty=*/false);
    }
}

std::u16string PresetName(const SettingsDocument& doc, const char* section) {
    const char* stored = doc.ini.GetValue(section, "name", nullptr);
    return stored && *stored ? FileTextToWide(stored) : std::u16string();
}

std::string WideToFileText(std::u16string_view text, bool lineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (lineBreaks && c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
            c = u'\n';
        }
        if (platform::IsSurrogatePairAt(text, i)) {
            c = platform::CodePointFromSurrogates(c, text[i + 1]);
            ++i;
        } else if (platform::IsSurrogate(c)) {
            c = platform::kReplacementCharacter;
        }
        platform::AppendUtf8(c, out);
    }
    return out;
}

std::u16string FileTextToWide(std::string_view text, bool lineBreaks) {
    std::u16string wide;
    try {
        std::string valid;
        utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), 0xFFFD);
        utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(wide));
    } catch (const utf8::exception&) {
        // replace_invalid leaves nothing to throw on; keep what was converted.
    }
    if (!lineBreaks) return wide;
    std::u16string out;
    out.reserve(wide.size() + wide.size() / 16);
    // Every line break becomes CR LF, a lone CR too: SimpleIni can leave one inside a value, and
    // a save writes it as a line break, so the value would change from one load to the next.
    for (size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if (c == u'\n' && (out.empty() || out.back() != u'\r')) out.push_back(u'\r');
        out.push_back(c);
        if (c == u'\r' && (i + 1 == wide.size() || wide[i + 1] != u'\n')) out.push_back(u'\n');
    }
    return out;
}

} // namespace gleanery
