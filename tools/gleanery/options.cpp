#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string_view>
#include <utility>

namespace gleanery::cli {

namespace {

// What parsing does after an option.
enum class Next { Go, Stop, Fail };

// An option as it appeared: the name it was given by, and its value when it takes one.
struct Given {
    std::string name;
    std::string value;
    bool hasValue = false;
};

// Whether an option takes a value: after it or after '=' (Separate), only after '=' (Inline,
// optional), or none (an '=' part is ignored).
enum class Value { None, Separate, Inline };

// Where the usage text lists an option.
enum class Section { Host, Search };

struct Option;
using Handler = Next (*)(const Option& option, const Given& given, CommandLine& line,
                         std::string& error);

// One row of the command line: the spellings it is accepted by, how the usage text shows it
// (an empty `usage` keeps it out of the text), and what it does.
struct Option {
    std::string_view names; // separated by spaces
    Value value;
    Section section;
    std::string_view usage; // the left column
    std::string_view help;  // the right column; a line feed continues it on the next line
    Handler handle;
    // Switches: the field, the value the first name gives it, and the opposite's name.
    bool Settings::*field = nullptr;
    bool fieldValue = true;
    std::string_view opposite = {};
};

bool HasName(std::string_view names, std::string_view name) {
    while (!names.empty()) {
        const size_t space = names.find(' ');
        if (names.substr(0, space) == name) return true;
        if (space == std::string_view::npos) break;
        names.remove_prefix(space + 1);
    }
    return false;
}

Next Bad(const Given& given, const std::string& what, std::string& error) {
    error = "bad value '" + given.value + "' for " + given.name + ": " + what;
    return Next::Fail;
}

void Edit(CommandLine& line, std::function<void(Settings&)> edit) {
    line.edits.push_back(std::move(edit));
}

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

Next Help(const Option&, const Given&, CommandLine& line, std::string&) {
    line.command = "help";
    return Next::Stop;
}
Next Yes(const Option&, const Given&, CommandLine& line, std::string&) {
    line.answers = AnswerPolicy::Yes;
    return Next::Go;
}
Next No(const Option&, const Given&, CommandLine& line, std::string&) {
    line.answers = AnswerPolicy::No;
    return Next::Go;
}
Next Quiet(const Option&, const Given&, CommandLine& line, std::string&) {
    line.quiet = true;
    return Next::Go;
}
Next Follow(const Option&, const Given&, CommandLine& line, std::string&) {
    line.follow = true;
    return Next::Go;
}
Next Version(const Option&, const Given&, CommandLine& line, std::string&) {
    line.command = "version";
    return Next::Stop;
}
Next PluginPath(const Option&, const Given& given, CommandLine& line, std::string&) {
    line.pluginPath = given.value;
    return Next::Go;
}
Next ConfigDir(const Option&, const Given& given, CommandLine& line, std::string&) {
    line.configDir = given.value;
    return Next::Go;
}
Next Preset(const Option&, const Given& given, CommandLine& line, std::string&) {
    line.preset = given.value;
    return Next::Go;
}
Next Regex(const Option&, const Given& given, CommandLine& line, std::string&) {
    Edit(line, [w = ToUtf16(given.value)](Settings& s) { s.regex = w; });
    return Next::Go;
}
Next Replace(const Option&, const Given& given, CommandLine& line, std::string&) {
    Edit(line, [w = ToUtf16(given.value)](Settings& s) { s.replace = w; });
    return Next::Go;
}
Next Switch(const Option& option, const Given& given, CommandLine& line, std::string&) {
    const bool value = HasName(option.names, given.name) ? option.fieldValue : !option.fieldValue;
    Edit(line, [f = option.field, value](Settings& s) { s.*f = value; });
    return Next::Go;
}
Next Clipboard(const Option&, const Given& given, CommandLine& line, std::string& error) {
    if (given.hasValue && given.value != "delete")
        return Bad(given, "only =delete is allowed", error);
    const int8_t mode = given.hasValue ? 2 : 1;
    Edit(line, [mode](Settings& s) { s.CopyClip = mode; });
    return Next::Go;
}
Next NoClipboard(const Option&, const Given&, CommandLine& line, std::string&) {
    Edit(line, [](Settings& s) { s.CopyClip = 0; });
    return Next::Go;
}
Next Memory(const Option&, const Given& given, CommandLine& line, std::string& error) {
    long n = 0;
    if (!ParseInt(given.value, 5, 500, n))
        return Bad(given, "a number of MiB from 5 to 500", error);
    Edit(line, [n](Settings& s) { s.Memory = static_cast<int32_t>(n); });
    return Next::Go;
}
Next Threads(const Option&, const Given& given, CommandLine& line, std::string& error) {
    long n = 0;
    if (!ParseInt(given.value, 0, 64, n))
        return Bad(given, "a number of workers from 0 (one per core) to 64", error);
    Edit(line, [n](Settings& s) { s.Threads = static_cast<int32_t>(n); });
    return Next::Go;
}
Next CheckBuffer(const Option&, const Given& given, CommandLine& line, std::string& error) {
    int32_t bytes = 0;
    if (!ParseCheckBuffer(given.value, bytes))
        return Bad(given, "one of 128k, 256k, 512k, 1M, 2M, 4M, 8M, 16M", error);
    Edit(line, [bytes](Settings& s) { s.EncodingCheck = bytes; });
    return Next::Go;
}
Next CodePage(const Option&, const Given& given, CommandLine& line, std::string& error) {
    long n = 0;
    if (given.value == "ansi")
        n = 0;
    else if (given.value == "oem")
        n = 1;
    else if (!ParseInt(given.value, 0, 65535, n))
        return Bad(given, "ansi, oem or a Windows code page number", error);
    Edit(line, [n](Settings& s) { s.CodePage = static_cast<int32_t>(n); });
    return Next::Go;
}
Next DefaultChar(const Option&, const Given& given, CommandLine& line, std::string& error) {
    const std::string& v = given.value;
    int8_t c = -1;
    if (v != "default") {
        if (v.size() != 1 || v[0] < 32 || v[0] > 126)
            return Bad(given, "one printable ASCII character or \"default\"", error);
        c = static_cast<int8_t>(v[0]);
    }
    Edit(line, [c](Settings& s) { s.DefaultCharacter = c; });
    return Next::Go;
}
Next Extension(const Option&, const Given& given, CommandLine& line, std::string& error) {
    static const std::map<std::string, int8_t> kExtensions = {
        {"txt", 0}, {"first", 1}, {"as-is", 2}};
    const auto it = kExtensions.find(given.value);
    if (it == kExtensions.end()) return Bad(given, "txt, first or as-is", error);
    Edit(line, [e = it->second](Settings& s) { s.OutfileExtension = e; });
    return Next::Go;
}

// A switch whose listed name sets the field and whose opposite clears it, and the reverse.
constexpr Option SwitchOn(std::string_view name, std::string_view opposite, bool Settings::*field,
                          std::string_view help) {
    return {name, Value::None, Section::Search, name, help, Switch, field, true, opposite};
}
constexpr Option SwitchOff(std::string_view name, std::string_view opposite, bool Settings::*field,
                           std::string_view help) {
    return {name, Value::None, Section::Search, name, help, Switch, field, false, opposite};
}

// Every option, in the order of the usage text.
const Option kOptions[] = {
    {"--help -h", Value::None, Section::Host, "", "", Help},
    {"--plugin", Value::Separate, Section::Host, "--plugin PATH",
     "the plug-in library to load (default: the one beside this program)", PluginPath},
    {"--config", Value::Separate, Section::Host, "--config DIR",
     "settings directory (default: $XDG_CONFIG_HOME/gleanery)", ConfigDir},
    {"--version", Value::None, Section::Host, "", "", Version},
    {"--yes", Value::None, Section::Host, "--yes, --no",
     "answer every question of the plug-in with Yes / No", Yes},
    {"--no", Value::None, Section::Host, "", "", No},
    {"--quiet", Value::None, Section::Host, "--quiet",
     "no progress line (shown only when standard error is a terminal)", Quiet},
    {"--follow -L", Value::None, Section::Host, "-L, --follow",
     "follow symbolic links met while walking directories (links\n"
     "named as FILE are always followed)",
     Follow},

    {"-e --regex", Value::Separate, Section::Search, "-e, --regex EXPR",
     "the regular expression (PCRE syntax)", Regex},
    {"-r --replace", Value::Separate, Section::Search, "-r, --replace TEXT",
     "the replacement template ($0 whole match, $1..$99 groups,\n"
     "\\xNN byte, \\xM0..\\xM9 / \\xm0..\\xm9 counters, \\xNn file name,\n"
     "\\xNN path and file name)",
     Replace},
    {"--preset", Value::Separate, Section::Search, "--preset NAME",
     "start from the stored preset NAME (or the one name it begins,\nin any case)", Preset},
    SwitchOn("--line-mode", "--no-line-mode", &Settings::LineMode,
             "report matching lines with line numbers"),
    SwitchOn("--binary", "--no-binary", &Settings::BinaryMode, "search every file as raw bytes"),
    SwitchOn("--search-replace", "--no-search-replace", &Settings::SearchAndReplace,
             "write each file with every match replaced"),
    SwitchOn("--no-duplicates", "--duplicates", &Settings::NoDuplicates,
             "write each distinct result once"),
    SwitchOn("--stats", "--no-stats", &Settings::WriteStats, "append the statistics block"),
    SwitchOn("--case-sensitive", "--ignore-case", &Settings::CaseSensitive,
             "match case (default: ignore case)"),
    SwitchOn("--dotall", "--no-dotall", &Settings::Dotall, "dot matches line breaks too"),
    SwitchOn("--multiline", "--no-multiline", &Settings::Multiline, "^ and $ match at line breaks"),
    SwitchOff("--no-unicode-properties", "--unicode-properties", &Settings::UnicodeProperties,
              "\\w, \\d and friends match ASCII only"),
    SwitchOn("--empty-valid", "--no-empty-valid", &Settings::EmptyValid, "report empty matches"),
    SwitchOn("--bom", "--no-bom", &Settings::WriteBom,
             "begin the output with the UTF-8 byte order mark"),
    SwitchOff("--no-jit", "--jit", &Settings::Jit,
              "search with PCRE's interpreter instead of its JIT compiler\n"
              "(same results, slower; for comparison or as a fallback)"),
    {"--clipboard", Value::Inline, Section::Search, "--clipboard[=delete]",
     "copy the output to the clipboard (and delete the file)", Clipboard},
    {"--no-clipboard", Value::None, Section::Search, "", "", NoClipboard},
    {"--memory", Value::Separate, Section::Search, "--memory MIB", "read memory, 5 to 500 MiB",
     Memory},
    {"-j --threads", Value::Separate, Section::Search, "-j, --threads N",
     "workers searching side by side: 0 one per core, 1 none", Threads},
    {"--check-buffer", Value::Separate, Section::Search, "--check-buffer SIZE",
     "encoding check buffer: 128k, 256k, 512k, 1M, 2M, 4M, 8M, 16M", CheckBuffer},
    {"--code-page", Value::Separate, Section::Search, "--code-page N",
     "code page for 8-bit text: ansi, oem or a Windows code page number", CodePage},
    {"--default-char", Value::Separate, Section::Search, "--default-char C",
     "replacement for characters the code page lacks: one ASCII\ncharacter, or \"default\"",
     DefaultChar},
    {"--extension", Value::Separate, Section::Search, "--extension E",
     "output name: txt (OUTPUT with .txt), first (extension of the first\n"
     "file), as-is (OUTPUT unchanged)",
     Extension},
};

const Option* FindOption(const std::string& name) {
    for (const Option& option : kOptions)
        if (HasName(option.names, name) || (!option.opposite.empty() && option.opposite == name))
            return &option;
    return nullptr;
}

// The usage lines of one section: the left column indented by two, the help from column 24 (on
// a line of its own after a long left column), continued lines aligned with it.
std::string UsageLines(Section section) {
    constexpr size_t kHelpColumn = 24;
    std::string text;
    for (const Option& option : kOptions) {
        if (option.section != section || option.usage.empty()) continue;
        std::string line = "  " + std::string(option.usage);
        if (line.size() + 2 > kHelpColumn) {
            text += line + "\n";
            line.clear();
        }
        line.resize(kHelpColumn, ' ');
        for (const char c : option.help) {
            line += c;
            if (c == '\n') line.append(kHelpColumn, ' ');
        }
        text += line + "\n";
    }
    return text;
}

} // namespace

std::string UsageText() {
    return R"usage(Usage:
  gleanery pack [OPTIONS] OUTPUT [FILE...] search FILEs (directories: the files below them,
                                           links met there not followed) and write what was
                                           found to OUTPUT; OUTPUT "-" writes it to standard
                                           output as it is found
  gleanery set [SEARCH OPTIONS]            store search options as the last settings
  gleanery show                            print the last settings
  gleanery presets                         list the stored presets
  gleanery help                            this text
  gleanery --version                       versions of the program, plug-in and PCRE

FILE "-", or no FILE when standard input is not a terminal, searches standard input, named
"(standard input)" in line-mode headers and \xNn / \xNN; a FIFO or device named as FILE is read
as it comes and keeps its name. Whatever cannot be searched is named on standard error and the
rest is searched (exit status 4).

Host options:
)usage" + UsageLines(Section::Host) +
           "\nSearch options (pack: for this run only; set: stored):\n" +
           UsageLines(Section::Search) +
           R"(Every switch has an opposite for `set`: --no-line-mode, --duplicates, --ignore-case, ...

Exit status:
  0   done
  1   other errors (settings directory, plug-in library)
  2   bad usage, or an expression that does not compile (nothing searched or stored); one
      that compiles for some encodings only is searched, with a warning (status 4)
  3   nothing written: a question was answered No (the existing output file was kept, or
      the run did not go on without the last settings)
  4   some FILEs could not be searched, or not whole (each named on standard error); the
      rest was searched, with matches or not
  11  out of memory: the pack ended early (an output file holds what was written before)
  16  the output file could not be created
  19  the output file (or standard output) could not be written
  21  cancelled (Ctrl-C keeps what standard output got; a second one ends the program at once)
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
    if (line.command == "--version") line.command = "version";
    static const char* const kCommands[] = {"pack", "set", "show", "presets", "help", "version"};
    bool known = false;
    for (const char* c : kCommands) known = known || line.command == c;
    if (!known) {
        error = "unknown command '" + line.command + "'";
        return false;
    }

    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) line.operands.push_back(argv[i]);
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            line.operands.push_back(arg);
            continue;
        }
        Given given;
        given.name = arg;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            given.name = arg.substr(0, eq);
            given.value = arg.substr(eq + 1);
            given.hasValue = true;
        }
        const Option* option = FindOption(given.name);
        // A short option's value may follow it directly, as in "-j4".
        if (!option && arg.size() > 2 && arg[1] != '-') {
            const Option* shortOption = FindOption(arg.substr(0, 2));
            if (shortOption && shortOption->value == Value::Separate) {
                option = shortOption;
                given.name = arg.substr(0, 2);
                given.value = arg.substr(2);
                given.hasValue = true;
            }
        }
        if (!option) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (option->value == Value::Separate && !given.hasValue) {
            if (i + 1 >= argc) {
                error = given.name + " needs a value";
                return false;
            }
            given.value = argv[++i];
            given.hasValue = true;
        }
        const Next next = option->handle(*option, given, line, error);
        if (next == Next::Fail) return false;
        if (next == Next::Stop) return true;
    }
    return true;
}

} // namespace gleanery::cli
