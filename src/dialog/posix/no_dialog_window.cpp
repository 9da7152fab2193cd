// Without the Windows dialog manager there is no dialog window to show: the host is told that the
// dialog cannot be created. The dialog's behaviour itself runs headless in the tests.
#include "dialog/settings_dialog.h"

namespace gleanery {

intptr_t ShowSettingsDialog(void*, void*) {
    return 0;
}

} // namespace gleanery
