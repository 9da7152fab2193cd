// The settings file "Gleanery.ini": reading it into the settings document, the preset store and
// the current settings, and writing all of it back.
//
// SimpleIni holds the document between a load and a save, so that sections, keys and comments
// this program does not know survive a save. The document is written by our own writer rather
// than by SimpleIni's: the file must look the same on every platform (CR LF line ends, one empty
// line between sections), and a few values that SimpleIni would write in a form it cannot read
// back (a value beginning with "<<<", a multi-line value holding a line "END_OF_TEXT") must still
// come back unchanged.

// ASCII case folding for section and key names, and no wide-character converter: the document is
// UTF-8 bytes throughout, and nothing here may pull in a system header of the Windows API.
#ifndef SI_NO_CONVERSION
#define SI_NO_CONVERSION
#endif
#include <SimpleIni.h>

#include "settings/settings_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utf8.h>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "settings/presets.h"
#include "settings/process_state.h"
#include "settings/sample_test_text.h"

namespace gleanery {

struct SettingsDocument {
    CSimpleIniA ini{/*isUtf8=*/true, /*multiKey=*/false, /*multiLine=*/true};
    // The comment block at the very top of the loaded file. SimpleIni keeps it privately; our
    // writer needs it to put it back.
    std::string fileComment;
    // The settings file exists but could not be read in this load-save cycle. A save would
    // replace it with a document that holds only this cycle's changes, so it is refused.
    bool loadFailed = false;
};

void SettingsDocumentDeleter::operator()(SettingsDocument* doc) const {
    delete doc;
}

SettingsDocumentPtr NewSettingsDocument() {
    return SettingsDocumentPtr(new SettingsDocument());
}

void ResetSettingsDocument(SettingsDocument& doc) {
    doc.ini.Reset();
    doc.fileComment.clear();
    doc.loadFailed = false;
}

bool SettingsDocumentIsEmpty(const SettingsDocument& doc) {
    return doc.ini.IsEmpty() && doc.fileComment.empty();
}

namespace {

constexpr int64_t kMaxSettingsFileSize = 5242880; // 5 MiB
constexpr size_t kMaxNumberLength = 63;
constexpr char kLastSection[] = "gleanery_last";
constexpr char kFontSection[] = "gleanery";
constexpr char16_t kLastEntryName[] = u"___last___option___";
constexpr char kNewLine[] = "\r\n";
constexpr char kDefaultBlockTag[] = "END_OF_TEXT";

// ---- text forms --------------------------------------------------------------------------------

// UTF-16 with CR LF line breaks to UTF-8 with LF line breaks. A lone CR is a line break too (the
// load reads it as one) and becomes an LF as well: left as it was, a lone CR before a CR LF
// ("\r\r\n") would be written as one line break instead of two. An unpaired surrogate becomes
// U+FFFD, as the system converter does.
std::string WideToFileText(std::u16string_view text, bool lineBreaks = true) {
    std::string out;
    out.reserve(text.size());
    auto sink = std::back_inserter(out);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (lineBreaks && c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
            c = u'\n';
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        sink = utf8::append(c, sink);
    }
    return out;
}

// UTF-8 with LF line breaks to UTF-16 with CR LF line breaks. Invalid sequences become U+FFFD.
std::u16string FileTextToWide(std::string_view text, bool lineBreaks = true) {
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

// The bytes of a settings file that an editor saved as UTF-16 after its byte-order mark (FF FE
// little-endian, FE FF big-endian), as the UTF-8 text the document reads. False for bytes that
// are no UTF-16 text (an odd count, an unpaired surrogate): there is nothing a save could write
// back in their place.
bool Utf16FileText(std::string_view bytes, bool bigEndian, std::string& text) {
    if (bytes.size() % 2 != 0) return false;
    text.clear();
    text.reserve(bytes.size());
    auto sink = std::back_inserter(text);
    auto unit = [&](size_t i) -> uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 2 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
        sink = utf8::append(c, sink);
    }
    return true;
}

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

bool IsUsableCodePage(int64_t codePage) {
    if (codePage == 0 || codePage == 1) return true;
    const auto& usable = State().System.UsableCodePages;
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

Settings ReadSettings(const CSimpleIniA& ini, const char* section) {
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
    if (number("CodePage", n) && IsUsableCodePage(n)) s.CodePage = static_cast<int32_t>(n);
    if (number("DefaultCharacter", n) && (n == -1 || (n >= 32 && n <= 126)))
        s.DefaultCharacter = static_cast<int8_t>(n);
    s.OutfileExtension =
        (number("OutfileExtension", n) && n >= 0 && n <= 2) ? static_cast<int8_t>(n) : int8_t{0};
    return s;
}

void WriteSettings(CSimpleIniA& ini, const char* section, const Settings& s,
                   const std::u16string* name) {
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
}

// ---- font --------------------------------------------------------------------------------------

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
        if (face[cut - 1] >= 0xD800 && face[cut - 1] <= 0xDBFF) --cut;
        face.resize(cut);
    }
    std::copy(face.begin(), face.end(), parsed.FaceName.begin());
    font = parsed;
    return true;
}

// ---- writer ------------------------------------------------------------------------------------

bool IsIniSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits at LF, CR LF or a lone CR (SimpleIni reads all three as a line break).
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

void AppendLines(std::string& out, std::string_view text) {
    for (std::string_view line : SplitLines(text)) {
        out += line;
        out += kNewLine;
    }
}

// A value that SimpleIni would trim or cut at a line break goes into a block; so does a value
// beginning with "<<<", which would otherwise be read back as the opening of a block.
bool NeedsBlock(std::string_view value) {
    if (value.empty()) return false;
    if (IsIniSpace(value.front()) || IsIniSpace(value.back())) return true;
    if (value.find_first_of("\r\n") != std::string_view::npos) return true;
    return value.substr(0, 3) == "<<<";
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// The block ends at the first line equal to its tag (case and trailing white space ignored), so
// a value holding such a line gets another tag.
std::string BlockTag(std::string_view value) {
    std::vector<std::string_view> lines = SplitLines(value);
    for (int attempt = 0;; ++attempt) {
        std::string tag = kDefaultBlockTag;
        if (attempt > 0) tag += "_" + std::to_string(attempt);
        bool clash = std::any_of(lines.begin(), lines.end(), [&](std::string_view line) {
            while (!line.empty() && IsIniSpace(line.back())) line.remove_suffix(1);
            return SameIgnoringAsciiCase(line, tag);
        });
        if (!clash) return tag;
    }
}

void AppendValue(std::string& out, std::string_view value) {
    if (!NeedsBlock(value)) {
        out += value;
        out += kNewLine;
        return;
    }
    std::string tag = BlockTag(value);
    out += "<<<";
    out += tag;
    out += kNewLine;
    AppendLines(out, value);
    out += tag;
    out += kNewLine;
}

// UTF-8 signature, CR LF line ends, "key=value" without spaces, one empty line between
// sections, sections and keys in the order the document first received them.
std::string SerializeDocument(const SettingsDocument& doc) {
    std::string out = "\xEF\xBB\xBF";
    bool needBlankLine = false;
    if (!doc.fileComment.empty()) {
        AppendLines(out, doc.fileComment);
        needBlankLine = true;
    }

    // A comment on the very first line would come back as the file's own comment, away from
    // the section or key it belongs to; a blank line in front keeps it in place.
    auto comment = [&out](const char* text) {
        if (out.size() == 3) out += kNewLine;
        AppendLines(out, text);
    };

    CSimpleIniA::TNamesDepend sections;
    doc.ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    // Keys outside any section can only be read back before the first section header.
    auto unnamed = std::find_if(sections.begin(), sections.end(),
                                [](const CSimpleIniA::Entry& e) { return *e.pItem == '\0'; });
    if (unnamed != sections.end()) sections.splice(sections.begin(), sections, unnamed);

    for (const CSimpleIniA::Entry& section : sections) {
        // A header line without its "]" leaves SimpleIni holding the text from that line up to
        // the next key as a section name, line breaks included. Such a name cannot be written as
        // one header line; written as it is, its lines would come back as other sections and
        // keys. The keys under it came from malformed lines that no setting is read from.
        if (std::strpbrk(section.pItem, "\r\n")) continue;
        const CSimpleIniA::TKeyVal* keys = doc.ini.GetSection(section.pItem);
        std::vector<std::pair<CSimpleIniA::Entry, const char*>> entries;
        if (keys) entries.assign(keys->begin(), keys->end());
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.first.nOrder < b.first.nOrder;
        });
        if (!*section.pItem && entries.empty()) {
            // A "[ ]" header with nothing under it is not read back as a section. Its comment
            // is kept, directly above the section that follows, where a load puts it.
            if (section.pComment) {
                if (needBlankLine) out += kNewLine;
                comment(section.pComment);
                needBlankLine = false;
            }
            continue;
        }
        if (needBlankLine) out += kNewLine;
        if (section.pComment) comment(section.pComment);
        if (*section.pItem) {
            out += '[';
            out += section.pItem;
            out += ']';
            out += kNewLine;
        }
        for (const auto& [key, value] : entries) {
            if (key.pComment) comment(key.pComment);
            out += key.pItem;
            out += '=';
            AppendValue(out, value ? value : "");
        }
        needBlankLine = true;
    }
    return out;
}

// The comment block SimpleIni takes as the file's own comment: the comment lines at the very
// start of the text, up to the first line that is not a comment.
std::string LeadingComment(std::string_view data) {
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    data = data.substr(0, data.find('\0'));
    std::string comment;
    size_t pos = 0;
    while (pos < data.size() && (data[pos] == ';' || data[pos] == '#')) {
        size_t end = data.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = data.size();
        if (!comment.empty()) comment += '\n';
        comment.append(data.substr(pos, end - pos));
        pos = end;
        if (pos < data.size())
            pos += (data[pos] == '\r' && pos + 1 < data.size() && data[pos + 1] == '\n') ? 2 : 1;
    }
    return comment;
}

// ---- files -------------------------------------------------------------------------------------

std::u16string SettingsFilePath() {
    const ProcessState& st = State();
    return (st.IniDirectory.empty() ? st.PluginDirectory : st.IniDirectory) + u"Gleanery.ini";
}

std::u16string SampleFilePath() {
    return State().PluginDirectory + u"Gleanery.Sample.ini";
}

// Reads the open file to its end rather than to the size its name reports: a save in another
// process may put a new file under that name between the open and the question, and the bytes
// read must all come from the one file that was opened.
bool ReadWholeFile(const std::u16string& path, std::string& data) {
    platform::File file = platform::OpenForReading(path);
    if (!file.IsOpen()) return false;
    const int64_t size = platform::SizeOf(path);
    if (size > kMaxSettingsFileSize) return false;
    data.clear();
    data.resize(static_cast<size_t>(std::clamp<int64_t>(size, 0, kMaxSettingsFileSize)) + 1);
    size_t total = 0;
    for (;;) {
        if (total == data.size()) {
            if (total > static_cast<size_t>(kMaxSettingsFileSize)) return false;
            data.resize(std::min<size_t>(total * 2, kMaxSettingsFileSize + 1));
        }
        size_t got = 0;
        if (!platform::Read(file, data.data() + total, data.size() - total, got)) return false;
        if (got == 0) break;
        total += got;
    }
    data.resize(total);
    return true;
}

// A name beside `path` for one save's temporary file, so that saves running at the same moment
// (two processes, or the dialog and a job) each take their own: different for every save of this
// process (the counter) and, in all likelihood, from every other process's (the clock and where
// this process has its data). A clash costs only another try, the file is created exclusively.
std::u16string TemporaryNameFor(const std::u16string& path) {
    static std::atomic<uint32_t> counter{0};
    uint64_t bits =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&counter) ^
        (uint64_t{counter.fetch_add(1)} * 0x9E3779B97F4A7C15ULL);
    // Mixed so that close inputs give names that differ in every digit.
    bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ULL;
    bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBULL;
    bits ^= bits >> 31;
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string name = path + u'.';
    for (int i = 0; i < 12; ++i, bits >>= 4) name += kDigits[bits & 15];
    return name + u".tmp";
}

// Creates this save's own temporary file beside `path`. It is created exclusively, so it can be
// no other save's file, nor a file or directory that merely has a name like it; another name is
// tried when one is taken.
platform::File CreateTemporaryFile(const std::u16string& path, std::u16string& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = TemporaryNameFor(path);
        uint32_t lastError = 0;
        platform::File file = platform::CreateNewForWriting(temporary, lastError);
        if (file.IsOpen()) return file;
        if (lastError != platform::kErrorFileExists && lastError != platform::kErrorAlreadyExists)
            break;
    }
    return platform::File();
}

// Writes the whole content into a new file beside the settings file and puts that file in its
// place in one step, so that a failed write (disk full, no permission) leaves the old settings
// file as it was, and a reader sees either the old file or the new one, never a part.
//
// The file replaced is the one the user has: a symbolic link is followed and its target
// replaced (the link stays a link), and the new file gets the old one's permissions. Other hard
// links to the old file keep the old content: a file that all of its names share can only be
// changed by writing into it, and a write in place can fail halfway or be read half-done.
bool ReplaceFileContent(const std::u16string& path, const std::string& data) {
    std::u16string target;
    if (!platform::LinkTargetOf(path, target)) return false;
    std::u16string temporary;
    platform::File file = CreateTemporaryFile(target, temporary);
    if (!file.IsOpen()) return false;
    bool ok = platform::TakeOverPermissions(target, file) &&
              platform::Write(file, data.data(), data.size()) && platform::FlushToDisk(file);
    platform::Close(file);
    ok = ok && platform::ReplaceFileWith(temporary, target);
    if (!ok) platform::DeleteFileAt(temporary);
    return ok;
}

std::string PresetSection(int32_t number) {
    return "gleanery" + std::to_string(number);
}

// The numbers 1 to 2048 whose preset section the document holds, in ascending order. Section
// names compare without regard to case, as the document looks them up; one pass over the
// document's sections instead of 2048 look-ups.
std::set<int32_t> PresetSectionNumbers(const SettingsDocument& doc) {
    std::set<int32_t> numbers;
    CSimpleIniA::TNamesDepend sections;
    doc.ini.GetAllSections(sections);
    constexpr std::string_view kPrefix = "gleanery";
    for (const CSimpleIniA::Entry& entry : sections) {
        const std::string_view name(entry.pItem);
        if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 4) continue;
        bool prefix = true;
        for (size_t i = 0; i < kPrefix.size(); ++i)
            prefix = prefix && (name[i] | 0x20) == kPrefix[i];
        const std::string_view digits = name.substr(kPrefix.size());
        if (!prefix || digits[0] == '0') continue;
        int32_t n = 0;
        for (char c : digits) n = (c >= '0' && c <= '9' && n >= 0) ? n * 10 + (c - '0') : -1;
        if (n >= 1 && n <= kMaxPresetSection) numbers.insert(n);
    }
    return numbers;
}

SettingsDocument& Document() {
    ProcessState& st = State();
    if (!st.Document) st.Document = NewSettingsDocument();
    return *st.Document;
}

// Section numbers that hold a preset now or will after the next save: those of the document
// (presets that lost their name to another one included, so they are never overwritten) and
// those of changed and unchanged presets, without the sections of deleted presets.
std::set<int32_t> SectionsInUse(const SettingsDocument& doc, const PresetStore& presets,
                                const ChangeRecords& changes) {
    std::set<int32_t> used = PresetSectionNumbers(doc);
    for (const auto& [name, record] : changes)
        if (record > kDeletedMark) used.erase(record - kDeletedMark);
    for (const auto& [name, settings] : presets) {
        auto it = changes.find(name);
        if (it == changes.end() || it->second <= 0 || it->second >= kDeletedMark) continue;
        int32_t n = it->second > kChangedMark ? it->second - kChangedMark : it->second;
        if (n >= 1 && n <= kMaxPresetSection) used.insert(n);
    }
    return used;
}

} // namespace

int32_t PresetCapacityLeft() {
    const ProcessState& st = State();
    const SettingsDocument& doc = Document();
    std::set<int32_t> used = SectionsInUse(doc, st.Presets, st.Changes);
    int32_t waiting = 0; // new presets that take a number at the next save
    for (const auto& [name, settings] : st.Presets) {
        auto it = st.Changes.find(name);
        if (it == st.Changes.end() || it->second == 0) ++waiting;
    }
    int32_t left = kMaxPresetSection - static_cast<int32_t>(used.size()) - waiting;
    return left > 0 ? left : 0;
}

bool LoadSettingsAndPresets(bool* lastAvailable, TextBoxFont* font) {
    SettingsDocument& doc = Document();
    // A cycle starts empty; a second load must not merge into the first.
    DiscardSettingsAndPresets();

    const std::u16string settingsPath = SettingsFilePath();
    std::u16string path = settingsPath;
    bool sampleInUse = false;
    if (platform::KindOf(path) != platform::PathKind::File) {
        path = SampleFilePath();
        sampleInUse = true;
        if (platform::KindOf(path) != platform::PathKind::File) {
            if (lastAvailable) *lastAvailable = false;
            return true;
        }
    }

    std::string data;
    if (!ReadWholeFile(path, data)) {
        doc.loadFailed = !sampleInUse;
        if (lastAvailable) *lastAvailable = false;
        return false;
    }
    if (!detail::LoadSettingsData(data, lastAvailable, font)) {
        doc.loadFailed = !sampleInUse;
        return false;
    }

    // First run: the sample becomes the user's own settings file. A failed copy only means the
    // sample is read again next time.
    if (sampleInUse) ReplaceFileContent(settingsPath, data);
    return true;
}

namespace detail {

bool LoadSettingsData(std::string_view data, bool* lastAvailable, TextBoxFont* font) {
    ProcessState& st = State();
    SettingsDocument& doc = Document();
    DiscardSettingsAndPresets();
    auto refuse = [&] {
        ResetSettingsDocument(doc);
        if (lastAvailable) *lastAvailable = false;
        return false;
    };
    std::string decoded;
    if (data.size() >= 2 && (data.substr(0, 2) == "\xFF\xFE" || data.substr(0, 2) == "\xFE\xFF")) {
        if (!Utf16FileText(data.substr(2), data[0] == '\xFE', decoded)) return refuse();
        data = decoded;
    }
    // The document ends its text at a zero byte: what follows would be lost at the next save.
    if (data.find('\0') != std::string_view::npos) return refuse();
    if (doc.ini.LoadData(data.data(), data.size()) < 0) return refuse();
    doc.fileComment = LeadingComment(data);

    for (int32_t n : PresetSectionNumbers(doc)) {
        const std::string section = PresetSection(n);
        Settings settings = ReadSettings(doc.ini, section.c_str());
        const char* stored = doc.ini.GetValue(section.c_str(), "name", nullptr);
        const std::u16string sectionName = FileTextToWide(section);
        std::u16string name = stored && *stored ? FileTextToWide(stored) : sectionName;
        if (st.Presets.count(name)) name = sectionName;
        st.Presets[name] = std::move(settings);
        st.Changes[name] = n;
    }

    if (doc.ini.GetSectionSize(kLastSection) > 0) {
        st.CurrentSettings = ReadSettings(doc.ini, kLastSection);
    } else if (lastAvailable) {
        *lastAvailable = false;
    }

    if (font && doc.ini.GetSectionSize(kFontSection) > 0) {
        if (const char* stored = doc.ini.GetValue(kFontSection, "font", nullptr))
            ParseFont(stored, *font);
    }
    return true;
}

std::optional<std::string> SaveSettingsData(const TextBoxFont* font, bool& allPresetsWritten) {
    ProcessState& st = State();
    SettingsDocument& doc = Document();
    allPresetsWritten = true;
    if (doc.loadFailed) {
        // The file on disk could not be read; writing this cycle's document over it would lose
        // every preset it holds.
        ResetSettingsDocument(doc);
        return std::nullopt;
    }
    doc.ini.SetSpaces(false);

    for (const auto& [name, record] : st.Changes)
        if (record > kDeletedMark)
            doc.ini.Delete(PresetSection(record - kDeletedMark).c_str(), nullptr);

    std::u16string lastName = kLastEntryName;
    for (int i = 0; st.Presets.count(lastName); ++i)
        lastName = std::u16string(kLastEntryName) + FileTextToWide(std::to_string(i));
    st.Presets[lastName] = st.CurrentSettings;
    st.Changes[lastName] = 0;

    std::set<int32_t> used = SectionsInUse(doc, st.Presets, st.Changes);
    int32_t nextFree = 1;
    for (const auto& [name, settings] : st.Presets) {
        auto it = st.Changes.find(name);
        // A preset without a record has never been written: treat it as new.
        int32_t record = it == st.Changes.end() ? 0 : it->second;
        if (name == lastName) {
            WriteSettings(doc.ini, kLastSection, settings, nullptr);
            continue;
        }
        int32_t number = 0;
        if (record == 0) {
            while (used.count(nextFree)) ++nextFree;
            if (nextFree > kMaxPresetSection) {
                // A section above the last one read back would be lost at the next load.
                allPresetsWritten = false;
                continue;
            }
            number = nextFree;
            used.insert(number);
        } else if (record > kChangedMark && record < kDeletedMark) {
            number = record - kChangedMark;
        } else {
            continue; // unchanged: its section already holds it
        }
        WriteSettings(doc.ini, PresetSection(number).c_str(), settings, &name);
    }

    if (font && font->FaceName[0] != 0) {
        doc.ini.SetValue(kFontSection, "font", FormatFont(*font).c_str());
    } else {
        doc.ini.Delete(kFontSection, "font", /*removeEmpty=*/false);
    }

    std::string data = SerializeDocument(doc);
    ResetSettingsDocument(doc);
    return data;
}

} // namespace detail

bool SaveSettingsAndPresets(const TextBoxFont* font) {
    bool allPresetsWritten = true;
    const std::optional<std::string> data = detail::SaveSettingsData(font, allPresetsWritten);
    return data && ReplaceFileContent(SettingsFilePath(), *data) && allPresetsWritten;
}

void DiscardSettingsAndPresets() {
    ProcessState& st = State();
    st.Presets.clear();
    st.Changes.clear();
    if (st.Document) ResetSettingsDocument(*st.Document);
}

} // namespace gleanery
