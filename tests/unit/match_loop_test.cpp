// The match loop: empty matches and advances, duplicates, separators, template items in every
// mode and encoding, line-mode headers, search and replace, buffering and the output file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/match_loop.h"
#include "engine/text_pieces.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system_facts.h"

namespace gleanery {
namespace {

// The facts of a system with the built-in character tables of the library.
const platform::SystemFacts kSystem;

// Runs of the loop into an in-memory output.
class MatchLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.CodePage = 1252;
        settings.UnicodeProperties = false;
        settings.CaseSensitive = true;
        file.FileName = u"C:\\dir\\f\u00e4.txt";
        result.OutputBuffer.reserve(kOutputBufferCapacity);
    }
    void TearDown() override { ReleaseCompiledExpression(compiled); }

    // Compiles the expression and parses the template into the run's result state.
    void Prepare(const std::u16string& regex, const std::u16string& replace) {
        settings.regex = regex;
        settings.replace = replace;
        ReleaseCompiledExpression(compiled);
        CompileExpression(settings, kSystem, compiled);
        ASSERT_TRUE(compiled.ErrorText.empty());
        if (withoutLiteralScan) compiled.AnsiLiteral = compiled.Utf8Literal = {};
        if (withoutLiteralScan) compiled.Utf16Literal = {};
        result.Template = ReplacementTemplate{};
        ParseReplacement(settings, result.Template, compiled);
    }

    SearchContext Context() {
        return SearchContext{settings, compiled, kSystem, result, sink, progress};
    }
    // False when the output could not be written; `status` tells how the search ended.
    bool Bytes(const std::string& text) {
        SearchContext context = Context();
        status = SearchBytes(text.data(), text.size(), context, file);
        return status != SearchStatus::WriteFailed;
    }
    bool Units(const std::u16string& text) {
        SearchContext context = Context();
        status = SearchUnits(text.data(), text.size(), context, file);
        return status != SearchStatus::WriteFailed;
    }
    // A new input file, as the job sets it up.
    void NextFile(const std::u16string& name) {
        bool utf8 = file.IsUtf8, utf16 = file.IsUtf16, big = file.IsBigEndian;
        file = FileState{};
        file.FileName = name;
        file.IsUtf8 = utf8;
        file.IsUtf16 = utf16;
        file.IsBigEndian = big;
        result.TotalParts += result.PartsInFile;
        result.PartsInFile = 0;
    }

    std::string Finish() {
        if (!result.OutputBuffer.empty()) {
            EXPECT_TRUE(FlushOutput(sink, result));
        }
        return written;
    }

    // Everything one setting writes for `text` in the three forms, code page 1252, UTF-8 and
    // UTF-16 (one file each), into a fresh output. With a `cut` (in UTF-16 units), each form is
    // searched in two pieces as a reader cuts a file: the first knowing that more follows, the
    // second made of what the first left open and the rest of the text.
    std::string AllForms(const Settings& s, const std::u16string& text, size_t cut = SIZE_MAX) {
        written.clear();
        result = ResultState{};
        result.OutputBuffer.reserve(kOutputBufferCapacity);
        settings = s;
        Prepare(s.regex, s.replace);
        cut = std::min(cut, text.size());
        if (cut > 0 && cut < text.size() && platform::IsLowSurrogate(text[cut])) --cut;
        auto codePage = [](std::u16string_view wide) {
            std::string bytes;
            platform::AppendWideAsCodePage(1252, wide, -1, bytes);
            return bytes;
        };
        auto inPieces = [&](const auto& first, const auto& rest, auto search) {
            if (rest.empty()) return search(first);
            file.MoreFollows = true;
            if (!search(first)) return false;
            file.MoreFollows = false;
            return search(first.substr(file.ResumeAt) + rest);
        };
        const std::u16string_view head = std::u16string_view(text).substr(0, cut);
        const std::u16string_view tail = std::u16string_view(text).substr(cut);
        auto bytes = [this](const std::string& t) { return Bytes(t); };
        file = FileState{};
        EXPECT_TRUE(inPieces(codePage(head), codePage(tail), bytes));
        NextFile(u"utf8.txt");
        file.IsUtf8 = true;
        EXPECT_TRUE(inPieces(platform::WideToUtf8(head), platform::WideToUtf8(tail), bytes));
        NextFile(u"utf16.txt");
        file.IsUtf8 = false;
        file.IsUtf16 = true;
        EXPECT_TRUE(inPieces(std::u16string(head), std::u16string(tail),
                             [this](const std::u16string& t) { return Units(t); }));
        return Finish();
    }

    Settings settings;
    // Every search starts the library at every position, as with an expression of no literal start.
    bool withoutLiteralScan = false;
    CompiledExpression compiled;
    ResultState result;
    FileState file;
    std::string written;
    OutputSink sink = StringSink(written);
    ProgressFn progress = nullptr;
    SearchStatus status = SearchStatus::GoOn;
};

std::string Le(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}
std::string Be(const std::u16string& s) {
    std::string out;
    for (char16_t u : s) {
        out.push_back(static_cast<char>(u >> 8));
        out.push_back(static_cast<char>(u & 0xFF));
    }
    return out;
}

TEST_F(MatchLoopTest, EmptyMatchesAndEmptyValid) {
    Prepare(u"a*", u"[$0]");
    EXPECT_TRUE(Bytes("baaa"));
    EXPECT_EQ(result.MatchCount, 1u);
    settings.EmptyValid = true;
    EXPECT_TRUE(Bytes("baaa"));
    EXPECT_EQ(result.MatchCount, 3u);
    // An empty text allows one empty match per call, and only with EmptyValid.
    EXPECT_TRUE(Bytes(""));
    EXPECT_TRUE(Units(u""));
    settings.EmptyValid = false;
    EXPECT_TRUE(Bytes(""));
    EXPECT_TRUE(Units(u""));
    EXPECT_EQ(result.MatchCount, 5u);
    EXPECT_EQ(Finish(), "[aaa]\r\n[]\r\n[aaa]\r\n[]\r\n[]");

    // An expression that never matches empty finds nothing in an empty text.
    Prepare(u"x", u"$0");
    settings.EmptyValid = true;
    EXPECT_TRUE(Bytes(""));
    EXPECT_EQ(result.MatchCount, 5u);
}

TEST_F(MatchLoopTest, EmptyMatchAdvanceKeepsCharactersWhole) {
    settings.EmptyValid = true;
    // One counter per empty match: the output counts the positions the search stopped at.
    Prepare(u"", u"\\xM0");
    EXPECT_TRUE(Bytes("\r\n")); // CR LF is one step when it is a newline
    result.OutputBuffer += "|";
    Prepare(u"(*LF)", u"\\xM0");
    EXPECT_TRUE(Bytes("\r\n")); // with LF newlines the CR is a character of its own
    result.OutputBuffer += "|";
    Prepare(u"", u"\\xM0");
    file.IsUtf8 = true;
    EXPECT_TRUE(Bytes("\xC3\xA4\xE2\x82\xAC")); // two characters in five bytes
    result.OutputBuffer += "|";
    file.IsUtf8 = false;
    EXPECT_TRUE(Bytes("\xC3\xA4")); // the same bytes as code-page text: two characters
    result.OutputBuffer += "|";
    EXPECT_TRUE(Units(u"\U0001F600x")); // a surrogate pair is one step
    EXPECT_EQ(Finish(), "0|\r\n1\r\n2|\r\n3\r\n4|\r\n5\r\n6|\r\n7\r\n8");
}

// 64-bit product modulo 2^64 from 32-bit halves.
TEST_F(MatchLoopTest, MatchHashAndDuplicates) {
    EXPECT_EQ(MatchHash("", 0), 0xCBF29CE484222325ULL);
    // Pinned values: the hashes decide which results count as duplicates, and bytes above 0x7F
    // enter them sign-extended.
    const std::pair<std::string, uint64_t> pinned[] = {
        {"a", 0x873B693C67E39DDCULL},
        {"\xE4", 0x2C3BB8EB74E3CCC2ULL},
        {"\xC3\xA4x", 0xB783C63695C0681EULL},
        {"duplicate \xFF\x80 text", 0x9310834343B38D61ULL}};
    for (const auto& [text, hash] : pinned) EXPECT_EQ(MatchHash(text.data(), text.size()), hash);
    EXPECT_NE(MatchHash("ab", 2), MatchHash("ba", 2));
    // A hash can be continued over pieces.
    EXPECT_EQ(MatchHash("cd", 2, MatchHash("ab", 2)), MatchHash("abcd", 4));

    // The same text in a code-page file and in a UTF-16 file counts once.
    settings.NoDuplicates = true;
    Prepare(u"[^ ]+", u"$0");
    EXPECT_TRUE(Bytes("\xE4 x"));
    NextFile(u"C:\\second.txt");
    file.IsUtf16 = true;
    EXPECT_TRUE(Units(u"x \u00e4 y \U0001F600 \U0001F600"));
    EXPECT_EQ(result.MatchCount, 4u);
    EXPECT_EQ(result.DuplicateCount, 3u);
    EXPECT_EQ(result.SeenHashes.count(MatchHash("\xC3\xA4", 2)), 1u);
    // In binary mode the raw byte is hashed: not the same as the UTF-8 form seen before.
    NextFile(u"C:\\third.bin");
    file.IsUtf16 = false;
    settings.BinaryMode = true;
    EXPECT_TRUE(Bytes("\xE4 y"));
    EXPECT_EQ(result.DuplicateCount, 4u);
    EXPECT_EQ(Finish(), "\xC3\xA4\r\nx\r\ny\r\n\xF0\x9F\x98\x80\r\n\xE4");
}

TEST_F(MatchLoopTest, TemplateItemsOnBytes) {
    const std::u16string tmpl = u"[$1|$2|$3]\\x41\\xM2\\xm0 \\xNn \\xNN <\u00e4>";
    Prepare(u"(\u00e4)(x)?", tmpl);
    EXPECT_EQ(result.Template.MissingGroupCount, 1);
    // Code-page text: everything in UTF-8, the unset group counts as written.
    EXPECT_TRUE(Bytes("a\xE4z\xE4x"));
    EXPECT_EQ(result.ItemsWritten, 14u); // all but the missing group
    EXPECT_EQ(Finish(), "[\xC3\xA4||]A0001 f\xC3\xA4.txt C:\\dir\\f\xC3\xA4.txt <\xC3\xA4>\r\n"
                        "[\xC3\xA4|x|]A0012 f\xC3\xA4.txt C:\\dir\\f\xC3\xA4.txt <\xC3\xA4>");
}

TEST_F(MatchLoopTest, TemplateItemsInBinaryAndUtf8Files) {
    Prepare(u"(.)\u00e4", u"$1\\xNn\u00e4");
    settings.BinaryMode = true;
    EXPECT_TRUE(Bytes("-\xE4"));
    settings.BinaryMode = false;
    file.IsUtf8 = true;
    EXPECT_TRUE(Bytes("\xC3\xA9\xC3\xA4"));
    // Binary: raw bytes, literal and name in the code page. UTF-8: raw bytes and UTF-8 texts.
    EXPECT_EQ(Finish(), "-f\xE4.txt\xE4\r\n\xC3\xA9"
                        "f\xC3\xA4.txt\xC3\xA4");
}

TEST_F(MatchLoopTest, TemplateItemsOnUnits) {
    settings.DefaultCharacter = 'x'; // the code-page form needs a stand-in for the emoji
    Prepare(u"(\u00e4)(\U0001F600)?", u"$1$2$9\\x0a\\xm1\\xNn|\u0416");
    file.IsUtf16 = true;
    EXPECT_TRUE(Units(u"-\u00e4\U0001F600"));
    EXPECT_EQ(Finish(), "\xC3\xA4\xF0\x9F\x98\x80\n01f\xC3\xA4.txt|\xD0\x96");
}

TEST_F(MatchLoopTest, SearchAndReplaceKeepsEachFilesEncoding) {
    settings.SearchAndReplace = true;
    Prepare(u"(\u00e4)", u"<$1\\x41\\xM1\\xNn\u00e4>");
    // Code page: copied text, group and literal all in the code page.
    EXPECT_TRUE(Bytes("a\xE4"
                      "b"));
    // A part without a match is copied unchanged.
    EXPECT_TRUE(Bytes("\r\nnone\r\n"));
    EXPECT_EQ(Finish(), "a<\xE4"
                        "A00f\xE4.txt\xE4>b\r\nnone\r\n");
}

TEST_F(MatchLoopTest, SearchAndReplaceOnUtf8AndUtf16InTheirByteOrder) {
    settings.SearchAndReplace = true;
    Prepare(u"-", u"+\\xNn\\x41\\xm0");
    file.IsUtf8 = true;
    EXPECT_TRUE(Bytes("\xC3\xA4-"));
    std::string expected = "\xC3\xA4+f\xC3\xA4.txtA1";
    file.IsUtf8 = false;
    file.IsUtf16 = true;
    EXPECT_TRUE(Units(u"a-b"));
    expected += Le(u"a+f\u00e4.txtA2b");
    file.IsBigEndian = true;
    EXPECT_TRUE(Units(u"\u00e4-\U0001F600"));
    expected += Be(u"\u00e4+f\u00e4.txtA3\U0001F600");
    EXPECT_EQ(Finish(), expected);
}

TEST_F(MatchLoopTest, SeparatorsAndMissingGroups) {
    // Only references to missing groups: no text and no separators, but the byte-order mark.
    settings.WriteBom = true;
    Prepare(u"a", u"$5");
    EXPECT_TRUE(Bytes("aaa"));
    EXPECT_EQ(result.MatchCount, 3u);
    EXPECT_TRUE(result.BomWritten);
    EXPECT_EQ(Finish(), "\xEF\xBB\xBF");

    // An empty template: one CR LF between consecutive matches.
    Prepare(u"a", u"");
    EXPECT_TRUE(Bytes("aa"));
    EXPECT_EQ(Finish(), "\xEF\xBB\xBF\r\n\r\n");
}

TEST_F(MatchLoopTest, ShortTextsWithoutAHeldCharacter) {
    // Every match holds an "e" in one case or the other (caseless by the settings, or by the
    // expression itself): texts without one are counted as parts but not searched, texts with
    // either case are.
    for (const auto& [caseSensitive, regex] :
         {std::pair{false, u"err\\w"}, std::pair{true, u"x|(?i)err\\w"}}) {
        settings.CaseSensitive = caseSensitive;
        Prepare(regex, u"$0");
        written.clear();
        result.PartsInFile = result.MatchCount = 0;
        for (std::string text : {"ERRx", "none", "an errY", "k"}) EXPECT_TRUE(Bytes(text));
        EXPECT_EQ(result.PartsInFile, 4u);
        EXPECT_EQ(Finish(), "ERRx\r\nerrY");
    }
    // A text that fails the encoding check of its first search is reported even without one.
    file.IsUtf8 = true;
    file.CheckUtfOnFirstSearch = true;
    EXPECT_TRUE(Bytes("n\xFFo"));
    EXPECT_TRUE(file.BadEncoding);
}

TEST_F(MatchLoopTest, Counters) {
    Prepare(u"a", u"\\xM3/\\xm3/\\xM0");
    EXPECT_TRUE(Bytes("aaaaaaaaaa"));
    std::string out = Finish();
    EXPECT_EQ(out.substr(0, 14), "0000/0001/0\r\n0");
    EXPECT_EQ(out.substr(out.size() - 13), "\r\n0009/0010/9");
}

TEST_F(MatchLoopTest, LineModeHeaders) {
    settings.LineMode = true;
    Prepare(u"a", u"$0");
    for (std::string line : {"x", "", "a a", "", "a"}) EXPECT_TRUE(Bytes(line));
    NextFile(u"C:\\dir\\b.txt");
    EXPECT_TRUE(Bytes("ba"));
    const std::string before = Finish();
    EXPECT_EQ(before, ">>>> \"C:\\dir\\f\xC3\xA4.txt\":\r\n>> Line 3:\r\na\r\na\r\n"
                      ">> Line 5:\r\na\r\n>>>> \"C:\\dir\\b.txt\":\r\n>> Line 1:\r\na");
    EXPECT_EQ(result.TotalParts, 5u);

    // In binary mode the file name goes out in the code page.
    NextFile(u"C:\\\u00e4.bin");
    settings.BinaryMode = true;
    EXPECT_TRUE(Bytes("a"));
    EXPECT_EQ(Finish().substr(before.size()), "\r\n>>>> \"C:\\\xE4.bin\":\r\n>> Line 1:\r\na");
}

TEST_F(MatchLoopTest, LargePiecesBypassTheBuffer) {
    const std::string big(0x30000, 'x');
    settings.SearchAndReplace = true;
    Prepare(u"y", u"Y");
    EXPECT_TRUE(Bytes("y" + big + "y"));
    // The big copy went to the file at once; only the last replacement waits in the buffer.
    EXPECT_EQ(result.OutputBuffer, "Y");
    EXPECT_EQ(written.size(), 1 + big.size());
    EXPECT_EQ(Finish(), "Y" + big + "Y");

    // A big matched group in extraction mode, and many small results that pass the threshold.
    settings.SearchAndReplace = false;
    Prepare(u"x+|b", u"$0");
    std::string many;
    for (int i = 0; i < 0x20000; ++i) many += "b";
    EXPECT_TRUE(Bytes(big + many));
    EXPECT_LE(result.OutputBuffer.size(), kFlushThreshold + 3);
    std::string expected = "Y" + big + "Y\r\n" + big;
    for (int i = 0; i < 0x20000; ++i) expected += "\r\nb";
    EXPECT_EQ(Finish(), expected);
}

TEST_F(MatchLoopTest, OutputEmptiedAtFirstFlushOnly) {
    written = "old content that must go";
    Prepare(u"b", u"$0");
    EXPECT_TRUE(Bytes("abc"));
    EXPECT_EQ(written, "old content that must go"); // nothing written yet
    EXPECT_EQ(Finish(), "b");
    EXPECT_TRUE(result.OutputStarted);
    EXPECT_TRUE(Bytes("b"));
    EXPECT_EQ(Finish(), "b\r\nb");

    // A failed write ends the search and is reported by the loop.
    sink.Write = [](void*, const char*, size_t) { return false; };
    Prepare(u"x+", u"$0");
    settings.BinaryMode = true; // raw bytes: the big match is written at once
    EXPECT_FALSE(Bytes(std::string(0x30000, 'x') + "-x"));
    EXPECT_EQ(status, SearchStatus::WriteFailed);
    EXPECT_EQ(result.MatchCount, 2u);
}

TEST_F(MatchLoopTest, SearchEndings) {
    // Invalid UTF-8 found by the checked first search marks the file.
    Prepare(u"a", u"$0");
    file.IsUtf8 = true;
    file.CheckUtfOnFirstSearch = true;
    EXPECT_TRUE(Bytes("a\xFF"));
    EXPECT_TRUE(file.BadEncoding);
    EXPECT_EQ(result.MatchCount, 0u);
    // The same verdicts on a text long enough to be searched by lines, whose check runs first,
    // over the whole text: a surrogate's form is invalid, a letter beyond ASCII is not.
    Prepare(u"\\w+@x", u"$0");
    const std::string lines = [] {
        std::string text;
        for (int i = 0; i < 400; ++i) text += "ab\n";
        return text;
    }();
    for (const auto& [tail, bad] : {std::pair{"\xED\xA0\x80 a@x", true}, {"\xC3\xA4 a@x", false}}) {
        file = FileState{};
        file.IsUtf8 = true;
        file.CheckUtfOnFirstSearch = true;
        result.MatchCount = 0;
        EXPECT_TRUE(Bytes(lines + tail));
        EXPECT_EQ(file.BadEncoding, bad);
        EXPECT_EQ(result.MatchCount, bad ? 0u : 1u);
    }
    // UTF-16: a surrogate without its partner is invalid, a pair or a text without any is not.
    const std::u16string wideLines(lines.begin(), lines.end());
    const auto unit = [](char16_t u) { return std::u16string(1, u); };
    for (const auto& [tail, bad] : {std::pair{unit(0xD800) + u" a@x", true},
                                    {unit(0xDC00) + u" a@x", true},
                                    {u"\U0001F600 a@x", false},
                                    {u"\u00e4 a@x", false}}) {
        file = FileState{};
        file.IsUtf16 = true;
        file.CheckUtfOnFirstSearch = true;
        result.MatchCount = 0;
        EXPECT_TRUE(Units(wideLines + tail));
        EXPECT_EQ(file.BadEncoding, bad);
        EXPECT_EQ(result.MatchCount, bad ? 0u : 1u);
    }
    file = FileState{};
    result = ResultState{};
    written.clear();

    // More groups than the output vector holds: the result 0 still counts as a match.
    std::u16string many;
    for (int i = 0; i < 120; ++i) many += u"(a)";
    Prepare(many, u"$99");
    EXPECT_TRUE(Bytes(std::string(120, 'a')));
    EXPECT_EQ(result.MatchCount, 1u);

    // A form that did not compile finds nothing; search and replace still copies the part.
    settings.regex = u"(";
    ReleaseCompiledExpression(compiled);
    CompileExpression(settings, kSystem, compiled);
    ASSERT_FALSE(compiled.AnsiCode);
    settings.SearchAndReplace = true;
    EXPECT_TRUE(Bytes("(text)"));
    EXPECT_EQ(result.MatchCount, 1u);
    EXPECT_EQ(Finish(), "a(text)");
}

// Sets the slice bounds of long searches for one test, and puts them back.
struct SliceBounds {
    SearchSlices saved = detail::Slices();
    explicit SliceBounds(SearchSlices bounds) { detail::Slices() = bounds; }
    ~SliceBounds() { detail::Slices() = saved; }
};

// Text in every shape the engine meets: words, mail addresses, dates, numbers, every line break,
// umlauts, Greek, a character beyond the BMP, double letters, quotes, empty lines, and letters
// whose case partners lie beyond ASCII (the Kelvin sign, the long s).
const std::u16string kMixedText =
    u"Error 17: r\u00e4ume stra\u00dfe STRASSE Stra\u00dfe at 2024-02-29\r\n"
    u"mail john.doe+x@example.co.uk, <title>Two</title> x=0x1F 12h\n\n"
    u"\u03b1\u03b2\u03b3 \u0391\u0392 \U0001F600 aaa bbb abab \"q\\\"t\" C:\\dir\\f.txt\r"
    u"192.168.0.1 http://host/p?q=1. tail  \r\n\r\n\u212Aelvin \u017Fun last";

TEST_F(MatchLoopTest, JitInterpreterAndSlicedSearchesWriteTheSameOutput) {
    const std::u16string expressions[] = {
        u".*", u"\\w+", u"\\b\\w+\\b", u"(\\d+)-(\\d+)", u"(?m)^(.*)$", u"(?m)^", u"$", u"\\R",
        u"(a|b)+", u"(?i)stra\\x{DF}e", u"(?i)\u00c4", u"\\p{L}+", u"\\p{Greek}",
        u"[\\w.+-]+@[\\w-]+\\.[\\w.-]+", u"(?<=a)b", u"(?<![\\d.])\\d+(?!\\.?\\d)", u"a\\Kb",
        u"(?=b)|\\Kx", u"", u"x*", u"(*CRLF)(?m)^.*$", u"(*CR)(?m).$", u"(*LF)\\N+",
        u"(?s)<title>(.*?)</title>", u"\"(?:[^\"\\\\\\r\\n]|\\\\.)*\"", u"[ \\t]+$",
        u"\\b(?:0[xX][0-9A-Fa-f]+|\\d[0-9A-Fa-f]*[hH])\\b", u"\\Ga", u"(*COMMIT)x|a", u"(?i)\\w*k",
        u"(?i)\\w*s", u"(?s).", u"[^\\x00-\\x7F]+", u"\\Z", u"(*ANY)(?m)$", u"(a)?b?(?:c|)",
        u"(?|(a)|(b))\\1?", u"[[:digit:]]+-[[:digit:]]+", u"[[:alpha:]@]+", u"[[:punct:]]",
        u"[[:alnum:]]+s", u"(\\w)?@(?#c)?[^\\s]+", u"a+(*PRUNE)b|a", u"\\s[mx]", u"(?=(?:)E)E",
        // Searches that go straight to a leading literal.
        u"ab", u"Str\\w+", u"aa(?<=aaa)a?", u"x=0\\K", u"\\r\\n", u"ab{0}c|\\d"};
    struct Mode {
        const char* name;
        bool emptyValid, replace, caseSensitive, noDuplicates;
    } modes[] = {{"plain", false, false, true, false},
                 {"empty valid", true, false, true, false},
                 {"search and replace", true, true, false, false},
                 {"no duplicates, ignore case", false, false, false, true}};
    for (const std::u16string& regex : expressions) {
        for (const Mode& mode : modes) {
            SCOPED_TRACE(platform::WideToUtf8(regex) + " / " + mode.name);
            Settings s = settings;
            s.regex = regex;
            s.replace = mode.replace ? u"[$0|$1]" : u"<$0>$1";
            s.EmptyValid = mode.emptyValid;
            s.SearchAndReplace = mode.replace;
            s.CaseSensitive = mode.caseSensitive;
            s.NoDuplicates = mode.noDuplicates;
            s.UnicodeProperties = true;
            const std::string jit = AllForms(s, kMixedText);
            {
                // Line by line wherever the expression allows it, however short the text.
                SliceBounds lines({0x10, 0x100, 0x4000, 0});
                EXPECT_EQ(AllForms(s, kMixedText), jit) << "JIT line by line";
            }
            s.Jit = false;
            EXPECT_EQ(AllForms(s, kMixedText), jit) << "interpreter";
            // Slices of one to four units cut the text everywhere a search could; the search
            // goes over the whole text, never line by line.
            SliceBounds tiny({1, 1, 4, SIZE_MAX});
            EXPECT_EQ(AllForms(s, kMixedText), jit) << "interpreter in slices";
            s.Jit = true;
            EXPECT_EQ(AllForms(s, kMixedText), jit) << "JIT in slices";
            // A reader's cut anywhere in the text changes nothing.
            for (size_t cut = 1; cut < kMixedText.size(); cut += 5)
                EXPECT_EQ(AllForms(s, kMixedText, cut), jit) << "cut at " << cut;
        }
    }
}

// Long texts full of near misses of a leading literal, in both cases: the scan for the literal
// over the whole text, and in slices of one to four units, finds what the library finds trying
// every start, as does the search line by line. Later rounds spread the pieces among runs of a
// filler, so that the scans' steps find what they look for in any of their parts, or nothing.
TEST_F(MatchLoopTest, LeadingLiteralsAmongNearMisses) {
    const char16_t* pieces[] = {u"ERROR ", u"ERR", u"error ", u"ErRoR x", u"R ",   u" ",
                                u"x",      u"\n",  u"\u00e9", u"RR  R",   u"ERROR"};
    const char16_t* expressions[] = {u"ERROR \\w+", u"error \\w+", u"R \\w", u"r\\s",
                                     u"RoR",        u"E\\w",       u"x\\n",  u"\\w+R\\w"};
    uint32_t seed = 99;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 70; ++round) {
        const bool sparse = round >= 40;
        std::u16string text;
        while (text.size() < (sparse ? 900u : 300u)) {
            if (sparse && next() % 4 != 0)
                text.append(next() % 61, u'w');
            else
                text += pieces[next() % std::size(pieces)];
        }
        Settings s = settings;
        s.regex = expressions[round % std::size(expressions)];
        s.CaseSensitive = round % 2 == 0;
        s.replace = u"<$0>";
        SCOPED_TRACE(platform::WideToUtf8(s.regex) + " in " + platform::WideToUtf8(text));
        withoutLiteralScan = true;
        const std::string plain = AllForms(s, text);
        withoutLiteralScan = false;
        EXPECT_EQ(AllForms(s, text), plain);
        {
            // Line by line where the expression allows it (it holds a required letter).
            SliceBounds lines({0x10, 0x100, 0x4000, 0});
            EXPECT_EQ(AllForms(s, text), plain);
        }
        SliceBounds tiny({1, 1, 4, SIZE_MAX});
        EXPECT_EQ(AllForms(s, text), plain);
    }
}

TEST_F(MatchLoopTest, DeepMatchesRunWholeAndLimitsAreReported) {
    // A match that takes one level of backtracking per character runs over a whole 1 MiB text,
    // in every form.
    std::u16string run;
    for (int i = 0; i < 0x40000; ++i) run += u"abab";
    Settings s = settings;
    s.regex = u"(a|b)+";
    s.replace = u"$0";
    const std::string whole = platform::WideToUtf8(run);
    EXPECT_EQ(AllForms(s, run), whole + "\r\n" + whole + "\r\n" + whole);
    EXPECT_FALSE(file.EndedEarly);
    EXPECT_EQ(result.PartsEndedEarly, 0u);

    // The interpreter runs out of recursion on the host's stack after a few hundred characters;
    // its search runs again on a larger stack, which holds tens of thousands.
    s.Jit = false;
    const std::u16string shorter = run.substr(0, 20000);
    const std::string shorterWhole = platform::WideToUtf8(shorter);
    EXPECT_EQ(AllForms(s, shorter), shorterWhole + "\r\n" + shorterWhole + "\r\n" + shorterWhole);
    EXPECT_FALSE(file.EndedEarly);

    // Beyond that it stops at its recursion limit, and says so for every part.
    EXPECT_EQ(AllForms(s, run), "");
    EXPECT_TRUE(file.EndedEarly);
    EXPECT_EQ(result.PartsEndedEarly, 3u);

    // A match limit ends the JIT's search the same way; matches before it stay.
    s.Jit = true;
    s.regex = u"(*LIMIT_MATCH=50)(a|b)*c|z";
    EXPECT_EQ(AllForms(s, u"z " + run.substr(0, 400) + u" z"), "z\r\nz\r\nz");
    EXPECT_TRUE(file.EndedEarly);
    EXPECT_EQ(result.PartsEndedEarly, 3u);
}

TEST_F(MatchLoopTest, SliceEndsChangeNothing) {
    // Texts longer than the first slice, searched with the usual slice bounds, in every form.
    const std::u16string w300(300, u'w');
    struct Case {
        const char16_t* regex;
        std::u16string text;
        bool emptyValid;
        std::u16string expected;
    } cases[] = {
        // An attempt that reaches a slice's end started after a (*SKIP) passed over the quote
        // that \b looked back at: the next slice starts at that attempt, not at the quote.
        {u"\"[^\"]*\"(*SKIP)(*F)|\\b\\w+\\b", u"\"q\"" + w300 + u" \"r\" end", false,
         w300 + u"\r\nend"},
        // An empty match that \K leaves at a slice's end.
        {u"a\\K", std::u16string(255, u'b') + u"ab", true, u"<>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::WideToUtf8(c.regex));
        Settings s = settings;
        s.regex = c.regex;
        s.replace = c.emptyValid ? u"<$0>" : u"$0";
        s.EmptyValid = c.emptyValid;
        const std::string one = platform::WideToUtf8(c.expected);
        for (bool jit : {true, false}) {
            s.Jit = jit;
            EXPECT_EQ(AllForms(s, c.text), one + "\r\n" + one + "\r\n" + one);
        }
    }
}

TEST_F(MatchLoopTest, CancelStopsALongSearchThatFindsNothing) {
    // Each start position costs hundreds of thousands of steps and none matches: searched whole,
    // this text takes more than ten seconds. The host answers its first progress call with a
    // cancel. The same when the text starts with more empty lines than a slice holds.
    std::string lines;
    for (int line = 0; line < 600; ++line) lines += std::string(60, 'x') + "\n";
    // (\s lets a match cross lines: the search cannot go by the lines that hold a "y"; \G holds
    // only where a search starts.)
    progress = [](const std::u16string&, int) { return false; };
    const std::string breaks(300, '\n');
    for (const auto& [regex, text] : {std::pair{u"x*x*x*x*\\s?y", lines},
                                      {u"x*x*x*x*\\s?y", breaks + lines},
                                      {u"\\Gq|x*x*x*x*\\s?y", lines}}) {
        Prepare(regex, u"$0");
        result = ResultState{};
        const auto began = std::chrono::steady_clock::now();
        EXPECT_TRUE(Bytes(text));
        const auto took = std::chrono::steady_clock::now() - began;
        EXPECT_EQ(status, SearchStatus::Cancelled);
        // The progress call comes after half a second; a generous bound for a shared machine.
        EXPECT_LT(took, std::chrono::seconds(5));
    }
}

TEST(TextPiecesTest, PiecesNeverSplitCharacters) {
    CodePageText ctx;
    PrepareCodePageText(ctx, 932);
    // Shift-JIS trail bytes can look like lead bytes: only a walk from the start tells them.
    EXPECT_EQ(NextBytePiece(ctx, "\x81\x81\x81\x81", 4, 3), 2u);
    EXPECT_EQ(NextBytePiece(ctx, "a\x81\x81\x81\x81", 5, 3), 3u);
    EXPECT_EQ(NextBytePiece(ctx, "\x81\x81\x81", 3, 3), 3u);

    // A long text converted piece by piece equals the conversion of the whole.
    std::string text = "a";
    while (text.size() < 3 * kBytePieceLimit) text += "\x82\xA0\x81\x81x";
    std::u16string wide;
    ASSERT_TRUE(platform::AppendCodePageAsWide(932, text, wide));
    std::string pieces;
    AppendCodePageAsUtf8(ctx, text.data(), text.size(), pieces);
    EXPECT_EQ(pieces, platform::WideToUtf8(wide));

    // Code page 65001: a piece does not end inside a multi-byte sequence.
    CodePageText utf8Pieces;
    PrepareCodePageText(utf8Pieces, platform::kUtf8CodePage);
    EXPECT_EQ(NextBytePiece(utf8Pieces, "ab\xE2\x82\xAC", 5, 3), 2u);
    EXPECT_EQ(NextBytePiece(utf8Pieces, "ab\xE2\x82\xAC", 5, 4), 2u);
    EXPECT_EQ(NextBytePiece(utf8Pieces, "ab\xE2\x82\xAC", 5, 2), 2u);
    EXPECT_EQ(NextBytePiece(utf8Pieces, "\x80\x80\x80\x80\x80\x80", 6, 5), 5u);

    // Without the ASCII shortcut (an EBCDIC page) the system converter does all the work.
    EXPECT_FALSE(AsciiIsIdentity(37));
    EXPECT_FALSE(AsciiIsIdentity(50220));
    EXPECT_TRUE(AsciiIsIdentity(1252));

    // UTF-16: a piece never ends on a high surrogate, and one that ends the text is left out.
    const std::u16string units = u"ab\U0001F600c\xD800";
    EXPECT_EQ(NextUnitPiece(units.data(), units.size(), 3), 2u);
    EXPECT_EQ(NextUnitPiece(units.data() + 2, 4, 3), 3u);
    EXPECT_EQ(NextUnitPiece(units.data() + 5, 1, 3), 0u);
    std::string utf8;
    AppendUnitPiecesAsUtf8(units.data(), units.size(), 3, utf8);
    EXPECT_EQ(utf8, "ab\xF0\x9F\x98\x80"
                    "c");
    utf8.clear();
    platform::AppendUtf16AsUtf8(u"\xDC00x", utf8);
    EXPECT_EQ(utf8, "\xEF\xBF\xBDx");
}

} // namespace
} // namespace gleanery
