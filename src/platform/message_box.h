// Message boxes with Win32 flag and answer values on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace gleanery::platform {

inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr uint32_t kMbSystemModal = 0x1000;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Answers a message box in place of the system: returns one of the kId* values.
using MessageBoxHandler = int (*)(void* context, const std::u16string& text,
                                  const std::u16string& title, uint32_t flags);
void SetMessageBoxHandler(MessageBoxHandler handler, void* context);

// Shows a message box (no owner window) and returns the answer. With a handler installed the
// handler answers; otherwise the system does (Windows), the terminal does when there is one, and
// else the default button is taken.
int ShowMessageBox(const std::u16string& text, const std::u16string& title, uint32_t flags);

// A warning that asks Yes or No, with No as the default: true only for Yes.
bool AskYesNo(const std::u16string& text, const std::u16string& title);
// The button that a box with these flags answers by default.
int DefaultAnswer(uint32_t flags);

} // namespace gleanery::platform
