// The search settings checked before anything is packed or stored: the expression is compiled
// with the plug-in's own compile step, so that the host refuses exactly what the plug-in cannot
// search with at all, and warns of the files it cannot search with it.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

namespace gleanery::cli {

// False when no file could be searched with the expression (its UTF-8 form does not compile, or
// in binary mode its code-page form); `error` then holds the library's message and the expression
// with a caret under the offending character. When only the form of some files (code-page text,
// UTF-16) does not compile, those files will not be searched: `warnings` receives which files and
// why. It also receives a note on template references to groups the expression lacks (they write
// nothing).
bool CheckSearch(const Settings& settings, std::string& error, std::vector<std::string>& warnings);

} // namespace gleanery::cli
