// PCRE character tables for an 8-bit code page, in the layout pcre_maketables produces.
#pragma once

#include <cstdint>

namespace gleanery::platform {

// Builds tables for the system's OEM (oem = true) or ANSI code page, as pcre_maketables does
// under the C runtime's ".OCP" / ".ACP" character-type locale. The result is allocated with
// pcre_malloc and released with pcre_free; null on failure.
const unsigned char* MakeCharTables(bool oem);
// The same for a given code page (null when the code page is unknown).
const unsigned char* MakeCharTablesFor(uint32_t codePage);

} // namespace gleanery::platform
