// gleanery: a command-line host for the Gleanery plug-in. It loads the plug-in library and
// drives it through its exports exactly as a file manager does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <csignal>
#include <unistd.h>
#endif

#include "engine/extraction_job.h"
#include "engine/paths.h"
#include "expression_check.h"
#include "file_walk.h"
#include "host/dc_startup_record.h"
#include "host/wcx.h"
#include "host_config.h"
#include "job_notes.h"
#include "options.h"
#include "output_reason.h"
#include "plugin_library.h"
#include "printable.h"
#include "progress.h"
#include "scratch.h"
#include "stdout_copy.h"
#include "streams.h"
#include "terminal.h"
#include "version.h"
#include "wide_names.h"

namespace fs = std::filesystem;
using namespace gleanery;
using namespace gleanery::cli;

namespace {

// Exit statuses of the host's own; the others are the plug-in's answers (see UsageText).
constexpr int kOtherError = 1;
constexpr int kBadUsage = 2;
constexpr int kNothingWritten = 3;
constexpr int kNotAllSearched = 4;

// Whether a usage error's message ends with the pointer to the help text.
enum class HelpHint { Show, Omit };

int Fail(const std::string& message, int status, HelpHint hint = HelpHint::Show) {
    Complain(message);
    if (status == kBadUsage && hint == HelpHint::Show)
        std::fprintf(stderr, "Try 'gleanery help'.\n");
    return status;
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

// The source path and the add list of `names` relative to it, each ended by a zero and the list
// by an empty entry. With `common` the source path is the names' deepest common directory, with a
// trailing separator (`fallback` when there are no names); without it, it is empty and the names
// are taken as they are (absolute, or relative to the working directory).
void BuildAddList(const std::vector<std::u16string>& names, bool common, const fs::path& fallback,
                  std::u16string& source, std::u16string& addList) {
    const char16_t separator = static_cast<char16_t>(fs::path::preferred_separator);
    if (!common) {
        source.clear();
    } else if (names.empty()) {
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
        return "could not create the output file " + output.string() + WhyNotCreated(output);
    case wcx::kENoMemory:
        return "out of memory: the pack ended before it was done" +
               (fs::exists(output) ? "; " + output.string() + " holds only what was written before"
                                   : std::string());
    case wcx::kEEWrite:
        return "could not write the output file " + output.string() + WhyNotWritten(output);
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

// The names the plug-in is to search, in the order found: a file by its absolute path, a stream
// by the name its copy in `scratch` is reached by. A stream that cannot be copied is reported and
// left out.
std::vector<std::u16string> InputNames(Walk& walk, const fs::path& scratch) {
    std::vector<std::u16string> names;
    names.reserve(walk.inputs.size());
    for (size_t i = 0; i < walk.inputs.size() && !Interrupted(); ++i) {
        const Input& input = walk.inputs[i];
        if (!input.stream) {
            names.push_back(WideName(input.path));
            continue;
        }
        std::u16string entry;
        std::string error;
        if (CopyStream(input, scratch, i, entry, error)) {
            names.push_back(entry);
        } else {
            Complain(error);
            walk.incomplete = true;
        }
    }
    return names;
}

// Each name as the plug-in forms it (source path + entry), for the progress count.
std::vector<std::u16string> FullNames(const std::u16string& source, const std::u16string& addList) {
    std::vector<std::u16string> names;
    for (size_t at = 0; at < addList.size() && addList[at] != u'\0';) {
        const size_t end = addList.find(u'\0', at);
        names.push_back(source + addList.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// Whether an operand is read as it comes (standard input, a FIFO, a device): such inputs are
// copied before the pack begins.
bool IsStreamOperand(const std::string& operand) {
    if (operand == "-") return true;
    std::error_code ec;
    const fs::file_type type = fs::status(operand, ec).type();
    return !ec && (type == fs::file_type::fifo || type == fs::file_type::character);
}

// The plug-in's way to the names a walk finds while the pack runs: each call hands over those
// found since the last one, waiting for the walk when there are none yet.
struct NameRuns {
    WalkFeed& feed;
    // Said once the walk has ended (its held problems).
    std::function<void()> walkEnded;
    std::vector<Input> found;
    // Every run handed over: the plug-in may look at them until the pack returns.
    std::deque<std::u16string> runs;
    // Memory ran out making a run: the names after it were not handed over.
    bool failed = false;
};

const char16_t* WCX_CALL MoreNames(void* data) {
    NameRuns& names = *static_cast<NameRuns*>(data);
    if (names.failed) return u"";
    try {
        // (The first names may have been taken before the pack began.)
        if (names.found.empty() && !TakeFound(names.feed, names.found)) {
            names.walkEnded();
            return u"";
        }
        // (A name takes at most a unit a byte: the run is made in room taken once.)
        size_t most = 1;
        for (const Input& input : names.found) most += input.path.size() + 1;
        std::u16string run;
        run.reserve(most);
        for (const Input& input : names.found) {
            const size_t start = run.size();
            AppendWideName(input.path, run);
            if (ShowsProgress()) AddProgressName(run.substr(start));
            run.push_back(u'\0');
        }
        run.push_back(u'\0');
        names.found.clear();
        names.runs.push_back(std::move(run));
        return names.runs.back().c_str();
    } catch (...) {
        names.failed = true;
        return u"";
    }
}

// The end of a pack whose reader of standard output has gone: the way a filter ends then.
[[noreturn]] void EndByClosedPipe() {
    RemoveScratch();
#if !defined(_WIN32)
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
#endif
    std::_Exit(wcx::kEEWrite);
}

int RunPack(const CommandLine& line, const HostConfig& baseConfig, const fs::path& pluginPath) {
    if (line.operands.empty()) return Fail("pack needs OUTPUT", kBadUsage);
    // "-": the plug-in writes into the run's private directory, from where the host copies the
    // results to standard output as they come.
    const bool toStdout = line.operands.front() == "-";
    // OUTPUT names a file, whose name the output's is made from: "dir/" would become the hidden
    // "dir/.txt".
    if (!toStdout && fs::absolute(line.operands.front()).lexically_normal().filename().empty())
        return Fail("OUTPUT " + Quoted(line.operands.front()) + " names a directory, not a file",
                    kBadUsage);
    std::vector<std::string> operands(line.operands.begin() + 1, line.operands.end());
    if (operands.empty()) {
        if (StdinIsTerminal())
            return Fail("pack needs at least one FILE, or standard input from a pipe or a file",
                        kBadUsage);
        operands.push_back("-");
    }
    // From here on Ctrl-C cancels, and everything the run creates for itself is removed at
    // every exit.
    InstallInterruptHandler();
    ScratchGuard scratchGuard;
    std::string error;
    // The walk goes on beside the settings and the plug-in's start, which do not depend on it,
    // and, where the plug-in takes the names as they are found, beside the search; what it has to
    // say about the inputs is said once it is done.
    Walk walk;
    walk.holdProblems = true;
    // Files and directories alone are handed to the plug-in as the walk finds them.
    WalkFeed feed;
    if (std::none_of(operands.begin(), operands.end(), IsStreamOperand)) walk.feed = &feed;
    std::thread walker([&] { CollectInputs(operands, line.follow, walk); });
    bool walked = false;
    const auto endWalk = [&] {
        if (walked) return;
        walker.join();
        walked = true;
        for (const std::string& problem : walk.heldProblems) Complain(problem);
    };
    // A pack that ended before it took every name wants no more of the walk.
    struct WalkEnd {
        const decltype(endWalk)& end;
        WalkFeed& feed;
        ~WalkEnd() {
            feed.abandoned = true;
            end();
        }
    } walkEnd{endWalk, feed};
    const auto failAfterWalk = [&](const std::string& message, int status,
                                   HelpHint hint = HelpHint::Show) {
        endWalk();
        return Fail(message, status, hint);
    };

    // Options of this run go into a private copy of the settings, so the stored ones stay.
    const bool overridden = line.preset || !line.edits.empty();
    fs::path scratch;
    // A walk that feeds the pack leaves no streams to be copied into the directory.
    const bool settingsOnly = !toStdout && walk.feed != nullptr;
    if ((toStdout || overridden) && !CreateScratch(scratch, error, settingsOnly))
        return failAfterWalk(error, kOtherError);
    HostConfig config = baseConfig;
    if (overridden &&
        (!CopyConfig(baseConfig.dir, scratch, error) || !PrepareConfig(scratch, config, error)))
        return failAfterWalk(error, kOtherError);
    config.privateCopy = overridden;

    Settings settings;
    bool rejected = false;
    std::vector<std::string> warnings;
    const auto check = [&](const Settings& s, std::string& why) {
        rejected = !CheckSearch(s, why, warnings);
        return !rejected;
    };
    if (!EditSettings(config, pluginPath.parent_path(), line.preset, line.edits, overridden,
                      settings, nullptr, error, check))
        return rejected ? failAfterWalk(error + "\nnothing was searched", kBadUsage, HelpHint::Omit)
                        : failAfterWalk(error, kOtherError);

    PluginExports plugin;
    const bool started = StartPlugin(config, pluginPath, plugin, error);
    const bool fed = walk.feed != nullptr && started && plugin.GleaneryPackFilesStreamW;
    if (!fed) {
        endWalk();
        if (walk.feed != nullptr) TakeFound(feed, walk.inputs);
    }
    for (const std::string& warning : warnings) Fail("warning: " + warning, 0);
    if (!started) return Fail(error, kOtherError);
    if (Interrupted()) return Fail("cancelled", kCancelledStatus);
    // (A walk that feeds the pack holds no streams, and its inputs are its own until it ends.)
    const bool streams = !fed && std::any_of(walk.inputs.begin(), walk.inputs.end(),
                                             [](const Input& i) { return i.stream; });
    if (streams && scratch.empty() && !CreateScratch(scratch, error))
        return Fail(error, kOtherError);

    // Streams are searched as copies in the private directory, which becomes the working
    // directory, so that a copy is reached by the name the user knows it by; files then go by
    // their absolute paths, as do the names handed over as the walk finds them.
    NameRuns runs{feed, endWalk, {}, {}, false};
    std::u16string source, addList;
    if (!fed) {
        const fs::path fallback = fs::absolute(walk.inputs.empty() || walk.inputs.front().stream
                                                   ? fs::path(".")
                                                   : fs::path(walk.inputs.front().path))
                                      .lexically_normal();
        const std::vector<std::u16string> names = InputNames(walk, scratch);
        if (Interrupted()) return Fail("cancelled", kCancelledStatus);
        BuildAddList(names, !streams, fallback, source, addList);
    } else {
        // An output named after the first file's extension waits for the first names (the walk
        // yields regular files only).
        addList.push_back(u'\0');
        if (settings.OutfileExtension == 1 && TakeFound(feed, runs.found))
            addList = WideName(runs.found.front().path) + u'\0' + u'\0';
    }
    // The archive name has an extension of its own, so that the output name is cut there and
    // not at a dot in the temporary directory's path.
    const fs::path archive =
        toStdout ? scratch / "stdout.out" : fs::absolute(line.operands.front()).lexically_normal();
    std::error_code ec;
    if (streams) fs::current_path(scratch, ec);
    if (ec) return Fail("cannot enter " + scratch.string() + ": " + ec.message(), kOtherError);
    std::u16string archiveText = WideName(archive);
    const fs::path output = PathFromWide(
        OutputNameFor(archiveText, settings.OutfileExtension, source, addList.c_str()));
    if (fed) addList.assign(1, u'\0');
    const bool existed = fs::exists(output, ec);
    if (Interrupted()) return Fail("cancelled", kCancelledStatus);
    ResetDeclined();
    // The names are only looked up to count the files done on a progress line.
    const bool showProgress = !line.quiet && StderrIsTerminal();
    StartProgress(showProgress ? FullNames(source, addList) : std::vector<std::u16string>(),
                  showProgress);
    if (toStdout) {
        FollowOptions follow;
        // The lines of an extraction end in a line feed there, as other tools write them; file
        // contents (search and replace, binary mode) go out byte for byte.
        follow.lines = !settings.SearchAndReplace && !settings.BinaryMode;
        if (settings.WriteStats) follow.privateName = ToUtf8(DisplayPath(WideName(output)));
        StartFollowing(output, follow);
    }
    const int code =
        fed ? plugin.GleaneryPackFilesStreamW(archiveText.data(), source.data(), &MoreNames, &runs)
            : plugin.PackFilesW(archiveText.data(), nullptr, source.data(), addList.data(), 0);
    if (fed) {
        feed.abandoned = true;
        endWalk();
        if (runs.failed) {
            Complain("out of memory: not every file found was searched");
            walk.incomplete = true;
        }
    }
    const CopyResult copied = toStdout ? FinishFollowing(error) : CopyResult::Done;
    EndProgressLine();
    if (copied == CopyResult::Closed) EndByClosedPipe();
    const bool unsearched = ReportJobNotes(plugin, output) || walk.incomplete;
    UnloadPlugin(plugin);

    // Both questions of a pack (go on with defaults? replace the existing file?) end it at once
    // when answered No, which the plug-in reports as success. A file that is there now and was
    // not written came in the meantime (another run made it): it was the one asked about.
    if (code == 0 && Declined())
        return Fail(existed || fs::exists(output, ec)
                        ? "nothing written: the existing file was kept"
                        : "nothing written: the last settings were not available",
                    kNothingWritten);
    if (copied == CopyResult::Cancelled || code == kCancelledStatus)
        return Fail("cancelled", kCancelledStatus);
    if (copied == CopyResult::Failed) return Fail(error, wcx::kEEWrite);
    if (code != 0 && code != wcx::kENoFiles)
        return Fail(ResultMessage(code, toStdout && code == wcx::kENoMemory
                                            ? fs::path("standard output")
                                            : output),
                    code);
    const int status = unsearched ? kNotAllSearched : code;
    if (code == wcx::kENoFiles) return Fail(ResultMessage(code, output), status);
    if (!toStdout && !line.quiet) std::printf("%s\n", Printable(ResultMessage(0, output)).c_str());
    return status;
}

int Main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) return Fail(error, kBadUsage);
    if (line.command == "help") {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (line.command == "version") {
        std::fputs(VersionText(
                       fs::absolute(line.pluginPath.empty() ? DefaultPluginPath() : line.pluginPath)
                           .string())
                       .c_str(),
                   stdout);
        return 0;
    }
    SetAnswerPolicy(line.answers);

    const fs::path pluginPath =
        fs::absolute(line.pluginPath.empty() ? DefaultPluginPath() : line.pluginPath);
    HostConfig config;
    // Absolute: a pack of streams runs in another working directory.
    if (!PrepareConfig(
            fs::absolute(line.configDir.empty() ? DefaultConfigDir() : fs::path(line.configDir)),
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
