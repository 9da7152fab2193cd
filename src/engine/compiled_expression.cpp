#include "engine/compiled_expression.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/expression_reading.h"
#include "engine/line_confinement.h"
#include "engine/text_pieces.h"
#include "platform/codepage.h"
#include "platform/unicode.h"

namespace gleanery {

namespace {

constexpr int kUtfCompileOptions = PCRE_UTF8 | PCRE_NO_UTF8_CHECK | PCRE_NEWLINE_ANYCRLF;
constexpr int kCodePageCompileOptions = PCRE_NEWLINE_ANYCRLF | PCRE_BSR_ANYCRLF;
// The JIT code for ordinary searches, and the one for searches of a bounded slice of the text
// that must tell when they reached the slice's end (see the match loop).
constexpr int kJitStudyOptions = PCRE_STUDY_JIT_COMPILE | PCRE_STUDY_JIT_PARTIAL_HARD_COMPILE;

// Frame size used when the library cannot tell its own; larger than any build we know of.
constexpr long kFallbackFrameBytes = 1000;

std::u16string Widen(uint32_t codePage, const char* message) {
    std::u16string wide;
    if (message == nullptr || *message == '\0') return wide;
    if (!platform::AppendCodePageAsWide(codePage, message, wide)) {
        wide.clear();
        for (const char* p = message; *p; ++p) wide.push_back(static_cast<unsigned char>(*p));
    }
    return wide;
}

using platform::Decimal;

bool HasUnpairedSurrogate(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (platform::IsSurrogatePairAt(text, i)) {
            ++i;
            continue;
        }
        if (platform::IsSurrogate(u)) return true;
    }
    return false;
}

long FrameBytes(int probe) {
    // The library reports the stack used by one level of its matching recursion as the negative
    // result of a call with these arguments.
    long frame = -static_cast<long>(probe);
    return frame >= 64 && frame <= 100000 ? frame : kFallbackFrameBytes;
}

thread_local JitStacks* t_threadStacks = nullptr;

JitStacks* StacksFor(void* data) {
    return t_threadStacks != nullptr ? t_threadStacks : static_cast<JitStacks*>(data);
}

pcre_jit_stack* NarrowStack(void* data) {
    JitStacks* stacks = StacksFor(data);
    if (!stacks->Narrow) stacks->Narrow.reset(pcre_jit_stack_alloc(kJitStackStart, stacks->Max));
    // Null leaves the JIT its small built-in stack: deep searches then end at its limit, which is
    // reported like every other limit.
    return stacks->Narrow.get();
}

pcre16_jit_stack* WideStack(void* data) {
    JitStacks* stacks = StacksFor(data);
    if (!stacks->Wide) stacks->Wide.reset(pcre16_jit_stack_alloc(kJitStackStart, stacks->Max));
    return stacks->Wide.get();
}

// The form's first (or required) character when the library knows one and it is ASCII, else -1.
template <typename Code, typename Extra, typename Info>
int32_t AsciiCharacter(const Code& code, const Extra& extra, Info info, int flagsWhat,
                       int characterWhat) {
    if (!code) return -1;
    int set = 0;
    uint32_t character = 0;
    if (info(code.get(), extra.get(), flagsWhat, &set) != 0 || set != 1 ||
        info(code.get(), extra.get(), characterWhat, &character) != 0 || character >= 0x80)
        return -1;
    return static_cast<int32_t>(character);
}

template <typename Code, typename Extra, typename Info>
int32_t AsciiRequired(const Code& code, const Extra& extra, Info info) {
    return AsciiCharacter(code, extra, info, PCRE_INFO_REQUIREDCHARFLAGS, PCRE_INFO_REQUIREDCHAR);
}

template <typename Code, typename Extra, typename Info>
int32_t AsciiFirst(const Code& code, const Extra& extra, Info info) {
    return AsciiCharacter(code, extra, info, PCRE_INFO_FIRSTCHARACTERFLAGS,
                          PCRE_INFO_FIRSTCHARACTER);
}

// Of two characters every match holds, the one less likely in ordinary text.
int32_t Rarer(int32_t a, int32_t b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return Rarity(static_cast<char16_t>(b)) > Rarity(static_cast<char16_t>(a)) ? b : a;
}

// False when a code page's character tables give an ASCII letter a case partner beyond ASCII
// (a dotted capital I for "i", say): a scan for the letter's two ASCII cases would then pass
// over text a caseless search matches. The library's own tables know only ASCII.
bool CasePartnersAreAscii(const unsigned char* tables, int32_t c) {
    if (tables == nullptr || c < 0) return true;
    const int lower = c | 0x20;
    if (lower < 'a' || lower > 'z') return true;
    const unsigned char* lowerCase = tables;         // the library's lcc table
    const unsigned char* flippedCase = tables + 256; // its fcc table
    for (int b = 0x80; b < 0x100; ++b)
        if (lowerCase[b] == lower || (flippedCase[b] | 0x20) == lower) return false;
    return true;
}

// In UTF text, k and s have case partners beyond ASCII (the Kelvin sign, the long s) that a scan
// for the ASCII pair would pass over.
int32_t WithoutUnicodePartners(int32_t c) {
    const int32_t lower = c | 0x20;
    return lower == 'k' || lower == 's' ? -1 : c;
}

// The expression as the library reads it: its compile takes a zero-terminated text, so a zero
// character (possible in a settings file or on a command line) ends it there. What we learn of
// the expression ourselves must come from the same text, or a character after the zero would be
// taken for one every match holds.
std::u16string_view PatternSeen(const Settings& settings) {
    const std::u16string_view regex = settings.regex;
    return regex.substr(0, regex.find(u'\0'));
}

// Whether the code-page form reads as the expression does, ASCII for ASCII (the bytes beyond ASCII
// are never syntax). A character the code page lacks becomes the default character, which may be
// syntax (a question mark, a backslash), and a double-byte code page's trail bytes may be ASCII:
// what we learn from the expression's text then says nothing of that form.
bool CodePageFormIsFaithful(std::u16string_view pattern, std::string_view form) {
    form = form.substr(0, form.find('\0'));
    if (form.size() != pattern.size()) return false;
    for (size_t i = 0; i < form.size(); ++i) {
        const auto b = static_cast<unsigned char>(form[i]);
        if ((b < 0x80 || pattern[i] < 0x80) && b != pattern[i]) return false;
    }
    return true;
}

// Whether the expression or its code-page form holds `ascii` (the code-page form may hold what the
// expression does not: see CodePageFormIsFaithful).
bool EitherFormHolds(std::u16string_view pattern, std::string_view form, std::string_view ascii) {
    const auto same = [](char16_t a, char b) { return a == static_cast<unsigned char>(b); };
    return std::search(pattern.begin(), pattern.end(), ascii.begin(), ascii.end(), same) !=
               pattern.end() ||
           form.find(ascii) != std::string_view::npos;
}

// Constructs that the library's JIT (PCRE 8.39) matches otherwise than its interpreter:
// `a+(*PRUNE)b|a` finds "a" in "aa" under the JIT and nothing under the interpreter, which is
// right. An expression that holds one is studied without the JIT, so that what a search finds
// never depends on the engine. The test is on the text of either form, so it errs on the side of
// the interpreter (a "(*PRUNE" inside \Q...\E counts too).
bool JitMatchesOtherwise(std::u16string_view pattern, std::string_view codePageForm) {
    static constexpr std::string_view kConstructs[] = {"(*PRUNE"};
    for (std::string_view construct : kConstructs)
        if (EitherFormHolds(pattern, codePageForm, construct)) return true;
    return false;
}

// Whether a search of the compiled form may find a match that starts at an LF right after a CR,
// where the library's interpreter and its JIT disagree. Where the newline convention takes CR LF
// for one line break, the interpreter never starts a match between the two (unless the expression
// names CR or LF itself); the JIT, when it skips ahead by the characters a match can start with,
// does: `\sa` finds "\na" in "\r\na" under the JIT and nothing under the interpreter. Only the
// library's own facts decide: the newline convention, anchoring, a known first character, and the
// characters a match can start with (from a study without the JIT).
template <typename Code, typename Info, typename Study, typename FreeStudy>
bool MayStartInsideCrLf(const Code& code, Info info, Study study, FreeStudy freeStudy) {
    if (!code) return false;
    unsigned long options = 0;
    int hasCrOrLf = 0;
    int firstFlags = 0;
    info(code.get(), nullptr, PCRE_INFO_OPTIONS, &options);
    info(code.get(), nullptr, PCRE_INFO_HASCRORLF, &hasCrOrLf);
    info(code.get(), nullptr, PCRE_INFO_FIRSTCHARACTERFLAGS, &firstFlags);
    const unsigned long newline = options & kNewlineMask;
    if ((newline != PCRE_NEWLINE_CRLF && newline != PCRE_NEWLINE_ANY &&
         newline != PCRE_NEWLINE_ANYCRLF) ||
        (options & PCRE_ANCHORED) != 0 || hasCrOrLf != 0 || firstFlags != 0)
        return false;
    const char* message = nullptr;
    auto* extra = study(code.get(), 0, &message);
    const unsigned char* starts = nullptr;
    info(code.get(), extra, PCRE_INFO_FIRSTTABLE, &starts);
    const bool lf = starts == nullptr || (starts['\n' / 8] & (1 << ('\n' % 8))) != 0;
    if (extra != nullptr) freeStudy(extra);
    return lf;
}

// The library's study takes the shortest match of an expression with (*ACCEPT) in a group for
// longer than it is (`a(?:(*ACCEPT))?b` is given 2), and searches given that study pass over the
// shorter matches ("a"): such an expression is not studied at all (so neither is it JIT-compiled).
bool StudyMisleads(std::u16string_view pattern, std::string_view codePageForm) {
    return EitherFormHolds(pattern, codePageForm, "(*ACCEPT");
}

// Backtracking verbs and callouts: what they find depends on the library's start-of-match
// shortcuts (a (*COMMIT) after the first character is reached only where the scan for it stops).
bool HoldsVerbs(std::u16string_view pattern, std::string_view codePageForm) {
    return EitherFormHolds(pattern, codePageForm, "(*") ||
           EitherFormHolds(pattern, codePageForm, "(?C");
}

// A lookahead's characters may be taken by the library for a character every match holds beyond
// its first, where they are the first: `(?=(?:)a)a` finds nothing in "a" with the library's
// start-of-match shortcuts, and "a" without them, which is also what a search in its partial mode
// finds (it skips that test). Such expressions are compiled without the shortcuts, unless verbs
// make those part of the result; they are then searched whole, never in slices.
bool HoldsLookahead(std::u16string_view pattern, std::string_view codePageForm) {
    return EitherFormHolds(pattern, codePageForm, "(?=");
}

// Per form, an ASCII character every match holds, so that a short text without it is passed over
// without a library call (see the match loop).
void FindHeldCharacters(const Settings& settings, const unsigned char* tables,
                        std::u16string_view pattern, std::string_view codePageForm,
                        CompiledExpression& compiled) {
    compiled.Utf8Held = WithoutUnicodePartners(
        Rarer(AsciiFirst(compiled.Utf8Code, compiled.Utf8Extra, pcre_fullinfo),
              AsciiRequired(compiled.Utf8Code, compiled.Utf8Extra, pcre_fullinfo)));
    compiled.Utf16Held = WithoutUnicodePartners(
        Rarer(AsciiFirst(compiled.Utf16Code, compiled.Utf16Extra, pcre16_fullinfo),
              AsciiRequired(compiled.Utf16Code, compiled.Utf16Extra, pcre16_fullinfo)));
    // Caselessness can only come from the settings or from an option setting inside "(?...)".
    compiled.HeldInOneCase =
        settings.CaseSensitive && !EitherFormHolds(pattern, codePageForm, "(?");
    compiled.AnsiHeld = -1;
    if (AsciiIsIdentity(static_cast<uint32_t>(settings.CodePage))) {
        const int32_t held =
            Rarer(AsciiFirst(compiled.AnsiCode, compiled.AnsiExtra, pcre_fullinfo),
                  AsciiRequired(compiled.AnsiCode, compiled.AnsiExtra, pcre_fullinfo));
        if (CasePartnersAreAscii(tables, held)) compiled.AnsiHeld = held;
    }
}

// Whether the search may go from line to line, and with which required characters.
void FindLineConfinement(const Settings& settings, const unsigned char* tables,
                         std::u16string_view pattern, bool faithful, CompiledExpression& compiled) {
    int minimum = -1;
    pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_MINLENGTH, &minimum);
    // An expression that can match the empty string could match right after a line's break,
    // which is where the next line's search starts too.
    compiled.LineConfined = !settings.Dotall && minimum >= 1 && IsLineConfined(pattern);
    // An expression that starts with a known character is found fastest by the library's own
    // scan for that character; the line search pays off for those that start with a class.
    int firstFlags = 0;
    pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_FIRSTCHARACTERFLAGS,
                  &firstFlags);
    if (!compiled.LineConfined || firstFlags != 0) return;
    compiled.Utf8Required = AsciiRequired(compiled.Utf8Code, compiled.Utf8Extra, pcre_fullinfo);
    compiled.Utf16Required =
        AsciiRequired(compiled.Utf16Code, compiled.Utf16Extra, pcre16_fullinfo);
    // The library names the last literal every match holds; one of the expression's own may be
    // rarer in the text (an "@" rather than a "."), and the rarer one leaves fewer lines to search.
    const int mandatory = RarestMandatoryCharacter(pattern);
    auto preferRarer = [mandatory](int32_t& required) {
        if (mandatory >= 0 && (required < 0 || Rarity(static_cast<char16_t>(mandatory)) >
                                                   Rarity(static_cast<char16_t>(required))))
            required = mandatory;
    };
    preferRarer(compiled.Utf8Required);
    preferRarer(compiled.Utf16Required);
    if (!compiled.Utf16Code) compiled.Utf16Required = -1;
    // In UTF text, k and s have case partners beyond ASCII (the Kelvin sign, the long s) that a
    // scan for the ASCII pair would pass over.
    for (int32_t* required : {&compiled.Utf8Required, &compiled.Utf16Required})
        *required = WithoutUnicodePartners(*required);
    // Code pages whose ASCII range is not ASCII (EBCDIC) keep their own line-break bytes.
    if (AsciiIsIdentity(static_cast<uint32_t>(settings.CodePage)) && faithful) {
        compiled.AnsiRequired = AsciiRequired(compiled.AnsiCode, compiled.AnsiExtra, pcre_fullinfo);
        if (compiled.AnsiCode) preferRarer(compiled.AnsiRequired);
        if (!CasePartnersAreAscii(tables, compiled.AnsiRequired)) compiled.AnsiRequired = -1;
    }
}

// The leading part of `literal` whose characters all `keep`.
template <typename Keep>
std::u16string LeadingPart(const std::u16string& literal, Keep keep) {
    size_t n = 0;
    while (n < literal.size() && keep(literal[n])) ++n;
    return literal.substr(0, n);
}

// A form's literal start: `literal` in its units, when the library's own first character of the
// form agrees with it and the form is not anchored (an anchored form tries one position only).
template <typename CharT, typename Code, typename Extra, typename Info>
LiteralStart<CharT> LiteralOfForm(const std::u16string& literal, bool caseless, const Code& code,
                                  const Extra& extra, Info info) {
    unsigned long options = 0;
    if (literal.empty() || !code ||
        info(code.get(), extra.get(), PCRE_INFO_OPTIONS, &options) != 0 ||
        (options & PCRE_ANCHORED) != 0)
        return {};
    const int32_t first = AsciiFirst(code, extra, info);
    const int32_t wanted = literal[0];
    if (first != wanted && !(caseless && (first | 0x20) == (wanted | 0x20) &&
                             (wanted | 0x20) >= 'a' && (wanted | 0x20) <= 'z'))
        return {};
    LiteralStart<CharT> start{.Text = std::basic_string<CharT>(literal.begin(), literal.end()),
                              .Caseless = caseless};
    for (uint32_t i = 1; i < literal.size(); ++i)
        if (Rarity(literal[i], caseless) > Rarity(literal[start.Probe], caseless)) start.Probe = i;
    start.Partner = start.Probe;
    for (uint32_t i = 0; i < literal.size(); ++i)
        if (i != start.Probe &&
            (start.Partner == start.Probe ||
             Rarity(literal[i], caseless) > Rarity(literal[start.Partner], caseless)))
            start.Partner = i;
    return start;
}

// Per form, the characters every match starts with. A caseless search keeps them up to the first
// letter with a case partner beyond ASCII under the form's case rules (in UTF text the Kelvin sign
// for k, the long s for s; in a code page, whatever its tables say).
void FindLeadingLiterals(const Settings& settings, const unsigned char* tables,
                         std::u16string_view pattern, std::string_view codePageForm, bool faithful,
                         CompiledExpression& compiled) {
    if (HoldsVerbs(pattern, codePageForm) || EitherFormHolds(pattern, codePageForm, "\\G")) return;
    const std::u16string literal = LeadingLiteral(pattern);
    const bool caseless = !settings.CaseSensitive;
    const std::u16string utf =
        !caseless ? literal
                  : LeadingPart(literal, [](char16_t c) { return WithoutUnicodePartners(c) >= 0; });
    compiled.Utf8Literal =
        LiteralOfForm<char>(utf, caseless, compiled.Utf8Code, compiled.Utf8Extra, pcre_fullinfo);
    compiled.Utf16Literal = LiteralOfForm<char16_t>(utf, caseless, compiled.Utf16Code,
                                                    compiled.Utf16Extra, pcre16_fullinfo);
    if (!faithful || !AsciiIsIdentity(static_cast<uint32_t>(settings.CodePage))) return;
    const std::u16string ansi = !caseless ? literal : LeadingPart(literal, [tables](char16_t c) {
        return CasePartnersAreAscii(tables, c);
    });
    compiled.AnsiLiteral =
        LiteralOfForm<char>(ansi, caseless, compiled.AnsiCode, compiled.AnsiExtra, pcre_fullinfo);
}

template <typename Extra>
void ApplyRecursionLimit(Extra* extra, unsigned long limit) {
    extra->flags |= PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    extra->match_limit_recursion = limit;
}

// Gives a compiled form study data that carries the recursion limit: the block that the study
// made, or, when the study had nothing to record, a bare block of our own. pcre_free_study
// releases either kind with the library's free function.
void LimitRecursion(const PcreCode& code, PcreExtra& extra) {
    if (!code) return;
    if (!extra) {
        void* block = pcre_malloc(sizeof(pcre_extra));
        if (block == nullptr) return;
        std::memset(block, 0, sizeof(pcre_extra));
        extra.reset(static_cast<pcre_extra*>(block));
    }
    ApplyRecursionLimit(extra.get(), SearchRecursionLimit(LibraryWidth::Bytes));
}

void LimitRecursion(const Pcre16Code& code, Pcre16Extra& extra) {
    if (!code) return;
    if (!extra) {
        void* block = pcre16_malloc(sizeof(pcre16_extra));
        if (block == nullptr) return;
        std::memset(block, 0, sizeof(pcre16_extra));
        extra.reset(static_cast<pcre16_extra*>(block));
    }
    ApplyRecursionLimit(extra.get(), SearchRecursionLimit(LibraryWidth::Units));
}

// Studies every compiled form, with the JIT when `jit` is set. The library's message when a study
// failed, else null.
const char* StudyForms(bool jit, CompiledExpression& compiled) {
    const char* message = nullptr;
    const int study = jit ? kJitStudyOptions : 0;
    if (compiled.AnsiCode)
        compiled.AnsiExtra.reset(pcre_study(compiled.AnsiCode.get(), study, &message));
    if (message == nullptr)
        compiled.Utf8Extra.reset(pcre_study(compiled.Utf8Code.get(), study, &message));
    if (message == nullptr && compiled.Utf16Code)
        compiled.Utf16Extra.reset(pcre16_study(compiled.Utf16Code.get(), study, &message));
    return message;
}

// What the searches need to know of the compiled expression: its groups, its newline convention,
// whether it may be searched in slices or by lines, and the search options of each form.
void NoteExpressionFacts(const Settings& settings, const unsigned char* tables,
                         std::string_view codePageForm, CompiledExpression& compiled) {
    int captures = 0;
    unsigned long options = 0;
    pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_CAPTURECOUNT,
                  &captures);
    pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_OPTIONS, &options);
    compiled.CaptureCount = captures;
    compiled.NewlineMode = static_cast<uint32_t>(options) & kNewlineMask;
    compiled.CrlfIsNewline = compiled.NewlineMode == PCRE_NEWLINE_CRLF ||
                             compiled.NewlineMode == PCRE_NEWLINE_ANY ||
                             compiled.NewlineMode == PCRE_NEWLINE_ANYCRLF;
    const std::u16string_view pattern = PatternSeen(settings);
    compiled.Sliceable =
        (options & PCRE_ANCHORED) == 0 && !EitherFormHolds(pattern, codePageForm, "\\G") &&
        !EitherFormHolds(pattern, codePageForm, "(*COMMIT") &&
        !(HoldsVerbs(pattern, codePageForm) && HoldsLookahead(pattern, codePageForm));
    FindLineConfinement(settings, tables, pattern, CodePageFormIsFaithful(pattern, codePageForm),
                        compiled);
    FindHeldCharacters(settings, tables, pattern, codePageForm, compiled);
    FindLeadingLiterals(settings, tables, pattern, codePageForm,
                        CodePageFormIsFaithful(pattern, codePageForm), compiled);
    compiled.AnsiExecOptions = 0;
    compiled.Utf8ExecOptions = kNoUtfCheck;
    compiled.Utf16ExecOptions = kNoUtfCheck;
}

int32_t Compile(const Settings& settings, const platform::SystemFacts& system,
                CompiledExpression& compiled) {
    // The expression in the code page and in UTF-8, each zero-terminated by std::string.
    std::string codePageForm;
    std::string utf8Form;
    if (!settings.regex.empty()) {
        platform::AppendWideAsCodePage(static_cast<uint32_t>(settings.CodePage), settings.regex,
                                       settings.DefaultCharacter, codePageForm);
        utf8Form = platform::WideToUtf8(settings.regex);
    }
    const uint32_t codePage = static_cast<uint32_t>(settings.CodePage);

    int common = 0;
    if (!settings.CaseSensitive) common |= PCRE_CASELESS;
    if (settings.Multiline) common |= PCRE_MULTILINE;
    if (settings.Dotall) common |= PCRE_DOTALL;
    // Lookaheads: see HoldsLookahead.
    const std::u16string_view pattern = PatternSeen(settings);
    const bool verbs = HoldsVerbs(pattern, codePageForm);
    if (!verbs && HoldsLookahead(pattern, codePageForm)) common |= PCRE_NO_START_OPTIMIZE;
    const int utfOptions =
        common | kUtfCompileOptions | (settings.UnicodeProperties ? PCRE_UCP : 0);

    const char* message = nullptr;
    int offset = 0;

    // A form whose matches may start between a CR and its LF is compiled again without the
    // library's start-of-match shortcuts, which is where its JIT and interpreter part (with them
    // off, both step over CR LF at once); verbs and callouts, whose results those shortcuts
    // change, leave such a form to the interpreter instead. (Without the shortcuts the JIT may be
    // much slower, so expressions searched by the interpreter alone keep them.)
    bool jitAllowed = !JitMatchesOtherwise(pattern, codePageForm);
    const bool jitWanted = settings.Jit && jitAllowed && !StudyMisleads(pattern, codePageForm);
    auto compileNarrow = [&](const std::string& form, int options, const unsigned char* tables) {
        PcreCode code(pcre_compile(form.c_str(), options, &message, &offset, tables));
        if (jitWanted && (options & PCRE_NO_START_OPTIMIZE) == 0 &&
            MayStartInsideCrLf(code, pcre_fullinfo, pcre_study, pcre_free_study)) {
            if (verbs)
                jitAllowed = false;
            else
                code.reset(pcre_compile(form.c_str(), options | PCRE_NO_START_OPTIMIZE, &message,
                                        &offset, tables));
        }
        return code;
    };

    compiled.Utf8Code = compileNarrow(utf8Form, utfOptions, nullptr);
    if (!compiled.Utf8Code) {
        compiled.ErrorText = Widen(codePage, message) + u" at pos " + Decimal(offset + 1L);
        return offset;
    }

    const unsigned char* tables = nullptr;
    if (codePage == system.AnsiCodePage)
        tables = system.AnsiTables;
    else if (codePage == system.OemCodePage)
        tables = system.OemTables;
    compiled.AnsiCode = compileNarrow(codePageForm, common | kCodePageCompileOptions, tables);
    // A code-page form that does not compile (a character the code page lacks became "?") only
    // keeps code-page files from being searched: the UTF-16 form is compiled all the same, and
    // the status names this first failure.
    int32_t failedAt = -1;
    if (!compiled.AnsiCode) {
        compiled.ErrorText = u"ANSI: " + Widen(codePage, message) + u" at pos " +
                             Decimal(offset + 1L) + u" - try prefix (*UTF) !";
        failedAt = offset;
    }

    // The 16-bit form is compiled without the library's UTF-16 check, which is only sound for
    // valid UTF-16: an expression with an unpaired surrogate is checked, so that it is reported
    // instead of being compiled from invalid input.
    const int utf16Options = HasUnpairedSurrogate(settings.regex)
                                 ? utfOptions & ~static_cast<int>(kNoUtfCheck)
                                 : utfOptions;
    const auto* wideForm = reinterpret_cast<PCRE_SPTR16>(settings.regex.c_str());
    compiled.Utf16Code.reset(pcre16_compile(wideForm, utf16Options, &message, &offset, nullptr));
    if (jitWanted && (utf16Options & PCRE_NO_START_OPTIMIZE) == 0 &&
        MayStartInsideCrLf(compiled.Utf16Code, pcre16_fullinfo, pcre16_study, pcre16_free_study)) {
        if (verbs)
            jitAllowed = false;
        else
            compiled.Utf16Code.reset(pcre16_compile(wideForm, utf16Options | PCRE_NO_START_OPTIMIZE,
                                                    &message, &offset, nullptr));
    }
    if (!compiled.Utf16Code && failedAt < 0) {
        compiled.ErrorText = Widen(codePage, message) + u" at pos " + Decimal(offset + 1L);
        failedAt = offset;
    }

    const char* studyMessage = StudyMisleads(pattern, codePageForm)
                                   ? nullptr
                                   : StudyForms(settings.Jit && jitAllowed, compiled);
    if (studyMessage != nullptr) {
        if (failedAt < 0) compiled.ErrorText = Widen(codePage, studyMessage);
        return failedAt < 0 ? 0 : failedAt;
    }
    NoteExpressionFacts(settings, tables, codePageForm, compiled);
    if (failedAt >= 0) return failedAt;
    compiled.ErrorText.clear();
    return 0;
}

} // namespace

void UseThreadJitStacks(JitStacks* stacks) {
    t_threadStacks = stacks;
}

int WorkerJitStackMax(unsigned workers) {
    if (sizeof(void*) >= 8 || workers <= 1) return kJitStackMax;
    return std::max(kJitStackMax / static_cast<int>(std::min(workers, 64u)), 4 * 1024 * 1024);
}

bool UsesJit(const CompiledExpression& compiled, LibraryWidth width) {
    int jit = 0;
    if (width == LibraryWidth::Units) {
        if (compiled.Utf16Code)
            pcre16_fullinfo(compiled.Utf16Code.get(), compiled.Utf16Extra.get(), PCRE_INFO_JIT,
                            &jit);
    } else if (compiled.Utf8Code) {
        pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_JIT, &jit);
    }
    return jit == 1;
}

unsigned long SearchRecursionLimit(LibraryWidth width) {
    static const unsigned long limit8 =
        kSearchStackBudget /
        FrameBytes(pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0));
    static const unsigned long limit16 =
        kSearchStackBudget /
        FrameBytes(pcre16_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0));
    return width == LibraryWidth::Units ? limit16 : limit8;
}

namespace {

// The expression with each \G replaced by an assertion that always fails, when our reading of it
// is certain; else nothing.
std::optional<std::u16string> WithoutStartAssertions(std::u16string_view pattern) {
    const ExpressionReading reading = ReadExpression(pattern);
    if (!reading.understood) return std::nullopt;
    std::u16string rewritten;
    size_t copied = 0;
    for (const ExpressionPiece& piece : reading.pieces) {
        if (piece.kind != PieceKind::Assertion || piece.value != U'G') continue;
        if (piece.end < copied + 2 || piece.end > pattern.size()) return std::nullopt;
        rewritten.append(pattern.substr(copied, piece.end - 2 - copied));
        rewritten += u"(?!)";
        copied = piece.end;
    }
    if (copied == 0) return std::nullopt;
    rewritten.append(pattern.substr(copied));
    return rewritten;
}

// Compiles the start-free form of an expression that \G alone keeps from being sliced (no
// backtracking verb may move the next start position, nor may the whole be anchored).
void CompileStartFree(const Settings& settings, const platform::SystemFacts& system,
                      CompiledExpression& compiled) {
    const std::u16string_view pattern = PatternSeen(settings);
    if (compiled.Sliceable || !compiled.Utf8Code || pattern.find(u"\\G") == pattern.npos ||
        pattern.find(u"(*") != pattern.npos)
        return;
    unsigned long options = 0;
    pcre_fullinfo(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), PCRE_INFO_OPTIONS, &options);
    if ((options & PCRE_ANCHORED) != 0) return;
    const std::optional<std::u16string> rewritten = WithoutStartAssertions(pattern);
    if (!rewritten) return;
    Settings variant = settings;
    variant.regex = *rewritten;
    auto forms = std::make_unique<CompiledExpression>();
    CompileExpression(variant, system, *forms);
    // Only a variant that stands in for every form there is, and can be sliced.
    if (forms->Sliceable && !forms->AnsiCode == !compiled.AnsiCode &&
        !forms->Utf16Code == !compiled.Utf16Code && forms->Utf8Code)
        compiled.StartFree = std::move(forms);
}

} // namespace

int32_t CompileExpression(const Settings& settings, const platform::SystemFacts& system,
                          CompiledExpression& compiled) {
    // Forms left over from an earlier compile must not survive a failed step.
    ReleaseCompiledExpression(compiled);
    int32_t result = Compile(settings, system, compiled);
    // Every form that exists is searched, whatever the outcome, so each one gets its limit.
    LimitRecursion(compiled.AnsiCode, compiled.AnsiExtra);
    LimitRecursion(compiled.Utf8Code, compiled.Utf8Extra);
    LimitRecursion(compiled.Utf16Code, compiled.Utf16Extra);
    // JIT code gets the stacks of this compile; they are reserved on first use.
    if (!compiled.Stacks) compiled.Stacks = std::make_unique<JitStacks>();
    if (compiled.AnsiExtra)
        pcre_assign_jit_stack(compiled.AnsiExtra.get(), NarrowStack, compiled.Stacks.get());
    if (compiled.Utf8Extra)
        pcre_assign_jit_stack(compiled.Utf8Extra.get(), NarrowStack, compiled.Stacks.get());
    if (compiled.Utf16Extra)
        pcre16_assign_jit_stack(compiled.Utf16Extra.get(), WideStack, compiled.Stacks.get());
    CompileStartFree(settings, system, compiled);
    return result;
}

void ReleaseCompiledExpression(CompiledExpression& compiled) {
    compiled.Sliceable = false;
    compiled.LineConfined = false;
    compiled.AnsiRequired = compiled.Utf8Required = compiled.Utf16Required = -1;
    compiled.AnsiHeld = compiled.Utf8Held = compiled.Utf16Held = -1;
    compiled.AnsiLiteral = {};
    compiled.Utf8Literal = {};
    compiled.Utf16Literal = {};
    compiled.AnsiExtra.reset();
    compiled.Utf8Extra.reset();
    compiled.Utf16Extra.reset();
    compiled.AnsiCode.reset();
    compiled.Utf8Code.reset();
    compiled.Utf16Code.reset();
    compiled.Stacks.reset();
    compiled.StartFree.reset();
}

} // namespace gleanery
