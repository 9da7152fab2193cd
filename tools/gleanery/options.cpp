#include "options.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace gleanery::cli {

namespace {

struct Switch {
    const char* on;
    const char* off;
    bool Settings::*field;
    bool onValue; // the value `on` gives the field
};

const Switch kSwitches[] = {
    {"line-mode", "no-line-mode", &Settings::LineMode, true},
    {"binary", "no-binary", &Settings::BinaryMode, true},
    {"search-replace", "no-search-replace", &Settings::SearchAndReplace, true},
    {"no-duplicates", "duplicates", &Settings::NoDuplicates, true},
    {"stats", "no-stats", &Settings::WriteStats, true},
    {"case-sensitive", "ignore-case", &Settings::CaseSensitive, true},
    {"dotall", "no-dotall", &Settings::Dotall, true},
    {"multiline", "no-multiline", &Settings::Multiline, true},
    {"unicode-properties", "no-unicode-properties", &Settings::UnicodeProperties, true},
    {"empty-valid", "no-empty-valid", &Settings::EmptyValid, true},
    {"bom", "no-bom", &Settings::WriteBom, true},
    {"jit", "no-jit", &Settings::Jit, true},
};

bool ParseInt(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && end && *end == '\0' && value >= min && value <= max;
}

// "128k" … "16M", or a byte count that is one of the eight sizes.
bool ParseCheckBuffer(std::string text, int32_t& bytes) {
    long multiplier = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) multiplier = 1024;
    if (!text.empty() && (text.back() == 'm' || text.back() == 'M')) multiplier = 1048576;
    if (multiplier != 1) text.pop_back();
    long value = 0;
    if (!ParseInt(text, 1, 16777216, value)) return false;
    value *= multiplier;
    for (int32_t size = kMinEncodingCheck; size <= kMaxEncodingCheck; size <<= 1)
        if (value == size) {
            bytes = size;
            return true;
        }
    return false;
}

} // namespace

std::string UsageText() {
    return R"(Usage:
  gleanery pack [OPTIONS] OUTPUT FILE...   search FILEs (directories: all files in them) and
                                           write what was found to OUTPUT; OUTPUT "-" writes
                                           it to standard output
  gleanery set [SEARCH OPTIONS]            store search options as the last settings
  gleanery show                            print the last settings
  gleanery presets                         list the stored presets
  gleanery help                            this text

Host options:
  --plugin PATH         the plug-in library to load (default: the one beside this program)
  --config DIR          settings directory (default: $XDG_CONFIG_HOME/gleanery)
  --yes, --no           answer every question of the plug-in with Yes / No
  --quiet               no progress line

Search options (pack: for this run only; set: stored):
  -e, --regex EXPR      the regular expression (PCRE syntax)
  -r, --replace TEXT    the replacement template ($0 whole match, $1..$99 groups,
                        \xNN byte, \xM0..\xM9 / \xm0..\xm9 counters, \xNn file name,
                        \xNN path and file name)
  --preset NAME         start from the stored preset NAME
  --line-mode           report matching lines with line numbers
  --binary              search every file as raw bytes
  --search-replace      write each file with every match replaced
  --no-duplicates       write each distinct result once
  --stats               append the statistics block
  --case-sensitive      match case (default: ignore case)
  --dotall              dot matches line breaks too
  --multiline           ^ and $ match at line breaks
  --no-unicode-properties
                        \w, \d and friends match ASCII only
  --empty-valid         report empty matches
  --bom                 begin the output with the UTF-8 byte order mark
  --no-jit              search with PCRE's interpreter instead of its JIT compiler
                        (same results, slower; for comparison or as a fallback)
  --clipboard[=delete]  copy the output to the clipboard (and delete the file)
  --memory MIB          read memory, 5 to 500 MiB
  --check-buffer SIZE   encoding check buffer: 128k, 256k, 512k, 1M, 2M, 4M, 8M, 16M
  --code-page N         code page for 8-bit text: ansi, oem or a Windows code page number
  --default-char C      replacement for characters the code page lacks: one ASCII
                        character, or "default"
  --extension E         output name: txt (OUTPUT with .txt), first (extension of the first
                        file), as-is (OUTPUT unchanged)
Every switch has an opposite for `set`: --no-line-mode, --duplicates, --ignore-case, ...

Exit status:
  0   done
  1   other errors (settings directory, plug-in library)
  2   bad usage, or an expression that does not compile (nothing searched or stored)
  3   nothing written: a question was answered No (the existing output file was kept, or
      the run did not go on without the last settings)
  16  the output file could not be created
  19  the output file (or standard output) could not be written
  21  cancelled (Ctrl-C; a second Ctrl-C ends the program at once)
  22  no match
)";
}

bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
    if (argc < 2) {
        error = "no command given";
        return false;
    }
    line.command = argv[1];
    if (line.command == "--help" || line.command == "-h") line.command = "help";
    static const char* const kCommands[] = {"pack", "set", "show", "presets", "help"};
    bool known = false;
    for (const char* c : kCommands) known = known || line.command == c;
    if (!known) {
        error = "unknown command '" + line.command + "'";
        return false;
    }

    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) line.operands.push_back(argv[i]);
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            line.operands.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto bad = [&](const std::string& v, const std::string& what) {
            error = "bad value '" + v + "' for " + name + ": " + what;
            return false;
        };

        if (name == "--help" || name == "-h") {
            line.command = "help";
            return true;
        }
        if (name == "--yes" || name == "-y") {
            line.answers = AnswerPolicy::Yes;
            continue;
        }
        if (name == "--no" || name == "-n") {
            line.answers = AnswerPolicy::No;
            continue;
        }
        if (name == "--quiet" || name == "-q") {
            line.quiet = true;
            continue;
        }
        std::string v;
        if (name == "--plugin") {
            if (!value(line.pluginPath)) return false;
            continue;
        }
        if (name == "--config") {
            if (!value(line.configDir)) return false;
            continue;
        }
        if (name == "--preset") {
            if (!value(v)) return false;
            line.preset = v;
            continue;
        }
        if (name == "-e" || name == "--regex") {
            if (!value(v)) return false;
            line.edits.push_back([w = ToUtf16(v)](Settings& s) { s.regex = w; });
            continue;
        }
        if (name == "-r" || name == "--replace") {
            if (!value(v)) return false;
            line.edits.push_back([w = ToUtf16(v)](Settings& s) { s.replace = w; });
            continue;
        }
        if (name == "--clipboard") {
            int8_t mode = 1;
            if (inlineValue) {
                if (*inlineValue != "delete") return bad(*inlineValue, "only =delete is allowed");
                mode = 2;
            }
            line.edits.push_back([mode](Settings& s) { s.CopyClip = mode; });
            continue;
        }
        if (name == "--no-clipboard") {
            line.edits.push_back([](Settings& s) { s.CopyClip = 0; });
            continue;
        }
        if (name == "--memory") {
            long n = 0;
            if (!value(v)) return false;
            if (!ParseInt(v, 5, 500, n)) return bad(v, "a number of MiB from 5 to 500");
            line.edits.push_back([n](Settings& s) { s.Memory = static_cast<int32_t>(n); });
            continue;
        }
        if (name == "--check-buffer") {
            int32_t bytes = 0;
            if (!value(v)) return false;
            if (!ParseCheckBuffer(v, bytes))
                return bad(v, "one of 128k, 256k, 512k, 1M, 2M, 4M, 8M, 16M");
            line.edits.push_back([bytes](Settings& s) { s.EncodingCheck = bytes; });
            continue;
        }
        if (name == "--code-page") {
            long n = 0;
            if (!value(v)) return false;
            if (v == "ansi")
                n = 0;
            else if (v == "oem")
                n = 1;
            else if (!ParseInt(v, 0, 65535, n))
                return bad(v, "ansi, oem or a Windows code page number");
            line.edits.push_back([n](Settings& s) { s.CodePage = static_cast<int32_t>(n); });
            continue;
        }
        if (name == "--default-char") {
            if (!value(v)) return false;
            int8_t c = -1;
            if (v != "default") {
                if (v.size() != 1 || v[0] < 32 || v[0] > 126)
                    return bad(v, "one printable ASCII character or \"default\"");
                c = static_cast<int8_t>(v[0]);
            }
            line.edits.push_back([c](Settings& s) { s.DefaultCharacter = c; });
            continue;
        }
        if (name == "--extension") {
            if (!value(v)) return false;
            static const std::map<std::string, int8_t> kExtensions = {
                {"txt", 0}, {"first", 1}, {"as-is", 2}};
            const auto it = kExtensions.find(v);
            if (it == kExtensions.end()) return bad(v, "txt, first or as-is");
            line.edits.push_back([e = it->second](Settings& s) { s.OutfileExtension = e; });
            continue;
        }
        bool matched = false;
        for (const Switch& sw : kSwitches) {
            if (name == std::string("--") + sw.on || name == std::string("--") + sw.off) {
                const bool on = name == std::string("--") + sw.on;
                const bool fieldValue = on ? sw.onValue : !sw.onValue;
                line.edits.push_back(
                    [f = sw.field, fieldValue](Settings& s) { s.*f = fieldValue; });
                matched = true;
                break;
            }
        }
        if (!matched) {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

} // namespace gleanery::cli
