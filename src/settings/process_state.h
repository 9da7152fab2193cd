// The process state is the host's: see host/process_state.h. This header only forwards to it
// until the last includes of the old place are changed, and then goes.
#pragma once

#include "host/process_state.h"
