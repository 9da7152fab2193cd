// The temporary-directory helper now lives in support/temp_dir.h; this name stays only for the
// test files that still include it.
#pragma once

#include "support/temp_dir.h"
