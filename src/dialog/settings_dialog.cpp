#include "dialog/settings_dialog.h"

namespace gleanery {

// The dialog window exists only where the system has dialog resources; elsewhere the host is
// told that it cannot be created.
intptr_t ShowSettingsDialog(void*, void*) {
    return 0;
}

} // namespace gleanery
