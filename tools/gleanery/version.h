// What `gleanery --version` prints: this program's version and the plug-in's, the plug-in library
// it loads, and the expression library's version and whether its JIT compiler is there.
#pragma once

#include <string>

namespace gleanery::cli {

std::string VersionText(const std::string& pluginPath);

} // namespace gleanery::cli
