// PCRE character tables for the system's OEM or ANSI code page: pcre_maketables classifies the
// bytes through the C runtime, so it runs under the runtime's ".OCP" or ".ACP" character-type
// locale. The locale is left at ".ACP", which is where the plug-in keeps it.
#include "platform/char_tables.h"

#include <pcre.h>

#include <clocale>

namespace gleanery::platform {

const unsigned char* MakeCharTables(bool oem) {
    const unsigned char* tables = nullptr;
    if (std::setlocale(LC_CTYPE, oem ? ".OCP" : ".ACP") != nullptr) tables = pcre_maketables();
    std::setlocale(LC_CTYPE, ".ACP");
    return tables;
}

} // namespace gleanery::platform
