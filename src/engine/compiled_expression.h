// The expression compiled for the three shapes of input: code page, UTF-8 and UTF-16.
#pragma once

#include <cstdint>
#include <string>

#include "engine/pcre_api.h"
#include "platform/system_facts.h"
#include "settings/settings.h"

namespace gleanery {

inline constexpr uint32_t kNewlineMask = PCRE_NEWLINE_CR | PCRE_NEWLINE_LF | PCRE_NEWLINE_ANY;
inline constexpr uint32_t kNoUtfCheck = PCRE_NO_UTF8_CHECK;

// The JIT's own stacks, one per library width, reserved on the first search that needs one and
// kept for every later search of the same compiled expression (one job, or one test panel
// compile). Searches that recurse once per character, such as `(a|b)+`, need about 48 bytes of
// JIT stack per character matched: 1 GiB lets such a match run over a 20 MiB text, four times the
// largest file that is read whole by default. The size is only reserved address space; memory is
// committed as a search actually grows the stack. 32-bit processes reserve less, as their
// address space is shared with the read memory (up to 500 MiB).
inline constexpr int kJitStackStart = 32 * 1024;
inline constexpr int kJitStackMax = sizeof(void*) >= 8 ? 1024 * 1024 * 1024 : 192 * 1024 * 1024;
struct JitStacks {
    PcreJitStack Narrow;
    Pcre16JitStack Wide;
    int Max = kJitStackMax;
};

// A JIT stack serves one search at a time, so every worker of a parallel job searches on stacks
// of its own: while a thread has named its stacks here, the library's stack callbacks hand out
// those instead of the compiled expression's (null gives them back). The compiled code itself is
// only read and is shared.
void UseThreadJitStacks(JitStacks* stacks);
// The most a worker's stack may grow to. 64-bit processes reserve 1 GiB each, as on the host's
// thread. A 32-bit process shares 2 GiB of address space with the read memory: each of N workers
// reserves kJitStackMax / N per width (at least 4 MiB), so N workers reserve about what one
// search reserves (2 x 192 MiB), and 64 of them at most 2 x 256 MiB.
int WorkerJitStackMax(unsigned workers);

// Characters every match starts with, in one form's units.
template <typename CharT>
struct LiteralStart {
    std::basic_string<CharT> Text;
    // Which of them a scan looks for: the one least likely in ordinary text, and with it the
    // least likely of the others (the same one when the literal is one character long).
    uint32_t Probe = 0;
    uint32_t Partner = 0;
    // ASCII letters stand for both their cases (a caseless search, where the form's case rules
    // give them no partner beyond ASCII).
    bool Caseless = false;
};

struct CompiledExpression {
    PcreCode AnsiCode;
    PcreCode Utf8Code;
    Pcre16Code Utf16Code;
    PcreExtra AnsiExtra;
    PcreExtra Utf8Extra;
    Pcre16Extra Utf16Extra;
    // Where the address is taken by the library's stack callback: kept stable across moves.
    std::unique_ptr<JitStacks> Stacks;
    int32_t CaptureCount = 0;
    uint32_t NewlineMode = 0;
    // Options of every search. The newline convention is fixed when the expression is compiled
    // and is never given again here: any option beyond the few the JIT knows would send every
    // search back to the interpreter.
    uint32_t AnsiExecOptions = 0;
    uint32_t Utf8ExecOptions = 0;
    uint32_t Utf16ExecOptions = 0;
    bool CrlfIsNewline = true;
    // A long search may be cut into slices of start positions (see the match loop): true unless
    // the expression tries only the start position (anchored), matches at it (\G), or can end a
    // whole search early ((*COMMIT)), where a slice would not see what the whole search sees.
    bool Sliceable = false;
    // Every match lies within one line (see IsLineConfined), and, per form, the ASCII character
    // that every match holds (the library's required character), else -1: a search may then go
    // only to the lines that hold it.
    bool LineConfined = false;
    int32_t AnsiRequired = -1;
    int32_t Utf8Required = -1;
    int32_t Utf16Required = -1;
    // Per form, an ASCII character that every match holds (the library's first or required
    // character, in either ASCII case for a letter), else -1: a short text without it holds no
    // match.
    int32_t AnsiHeld = -1;
    int32_t Utf8Held = -1;
    int32_t Utf16Held = -1;
    // The expression is compiled case-sensitive and cannot turn caselessness on inside: the held
    // character, and the required one of a search line by line, stand only for themselves.
    bool HeldInOneCase = false;
    // Per form, the printable ASCII characters every match starts with (see LeadingLiteral), when
    // the library agrees on the first of them and the form is searched unanchored; else empty. A
    // search then starts the library only where they stand.
    LiteralStart<char> AnsiLiteral;
    LiteralStart<char> Utf8Literal;
    LiteralStart<char16_t> Utf16Literal;
    std::u16string ErrorText;
    // For an expression that holds \G and cannot be sliced for that reason alone: the same
    // expression with every \G failing, which can be. A search tries the start position with the
    // expression itself (the only position where \G holds) and the positions after it with this
    // one, in slices, so the host can cancel a long search (see the match finder).
    std::unique_ptr<CompiledExpression> StartFree;
};

// Compiles `settings.regex` in its three forms. Returns the PCRE error offset when a compile
// step failed, else 0; success is told by `ErrorText` being empty. `settings.CodePage` must be a
// concrete code page number; the code-page form takes the system's character tables when it is
// the system's ANSI or OEM code page.
int32_t CompileExpression(const Settings& settings, const platform::SystemFacts& system,
                          CompiledExpression& compiled);
// Releases the compiled forms and their study data (all null again); the numbers, option words
// and `ErrorText` are left as they are.
void ReleaseCompiledExpression(CompiledExpression& compiled);

// The library's two widths: 8-bit units (the code-page and UTF-8 forms) and 16-bit units (the
// UTF-16 form).
enum class LibraryWidth { Bytes, Units };

// True when the form of that width was compiled by the JIT (for bytes: the UTF-8 form; the
// code-page form is compiled the same way).
bool UsesJit(const CompiledExpression& compiled, LibraryWidth width);

// Searches run on the host's thread, whose stack may be as small as 1 MiB. Every compiled form
// carries study data with a recursion limit that keeps the interpreter's matching recursion
// within this many bytes of stack; a search that needs more ends with PCRE_ERROR_RECURSIONLIMIT.
// The JIT keeps its backtracking on the heap stacks above, so the limit does not apply there.
inline constexpr unsigned long kSearchStackBudget = 512 * 1024;
// The recursion limit of the library of that width.
unsigned long SearchRecursionLimit(LibraryWidth width);

} // namespace gleanery
