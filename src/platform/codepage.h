// Code page conversions: Windows code page numbers on every platform. 65001 is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gleanery::platform {

inline constexpr uint32_t kUtf8CodePage = 65001;

// Wide text to bytes in `codePage`, appended to `out`. Characters the code page lacks become
// `defaultChar` when it is 1 or more as a signed byte, else the system's default character.
// UTF-8 takes no default character. Empty input appends nothing. False when the code page is
// unknown to the system (nothing appended).
bool AppendWideAsCodePage(uint32_t codePage, std::u16string_view in, int8_t defaultChar,
                          std::string& out);
// Bytes in `codePage` (or UTF-8) to wide text, appended to `out`. Invalid sequences become
// U+FFFD as the system converter does. False when the code page is unknown.
bool AppendCodePageAsWide(uint32_t codePage, std::string_view in, std::u16string& out);

// Convenience forms.
std::string WideToUtf8(std::u16string_view in);
std::u16string Utf8ToWide(std::string_view in);

// True when `byte` starts a double-byte character in `codePage` (IsDBCSLeadByteEx).
bool IsLeadByte(uint32_t codePage, uint8_t byte);

// The system's ANSI and OEM code pages (GetACP / GetOEMCP).
uint32_t SystemAnsiCodePage();
uint32_t SystemOemCodePage();

} // namespace gleanery::platform
