// The expression compiled for the three shapes of input: code page, UTF-8 and UTF-16.
#pragma once

#include <cstdint>
#include <string>

#include "engine/pcre_api.h"
#include "settings/settings.h"

namespace gleanery {

inline constexpr uint32_t kNewlineMask = 0x700000;
inline constexpr uint32_t kNoUtfCheck = 0x2000;

struct CompiledExpression {
    PcreCode AnsiCode;
    PcreCode Utf8Code;
    Pcre16Code Utf16Code;
    PcreExtra AnsiExtra;
    PcreExtra Utf8Extra;
    Pcre16Extra Utf16Extra;
    int32_t CaptureCount = 0;
    uint32_t NewlineMode = 0;
    uint32_t Utf8ExecOptions = 0;
    uint32_t Utf16ExecOptions = 0;
    bool CrlfIsNewline = true;
    std::u16string ErrorText;
};

// Compiles `settings.regex` in its three forms. Returns the PCRE error offset when a compile
// step failed, else 0; success is told by `ErrorText` being empty. `settings.CodePage` must be a
// concrete code page number.
int32_t CompileExpression(const Settings& settings, CompiledExpression& compiled);
// Releases the compiled forms and their study data (all null again); the numbers, option words
// and `ErrorText` are left as they are.
void ReleaseCompiledExpression(CompiledExpression& compiled);

// Searches run on the host's thread, whose stack may be as small as 1 MiB. Every compiled form
// carries study data with a recursion limit that keeps the library's matching recursion within
// this many bytes of stack; a search that needs more ends with PCRE_ERROR_RECURSIONLIMIT.
inline constexpr unsigned long kSearchStackBudget = 512 * 1024;
// The recursion limit for the 8-bit (wide = false) or the 16-bit library.
unsigned long SearchRecursionLimit(bool wide);

} // namespace gleanery
