// The command line of the host: commands, host options and the search options that set the
// plug-in's settings for one run (pack) or for good (set).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "terminal.h"

namespace gleanery::cli {

struct CommandLine {
    std::string command; // pack, set, show, presets, help, version
    std::string pluginPath;
    std::string configDir;
    AnswerPolicy answers = AnswerPolicy::Ask;
    bool quiet = false;
    bool follow = false; // links met while walking directories are followed
    std::optional<std::string> preset;
    std::vector<std::function<void(Settings&)>> edits; // search options, in the order given
    std::vector<std::string> operands;                 // OUTPUT FILE... for pack
};

// Parses argv; on a bad option or value returns false with a message in `error`.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error);
std::string UsageText();

} // namespace gleanery::cli
