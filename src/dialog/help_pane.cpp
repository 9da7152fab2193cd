// The help pane: widening the dialog to show the expression or replacement syntax help arrives
// with the pane itself (the dialog measures the help width at initialisation).
#include "dialog/panels.h"

namespace gleanery::dialog {

void HelpPaneCommand(DialogState&, int) {}

} // namespace gleanery::dialog
