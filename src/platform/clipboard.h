// The system clipboard.
#pragma once

#include <cstdint>
#include <string>

namespace gleanery::platform {

inline constexpr uint32_t kCfText = 1;         // CF_TEXT: bytes, zero-terminated
inline constexpr uint32_t kCfUnicodeText = 13; // CF_UNICODETEXT: UTF-16LE, zero-terminated

// Receives clipboard contents in place of the system clipboard; returns whether it took them.
using ClipboardHandler = bool (*)(void* context, uint32_t format, const std::string& bytes);
void SetClipboardHandler(ClipboardHandler handler, void* context);

// Empties the clipboard and puts `bytes` (including the terminating zero the format needs) on it
// in `format`. False when the clipboard cannot be opened or refuses the data.
bool SetClipboard(uint32_t format, const std::string& bytes);

} // namespace gleanery::platform
