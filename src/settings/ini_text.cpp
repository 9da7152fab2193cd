// The settings file's text form. SimpleIni reads the file into the document, but the document is
// written by our own writer rather than by SimpleIni's: the file must look the same on every
// platform (CR LF line ends, one empty line between sections), and a few values that SimpleIni
// would write in a form it cannot read back (a value beginning with "<<<", a multi-line value
// holding a line "END_OF_TEXT") must still come back unchanged. The reading side adds what
// SimpleIni does not give back: the file's leading comment, and the text of a UTF-16 file.
#include "settings/ini_text.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/unicode.h"
#include "settings/settings_document_ini.h"

namespace gleanery {

namespace {

constexpr char kNewLine[] = "\r\n";
constexpr char kDefaultBlockTag[] = "END_OF_TEXT";

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

} // namespace

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

bool Utf16FileText(std::string_view bytes, bool bigEndian, std::string& text) {
    if (bytes.size() % 2 != 0) return false;
    text.clear();
    text.reserve(bytes.size());
    auto unit = [&](size_t i) -> uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (platform::IsHighSurrogate(c) && i + 2 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (!platform::IsLowSurrogate(low)) return false;
            c = platform::CodePointFromSurrogates(c, low);
            i += 2;
        } else if (platform::IsSurrogate(c)) {
            return false;
        }
        platform::AppendUtf8(c, text);
    }
    return true;
}

} // namespace gleanery
