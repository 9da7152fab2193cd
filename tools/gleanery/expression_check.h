// The search settings checked before anything is packed or stored: the expression is compiled
// with the plug-in's own compile step, so that the host refuses exactly what the plug-in cannot
// search with.
#pragma once

#include <string>

#include "settings/settings.h"

namespace gleanery::cli {

// False when the expression does not compile; `error` then holds the library's message and the
// expression with a caret under the offending character. `warning` receives a note on template
// references to groups the expression lacks (they write nothing), or stays empty.
bool CheckSearch(const Settings& settings, std::string& error, std::string& warning);

} // namespace gleanery::cli
