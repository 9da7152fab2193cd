// gleanery: a command-line host for the Gleanery plug-in. It loads the plug-in library and
// drives it through its exports exactly as a file manager does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/extraction_job.h"
#include "host/wcx.h"
#include "host_config.h"
#include "options.h"
#include "plugin_library.h"
#include "terminal.h"

namespace fs = std::filesystem;
using namespace gleanery;
using namespace gleanery::cli;

namespace {

int Fail(const std::string& message, int status) {
    std::fprintf(stderr, "gleanery: %s\n", message.c_str());
    if (status == 2) std::fprintf(stderr, "Try 'gleanery help'.\n");
    return status;
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
bool CollectFiles(const std::vector<std::string>& operands, std::vector<fs::path>& files,
                  std::string& error) {
    for (const std::string& operand : operands) {
        std::error_code ec;
        const fs::path path = fs::absolute(operand, ec).lexically_normal();
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> found;
            for (auto it = fs::recursive_directory_iterator(
                     path, fs::directory_options::skip_permission_denied, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                if (!it->is_directory(ec)) found.push_back(it->path());
            SortAsPaths(found);
            files.insert(files.end(), found.begin(), found.end());
        } else if (fs::exists(path, ec)) {
            files.push_back(path);
        } else {
            error = "cannot find '" + operand + "'";
            return false;
        }
    }
    return true;
}

// The source path (the files' deepest common directory, with a trailing separator) and the add
// list of names relative to it, each ended by a zero and the list by an empty entry.
void BuildAddList(const std::vector<fs::path>& files, std::u16string& source,
                  std::u16string& addList) {
    fs::path common = files.front().parent_path();
    for (const fs::path& file : files) {
        while (!common.empty() && file.native().rfind(common.native(), 0) != 0)
            common = common.parent_path();
        if (common == common.parent_path()) break;
    }
    source = common.u16string();
    const char16_t separator = static_cast<char16_t>(fs::path::preferred_separator);
    if (source.empty() || source.back() != separator) source.push_back(separator);
    for (const fs::path& file : files) {
        addList += file.u16string().substr(source.size());
        addList.push_back(u'\0');
    }
    addList.push_back(u'\0');
}

void PrintSettings(const Settings& s) {
    auto b = [](bool v) { return v ? "true" : "false"; };
    std::printf("regex=%s\nreplace=%s\n", ToUtf8(s.regex).c_str(), ToUtf8(s.replace).c_str());
    std::printf("LineMode=%s\nBinaryMode=%s\nSearchAndReplace=%s\nNoDuplicates=%s\n", b(s.LineMode),
                b(s.BinaryMode), b(s.SearchAndReplace), b(s.NoDuplicates));
    std::printf("WriteStats=%s\nWriteBom=%s\nCaseSensitive=%s\nDotall=%s\nMultiline=%s\n",
                b(s.WriteStats), b(s.WriteBom), b(s.CaseSensitive), b(s.Dotall), b(s.Multiline));
    std::printf("UnicodeProperties=%s\nEmptyValid=%s\n", b(s.UnicodeProperties), b(s.EmptyValid));
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
        return "could not create the output file " + output.string();
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

int RunPack(const CommandLine& line, const HostConfig& baseConfig, const fs::path& pluginPath) {
    if (line.operands.size() < 2) return Fail("pack needs OUTPUT and at least one FILE", 2);
    std::string error;
    std::vector<fs::path> files;
    if (!CollectFiles({line.operands.begin() + 1, line.operands.end()}, files, error))
        return Fail(error, 2);
    const fs::path archive = fs::absolute(line.operands.front()).lexically_normal();

    // Options of this run go into a private copy of the settings, so the stored ones stay.
    HostConfig config = baseConfig;
    fs::path temporary;
    const bool overridden = line.preset || !line.edits.empty();
    if (overridden) {
        if (!CopyConfig(baseConfig.dir, temporary, error) ||
            !PrepareConfig(temporary, config, error))
            return Fail(error, 1);
    }
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ec;
            if (!dir.empty()) fs::remove_all(dir, ec);
        }
    } cleanup{temporary};

    Settings settings;
    if (!EditSettings(config, pluginPath.parent_path(), line.preset, line.edits, overridden,
                      settings, nullptr, error))
        return Fail(error, 1);

    SetEnvironment("COMMANDER_INI", config.hostIni);
    PluginExports plugin;
    if (!LoadPlugin(pluginPath.string(), plugin, error)) return Fail(error, 1);

    wcx::PackDefaultParamStruct params{};
    params.size = sizeof params;
    params.PluginInterfaceVersionLow = 22;
    params.PluginInterfaceVersionHi = 2;
    CopyBounded(config.pluginIni.string(), params.DefaultIniName, sizeof params.DefaultIniName);
    plugin.PackSetDefaultParams(&params);
    if (plugin.ExtensionInitialize) {
        std::vector<unsigned char> info(wcx::kDcStructSize, 0);
        const uint32_t size = static_cast<uint32_t>(info.size());
        std::memcpy(info.data() + wcx::kDcStructSizeOffset, &size, sizeof size);
        const std::string pluginDir = pluginPath.parent_path().string() + "/";
        const std::string confDir = config.dir.string() + "/";
        CopyBounded(pluginDir, reinterpret_cast<char*>(info.data() + wcx::kDcPluginDirOffset),
                    wcx::kDcPathSize);
        CopyBounded(confDir, reinterpret_cast<char*>(info.data() + wcx::kDcPluginConfDirOffset),
                    wcx::kDcPathSize);
        wcx::DcMessageBoxProc box = HostMessageBox;
        std::memcpy(info.data() + wcx::kDcMessageBoxOffset, &box, sizeof box);
        plugin.ExtensionInitialize(info.data());
    }
    plugin.SetProcessDataProcW(nullptr, ProgressCallback);

    std::u16string source, addList;
    BuildAddList(files, source, addList);
    std::u16string archiveText = archive.u16string();
    InstallInterruptHandler();
    const int code =
        plugin.PackFilesW(archiveText.data(), nullptr, source.data(), addList.data(), 0);
    EndProgressLine();
    UnloadPlugin(plugin);

    const fs::path output =
        fs::path(OutputNameFor(archiveText, settings.OutfileExtension, source, addList.c_str()));
    const std::string message = ResultMessage(code, output);
    if (code == 0) {
        if (!line.quiet) std::printf("%s\n", message.c_str());
        return 0;
    }
    return Fail(message, code);
}

} // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) return Fail(error, 2);
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
        return Fail(error, 1);

    if (line.command == "pack") return RunPack(line, config, pluginPath);
    if (!line.operands.empty())
        return Fail("unexpected argument '" + line.operands.front() + "'", 2);

    Settings settings;
    PresetStore presets;
    const bool save = line.command == "set";
    if (!save && (!line.edits.empty() || line.preset) && line.command != "show")
        return Fail(line.command + " takes no search options", 2);
    if (!EditSettings(config, pluginPath.parent_path(), line.preset, line.edits, save, settings,
                      &presets, error))
        return Fail(error, 1);
    if (line.command == "presets") {
        for (const auto& [name, preset] : presets)
            std::printf("%s\t%s\n", ToUtf8(name).c_str(), ToUtf8(preset.regex).c_str());
        return 0;
    }
    PrintSettings(settings);
    return 0;
}
