// gleanery: a command-line host for the Gleanery plug-in. It loads the plug-in library and
// drives it through its exports exactly as a file manager does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "engine/extraction_job.h"
#include "expression_check.h"
#include "host/dc_startup_record.h"
#include "host/wcx.h"
#include "host_config.h"
#include "options.h"
#include "plugin_library.h"
#include "printable.h"
#include "scratch.h"
#include "stdout_copy.h"
#include "terminal.h"
#include "wide_names.h"

namespace fs = std::filesystem;
using namespace gleanery;
using namespace gleanery::cli;

namespace {

// Exit statuses of the host's own; the others are the plug-in's answers (see UsageText).
constexpr int kOtherError = 1;
constexpr int kBadUsage = 2;
constexpr int kNothingWritten = 3;

// Whether a usage error's message ends with the pointer to the help text.
enum class HelpHint { Show, Omit };

int Fail(const std::string& message, int status, HelpHint hint = HelpHint::Show) {
    EndProgressLine();
    std::fprintf(stderr, "gleanery: %s\n", Printable(message, LineBreaks::Keep).c_str());
    if (status == kBadUsage && hint == HelpHint::Show)
        std::fprintf(stderr, "Try 'gleanery help'.\n");
    return status;
}

// What the plug-in noted about searches that stayed incomplete (files whose search a limit
// ended, or whose form of the expression did not compile), one line at a time on standard error.
void PrintJobNotes(const PluginExports& plugin) {
    if (!plugin.GleaneryJobNotesW) return;
    const int length = plugin.GleaneryJobNotesW(nullptr, 0);
    if (length <= 0) return;
    std::u16string notes(static_cast<size_t>(length) + 1, u'\0');
    plugin.GleaneryJobNotesW(notes.data(), length + 1);
    notes.resize(static_cast<size_t>(length));
    EndProgressLine();
    size_t start = 0;
    while (start <= notes.size()) {
        size_t end = notes.find(u"\r\n", start);
        if (end == std::u16string::npos) end = notes.size();
        if (end > start)
            std::fprintf(stderr, "gleanery: %s\n",
                         Printable(ToUtf8(notes.substr(start, end - start))).c_str());
        start = end + 2;
    }
}

// A name for messages: quoted, control characters escaped.
std::string Quoted(const std::string& name) {
    return "'" + Printable(name) + "'";
}

// Copies `text` into a zeroed fixed field, keeping a terminating zero.
void CopyBounded(const std::string& text, char* field, size_t size) {
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

void SetEnvironment(const char* name, const fs::path& value) {
#if defined(_WIN32)
    _wputenv_s(fs::path(name).wstring().c_str(), value.wstring().c_str());
#else
    setenv(name, value.string().c_str(), 1);
#endif
}

// Sorts paths in fs::path order (component by component) on flat strings, where each separator
// becomes a zero that sorts before every character a name can hold: a directory of ten
// thousand files spent a tenth of a small-file run comparing path components.
void SortAsPaths(std::vector<fs::path>& paths) {
    using Native = fs::path::string_type;
    std::vector<std::pair<Native, size_t>> keys;
    keys.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        Native key = paths[i].native();
        std::replace(key.begin(), key.end(), fs::path::preferred_separator,
                     fs::path::value_type(0));
        keys.emplace_back(std::move(key), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<fs::path> sorted;
    sorted.reserve(paths.size());
    for (const auto& key : keys) sorted.push_back(std::move(paths[key.second]));
    paths.swap(sorted);
}

// The files of the command line: directories contribute the files below them, in name order.
// Whatever cannot be read is still listed (the plug-in reports it); a directory with no files
// contributes nothing. Stops early, with true, after Ctrl-C.
bool CollectFiles(const std::vector<std::string>& operands, std::vector<fs::path>& files,
                  std::string& error) {
    for (const std::string& operand : operands) {
        std::error_code ec;
        const fs::path path = fs::absolute(operand, ec).lexically_normal();
        if (ec) {
            error = "cannot find " + Quoted(operand);
            return false;
        }
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> found;
            auto it = fs::recursive_directory_iterator(
                path, fs::directory_options::skip_permission_denied, ec);
            for (; !ec && !Interrupted() && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                // An entry whose kind cannot be read (a link loop) is listed: the plug-in
                // reports what it cannot open.
                std::error_code kind;
                if (!it->is_directory(kind)) found.push_back(it->path());
            }
            if (ec) Fail("warning: cannot read all of " + Quoted(operand) + ": " + ec.message(), 0);
            SortAsPaths(found);
            files.insert(files.end(), found.begin(), found.end());
        } else if (fs::exists(path, ec)) {
            files.push_back(path);
        } else {
            error = "cannot find " + Quoted(operand);
            return false;
        }
        if (Interrupted()) return true;
    }
    return true;
}

// The source path (the files' deepest common directory, with a trailing separator; `fallback`
// when there are no files) and the add list of names relative to it, each ended by a zero and
// the list by an empty entry.
void BuildAddList(const std::vector<fs::path>& files, const fs::path& fallback,
                  std::u16string& source, std::u16string& addList) {
    const char16_t separator = static_cast<char16_t>(fs::path::preferred_separator);
    std::vector<std::u16string> names;
    names.reserve(files.size());
    for (const fs::path& file : files) names.push_back(WideName(file));
    if (names.empty()) {
        source = WideName(fallback);
        if (source.empty() || source.back() != separator) source.push_back(separator);
    } else {
        // Whole components only: /x/ab/2 does not lie in /x/a/.
        source = names.front().substr(0, names.front().rfind(separator) + 1);
        for (const std::u16string& name : names) {
            while (!source.empty() && name.compare(0, source.size(), source) != 0) {
                source.pop_back();
                const size_t cut = source.rfind(separator);
                source.erase(cut == std::u16string::npos ? 0 : cut + 1);
            }
        }
    }
    for (const std::u16string& name : names) {
        addList.append(name, source.size());
        addList.push_back(u'\0');
    }
    addList.push_back(u'\0');
}

bool StdoutIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

// Stored text for standard output: as stored, unless a terminal shows it.
std::string Shown(const std::u16string& text) {
    return StdoutIsTerminal() ? Printable(ToUtf8(text)) : ToUtf8(text);
}

void PrintSettings(const Settings& s) {
    auto b = [](bool v) { return v ? "true" : "false"; };
    std::printf("regex=%s\nreplace=%s\n", Shown(s.regex).c_str(), Shown(s.replace).c_str());
    std::printf("LineMode=%s\nBinaryMode=%s\nSearchAndReplace=%s\nNoDuplicates=%s\n", b(s.LineMode),
                b(s.BinaryMode), b(s.SearchAndReplace), b(s.NoDuplicates));
    std::printf("WriteStats=%s\nWriteBom=%s\nCaseSensitive=%s\nDotall=%s\nMultiline=%s\n",
                b(s.WriteStats), b(s.WriteBom), b(s.CaseSensitive), b(s.Dotall), b(s.Multiline));
    std::printf("UnicodeProperties=%s\nEmptyValid=%s\nJit=%s\n", b(s.UnicodeProperties),
                b(s.EmptyValid), b(s.Jit));
    static const char* const kClip[] = {"off", "copy", "copy and delete the file"};
    static const char* const kExtension[] = {"txt", "first", "as-is"};
    std::printf("CopyClip=%s\nMemory=%d MiB\nEncodingCheck=%d bytes\n",
                kClip[std::clamp<int>(s.CopyClip, 0, 2)], s.Memory, s.EncodingCheck);
    std::printf("CodePage=%s\n", s.CodePage == 0   ? "ansi (system ANSI code page)"
                                 : s.CodePage == 1 ? "oem (system OEM code page)"
                                                   : std::to_string(s.CodePage).c_str());
    if (s.DefaultCharacter == -1)
        std::printf("DefaultCharacter=default\n");
    else
        std::printf("DefaultCharacter=%c\n", s.DefaultCharacter);
    std::printf("OutfileExtension=%s\n", kExtension[std::clamp<int>(s.OutfileExtension, 0, 2)]);
}

std::string ResultMessage(int code, const fs::path& output) {
    switch (code) {
    case 0:
        return fs::exists(output) ? "wrote " + output.string() : "done";
    case wcx::kEECreate:
        return "could not create the output file " + output.string() +
               (fs::is_directory(output) ? ": a directory has that name" : "");
    case wcx::kENoMemory:
        return "out of memory: the pack ended before it was done" +
               (fs::exists(output) ? "; " + output.string() + " holds only what was written before"
                                   : std::string());
    case wcx::kEEWrite:
        return "could not write the output file " + output.string();
    case wcx::kEEAborted:
        return "cancelled";
    case wcx::kENoFiles:
        return "no match";
    default:
        return "the plug-in answered " + std::to_string(code);
    }
}

// Loads the plug-in and hands it what a file manager hands it before a pack: the settings file
// the host suggests, the start-up record with the host's message box, the progress callback.
bool StartPlugin(const HostConfig& config, const fs::path& pluginPath, PluginExports& plugin,
                 std::string& error) {
    SetEnvironment("COMMANDER_INI", config.hostIni);
    if (!LoadPlugin(pluginPath.string(), plugin, error)) return false;

    wcx::PackDefaultParamStruct params{};
    params.size = sizeof params;
    params.PluginInterfaceVersionLow = 22;
    params.PluginInterfaceVersionHi = 2;
    CopyBounded(config.pluginIni.string(), params.DefaultIniName, sizeof params.DefaultIniName);
    plugin.PackSetDefaultParams(&params);
    if (plugin.ExtensionInitialize) {
        wcx::DcStartupFields fields;
        fields.PluginDir = pluginPath.parent_path().string() + "/";
        fields.PluginConfDir = config.dir.string() + "/";
        fields.HostMessageBox = HostMessageBox;
        std::vector<unsigned char> record = wcx::DcStartupRecord(fields);
        plugin.ExtensionInitialize(record.data());
    }
    plugin.SetProcessDataProcW(nullptr, ProgressCallback);
    return true;
}

// After a pack to "-": the result, if any, goes to standard output.
int PassToStdout(int code, const fs::path& output, const Settings& settings) {
    std::error_code ec;
    if (fs::exists(output, ec)) {
        // The lines of an extraction end in a line feed there, as other tools write them; file
        // contents (search and replace, binary mode) go out byte for byte.
        const bool lines = !settings.SearchAndReplace && !settings.BinaryMode;
        std::string error;
        const CopyResult copied = CopyToStdout(output, lines, error);
        if (copied == CopyResult::Cancelled) return Fail("cancelled", kCancelledStatus);
        if (copied == CopyResult::Failed) return Fail(error, wcx::kEEWrite);
    }
    return code == 0 ? 0 : Fail(ResultMessage(code, "standard output"), code);
}

int RunPack(const CommandLine& line, const HostConfig& baseConfig, const fs::path& pluginPath) {
    if (line.operands.size() < 2) return Fail("pack needs OUTPUT and at least one FILE", kBadUsage);
    // "-": the plug-in writes into the run's private directory, the host copies the result to
    // standard output.
    const bool toStdout = line.operands.front() == "-";
    // OUTPUT names a file, whose name the output's is made from: "dir/" would become the hidden
    // "dir/.txt".
    if (!toStdout && fs::absolute(line.operands.front()).lexically_normal().filename().empty())
        return Fail("OUTPUT " + Quoted(line.operands.front()) + " names a directory, not a file",
                    kBadUsage);
    // From here on Ctrl-C cancels, and everything the run creates for itself is removed at
    // every exit.
    InstallInterruptHandler();
    ScratchGuard scratchGuard;
    std::string error;
    std::vector<fs::path> files;
    const std::vector<std::string> operands(line.operands.begin() + 1, line.operands.end());
    if (!CollectFiles(operands, files, error)) return Fail(error, kBadUsage);
    if (Interrupted()) return Fail("cancelled", kCancelledStatus);

    // Options of this run go into a private copy of the settings, so the stored ones stay.
    const bool overridden = line.preset || !line.edits.empty();
    fs::path scratch;
    if ((toStdout || overridden) && !CreateScratch(scratch, error)) return Fail(error, kOtherError);
    HostConfig config = baseConfig;
    if (overridden &&
        (!CopyConfig(baseConfig.dir, scratch, error) || !PrepareConfig(scratch, config, error)))
        return Fail(error, kOtherError);

    Settings settings;
    bool rejected = false;
    std::vector<std::string> warnings;
    const auto check = [&](const Settings& s, std::string& why) {
        rejected = !CheckSearch(s, why, warnings);
        return !rejected;
    };
    if (!EditSettings(config, pluginPath.parent_path(), line.preset, line.edits, overridden,
                      settings, nullptr, error, check))
        return rejected ? Fail(error + "\nnothing was searched", kBadUsage, HelpHint::Omit)
                        : Fail(error, kOtherError);
    for (const std::string& warning : warnings) Fail("warning: " + warning, 0);

    PluginExports plugin;
    if (!StartPlugin(config, pluginPath, plugin, error)) return Fail(error, kOtherError);

    std::u16string source, addList;
    BuildAddList(files, fs::absolute(operands.front()).lexically_normal(), source, addList);
    // The archive name has an extension of its own, so that the output name is cut there and
    // not at a dot in the temporary directory's path.
    const fs::path archive =
        toStdout ? scratch / "stdout.out" : fs::absolute(line.operands.front()).lexically_normal();
    std::u16string archiveText = WideName(archive);
    const fs::path output = PathFromWide(
        OutputNameFor(archiveText, settings.OutfileExtension, source, addList.c_str()));
    std::error_code ec;
    const bool existed = fs::exists(output, ec);
    if (Interrupted()) return Fail("cancelled", kCancelledStatus);
    ResetDeclined();
    const int code =
        plugin.PackFilesW(archiveText.data(), nullptr, source.data(), addList.data(), 0);
    EndProgressLine();
    PrintJobNotes(plugin);
    UnloadPlugin(plugin);

    // Both questions of a pack (go on with defaults? replace the existing file?) end it at once
    // when answered No, which the plug-in reports as success. A file that is there now and was
    // not written came in the meantime (another run made it): it was the one asked about.
    if (code == 0 && Declined())
        return Fail(existed || fs::exists(output, ec)
                        ? "nothing written: the existing file was kept"
                        : "nothing written: the last settings were not available",
                    kNothingWritten);
    if (toStdout) return PassToStdout(code, output, settings);
    const std::string message = ResultMessage(code, output);
    if (code == 0) {
        if (!line.quiet) std::printf("%s\n", Printable(message).c_str());
        return 0;
    }
    return Fail(message, code);
}

int Main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) return Fail(error, kBadUsage);
    if (line.command == "help") {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    SetAnswerPolicy(line.answers);
    SetQuiet(line.quiet);

    const fs::path pluginPath =
        fs::absolute(line.pluginPath.empty() ? DefaultPluginPath() : line.pluginPath);
    HostConfig config;
    if (!PrepareConfig(line.configDir.empty() ? DefaultConfigDir() : fs::path(line.configDir),
                       config, error))
        return Fail(error, kOtherError);

    if (line.command == "pack") return RunPack(line, config, pluginPath);
    if (!line.operands.empty())
        return Fail("unexpected argument " + Quoted(line.operands.front()), kBadUsage);

    Settings settings;
    PresetStore presets;
    const bool save = line.command == "set";
    if (!save && (!line.edits.empty() || line.preset) && line.command != "show")
        return Fail(line.command + " takes no search options", kBadUsage);
    bool rejected = false;
    std::vector<std::string> warnings;
    const auto check = [&](const Settings& s, std::string& why) {
        rejected = !CheckSearch(s, why, warnings);
        return !rejected;
    };
    if (!EditSettings(config, pluginPath.parent_path(), line.preset, line.edits, save, settings,
                      &presets, error, save ? SettingsCheck(check) : nullptr))
        return rejected ? Fail(error + "\nnothing was stored", kBadUsage, HelpHint::Omit)
                        : Fail(error, kOtherError);
    for (const std::string& warning : warnings) Fail("warning: " + warning, 0);
    if (line.command == "presets") {
        for (const auto& [name, preset] : presets)
            std::printf("%s\t%s\n", Shown(name).c_str(), Shown(preset.regex).c_str());
        return 0;
    }
    PrintSettings(settings);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A failure the host did not foresee still ends in a message, and the run's temporary
    // directory is removed on the way out.
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        return Fail(std::string("unexpected failure: ") + e.what(), kOtherError);
    }
}
