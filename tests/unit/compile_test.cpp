// Compiling the expression in its three forms: option words, newline conventions, status texts,
// character tables and the recursion limit that protects the host thread's stack.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <cstring>
#include <string>

#include "engine/compiled_expression.h"
#include "engine/line_confinement.h"
#include "platform/codepage.h"
#include "platform/system_facts.h"

namespace gleanery {
namespace {

class CompileTest : public ::testing::Test {
  protected:
    void TearDown() override { ReleaseCompiledExpression(compiled); }

    // A system with the library's built-in character tables, unless a test gives it others.
    platform::SystemFacts system;
    Settings Plain(std::u16string regex) {
        Settings s;
        s.regex = std::move(regex);
        s.CodePage = 1252;
        s.UnicodeProperties = false;
        return s;
    }

    CompiledExpression compiled;
};

unsigned long Options(const pcre* code) {
    unsigned long options = 0;
    EXPECT_EQ(pcre_fullinfo(code, nullptr, PCRE_INFO_OPTIONS, &options), 0);
    return options;
}
unsigned long Options(const pcre16* code) {
    unsigned long options = 0;
    EXPECT_EQ(pcre16_fullinfo(code, nullptr, PCRE_INFO_OPTIONS, &options), 0);
    return options;
}

TEST_F(CompileTest, OptionWordsOfTheThreeForms) {
    EXPECT_EQ(CompileExpression(Plain(u"a(b)(c)"), system, compiled), 0);
    EXPECT_TRUE(compiled.ErrorText.empty());
    ASSERT_TRUE(compiled.AnsiCode && compiled.Utf8Code && compiled.Utf16Code);
    EXPECT_EQ(Options(compiled.Utf8Code.get()), 0x502801u);
    EXPECT_EQ(Options(compiled.Utf16Code.get()), 0x502801u);
    EXPECT_EQ(Options(compiled.AnsiCode.get()), 0xD00001u);
    EXPECT_EQ(compiled.CaptureCount, 2);
    EXPECT_EQ(compiled.NewlineMode, 0x500000u);
    EXPECT_TRUE(compiled.CrlfIsNewline);
    // The newline convention is fixed at compile time; searches pass only what the JIT takes.
    EXPECT_EQ(compiled.AnsiExecOptions, 0u);
    EXPECT_EQ(compiled.Utf8ExecOptions, 0x2000u);
    EXPECT_EQ(compiled.Utf16ExecOptions, 0x2000u);
#if defined(__x86_64__) || defined(__i386__)
    // Every build for these processors has the JIT (the Windows ones too), and uses it.
    EXPECT_TRUE(UsesJit(compiled, LibraryWidth::Bytes));
    EXPECT_TRUE(UsesJit(compiled, LibraryWidth::Units));
    int jit = 0;
    pcre_fullinfo(compiled.AnsiCode.get(), compiled.AnsiExtra.get(), PCRE_INFO_JIT, &jit);
    EXPECT_EQ(jit, 1);
    ReleaseCompiledExpression(compiled);
    // The JIT finds "a" in "aa" for this one, the interpreter (rightly) nothing: expressions
    // with (*PRUNE) are left to the interpreter.
    EXPECT_EQ(CompileExpression(Plain(u"a+(*PRUNE)b|a"), system, compiled), 0);
    EXPECT_FALSE(UsesJit(compiled, LibraryWidth::Bytes));
    EXPECT_FALSE(UsesJit(compiled, LibraryWidth::Units));
    ReleaseCompiledExpression(compiled);
    // Nor those with verbs that could start a match between a CR and its LF (see below).
    EXPECT_EQ(CompileExpression(Plain(u"\\s(*SKIP)a"), system, compiled), 0);
    EXPECT_FALSE(UsesJit(compiled, LibraryWidth::Bytes));
#endif
    ReleaseCompiledExpression(compiled);

    // Forms whose matches may start at the LF of a CR LF are compiled without the library's
    // start-of-match shortcuts, with which its JIT starts matches there and its interpreter not;
    // so are those with lookaheads, where the shortcuts may take a character for a second one.
    const std::pair<std::u16string, bool> unoptimizedForms[] = {
        {u"(?=(?:)a)a", true}, {u"(?=a)(*SKIP)a", false}, {u"\\sa", true},       {u"(?s).a", true},
        {u"[^x]", true},       {u"\\na", false},          {u"(*LF)\\sa", false}, {u"a\\s", false},
        {u"\\d\\s", false},    {u"(?m)^\\s", false},      {u"\\A\\s", false}};
    for (const auto& [regex, unoptimized] : unoptimizedForms) {
        ASSERT_EQ(CompileExpression(Plain(regex), system, compiled), 0);
        for (unsigned long options :
             {Options(compiled.Utf8Code.get()), Options(compiled.AnsiCode.get()),
              Options(compiled.Utf16Code.get())})
            EXPECT_EQ((options & PCRE_NO_START_OPTIMIZE) != 0, unoptimized)
                << platform::WideToUtf8(regex);
        // Verbs keep the shortcuts, whose results slices would not see: such are searched whole.
        if (regex == u"(?=a)(*SKIP)a") {
            EXPECT_FALSE(compiled.Sliceable);
        }
        ReleaseCompiledExpression(compiled);
    }

    Settings interpreted = Plain(u"a(b)(c)");
    interpreted.Jit = false;
    EXPECT_EQ(CompileExpression(interpreted, system, compiled), 0);
    EXPECT_FALSE(UsesJit(compiled, LibraryWidth::Bytes));
    EXPECT_FALSE(UsesJit(compiled, LibraryWidth::Units));
    ReleaseCompiledExpression(compiled);

    Settings s = Plain(u"x");
    s.CaseSensitive = true;
    s.Multiline = true;
    s.Dotall = true;
    s.UnicodeProperties = true;
    EXPECT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(Options(compiled.Utf8Code.get()), 0x20502806u);
    EXPECT_EQ(Options(compiled.Utf16Code.get()), 0x20502806u);
    EXPECT_EQ(Options(compiled.AnsiCode.get()), 0xD00006u); // never UCP, never UTF
}

TEST_F(CompileTest, NewlineVerbsAreReportedBack) {
    struct Case {
        std::u16string regex;
        uint32_t mode;
        bool crlf;
    } cases[] = {{u"(*CR)a", 0x100000, false},
                 {u"(*LF)a", 0x200000, false},
                 {u"(*CRLF)a", 0x300000, true},
                 {u"(*ANY)a", 0x400000, true},
                 {u"(*ANYCRLF)a", 0x500000, true}};
    for (const Case& c : cases) {
        CompiledExpression ce;
        EXPECT_EQ(CompileExpression(Plain(c.regex), system, ce), 0);
        EXPECT_EQ(ce.NewlineMode, c.mode) << std::string(c.regex.begin(), c.regex.end());
        EXPECT_EQ(ce.CrlfIsNewline, c.crlf);
        EXPECT_EQ(ce.Utf8ExecOptions, 0x2000u);
        EXPECT_EQ(ce.Utf16ExecOptions, 0x2000u);
        ReleaseCompiledExpression(ce);
    }
}

TEST_F(CompileTest, StatusTextsCarryTheOneBasedPosition) {
    // Wrong at the first character: the result is 0, the same as success.
    EXPECT_EQ(CompileExpression(Plain(u"*abc"), system, compiled), 0);
    EXPECT_EQ(compiled.ErrorText, u"nothing to repeat at pos 1");
    EXPECT_FALSE(compiled.Utf8Code);
    EXPECT_FALSE(compiled.AnsiCode);
    EXPECT_FALSE(compiled.Utf16Code);
    ReleaseCompiledExpression(compiled);

    // The UTF-8 form fails first; its offset counts bytes of that form.
    EXPECT_EQ(CompileExpression(Plain(u"\u00e4\u00e4("), system, compiled), 5);
    EXPECT_EQ(compiled.ErrorText, u"missing ) at pos 6");
    ReleaseCompiledExpression(compiled);

    // A character the code page lacks becomes "?", which only the code-page form trips over:
    // the status names that failure, and both UTF forms are made all the same.
    EXPECT_EQ(CompileExpression(Plain(u"\u0416(a)"), system, compiled), 0);
    EXPECT_EQ(compiled.ErrorText, u"ANSI: nothing to repeat at pos 1 - try prefix (*UTF) !");
    EXPECT_TRUE(compiled.Utf8Code);
    EXPECT_FALSE(compiled.AnsiCode);
    EXPECT_TRUE(compiled.Utf16Code);
    EXPECT_TRUE(compiled.Utf16Extra);
    EXPECT_EQ(compiled.CaptureCount, 1);
    EXPECT_EQ(compiled.NewlineMode, static_cast<uint32_t>(PCRE_NEWLINE_ANYCRLF));
    EXPECT_TRUE(compiled.CrlfIsNewline);
    // The surviving form is searched all the same, so it carries the recursion limit.
    ASSERT_TRUE(compiled.Utf8Extra);
    EXPECT_TRUE(compiled.Utf8Extra->flags & PCRE_EXTRA_MATCH_LIMIT_RECURSION);
    ReleaseCompiledExpression(compiled);

    // The same expression with a default character that the code page form accepts.
    Settings s = Plain(u"\u0416(a)");
    s.DefaultCharacter = 'x';
    EXPECT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(compiled.ErrorText.empty());
    EXPECT_EQ(compiled.CaptureCount, 1);
    ReleaseCompiledExpression(compiled);

    // An unpaired surrogate is invalid UTF-16: the 16-bit form reports it, counted in units,
    // instead of being compiled unchecked.
    s.regex = std::u16string(u"ab") + char16_t(0xD800) + u"c";
    EXPECT_EQ(CompileExpression(s, system, compiled), 3);
    EXPECT_EQ(compiled.ErrorText, u"invalid UTF-16 string at pos 4");
    EXPECT_TRUE(compiled.Utf8Code);
    EXPECT_TRUE(compiled.AnsiCode);
    EXPECT_FALSE(compiled.Utf16Code);
    // The forms that did compile are studied, and searched.
    EXPECT_TRUE(compiled.AnsiExtra && compiled.Utf8Extra);

    // The empty expression compiles.
    ReleaseCompiledExpression(compiled);
    EXPECT_EQ(CompileExpression(Plain(u""), system, compiled), 0);
    EXPECT_TRUE(compiled.ErrorText.empty());
    EXPECT_TRUE(compiled.AnsiCode && compiled.Utf8Code && compiled.Utf16Code);
}

// Tables in which A-diaeresis (0xC4 in 1250/1252, 0x8E in 437) and a-diaeresis (0xE4, 0x84)
// are one letter in two cases; PCRE's built-in tables know no case above 0x7F.
unsigned char* TablesWithCase(unsigned char upper, unsigned char lower) {
    const unsigned char* base = pcre_maketables();
    auto* tables = static_cast<unsigned char*>(pcre_malloc(1088));
    std::memcpy(tables, base, 1088);
    pcre_free(const_cast<unsigned char*>(base));
    tables[upper] = lower;       // lower-case table
    tables[256 + upper] = lower; // flip-case table
    tables[256 + lower] = upper;
    return tables;
}

bool MatchesCodePageForm(const CompiledExpression& ce, const std::string& subject) {
    int ov[30];
    return pcre_exec(ce.AnsiCode.get(), ce.AnsiExtra.get(), subject.data(),
                     static_cast<int>(subject.size()), 0, 0, ov, 30) >= 0;
}

TEST_F(CompileTest, ExpressionsWithAcceptAreNotStudied) {
    // The library's study gives this one a shortest match of two characters, and a search with
    // that study passes over "a".
    ASSERT_EQ(CompileExpression(Plain(u"a(?:(*ACCEPT))?b"), system, compiled), 0);
    EXPECT_TRUE(MatchesCodePageForm(compiled, "a"));
    EXPECT_FALSE(MatchesCodePageForm(compiled, "b"));
}

TEST_F(CompileTest, CodePageFormUsesTheTablesOfItsCodePage) {
    system.AnsiCodePage = 1252;
    system.OemCodePage = 437;
    system.AnsiTables = TablesWithCase(0xC4, 0xE4);
    system.OemTables = TablesWithCase(0x8E, 0x84);

    Settings s = Plain(u"\u00e4"); // caseless
    s.CodePage = 1252;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(MatchesCodePageForm(compiled, "\xC4"));
    ReleaseCompiledExpression(compiled);

    s.CodePage = 437;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(MatchesCodePageForm(compiled, "\x8E"));
    ReleaseCompiledExpression(compiled);

    // Neither system code page: the built-in tables, which have no case for these bytes.
    s.CodePage = 1250;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(MatchesCodePageForm(compiled, "\xE4"));
    EXPECT_FALSE(MatchesCodePageForm(compiled, "\xC4"));
    ReleaseCompiledExpression(compiled);

    // A short text is passed over when it lacks a character every match holds, in either ASCII
    // case; not where the tables give that letter a partner beyond ASCII (a dotted capital I).
    s = Plain(u"i");
    EXPECT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.AnsiHeld, 'i');
    pcre_free(const_cast<unsigned char*>(system.AnsiTables));
    system.AnsiTables = TablesWithCase(0xDD, 'i');
    s.CodePage = 1252;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(MatchesCodePageForm(compiled, "\xDD"));
    EXPECT_EQ(compiled.AnsiHeld, -1);
    EXPECT_EQ(compiled.Utf8Held, 'i');
    // So does a caseless literal start end before such a letter.
    s.regex = u"risk";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.AnsiLiteral.Text, "r");
    EXPECT_EQ(compiled.Utf8Literal.Text, "ri");
    ReleaseCompiledExpression(compiled);

    pcre_free(const_cast<unsigned char*>(system.AnsiTables));
    pcre_free(const_cast<unsigned char*>(system.OemTables));
}

TEST(LineConfinement, OnlyExpressionsThatCannotReachPastALineAreConfined) {
    const platform::SystemFacts system;
    const std::pair<std::u16string, bool> cases[] = {
        {u"[\\w.+-]+@[\\w-]+\\.[\\w.-]+", true},
        {u"(?i)ERROR \\w+ (\\d{2,})", true},
        {u"\"(?:[^\"\\\\\\r\\n]|\\\\.)*\"", true}, // negated, listing CR and LF
        {u"(?<name>a)\\k<name>", true},
        {u"(?<name>ab)(?=c)(?<![0-9])\\1", true},
        {u"[[:alpha:]_]+", true},
        {u"a.b\\N\\S\\h\\V", true},
        {u"[^\"]+", false}, // a negated class takes in line breaks unless it lists them
        {u"[^\\s,]+", true},
        {u"a\\sb", false},
        {u"[\\s]", false},
        {u"a\\Wb", false},
        {u"\\Da", false},
        {u"[\\x00-\\x7F]", false},
        {u"[\\t-~]", false}, // a range over the line breaks
        {u"^a", false},
        {u"a$", false},
        {u"\\Aa|\\z|\\Z|\\Ga|a\\Kb", false},
        {u"(*CR)a", false},
        {u"(?s)a.b", false},
        {u"(?x)a b # c\n d", true}, // extended mode: the line break is white space
        {u"(?s:a).b", true},
        {u"(a(?s)b|.)", false}, // dotall goes on into the group's later alternatives
        {u"a(?#\n)b", true},
        {u"\\Qa.b\\E", true},
        {u"\\Q\n\\E", false},
        {u"\\p{L}\\P{Cc}[^\\p{Cc}]", true},
        {u"\\P{L}", false},
        {u"[^[:space:]]+", true},
        {u"[[:^alpha:]]", false},
        {u"[]\\n]", false}, // ']' first is a member
        {u"[\\Q\r\\E]", false},
        {u"a\\Rb", false},
        {u"a\\nb", false},
        {u"\\x0a", false},
        {u"\\12", false}, // octal, not a reference
        {u"a\nb", false}, // a line break written in the expression
        {u"(a)?(?(1)b|c)", true},
        {u"(?C1)a", false},
        {u"(?x)a\u00a0b", false}, // a code page's tables may count it as white space
        {u"(?1)", false},
        {u"[a", false},
    };
    for (const auto& [regex, confined] : cases)
        EXPECT_EQ(IsLineConfined(regex), confined) << platform::WideToUtf8(regex);

    // The rarest character every match must hold, from the expression's own text.
    const std::pair<std::u16string, int> mandatory[] = {{u"[\\w.+-]+@[\\w-]+\\.[\\w.-]+", '@'},
                                                        {u"a{1,3}-", '-'},
                                                        {u"(x|y)z", 'z'},
                                                        {u"a|b", -1},
                                                        {u"a?b", 'b'},
                                                        {u"[@]x", 'x'},
                                                        {u"\\.foo", '.'},
                                                        {u"x\\\uFFFD", 'x'},
                                                        {u"x{0,2}y", 'y'},
                                                        {u"#?", -1},
                                                        {u"(?i)ab", 'b'},
                                                        {u"(?=@)x", 'x'},
                                                        {u"a{,3}", '{'}, // no repeat: literals
                                                        {u"[[:digit:]]+-[[:digit:]]+", '-'},
                                                        {u"[[:alpha:]@]", -1},
                                                        {u"[[:punct:]]", -1},
                                                        {u"[[:alnum:]]+s", 's'},
                                                        {u"[]@]x", 'x'},
                                                        {u"[\\Q]@\\E]x", 'x'},
                                                        {u"(\\w)?@(?#c)?[^\\s]+", -1},
                                                        {u"@\\Q\\E?a", 'a'},
                                                        {u"a\\Q@\\E?", 'a'},
                                                        {u"(?x)@ ?a #@\n", 'a'},
                                                        {u"@{0}x\\x3D", '='},
                                                        {u"a(*ACCEPT)@", -1},
                                                        {u"a\\ka", -1}};
    for (const auto& [regex, character] : mandatory)
        EXPECT_EQ(RarestMandatoryCharacter(regex), character) << platform::WideToUtf8(regex);

    // The characters every match starts with.
    const std::pair<std::u16string, std::u16string> leading[] = {{u"ERROR \\w+", u"ERROR "},
                                                                 {u"ab?c", u"a"},
                                                                 {u"a\\.b{2}", u"a."},
                                                                 {u"ab|c", u""},
                                                                 {u"(ab)", u""},
                                                                 {u"a(b|c)", u"a"},
                                                                 {u"\\Qa+\\E+", u"a"},
                                                                 {u"a(?x)b c", u"a"},
                                                                 {u"a(?i)b", u"a"},
                                                                 {u"\\x41\\n", u"A"},
                                                                 {u"a(*SKIP)b", u""},
                                                                 {u"ab(?C1)", u""},
                                                                 {u"a(?#c)*", u""},
                                                                 {u"[a]b", u""},
                                                                 {u"a{,2}", u"a{,2}"}};
    for (const auto& [regex, literal] : leading)
        EXPECT_EQ(LeadingLiteral(regex), literal) << platform::WideToUtf8(regex);

    // Compiled: confinement also needs a non-empty minimum length and no dotall; the required
    // character is taken where it is ASCII.
    Settings s;
    s.CodePage = 1252;
    s.regex = u"\\d+x";
    CompiledExpression compiled;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(compiled.LineConfined);
    EXPECT_EQ(compiled.Utf8Required, 'x');
    EXPECT_EQ(compiled.Utf16Required, 'x');
    EXPECT_EQ(compiled.AnsiRequired, 'x');
    s.regex = u"[\\w.+-]+@[\\w-]+\\.[\\w.-]+";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.Utf8Required, '@');
    EXPECT_EQ(compiled.AnsiRequired, '@');
    // The ']' that closes a POSIX name is not a literal every match holds.
    s.regex = u"[[:digit:]]+-[[:digit:]]+";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_TRUE(compiled.LineConfined);
    EXPECT_EQ(compiled.Utf8Required, '-');
    EXPECT_EQ(compiled.Utf16Required, '-');
    EXPECT_EQ(compiled.AnsiRequired, '-');
    // One that starts with a known character is left to the library's own scan for it.
    s.regex = u"a\\d+-x";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.Utf8Required, -1);
    // The library reads the expression up to a zero character; what follows it is not required.
    s.regex = std::u16string(u"\\d+x\0@", 6);
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.Utf8Required, 'x');
    EXPECT_EQ(compiled.AnsiRequired, 'x');
    // A character the code page lacks becomes "?" there, which makes the "a" optional.
    s.regex = u".a\uFFFD";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_EQ(compiled.Utf8Required, 'a');
    EXPECT_EQ(compiled.AnsiRequired, -1);
    // A literal start is taken where the library agrees on its first character, in every form
    // of an unanchored search; a caseless one ends before a letter with a case partner beyond
    // ASCII (k and s in UTF text).
    const struct {
        const char16_t* regex;
        bool caseSensitive;
        uint32_t codePage;
        std::string utf, ansi;
    } literals[] = {
        {u"ab\\d", true, 1252, "ab", "ab"},   {u"(?i)ab", true, 1252, "", ""},
        {u"^ab", true, 1252, "", ""},         {u"\\Gab", true, 1252, "", ""},
        {u"(*UTF)ab", true, 1252, "", ""},    {u"Error \\w", false, 1252, "Error ", "Error "},
        {u"risk", false, 1252, "ri", "risk"}, {u"sky", false, 1252, "", "sky"},
        {u"risk", true, 1254, "risk", "risk"}};
    for (const auto& c : literals) {
        SCOPED_TRACE(platform::WideToUtf8(c.regex));
        s.regex = c.regex;
        s.CaseSensitive = c.caseSensitive;
        s.CodePage = static_cast<int32_t>(c.codePage);
        ASSERT_EQ(CompileExpression(s, system, compiled), 0);
        EXPECT_EQ(compiled.Utf8Literal.Text, c.utf);
        EXPECT_EQ(platform::WideToUtf8(compiled.Utf16Literal.Text), c.utf);
        EXPECT_EQ(compiled.AnsiLiteral.Text, c.ansi);
        EXPECT_EQ(compiled.Utf8Literal.Caseless, !c.caseSensitive && !c.utf.empty());
    }
    s.CodePage = 1252;
    s.CaseSensitive = false;
    s.regex = u"\\d*";
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_FALSE(compiled.LineConfined);
    s.regex = u"\\d+x";
    s.Dotall = true;
    ASSERT_EQ(CompileExpression(s, system, compiled), 0);
    EXPECT_FALSE(compiled.LineConfined);
    ReleaseCompiledExpression(compiled);
}

// Runs a backtracking search that recurses once per subject character on a thread with the
// smallest stack a host thread may have.
struct DeepSearch {
    const CompiledExpression* compiled;
    bool wide;
    size_t length;
    int result = 0;
};

void RunDeepSearch(DeepSearch* job) {
    int ov[300];
    if (job->wide) {
        std::u16string subject;
        for (size_t i = 0; i < job->length; ++i) subject.push_back(i % 2 ? u'b' : u'a');
        job->result = pcre16_exec(job->compiled->Utf16Code.get(), job->compiled->Utf16Extra.get(),
                                  reinterpret_cast<PCRE_SPTR16>(subject.data()),
                                  static_cast<int>(subject.size()), 0,
                                  static_cast<int>(job->compiled->Utf16ExecOptions), ov, 300);
    } else {
        std::string subject;
        for (size_t i = 0; i < job->length; ++i) subject.push_back(i % 2 ? 'b' : 'a');
        job->result = pcre_exec(job->compiled->AnsiCode.get(), job->compiled->AnsiExtra.get(),
                                subject.data(), static_cast<int>(subject.size()), 0,
                                static_cast<int>(job->compiled->AnsiExecOptions), ov, 300);
    }
}

#ifdef _WIN32
DWORD WINAPI DeepSearchThread(LPVOID arg) {
    RunDeepSearch(static_cast<DeepSearch*>(arg));
    return 0;
}
#endif

int SearchOnSmallStack(const CompiledExpression& ce, bool wide, size_t length) {
    constexpr size_t kStack = 1024 * 1024;
    DeepSearch job{&ce, wide, length};
#ifdef _WIN32
    HANDLE thread = CreateThread(nullptr, kStack, DeepSearchThread, &job,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    EXPECT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStack);
    pthread_t thread;
    EXPECT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* arg) -> void* {
                      RunDeepSearch(static_cast<DeepSearch*>(arg));
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
    return job.result;
}

TEST_F(CompileTest, RecursionLimitKeepsDeepSearchesOffTheStackEnd) {
    // Without the limit these interpreter searches need far more than 1 MiB of stack and crash
    // the host.
    Settings interpreted = Plain(u"(a|b)*c");
    interpreted.Jit = false;
    ASSERT_EQ(CompileExpression(interpreted, system, compiled), 0);
    EXPECT_EQ(SearchOnSmallStack(compiled, false, 200000), PCRE_ERROR_RECURSIONLIMIT);
    EXPECT_EQ(SearchOnSmallStack(compiled, true, 200000), PCRE_ERROR_RECURSIONLIMIT);
    // Moderate depth still works.
    EXPECT_EQ(SearchOnSmallStack(compiled, false, 300), PCRE_ERROR_NOMATCH);
    EXPECT_EQ(SearchOnSmallStack(compiled, true, 300), PCRE_ERROR_NOMATCH);
    ReleaseCompiledExpression(compiled);

    // The JIT keeps its backtracking off the thread's stack: the same depth just works.
    ASSERT_EQ(CompileExpression(Plain(u"(a|b)+"), system, compiled), 0);
    EXPECT_EQ(SearchOnSmallStack(compiled, false, 200000), 2);
    EXPECT_EQ(SearchOnSmallStack(compiled, true, 200000), 2);
    ReleaseCompiledExpression(compiled);

    // Every form gets study data with the limit, also when the study found nothing to record.
    interpreted.regex = u"a*";
    ASSERT_EQ(CompileExpression(interpreted, system, compiled), 0);
    ASSERT_TRUE(compiled.AnsiExtra && compiled.Utf8Extra && compiled.Utf16Extra);
    EXPECT_EQ(compiled.AnsiExtra->flags,
              static_cast<unsigned long>(PCRE_EXTRA_MATCH_LIMIT_RECURSION));
    EXPECT_EQ(compiled.AnsiExtra->match_limit_recursion, SearchRecursionLimit(LibraryWidth::Bytes));
    EXPECT_EQ(compiled.Utf16Extra->match_limit_recursion,
              SearchRecursionLimit(LibraryWidth::Units));
    EXPECT_GE(SearchRecursionLimit(LibraryWidth::Bytes), 300u);
    EXPECT_LE(SearchRecursionLimit(LibraryWidth::Bytes), kSearchStackBudget / 64);
}

} // namespace
} // namespace gleanery
