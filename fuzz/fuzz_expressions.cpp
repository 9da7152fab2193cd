// Expressions built from a grammar of the library's syntax (classes with POSIX names, \Q...\E,
// comments before quantifiers, extended mode, groups of every kind, backreferences, verbs...)
// over texts of a small alphabet with CR, LF and CR LF breaks and a few characters beyond ASCII.
// The match loop, with every shortcut it may take (line search, slices, the short-text
// pass-over, the JIT), must find exactly what a plain loop over the library's interpreter finds:
// one call after another over the whole text, written here without any of the engine's
// shortcuts, and without the library's own start-of-match shortcuts where they cannot change the
// result (so that a fault in them shows too).

#include <utf8.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>

#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "fuzz_support.h"

using namespace gleanery;

namespace {

// The characters of expressions and texts beyond ASCII, with their code page 1252 bytes (0: none).
struct BeyondAscii {
    char32_t code;
    unsigned char cp1252;
};
constexpr BeyondAscii kBeyondAscii[] = {{0xE9, 0xE9}, {0xDF, 0xDF}, {0xC9, 0xC9}, {0x20AC, 0x80},
                                        {0x212A, 0},  {0x17F, 0},   {0x3B1, 0},   {0x1F600, 0}};

void AppendUtf8(char32_t c, std::string& out) {
    utf8::append(static_cast<uint32_t>(c), std::back_inserter(out));
}

// Builds an expression from the input's bytes; a zero byte (also the input's end) ends what is
// being built.
struct Builder {
    fuzz::Input& in;
    std::string text; // UTF-8
    int pieces = 0;
    int groups = 0;

    uint8_t Byte() { return in.Byte(); }
    void Add(std::string_view s) { text += s; }

    void Quantifier() {
        static const char* const kQuantifiers[] = {"?",   "*",    "+",      "{2}",  "{1,}", "{0,2}",
                                                   "{0}", "??",   "*?",     "+?",   "?+",   "*+",
                                                   "++",  "{,2}", "{1,3}?", "{1}+", "{0,}"};
        Add(kQuantifiers[Byte() % std::size(kQuantifiers)]);
    }

    void Class() {
        static const char* const kMembers[] = {
            "a-c",       "0-9",  "[:digit:]", "[:alpha:]", "[:^space:]", "[:punct:]",
            "[:alnum:]", "\\d",  "\\w",       "\\s",       "\\n",        "\\r",
            "-",         "@",    "\\Q]@\\E",  "\xC3\xA9",  ".",          "\\]",
            "x",         "[",    "\\x{40}",   "\\p{L}",    "\\h",        "\\v",
            "k",         "\\\\", "{",         "\\Q\\E"};
        Add("[");
        const uint8_t b = Byte();
        if (b & 1) Add("^");
        if (b & 2) Add("]");
        const int count = 1 + (b >> 2) % 3;
        for (int i = 0; i < count; ++i) Add(kMembers[Byte() % std::size(kMembers)]);
        Add("]");
    }

    // A group's content; lookbehinds get a fixed length.
    void Group(int depth) {
        static const char* const kOpenings[] = {
            "(",    "(?:",   "(?>",  "(?|",  "(?=",  "(?!",   "(?<=",
            "(?<!", "(?<n>", "(?i:", "(?x:", "(?s:", "(?-i:", "(?'m'"};
        const uint8_t b = Byte();
        const char* open = kOpenings[b % std::size(kOpenings)];
        Add(open);
        const std::string_view o = open;
        if (o == "(" || o == "(?<n>" || o == "(?'m'") ++groups;
        if (o == "(?<=" || o == "(?<!") {
            static const char* const kFixed[] = {"a", "@", "\\d", "[ab]", "ab|c", "\\n", "x\\b"};
            Add(kFixed[Byte() % std::size(kFixed)]);
        } else {
            Alternation(depth + 1);
        }
        Add(")");
    }

    void Conditional(int depth) {
        static const char* const kConditions[] = {"(?(1)", "(?(?=a)",  "(?(<n>)",
                                                  "(?(R)", "(?(?<!b)", "(?(DEFINE)"};
        Add(kConditions[Byte() % std::size(kConditions)]);
        Sequence(depth + 1);
        if (Byte() & 1) {
            Add("|");
            Sequence(depth + 1);
        }
        Add(")");
    }

    // One piece; false when it takes no quantifier.
    bool Atom(int depth) {
        static const char* const kLiterals[] = {
            "a", "b", "c",   "@",   "-",   " ", "]", "}", "x",        "1",       "k",
            "s", "K", "\\.", "\\[", "\\{", "{", ".", ",", "\xC3\xA9", "\xC3\x9F"};
        static const char* const kEscapes[] = {
            "\\d", "\\w",    "\\s",     "\\S",        "\\W",   "\\D",      "\\h",     "\\v", "\\N",
            "\\R", "\\X",    "\\x40",   "\\x{e9}",    "\\100", "\\o{101}", "\\cJ",    "\\n", "\\r",
            "\\t", "\\p{L}", "\\P{Lu}", "\\p{Greek}", "\\e",   "\\0",      "\\x{2d}", "\\_"};
        static const char* const kAssertions[] = {"^",   "$",   "\\b", "\\B", "\\K",
                                                  "\\G", "\\A", "\\z", "\\Z"};
        static const char* const kReferences[] = {"\\1",  "\\g{-1}", "\\k<n>", "(?P=n)",
                                                  "\\g1", "(?1)",    "(?R)",   "\\k{m}"};
        static const char* const kOptions[] = {"(?i)", "(?-i)", "(?x)",  "(?s)", "(?m)",
                                               "(?U)", "(?-x)", "(?ix)", "(?J)"};
        static const char* const kVerbs[] = {"(*SKIP)",    "(*F)",      "(*PRUNE)",  "(*THEN)",
                                             "(*COMMIT)",  "(*MARK:x)", "(*ACCEPT)", "(*FAIL)",
                                             "(*PRUNE:y)", "(*SKIP:x)"};
        static const char* const kSpace[] = {" ", "\n", "#c\n", "\t", "#@", "\r\n"};
        const uint8_t b = Byte();
        switch (b % 16) {
        case 0:
        case 1:
        case 2:
            Add(kLiterals[Byte() % std::size(kLiterals)]);
            return true;
        case 3:
            Class();
            return true;
        case 4:
            Add(kEscapes[Byte() % std::size(kEscapes)]);
            return true;
        case 5:
        case 6:
            if (depth < 4) Group(depth);
            return true;
        case 7:
            Add("(?#c)"); // a quantifier after it repeats the piece before
            return true;
        case 8: {
            Add("\\Q");
            const int count = Byte() % 3;
            for (int i = 0; i < count; ++i) Add(kLiterals[Byte() % 13]);
            Add("\\E");
            return true;
        }
        case 9:
            Add(kAssertions[Byte() % std::size(kAssertions)]);
            return false;
        case 10:
            Add(kReferences[Byte() % std::size(kReferences)]);
            return true;
        case 11:
            Add(kOptions[Byte() % std::size(kOptions)]);
            return false;
        case 12:
            Add(kVerbs[Byte() % std::size(kVerbs)]);
            return false;
        case 13:
            Add(kSpace[Byte() % std::size(kSpace)]);
            return false;
        case 14:
            if (depth < 4) Conditional(depth);
            return true;
        default:
            Add("(?C1)");
            return false;
        }
    }

    void Sequence(int depth) {
        for (;;) {
            const uint8_t b = Byte();
            if (b == 0 || ++pieces > 40) return;
            // A quantifier after an assertion, an option setting or a verb is refused by the
            // library (and some others are too: those inputs are passed over).
            if (Atom(depth) && (b & 0x80)) Quantifier();
        }
    }

    void Alternation(int depth) {
        Sequence(depth);
        while (Byte() % 4 == 1 && pieces < 40) {
            Add("|");
            Sequence(depth);
        }
    }

    std::string Build() {
        static const char* const kStarts[] = {"",       "(*CR)",      "(*LF)",  "(*CRLF)",
                                              "(*ANY)", "(*ANYCRLF)", "(*UCP)", "(*NO_START_OPT)"};
        const uint8_t b = Byte();
        if (b & 1) Add(kStarts[(b >> 1) % std::size(kStarts)]);
        Alternation(0);
        return text;
    }
};

// The text: each byte one piece of a small alphabet.
std::u32string BuildText(fuzz::Input& in) {
    static const char32_t* const kPieces[] = {
        U"a", U"b",  U"c",  U"@",    U"-", U".", U"]", U"[",  U"{",  U"}", U" ", U"x",      U"1",
        U"2", U"\r", U"\n", U"\r\n", U"k", U"s", U"K", U"ab", U"\t", U"A", U",", U"aaa@b.c"};
    std::u32string text;
    while (in.size > 0) {
        const uint8_t b = in.Byte();
        if (b >= 0xF0)
            text += kBeyondAscii[b % std::size(kBeyondAscii)].code;
        else
            text += kPieces[b % std::size(kPieces)];
    }
    return text;
}

// The three forms of a text or expression; false when code page 1252 lacks a character.
bool ToCodePage(const std::u32string& text, std::string& out) {
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        unsigned char byte = 0;
        for (const BeyondAscii& w : kBeyondAscii)
            if (w.code == c) byte = w.cp1252;
        if (byte == 0) return false;
        out.push_back(static_cast<char>(byte));
    }
    return true;
}
std::u32string FromUtf8(const std::string& text) {
    std::u32string out;
    utf8::utf8to32(text.begin(), text.end(), std::back_inserter(out));
    return out;
}
std::u16string ToUtf16(const std::u32string& text) {
    std::u16string out;
    for (char32_t c : text) {
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    return out;
}
std::string ToUtf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) AppendUtf8(c, out);
    return out;
}

enum class Form { CodePage, Utf8, Utf16 };

// A matched piece of the text as the loop writes it: UTF-8.
std::string Written(const char* text, size_t s, size_t e, Form form) {
    if (form == Form::Utf8) return std::string(text + s, e - s);
    std::string out;
    for (size_t i = s; i < e; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = byte;
        for (const BeyondAscii& w : kBeyondAscii)
            if (byte >= 0x80 && w.cp1252 == byte) c = w.code;
        AppendUtf8(c, out);
    }
    return out;
}
std::string Written(const char16_t* text, size_t s, size_t e, Form) {
    std::string out;
    utf8::utf16to8(text + s, text + e, std::back_inserter(out));
    return out;
}

// The plain loop: the interpreter over the whole text, one match after another, with the match
// loop's rule for empty matches (retried at the same place as non-empty and anchored, else the
// search goes on one character further, over CR LF at once where that is a line break); empty
// matches are not written.
struct Reference {
    std::string written;
    bool limit = false;
};

template <typename CharT, typename Exec>
Reference PlainLoop(const CharT* text, size_t length, Form form, bool crlf, Exec exec) {
    Reference r;
    int ov[300];
    size_t pos = 0;
    uint64_t count = 0;
    auto advance = [&](size_t at) {
        if (crlf && at + 1 < length && text[at] == CharT('\r') && text[at + 1] == CharT('\n'))
            return at + 2;
        size_t next = at + 1;
        if constexpr (sizeof(CharT) == 2) {
            if (next < length && text[next] >= 0xDC00 && text[next] <= 0xDFFF) ++next;
        } else if (form == Form::Utf8) {
            while (next < length && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        }
        return next;
    };
    for (;;) {
        int rc = exec(text, length, pos, 0, ov);
        size_t next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
        if (rc >= 0 && ov[0] == ov[1]) {
            const size_t at = static_cast<size_t>(ov[0]);
            if (length > 0 && at == length) break;
            const int retry = exec(text, length, at, PCRE_NOTEMPTY_ATSTART | PCRE_ANCHORED, ov);
            if (retry == PCRE_ERROR_NOMATCH) {
                next = advance(at);
                if (next > length) break;
                pos = next;
                continue;
            }
            rc = retry;
            next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
        }
        if (rc < 0) {
            r.limit = rc != PCRE_ERROR_NOMATCH;
            break;
        }
        if (ov[0] != ov[1]) {
            if (count++ > 0) r.written += "\r\n";
            r.written += "<";
            if (ov[0] < ov[1]) r.written += Written(text, ov[0], ov[1], form);
            r.written += ">";
        }
        if (next <= pos && ov[0] != ov[1]) next = advance(pos);
        if (next > length) break;
        pos = next;
    }
    return r;
}

// Backtracking steps of one library call, in the reference and in the loop: far below the
// library's default, so that an expression that backtracks without end costs little time (its
// searches end early and are not compared).
constexpr unsigned long kMatchLimit = 10000;

// The interpreter's study data with limits that keep it within this thread's stack and time.
template <typename Extra>
void Limit(Extra& extra, int frameProbe) {
    const long frame = frameProbe < 0 ? -static_cast<long>(frameProbe) : 1000;
    extra.flags = PCRE_EXTRA_MATCH_LIMIT_RECURSION | PCRE_EXTRA_MATCH_LIMIT;
    extra.match_limit_recursion = static_cast<unsigned long>(2 * 1024 * 1024 / frame);
    extra.match_limit = kMatchLimit;
}

// For the report of a difference: line breaks and bytes beyond ASCII written as escapes.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out.push_back(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", b);
            out += escape;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    const uint8_t flags = in.Byte();
    const Form form = static_cast<Form>((flags & 3) % 3);
    Settings settings;
    settings.CodePage = 1252;
    settings.CaseSensitive = flags & 4;
    settings.UnicodeProperties = flags & 8;
    settings.replace = u"<$0>";

    Builder builder{in, {}};
    const std::string expression = builder.Build();
    const std::u32string expression32 = FromUtf8(expression);
    settings.regex = ToUtf16(expression32);
    const std::u32string text32 = BuildText(in);

    // The reference's own compile, with the options every search of that form has.
    const int caseless = settings.CaseSensitive ? 0 : PCRE_CASELESS;
    const int ucp = settings.UnicodeProperties ? PCRE_UCP : 0;
    // Without the library's start-of-match shortcuts (a scan for the first or a required
    // character, the shortest length), unless verbs or callouts make those part of the result.
    const bool verbs =
        expression.find("(*") != std::string::npos || expression.find("(?C") != std::string::npos;
    const int plain = (verbs ? 0 : PCRE_NO_START_OPTIMIZE) | caseless;
    const char* message = nullptr;
    int offset = 0;
    std::string codePageText;
    std::string codePageExpression;
    const std::string utf8Text = ToUtf8(text32);
    const std::u16string utf16Text = ToUtf16(text32);
    PcreCode narrow;
    Pcre16Code wide;
    if (form == Form::CodePage) {
        if (!ToCodePage(text32, codePageText) || !ToCodePage(expression32, codePageExpression))
            return 0;
        const platform::SystemFacts& system = State().System;
        const unsigned char* tables = 1252 == system.AnsiCodePage  ? system.AnsiTables
                                      : 1252 == system.OemCodePage ? system.OemTables
                                                                   : nullptr;
        narrow.reset(pcre_compile(codePageExpression.c_str(),
                                  plain | PCRE_NEWLINE_ANYCRLF | PCRE_BSR_ANYCRLF, &message,
                                  &offset, tables));
    } else if (form == Form::Utf8) {
        narrow.reset(pcre_compile(expression.c_str(),
                                  plain | ucp | PCRE_UTF8 | PCRE_NEWLINE_ANYCRLF, &message, &offset,
                                  nullptr));
    } else {
        wide.reset(pcre16_compile(reinterpret_cast<PCRE_SPTR16>(settings.regex.c_str()),
                                  plain | ucp | PCRE_UTF16 | PCRE_NEWLINE_ANYCRLF, &message,
                                  &offset, nullptr));
    }
    if (!narrow && !wide) return 0;

    const auto began = std::chrono::steady_clock::now();
    Reference reference;
    unsigned long options = 0;
    if (narrow) {
        pcre_extra extra{};
        Limit(extra, pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0));
        pcre_fullinfo(narrow.get(), nullptr, PCRE_INFO_OPTIONS, &options);
        const uint32_t newline = static_cast<uint32_t>(options) & kNewlineMask;
        const bool crlf = newline == PCRE_NEWLINE_CRLF || newline == PCRE_NEWLINE_ANY ||
                          newline == PCRE_NEWLINE_ANYCRLF;
        const std::string& subject = form == Form::Utf8 ? utf8Text : codePageText;
        reference = PlainLoop(subject.data(), subject.size(), form, crlf,
                              [&](const char* t, size_t n, size_t at, int o, int* ov) {
                                  return pcre_exec(narrow.get(), &extra, t, static_cast<int>(n),
                                                   static_cast<int>(at), o, ov, 300);
                              });
    } else {
        pcre16_extra extra{};
        Limit(extra, pcre16_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0));
        pcre16_fullinfo(wide.get(), nullptr, PCRE_INFO_OPTIONS, &options);
        const uint32_t newline = static_cast<uint32_t>(options) & kNewlineMask;
        const bool crlf = newline == PCRE_NEWLINE_CRLF || newline == PCRE_NEWLINE_ANY ||
                          newline == PCRE_NEWLINE_ANYCRLF;
        reference =
            PlainLoop(utf16Text.data(), utf16Text.size(), form, crlf,
                      [&](const char16_t* t, size_t n, size_t at, int o, int* ov) {
                          return pcre16_exec(wide.get(), &extra, reinterpret_cast<PCRE_SPTR16>(t),
                                             static_cast<int>(n), static_cast<int>(at), o, ov, 300);
                      });
    }
    // A search that takes long without reaching the limit of any one call (many start positions
    // each close to it) is not run again four times.
    if (reference.limit ||
        std::chrono::steady_clock::now() - began > std::chrono::milliseconds(300))
        return 0;

    // One run of the match loop, with the JIT on or off and slices of the given bounds.
    auto run = [&](bool jit, SearchSlices slices, std::string& written) {
        Settings s = settings;
        s.Jit = jit;
        detail::Slices() = slices;
        CompiledExpression compiled;
        CompileExpression(s, State().System, compiled);
        for (pcre_extra* extra : {compiled.AnsiExtra.get(), compiled.Utf8Extra.get()}) {
            if (extra == nullptr) continue;
            extra->flags |= PCRE_EXTRA_MATCH_LIMIT;
            extra->match_limit = kMatchLimit;
        }
        if (compiled.Utf16Extra) {
            compiled.Utf16Extra->flags |= PCRE_EXTRA_MATCH_LIMIT;
            compiled.Utf16Extra->match_limit = kMatchLimit;
        }
        const bool present = form == Form::Utf16  ? bool(compiled.Utf16Code)
                             : form == Form::Utf8 ? bool(compiled.Utf8Code)
                                                  : bool(compiled.AnsiCode);
        // The engine compiles what the reference compiled, with the same options.
        if (!present) std::abort();
        ResultState result;
        ParseReplacement(s, result.Template, compiled);
        FileState file;
        file.FileName = u"/fuzz/input.txt";
        file.IsUtf16 = form == Form::Utf16;
        file.IsUtf8 = form == Form::Utf8;
        SearchContext context{s, compiled, State().System, result, StringSink(written)};
        const SearchStatus status =
            form == Form::Utf16 ? SearchUnits(utf16Text.data(), utf16Text.size(), context, file)
            : form == Form::Utf8
                ? SearchBytes(utf8Text.data(), utf8Text.size(), context, file)
                : SearchBytes(codePageText.data(), codePageText.size(), context, file);
        if (status == SearchStatus::WriteFailed || !FlushOutput(context.Output, result))
            std::abort();
        ReleaseCompiledExpression(compiled);
        return !file.EndedEarly;
    };
    // Line search and slices from small texts on; slices of a few units; the whole text at once.
    const SearchSlices small{0x10, 0x100, 0x4000, 0x40};
    const SearchSlices tiny{1, 1, 4, SIZE_MAX};
    const SearchSlices whole{SIZE_MAX / 4, SIZE_MAX / 4, SIZE_MAX / 4, SIZE_MAX};
    const struct {
        bool jit;
        SearchSlices slices;
    } kRuns[] = {{true, small}, {false, small}, {true, tiny}, {false, whole}};
    for (const auto& r : kRuns) {
        std::string written;
        if (run(r.jit, r.slices, written) && written != reference.written) {
            std::fprintf(stderr, "expression %s\nform %d, case %s, %s, slices %zu/%zu/%zu/%zu\n",
                         Printable(expression).c_str(), static_cast<int>(form),
                         settings.CaseSensitive ? "sensitive" : "ignored",
                         r.jit ? "JIT" : "interpreter", r.slices.Smallest, r.slices.First,
                         r.slices.Largest, r.slices.LinesFrom);
            std::fprintf(stderr, "text %s\nplain  %s\nloop   %s\n", Printable(utf8Text).c_str(),
                         Printable(reference.written).c_str(), Printable(written).c_str());
            std::abort();
        }
    }
    detail::Slices() = SearchSlices{};
    return 0;
}
