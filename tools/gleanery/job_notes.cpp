#include "job_notes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/report.h"
#include "printable.h"
#include "terminal.h"
#include "wide_names.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

std::vector<std::u16string> Split(const std::u16string& text, const std::u16string& separator) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::u16string::npos) return parts;
        start = end + separator.size();
    }
}

// Why the plug-in could not open `name`, asked of the system now.
std::string WhyNotOpened(const std::u16string& name, const fs::path& output) {
    const fs::path path = PathFromWide(name);
    std::error_code ec;
    // Compared by name too: an output left empty is gone by now.
    if (path == output || fs::equivalent(path, output, ec))
        return "not searched: it is the output file";
    if (std::FILE* file = std::fopen(path.string().c_str(), "rb")) {
        std::fclose(file);
        return "could not be read";
    }
    return std::strerror(errno);
}

} // namespace

bool ReportJobNotes(const PluginExports& plugin, const fs::path& output) {
    if (!plugin.GleaneryJobNotesW) return false;
    const int length = plugin.GleaneryJobNotesW(nullptr, 0);
    if (length <= 0) return false;
    std::u16string notes(static_cast<size_t>(length) + 1, u'\0');
    plugin.GleaneryJobNotesW(notes.data(), length + 1);
    notes.resize(static_cast<size_t>(length));

    bool named = false;
    for (const std::u16string& section : Split(notes, u"\r\n\r\n")) {
        std::vector<std::u16string> lines = Split(section, u"\r\n");
        const std::u16string heading = lines.front();
        lines.erase(lines.begin());
        named = named || !lines.empty();
        if (heading == kNotOpenedHeading) {
            for (const std::u16string& file : lines)
                Complain(Printable(ToUtf8(file)) + ": " + WhyNotOpened(file, output));
        } else if (heading == kBadEncodingHeading) {
            for (const std::u16string& file : lines)
                Complain(Printable(ToUtf8(file)) +
                         ": partly skipped for bad UTF-8 or UTF-16 encoding (try --binary or "
                         "--line-mode)");
        } else {
            Complain(Printable(ToUtf8(heading)));
            for (const std::u16string& file : lines) Complain(Printable(ToUtf8(file)));
        }
    }
    return named;
}

} // namespace gleanery::cli
