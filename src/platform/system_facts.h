// Facts about the system the plug-in runs on, found once when the library is attached: the
// searches and the settings need them, but never the host interface that holds them.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace gleanery::platform {

// UTF-16 text in the other byte order is swapped before it is searched.
inline constexpr bool kHostIsBigEndian = std::endian::native == std::endian::big;

struct SystemFacts {
    // The system's ANSI and OEM code pages, which the settings' code page 0 and 1 stand for.
    uint32_t AnsiCodePage = 1252;
    uint32_t OemCodePage = 437;
    // The library's character tables for those two code pages (case, classes); owned by the
    // process state, null until made.
    const unsigned char* OemTables = nullptr;
    const unsigned char* AnsiTables = nullptr;
    // The code pages this system can convert, offered in the dialog and accepted from the file.
    std::vector<uint32_t> UsableCodePages;
};

} // namespace gleanery::platform
