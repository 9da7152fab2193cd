// The settings dialog's Lazarus form, generated at build time from the control table
// (dialog/lfm/lfm_writer.h).
#pragma once

#include <string_view>

namespace gleanery::dialog {

std::string_view SettingsForm();

} // namespace gleanery::dialog
