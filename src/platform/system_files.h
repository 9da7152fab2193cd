// What the portable part of the file services (platform/files.cpp) asks of each system's own
// implementation (posix/files.cpp, win32/files.cpp): closing a handle and reading a file's
// identity and size. Nothing outside the platform layer calls these.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace gleanery::platform::os {

// Closes a handle that an open returned.
void CloseHandle(intptr_t handle);
// The identity of the open file behind `handle`, asked of the system now; false when it cannot
// tell (then `identity` is left as it was).
bool AskIdentity(intptr_t handle, FileIdentity& identity);
// The size of the open file behind `handle`, asked of the system now; -1 when it cannot tell.
int64_t AskSize(intptr_t handle);

} // namespace gleanery::platform::os
