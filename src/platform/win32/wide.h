// The bridge between the platform layer's UTF-16 strings and the Win32 wide-character API, and a
// small lock for process-wide handler slots (the mingw win32 thread model has no std::mutex).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace gleanery::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

} // namespace gleanery::platform::win32
