// Private profile (ini) files read and written the way GetPrivateProfileIntA and
// WritePrivateProfileStringA treat them: sections and keys match without regard to case, the
// first matching section and key win, and a write changes only the one line it concerns (or
// adds the key or section), leaving every other byte of the file as it was.
#include "platform/system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace gleanery::platform {

namespace {

struct Line {
    std::string_view text; // without its line end
    std::string_view end;  // "\r\n", "\n" or "" for an unterminated last line
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    size_t at = 0;
    while (at < content.size()) {
        const size_t newline = content.find('\n', at);
        if (newline == std::string_view::npos) {
            lines.push_back({content.substr(at), std::string_view()});
            break;
        }
        size_t textEnd = newline;
        if (textEnd > at && content[textEnd - 1] == '\r') --textEnd;
        lines.push_back(
            {content.substr(at, textEnd - at), content.substr(textEnd, newline + 1 - textEnd)});
        at = newline + 1;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const auto lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
        const auto ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
        if (lx != ly) return false;
    }
    return true;
}

// The section name of a "[name]" line, or false when the line is no section header.
bool SectionOf(std::string_view text, std::string_view& name) {
    text = Trim(text);
    if (text.empty() || text.front() != '[') return false;
    const size_t close = text.find(']');
    name = Trim(close == std::string_view::npos ? text.substr(1) : text.substr(1, close - 1));
    return true;
}

// The key and value of a "key=value" line; false for comments and lines without "=".
bool KeyOf(std::string_view text, std::string_view& key, std::string_view& value) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == ';') return false;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return false;
    key = Trim(trimmed.substr(0, equals));
    value = Trim(trimmed.substr(equals + 1));
    return true;
}

struct Found {
    bool section = false;
    size_t sectionLine = 0; // index of the section header
    size_t lastContent = 0; // last non-blank line of the section (the header if none)
    bool key = false;
    size_t keyLine = 0;
    std::string_view value;
};

Found Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Found found;
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = lines[i].text;
        if (i == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        std::string_view name;
        if (SectionOf(text, name)) {
            if (found.section) break; // only the first section of that name counts
            inside = EqualNoCase(name, section);
            if (inside) {
                found.section = true;
                found.sectionLine = i;
                found.lastContent = i;
            }
            continue;
        }
        if (!inside) continue;
        if (!Trim(text).empty()) found.lastContent = i;
        std::string_view lineKey, lineValue;
        if (!found.key && KeyOf(text, lineKey, lineValue) && EqualNoCase(lineKey, key)) {
            found.key = true;
            found.keyLine = i;
            found.value = lineValue;
        }
    }
    return found;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& file, std::string& content) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

bool WriteWholeFile(const std::string& file, const std::string& content) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0;
}

// Leading whitespace, an optional sign and decimal digits; anything after them is ignored.
int ParseLeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > (int64_t(1) << 32)) value = int64_t(1) << 32; // saturate, then wrap below
    }
    if (negative) value = -value;
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

} // namespace

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int fallback) {
    std::string content;
    if (ReadWholeFile(file, content) != ReadResult::Ok) return fallback;
    const std::vector<Line> lines = SplitLines(content);
    const Found found = Find(lines, section, key);
    if (!found.key) return fallback;
    std::string_view value = found.value;
    // A value in matching quotation marks is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.empty()) return fallback;
    return ParseLeadingInt(value);
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
    if (file.empty() || section.empty() || key.empty()) return false;
    std::string content;
    const ReadResult read = ReadWholeFile(file, content);
    if (read == ReadResult::Failed) return false;
    if (read == ReadResult::Missing) {
        return WriteWholeFile(file, "[" + section + "]\r\n" + key + "=" + value + "\r\n");
    }

    const std::vector<Line> lines = SplitLines(content);
    // New lines follow the file's own line ends; CR LF when it has none yet.
    std::string newline = "\r\n";
    if (!lines.empty() && lines.front().end == "\n") newline = "\n";

    const Found found = Find(lines, section, key);
    std::string result;
    result.reserve(content.size() + section.size() + key.size() + value.size() + 8);
    if (!found.section) {
        result = content;
        if (!result.empty() && result.back() != '\n') result += newline;
        result += "[" + section + "]" + newline + key + "=" + value + newline;
        return WriteWholeFile(file, result);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (found.key && i == found.keyLine) {
            // Keep the indentation and the key's own spelling, replace the value.
            std::string_view text = line.text;
            const size_t equals = text.find('=');
            std::string_view keyPart = text.substr(0, equals);
            while (!keyPart.empty() && IsBlank(keyPart.back())) keyPart.remove_suffix(1);
            result.append(keyPart);
            result += '=';
            result += value;
            result.append(line.end);
            continue;
        }
        result.append(line.text);
        result.append(line.end);
        if (!found.key && i == found.lastContent) {
            if (line.end.empty()) result += newline;
            result += key + "=" + value + newline;
        }
    }
    return WriteWholeFile(file, result);
}

} // namespace gleanery::platform
