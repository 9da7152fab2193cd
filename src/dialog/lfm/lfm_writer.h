// Writes the settings dialog as a Lazarus form (LFM text) for Double Commander's dialog API, from
// the same control table as the Win32 template: every control becomes its LCL counterpart with
// the template's caption, tab order and geometry scaled for GTK's larger default fonts.
#pragma once

#include <string>

namespace gleanery::dialog {

std::string SettingsFormLfm();

} // namespace gleanery::dialog
