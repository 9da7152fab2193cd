// The names of the settings dialog's controls in its Lazarus form (the form that Double Commander
// shows for the plug-in): one table, read by the build-time form generator and by the control
// layer that addresses the controls by name at run time.
#pragma once

#include <string_view>

namespace gleanery::dialog {

// The form name of control `id`; empty for an unknown ID.
std::string_view FormNameOf(int id);
// The control ID that carries `name`; 0 for an unknown name.
int ControlIdOfFormName(std::string_view name);

} // namespace gleanery::dialog
