// What the portable message box and clipboard services (platform/message_box.cpp,
// platform/clipboard.cpp) ask of each system's own implementation once no handler took the
// request. Nothing outside the platform layer calls these.
#pragma once

#include <cstdint>
#include <string>

namespace gleanery::platform::os {

// Shows the system's message box (or asks on the terminal) and returns the answer.
int ShowSystemMessageBox(const std::u16string& text, const std::u16string& title, uint32_t flags);
// Puts `bytes` on the system clipboard in `format`; false when it refuses them.
bool SetSystemClipboard(uint32_t format, const std::string& bytes);

} // namespace gleanery::platform::os
