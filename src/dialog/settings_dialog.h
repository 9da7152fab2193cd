// The settings dialog, run modally from the host's configuration command.
#pragma once

#include <cstdint>

namespace gleanery {

// Runs the dialog with `parent` as owner; returns the identifier of the closing button, or 0 or
// less when the dialog cannot be created.
intptr_t ShowSettingsDialog(void* parent, void* instance);

} // namespace gleanery
