// Tests of encoding detection (over real files) and the three input readers (over input and
// output in memory), with a real compiled expression and the match loop.
#include "engine/byte_room.h"
#include "engine/compiled_expression.h"
#include "engine/detect_encoding.h"
#include "engine/file_search.h"
#include "engine/match_loop.h"
#include "engine/readers.h"
#include "engine/replacement_template.h"
#include "engine/utf8_validity.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system_facts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gleanery {
namespace {

// The facts of a system with the built-in character tables of the library.
const platform::SystemFacts kSystem;

namespace fs = std::filesystem;
using namespace std::string_literals;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// UTF-16 bytes of ASCII/BMP text in either byte order.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

// ---- progress callback recorder ----------------------------------------------------------------

std::vector<int> g_progress;
int g_stopAfter = -1; // answer 0 from this call on (0-based); -1 never

bool RecordProgress(const std::u16string&, int size) {
    g_progress.push_back(size);
    return g_stopAfter < 0 || static_cast<int>(g_progress.size()) <= g_stopAfter;
}

struct ProgressScope {
    ProgressScope(int stopAfter = -1) {
        g_progress.clear();
        g_stopAfter = stopAfter;
    }
    ~ProgressScope() { g_stopAfter = -1; }
};

struct FaultScope {
    ~FaultScope() { platform::ClearFaults(); }
};

// ---- encoding detection ------------------------------------------------------------------------

struct Detection {
    bool ok = false;
    uint32_t bom = 99;
    FileState file;
    std::string rest; // what the file yields from the position DetectEncoding left
};

// (Without `rooms`, only the detection in memory of its own runs: for faults injected into it.)
Detection Detect(const TempDir& dir, const std::string& content, Settings settings = {},
                 bool rooms = true) {
    WriteAll(dir.Narrow("in.bin"), content);
    const auto size = static_cast<int64_t>(content.size());
    // Without a room of the caller's, then in one one byte too small to take the check buffer
    // and its terminating zero, then in one just large enough; each filled with stale bytes.
    Detection d[3];
    const size_t check = EncodingCheckLength(size, settings);
    for (int i = 0; i < (rooms ? 3 : 1); ++i) {
        platform::File input = platform::OpenForReading(dir.Wide("in.bin"));
        std::string room(check + static_cast<size_t>(i), '\xFF');
        d[i].ok = DetectEncoding(size, d[i].bom, input, d[i].file, settings,
                                 i == 0 ? nullptr : reinterpret_cast<unsigned char*>(room.data()),
                                 i == 0 ? 0 : room.size());
        std::string rest(content.size() + 1, '\0');
        size_t got = 0;
        platform::Read(input, rest.data(), rest.size(), got);
        rest.resize(got);
        d[i].rest = rest;
    }
    for (int i = 1; i < (rooms ? 3 : 1); ++i) {
        const Detection& other = d[i];
        EXPECT_EQ(other.ok, d[0].ok);
        EXPECT_EQ(other.bom, d[0].bom);
        EXPECT_EQ(other.rest, d[0].rest);
        EXPECT_EQ(other.file.IsUtf8, d[0].file.IsUtf8);
        EXPECT_EQ(other.file.IsUtf16, d[0].file.IsUtf16);
        EXPECT_EQ(other.file.IsBigEndian, d[0].file.IsBigEndian);
        EXPECT_EQ(other.file.CheckUtfOnFirstSearch, d[0].file.CheckUtfOnFirstSearch);
    }
    return d[0];
}

TEST(DetectEncoding, EmptyTinyAndOddSizedFiles) {
    TempDir dir;
    Detection d = Detect(dir, "");
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_FALSE(d.file.IsUtf8 || d.file.IsUtf16 || d.file.IsBigEndian);

    d = Detect(dir, "\xC3");
    EXPECT_TRUE(d.ok);
    EXPECT_FALSE(d.file.IsUtf8 || d.file.IsUtf16);
    EXPECT_EQ(d.rest, "\xC3");

    // Exactly a big-endian mark: UTF-16 with no data.
    d = Detect(dir, "\xFE\xFF");
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_TRUE(d.file.IsBigEndian);
    EXPECT_EQ(d.bom, 2u);
    EXPECT_EQ(d.rest, "");

    // An odd size rules UTF-16 out; the mark is searched as code-page text and the UTF-8 check
    // is skipped even though the rest is valid UTF-8.
    d = Detect(dir, "\xFE\xFF\xC3\xA9z");
    EXPECT_TRUE(d.ok);
    EXPECT_FALSE(d.file.IsUtf8 || d.file.IsUtf16);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_EQ(d.rest, "\xFE\xFF\xC3\xA9z");

    Detection negative;
    WriteAll(dir.Narrow("x"), "abc");
    platform::File input = platform::OpenForReading(dir.Wide("x"));
    EXPECT_FALSE(DetectEncoding(-1, negative.bom, input, negative.file, Settings{}));
}

TEST(DetectEncoding, MarksAndTheirChecks) {
    TempDir dir;
    Detection d = Detect(dir, "\xEF\xBB\xBF"
                              "caf\xC3\xA9");
    EXPECT_TRUE(d.file.IsUtf8);
    EXPECT_EQ(d.bom, 3u);
    EXPECT_EQ(d.rest, "caf\xC3\xA9");

    // A UTF-8 mark on pure ASCII stays UTF-8.
    d = Detect(dir, "\xEF\xBB\xBF"
                    "abc");
    EXPECT_TRUE(d.file.IsUtf8);
    EXPECT_EQ(d.bom, 3u);

    // A UTF-8 mark in front of invalid data: code-page text including the mark bytes.
    d = Detect(dir, "\xEF\xBB\xBF"
                    "a\xFF"
                    "b");
    EXPECT_FALSE(d.file.IsUtf8);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_EQ(d.rest, "\xEF\xBB\xBF"
                      "a\xFF"
                      "b");

    const std::string le = "\xFF\xFE" + Utf16(u"h\u00e9llo", false);
    d = Detect(dir, le);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_FALSE(d.file.IsBigEndian);
    EXPECT_EQ(d.bom, 2u);
    EXPECT_EQ(d.rest, le.substr(2));

    const std::string be = "\xFE\xFF" + Utf16(u"h\u00e9llo", true);
    d = Detect(dir, be);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_TRUE(d.file.IsBigEndian);
    EXPECT_EQ(d.bom, 2u);
    EXPECT_FALSE(d.file.CheckUtfOnFirstSearch);

    // In search-and-replace mode the mark stays in the searched text.
    Settings replace;
    replace.SearchAndReplace = true;
    d = Detect(dir, be, replace);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_EQ(d.rest, be);

    // Marked data with a non-character: the mark is searched as text, and the data gets the
    // library's UTF check on its first search.
    d = Detect(dir, "\xFF\xFE"
                    "a\0\xFF\xFF"
                    "b\0"s);
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_TRUE(d.file.CheckUtfOnFirstSearch);
    EXPECT_EQ(d.rest.size(), 8u);

    // Binary mode looks at nothing.
    Settings binary;
    binary.BinaryMode = true;
    d = Detect(dir, be, binary);
    EXPECT_TRUE(d.ok);
    EXPECT_FALSE(d.file.IsUtf16);
    EXPECT_EQ(d.bom, 0u);
    EXPECT_EQ(d.rest, be);
}

TEST(DetectEncoding, Utf8CutByTheCheckBufferOnlyInLongerFiles) {
    TempDir dir;
    Settings settings;
    settings.EncodingCheck = kMinEncodingCheck;
    const size_t n = static_cast<size_t>(kMinEncodingCheck);
    // The check buffer ends right after the lead byte of a two-byte character.
    std::string longer(n - 1, 'a');
    longer += "\xC3\xA9tail";
    Detection d = Detect(dir, longer, settings);
    EXPECT_TRUE(d.file.IsUtf8);
    EXPECT_EQ(d.bom, 0u);

    // The same bytes, but the file ends where the check buffer does: not UTF-8.
    d = Detect(dir, longer.substr(0, n), settings);
    EXPECT_FALSE(d.file.IsUtf8);

    // A three-byte character cut after its first two bytes is still accepted.
    std::string three(n - 2, 'a');
    three += "\xE2\x82\xAC!";
    d = Detect(dir, three, settings);
    EXPECT_TRUE(d.file.IsUtf8);

    // Invalid bytes well inside the buffer are not excused.
    std::string bad(n + 10, 'a');
    bad[100] = '\xFF';
    d = Detect(dir, bad, settings);
    EXPECT_FALSE(d.file.IsUtf8);

    // Plain ASCII stays code-page text.
    d = Detect(dir, "just ascii text", settings);
    EXPECT_FALSE(d.file.IsUtf8 || d.file.IsUtf16);
}

TEST(DetectEncoding, Utf16GuessAndSurrogatePairCutByTheCheckBuffer) {
    TempDir dir;
    Settings settings;
    settings.EncodingCheck = kMinEncodingCheck;
    const size_t units = static_cast<size_t>(kMinEncodingCheck) / 2;
    // Unmarked little-endian text whose check buffer ends between the units of a pair.
    std::u16string text(units - 1, u'a');
    text += u"\xD83D\xDE00 more";
    Detection d = Detect(dir, Utf16(text, false), settings);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_FALSE(d.file.IsBigEndian);
    EXPECT_EQ(d.bom, 0u);

    d = Detect(dir, "\xFE\xFF" + Utf16(std::u16string(units - 2, u'b') + u"\xD83D\xDE00", true),
               settings);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_TRUE(d.file.IsBigEndian);
    EXPECT_EQ(d.bom, 2u);
    EXPECT_FALSE(d.file.CheckUtfOnFirstSearch);

    // A high surrogate followed by an ordinary unit inside the buffer is invalid: not UTF-16.
    std::u16string broken(200, u'a');
    broken[50] = u'\xD83D';
    d = Detect(dir, Utf16(broken, false), settings);
    EXPECT_FALSE(d.file.IsUtf16);

    // Short big-endian text without a mark.
    d = Detect(dir, Utf16(u"hello world", true), settings);
    EXPECT_TRUE(d.file.IsUtf16);
    EXPECT_TRUE(d.file.IsBigEndian);
}

TEST(DetectEncoding, AllocationFailureLeavesThePositionAtTheStart) {
    TempDir dir;
    FaultScope faults;
    platform::InjectFault(platform::FaultKind::Allocate, 1);
    Detection d = Detect(dir,
                         "\xEF\xBB\xBF"
                         "abc",
                         {}, false);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.rest, "\xEF\xBB\xBF"
                      "abc");

    // The swapped copy for big-endian data is the second allocation.
    platform::InjectFault(platform::FaultKind::Allocate, 2);
    d = Detect(dir, "\xFE\xFF" + Utf16(u"abc", true), {}, false);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.rest.size(), 8u);
}

// Builds a buffer of n bytes: `little` pairs (x, 0), `big` pairs (0, x), the rest (x, x).
std::string GuessInput(size_t n, size_t little, size_t big) {
    std::string bytes(n, 'x');
    size_t pair = 0;
    for (size_t i = 0; i < little; ++i, ++pair) bytes[2 * pair + 1] = '\0';
    for (size_t i = 0; i < big; ++i, ++pair) bytes[2 * pair] = '\0';
    return bytes;
}

Utf16Guess Guess(const std::string& bytes) {
    std::string copy = bytes + '\0'; // the zero that follows a check buffer
    return GuessUtf16(reinterpret_cast<const unsigned char*>(copy.data()), bytes.size());
}

TEST(GuessUtf16, ThresholdsAndVetoes) {
    EXPECT_EQ(Guess(GuessInput(100, 1, 0)), Utf16Guess::Neither);
    EXPECT_EQ(Guess(GuessInput(100, 2, 0)), Utf16Guess::LittleEndian);
    EXPECT_EQ(Guess(GuessInput(100, 0, 2)), Utf16Guess::BigEndian);
    EXPECT_EQ(Guess(GuessInput(250, 9, 0)), Utf16Guess::Neither);
    EXPECT_EQ(Guess(GuessInput(250, 10, 0)), Utf16Guess::LittleEndian);
    EXPECT_EQ(Guess(GuessInput(252, 24, 0)), Utf16Guess::Neither);
    EXPECT_EQ(Guess(GuessInput(500, 25, 0)), Utf16Guess::LittleEndian);
    EXPECT_EQ(Guess(GuessInput(600, 0, 50)), Utf16Guess::Neither); // 600 / 12 = 50
    EXPECT_EQ(Guess(GuessInput(600, 0, 51)), Utf16Guess::BigEndian);
    // Both kinds above the threshold, a zero pair or an FF FF pair: no guess.
    EXPECT_EQ(Guess(GuessInput(100, 3, 3)), Utf16Guess::Neither);
    std::string zero = GuessInput(100, 5, 0);
    zero[98] = zero[99] = '\0';
    EXPECT_EQ(Guess(zero), Utf16Guess::Neither);
    std::string full = GuessInput(100, 5, 0);
    full[98] = full[99] = '\xFF';
    EXPECT_EQ(Guess(full), Utf16Guess::Neither);
    // An odd count pairs the last byte with the following zero.
    EXPECT_EQ(Guess("a\0b"s), Utf16Guess::LittleEndian);
    EXPECT_EQ(Guess("a\0bb"s), Utf16Guess::Neither);
}

// The guess as the counts define it, one pair at a time.
Utf16Guess CountedGuess(const std::string& bytes) {
    const size_t n = bytes.size();
    uint64_t little = 0, big = 0, vetoes = 0;
    for (size_t i = 0; i < n; i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(i + 1 < n ? bytes[i + 1] : 0);
        little += b0 != 0 && b1 == 0;
        big += b0 == 0 && b1 != 0;
        vetoes += b0 == b1 && (b0 == 0 || b0 == 0xFF);
    }
    const uint64_t t = n <= 100 ? 1 : n <= 250 ? 9 : n <= 500 ? 24 : n / 12;
    if ((little > t && big > t) || vetoes > 0) return Utf16Guess::Neither;
    return little > t ? Utf16Guess::LittleEndian
           : big > t  ? Utf16Guess::BigEndian
                      : Utf16Guess::Neither;
}

TEST(GuessUtf16, AgreesWithThePairCountsAtEveryLengthAndPosition) {
    // Zero, 0xFF and other bytes at random, sparse enough for guesses to be made.
    srand(7);
    const char kinds[] = {'x', 'x', 'x', 'x', 'x', '\0', '\0', '\xFF'};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(static_cast<size_t>(rand() % 700), 'x');
        const int density = 1 + rand() % 40;
        for (char& byte : bytes)
            if (rand() % density == 0) byte = kinds[rand() % 8];
        ASSERT_EQ(Guess(bytes), CountedGuess(bytes)) << round;
    }
}

TEST(CheckUtf16, SurrogatesNonCharactersAndByteOrder) {
    auto check = [](const std::string& bytes, bool bigEndian, bool scan) {
        bool ok = false;
        const bool valid =
            CheckUtf16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       bigEndian, scan ? NonCharacterScan::On : NonCharacterScan::Off, ok);
        EXPECT_TRUE(ok);
        return valid;
    };
    EXPECT_TRUE(check(Utf16(u"a\xD83D\xDE00z", false), false, true));
    EXPECT_TRUE(check(Utf16(u"a\xD83D\xDE00z", true), true, true));
    EXPECT_FALSE(check(Utf16(u"a\xDE00z", false), false, false)); // lone low surrogate
    EXPECT_FALSE(check(Utf16(u"a\xD83Dz", true), true, false));   // high without its low
    EXPECT_TRUE(check(Utf16(u"az\xD83D", false), false, false));  // cut pair at the end
    EXPECT_FALSE(check(Utf16(u"a\xFFFF", false), false, true));
    EXPECT_TRUE(check(Utf16(u"a\xFFFF", false), false, false));
    EXPECT_FALSE(check(Utf16(u"\xDE00z", true), true, false));

    FaultScope faults;
    platform::InjectFault(platform::FaultKind::Allocate, 1);
    bool ok = true;
    const std::string be = Utf16(u"abc", true);
    EXPECT_FALSE(CheckUtf16(reinterpret_cast<const unsigned char*>(be.data()), be.size(), true,
                            NonCharacterScan::Off, ok));
    EXPECT_FALSE(ok);
}

// ---- readers -----------------------------------------------------------------------------------

// A file's bytes in memory, as the readers take them; the n-th read can be made to fail.
struct MemoryInput {
    std::string bytes;
    size_t at = 0;
    bool closed = false;
    int failingRead = 0; // 1 for the first read, ...; 0 for none
    int reads = 0;
};

InputSource MemorySource(MemoryInput& input) {
    auto read = [](void* target, void* buffer, size_t count, size_t& got) {
        auto& in = *static_cast<MemoryInput*>(target);
        if (++in.reads == in.failingRead) return false;
        got = std::min(count, in.bytes.size() - in.at);
        std::memcpy(buffer, in.bytes.data() + in.at, got);
        in.at += got;
        return true;
    };
    auto close = [](void* target) { static_cast<MemoryInput*>(target)->closed = true; };
    return {&input, read, close};
}

// A compiled expression, a result state and in-memory input and output: what a job hands to the
// readers.
struct Engine {
    TempDir dir;
    Settings settings;
    CompiledExpression compiled;
    ResultState result;
    std::string written;
    SearchContext context{settings,       compiled, kSystem, result, StringSink(written),
                          &RecordProgress};
    FileState file;
    SearchStatus status = SearchStatus::GoOn;
    MemoryInput memory;

    explicit Engine(const std::u16string& regex, const std::u16string& replace = u"<$0>",
                    bool emptyValid = true, bool searchAndReplace = false) {
        settings.CodePage = 1252;
        settings.regex = regex;
        settings.replace = replace;
        settings.EmptyValid = emptyValid;
        settings.SearchAndReplace = searchAndReplace;
        CompileExpression(settings, kSystem, compiled);
        EXPECT_TRUE(compiled.ErrorText.empty());
        ParseReplacement(settings, result.Template, compiled);
        file.FileName = dir.Wide("in.bin");
    }
    ~Engine() { ReleaseCompiledExpression(compiled); }

    InputSource Input(const std::string& content) {
        memory = MemoryInput{content};
        return MemorySource(memory);
    }
    // Keeps how a reader ended; false when it could not write.
    bool Ran(SearchStatus ended) {
        status = ended;
        return ended != SearchStatus::WriteFailed;
    }
    std::string Output() {
        EXPECT_TRUE(FlushOutput(context.Output, result));
        return written;
    }
};

// Every call of the match loop reports its whole text once, between angle brackets.
const std::u16string kWhole = u"\\A[\\s\\S]*\\z";
// Every line, without its line break.
const std::u16string kLine = u"[^\\r\\n]+";

// What a reader wrote, and whether it marked the file as having lost a match at a cut.
struct Outcome {
    std::string output;
    bool cutMatchLost = false;
    bool badEncoding = false;
    bool operator==(const Outcome&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
        return out << testing::PrintToString(o.output) << (o.cutMatchLost ? " (lost)" : "")
                   << (o.badEncoding ? " (bad encoding)" : "");
    }
};

Outcome Parts(const std::string& content, uint64_t partBytes, const std::u16string& regex = kWhole,
              bool searchAndReplace = false) {
    Engine e(regex, u"<$0>", true, searchAndReplace);
    EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(
        e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, partBytes)));
    EXPECT_FALSE(e.file.MoreFollows);
    EXPECT_FALSE(e.file.ReadIncomplete);
    return {e.Output(), e.file.CutMatchLost};
}

Outcome LinesOf(const std::string& content, uint64_t blockBytes, uint64_t limit,
                const std::u16string& regex, uint32_t* searches = nullptr,
                const char* form = "code page") {
    Engine e(regex);
    e.file.IsUtf8 = std::string_view(form) == "UTF-8";
    e.file.IsUtf16 = std::string_view(form) == "UTF-16";
    e.file.CheckUtfOnFirstSearch = e.file.IsUtf8 || e.file.IsUtf16;
    EXPECT_TRUE(
        e.Ran(detail::ReadLinesInBlocks(e.Input(content), static_cast<int64_t>(content.size()),
                                        e.context, e.file, blockBytes, limit)));
    EXPECT_FALSE(e.file.MoreFollows);
    EXPECT_FALSE(e.file.ReadIncomplete);
    if (searches) *searches = e.result.PartsInFile;
    return {e.Output(), e.file.CutMatchLost, e.file.BadEncoding};
}

std::string Lines(const std::string& content, uint64_t blockBytes, uint64_t limit,
                  uint32_t* searches = nullptr) {
    return LinesOf(content, blockBytes, limit, kWhole, searches).output;
}

TEST(ReadWholeFile, SearchesOnceReportsProgressOnceAndClosesTheInput) {
    ProgressScope progress(0); // a 0 answer stops the job after this file
    Engine e(kWhole);
    InputSource input = e.Input("one\r\ntwo");
    EXPECT_TRUE(e.Ran(ReadWholeFile(input, 8, e.context, e.file)));
    EXPECT_TRUE(e.memory.closed);
    EXPECT_EQ(e.status, SearchStatus::Cancelled);
    EXPECT_EQ(g_progress, std::vector<int>{8});
    EXPECT_EQ(e.result.PartsInFile, 1u);
    EXPECT_EQ(e.Output(), "<one\r\ntwo>");

    // An empty file is searched once, as an empty text.
    Engine empty(kWhole);
    EXPECT_TRUE(empty.Ran(ReadWholeFile(empty.Input(""), 0, empty.context, empty.file)));
    EXPECT_EQ(empty.result.PartsInFile, 1u);
    EXPECT_EQ(empty.Output(), "<>");
}

TEST(ReadWholeFile, Utf16IsSwappedToTheMachineOrder) {
    Engine e(u"h.llo");
    const std::string content = Utf16(u"say h\u00e9llo", true);
    e.file.IsUtf16 = true;
    e.file.IsBigEndian = true;
    EXPECT_TRUE(e.Ran(
        ReadWholeFile(e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file)));
    EXPECT_EQ(e.Output(), "<h\xC3\xA9llo>");
}

TEST(SearchLoadedFile, AKeptBufferHoldsOnlyTheFileNowSearched) {
    // One buffer from file to file: a shorter file after a longer one is searched without the
    // longer one's rest, a marked one from past its mark.
    LoadBuffer buffer;
    const std::string longer(kLoadBytes, 'a');
    const struct {
        std::string content;
        uint32_t offset;
        bool utf16;
        std::string expected;
    } files[] = {
        {longer, 0, false, "<" + longer + ">"},
        {"short", 0, false, "<short>"},
        {"\xEF\xBB\xBFmarked", 3, false, "<marked>"},
        {"\xFF\xFE" + Utf16(u"wide", false), 2, true, "<wide>"},
    };
    for (const auto& f : files) {
        // Whole, and line by line (CR LF, a lone CR and the last line without an end added),
        // where the lines are those ReadLines finds in the same bytes read from a file.
        for (const bool lines : {false, true}) {
            Engine e(kWhole);
            std::string content = f.content;
            if (lines) content += f.utf16 ? Utf16(u"\r\n2\r3", false) : "\r\n2\r3";
            WriteAll(e.dir.Narrow("in.bin"), content);
            platform::File input = platform::OpenForReading(e.dir.Wide("in.bin"));
            const auto size = static_cast<int64_t>(content.size());
            LoadedFile loaded;
            ASSERT_TRUE(LoadWholeFile(input, size, buffer, loaded));
            EXPECT_FALSE(input.IsOpen());
            e.file.IsUtf16 = f.utf16;
            if (!lines) {
                EXPECT_TRUE(
                    e.Ran(SearchLoadedFile(loaded, f.offset, size - f.offset, e.context, e.file)));
                EXPECT_EQ(e.Output(), f.expected);
                continue;
            }
            EXPECT_TRUE(
                e.Ran(SearchLoadedLines(loaded, f.offset, size - f.offset, e.context, e.file, 5)));
            Engine read(kWhole);
            read.file.IsUtf16 = f.utf16;
            EXPECT_TRUE(read.Ran(ReadLines(read.Input(content.substr(f.offset)), size - f.offset,
                                           read.context, read.file, 5)));
            EXPECT_EQ(e.Output(), read.Output());
            EXPECT_EQ(e.result.PartsInFile, read.result.PartsInFile);
        }
    }
    // Never grown: the room of a file read whole (larger ones are read through it in blocks).
    EXPECT_EQ(buffer.Capacity, kLoadRoomUnits);
}

TEST(OpenForSearch, ALargeFileTakesTheBytesItsEncodingCheckKeptAndReadsOnFromThere) {
    // Files larger than the thread's room, searched a block at a time: the encoding check's bytes
    // stay in the room for the first block. Each form with its mark, a bad byte after the check,
    // and check buffers of a block and of half one: what is found is what a search of the data
    // read from the start finds.
    std::u16string text;
    for (int i = 0; text.size() < 300000; ++i)
        text += u"ERROR d\u00e9j\u00e0" + std::u16string(1, u'a' + i % 26) + u" and more\r\n";
    std::string utf8 = platform::WideToUtf8(text);
    std::string bad = utf8;
    bad[bad.size() - 1000] = '\xC3';
    std::string codePage;
    platform::AppendWideAsCodePage(1252, text, -1, codePage);
    const struct {
        std::string content;
        uint32_t mark;
    } files[] = {{utf8, 0},
                 {"\xEF\xBB\xBF" + utf8, 3},
                 {"\xFF\xFE" + Utf16(text, false), 2},
                 {"\xFE\xFF" + Utf16(text, true), 2},
                 {codePage, 0},
                 {bad, 0}};
    LoadBuffer buffer;
    for (const auto& f : files) {
        for (const int32_t check : {262144, 131072}) {
            // (The first character and the last word too: the data's ends.)
            const std::u16string regex = u"\\A.|ERROR \\w+|\\w+\\s*\\z";
            Engine e(regex);
            e.settings.EncodingCheck = check;
            WriteAll(e.dir.Narrow("in.bin"), f.content);
            platform::File input, output;
            FileSearch search;
            ASSERT_TRUE(OpenForSearch(e.settings, output, e.dir.Wide("in.bin"),
                                      e.dir.Wide("in.bin"), input, buffer, search));
            ASSERT_GT(search.Kept, f.mark);
            EXPECT_EQ(search.BomLength, f.mark);
            const FileState opened = search.File;
            SearchOpened(e.context, input, search);
            Engine read(regex);
            read.file = opened;
            const auto data = static_cast<int64_t>(f.content.size() - f.mark);
            EXPECT_TRUE(read.Ran(ReadWholeFile(read.Input(f.content.substr(f.mark)), data,
                                               read.context, read.file)));
            const std::string found = read.Output();
            EXPECT_EQ(e.Output(), found) << "mark " << f.mark << ", check " << check;
            EXPECT_EQ(search.File.BadEncoding, read.file.BadEncoding);
            EXPECT_EQ(found.empty(), read.file.BadEncoding);
        }
    }
}

TEST(FinishLoading, AUtf8CheckAsTheBytesArriveGivesTheVerdictOfAWholeCheck) {
    // Characters of two to four bytes cut by a block's end at each of their bytes, and no bad
    // byte or one just before, at or after that end or closing the file: the blockwise verdict is
    // that of one check of the whole file.
    const std::string characters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    const std::string badBytes[] = {"\x80", "\xC3", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    const size_t size = 2 * kCheckedBlockBytes + 100;
    const size_t first = 1000; // the encoding check's share: not a block's multiple
    const size_t cut = first + kCheckedBlockBytes;
    LoadBuffer buffer;
    TempDir dir;
    int verdicts[2] = {0, 0};
    for (const auto& character : characters) {
        for (size_t shift = 0; shift <= character.size(); ++shift) {
            for (int bad = -1; bad < 4 * 4; ++bad) {
                std::string content(size, 'a');
                content.replace(cut - shift, character.size(), character);
                if (bad >= 0) {
                    const std::string& b = badBytes[bad % 4];
                    const size_t at[] = {cut - shift - 1, cut, cut + character.size(),
                                         size - b.size()};
                    content.replace(at[bad / 4], b.size(), b);
                }
                WriteAll(dir.Narrow("in.txt"), content);
                platform::File input = platform::OpenForReading(dir.Wide("in.txt"));
                LoadedFile loaded;
                ASSERT_TRUE(StartLoading(input, static_cast<int64_t>(size), first, buffer, loaded));
                FinishLoading(input, loaded, true);
                const bool whole = IsValidUtf8(
                    reinterpret_cast<const unsigned char*>(content.data()), content.size());
                ASSERT_EQ(loaded.WellFormedUtf8, whole) << character.size() << shift << bad;
                ASSERT_EQ(loaded.Arrived, size);
                ++verdicts[whole];
            }
        }
    }
    EXPECT_GT(verdicts[0], 0);
    EXPECT_GT(verdicts[1], 0);
}

TEST(ReadWholeFile, AllocationFailureSkipsSmallFilesAndReadsLargeOnesInParts) {
    FaultScope faults;
    {
        Engine e(kWhole);
        platform::InjectFault(platform::FaultKind::Allocate, 1);
        InputSource input = e.Input("abc");
        EXPECT_TRUE(e.Ran(ReadWholeFile(input, 3, e.context, e.file)));
        EXPECT_TRUE(e.memory.closed);
        EXPECT_EQ(e.result.PartsInFile, 0u);
    }
    // 5121 lines of 1024 bytes: just over 5 MiB. The first 5 MiB part ends with a newline, which
    // is found like every other; the second part holds the last line.
    std::string line(1023, 'a');
    line += '\n';
    std::string content;
    for (int i = 0; i < 5121; ++i) content += line;
    // Read in one go, or a block at a time (which falls back on one go).
    for (const uint64_t block : {uint64_t{0}, kStreamBlockBytes}) {
        Engine e(u"\\n", u"n", false);
        platform::InjectFault(platform::FaultKind::Allocate, 1);
        EXPECT_TRUE(e.Ran(detail::ReadWholeFileInBlocks(e.Input(content),
                                                        static_cast<int64_t>(content.size()),
                                                        e.context, e.file, block, SIZE_MAX)));
        EXPECT_EQ(e.result.PartsInFile, block == 0 ? 2u : 1u);
        EXPECT_EQ(e.result.MatchCount, 5121u);
    }
}

// What a reader left behind: its output and the job's and the file's marks.
struct ReaderResult {
    std::string output;
    uint64_t matches = 0, duplicates = 0, hashes = 0;
    uint32_t parts = 0;
    bool bad = false, lost = false, early = false, incomplete = false;
    bool operator==(const ReaderResult&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ReaderResult& r) {
        return out << testing::PrintToString(r.output) << " matches " << r.matches << " duplicates "
                   << r.duplicates << " hashes " << r.hashes << " parts " << r.parts
                   << (r.bad ? " bad" : "") << (r.lost ? " lost" : "") << (r.early ? " early" : "")
                   << (r.incomplete ? " incomplete" : "");
    }
};

// A large file read and searched a block at a time finds what one search of its whole text finds,
// after another file's results: generated texts of every encoding, some with a bad character (all
// of the file's output then goes, and the earlier file's stays), expressions that look back, look
// ahead, hold at the text's end or run across any number of blocks, the duplicate filter and
// counters.
TEST(ReadWholeFile, InBlocksFindsWhatOneSearchOfTheWholeFinds) {
    enum Form { CodePage, Utf8, Utf16Le, Utf16Be };
    const std::u16string regexes[] = {u"a+",           u"ab|b",       u"(?<=a)b", u"\\bab\\b",
                                      u"b$",           u"(?m)^a",     u"a\\z",    u"\\Z",
                                      u"(?s)a.*b",     u"x*",         u"\\R",     u"$",
                                      u"(?<=\\n)a\\K", u"[^\\r\\n]+", u"\u00e9+", u"a(?=\\r?\\n)",
                                      u"(?s).{3}",     u"^",          u"\\G[ab]", u"(a|b)*\u00e9"};
    const char16_t* pieces[] = {u"a",  u"b",      u"ab",         u"\n", u"\r\n",
                                u"\r", u"\u00e9", u"\U0001F600", u" ",  u"\uFFFF"};
    auto file = [&](Form form, const std::u16string& text, uint32_t flaw) {
        std::string bytes;
        switch (form) {
        case CodePage:
            platform::AppendWideAsCodePage(1252, text, -1, bytes);
            break;
        case Utf8:
            platform::AppendUtf16AsUtf8(text, bytes);
            if (flaw != 0) bytes.insert(flaw % (bytes.size() + 1), "\xC3");
            break;
        default: {
            std::u16string units = text;
            if (flaw != 0)
                units.insert(flaw % (units.size() + 1), 1, flaw & 2 ? u'\xD800' : u'\xDC00');
            bytes = Utf16(units, form == Utf16Be);
        }
        }
        return bytes;
    };
    auto run = [&](Form form, const std::u16string& regex, const std::string& content,
                   uint64_t block, size_t heldLimit, bool filter, bool counters,
                   LoadBuffer* room = nullptr) {
        Engine e(regex, counters ? u"<$0>\\xM1" : u"<$0>");
        e.settings.NoDuplicates = filter;
        // The results of a file before.
        EXPECT_TRUE(e.Ran(SearchBytes("ab\nab", 5, e.context, e.file)));
        e.file = FileState{};
        e.file.FileName = u"in.txt";
        e.file.IsUtf8 = form == Utf8;
        e.file.IsUtf16 = form == Utf16Le || form == Utf16Be;
        e.file.IsBigEndian = form == Utf16Be;
        e.file.CheckUtfOnFirstSearch = form != CodePage;
        e.result.PartsInFile = 0;
        EXPECT_TRUE(e.Ran(
            detail::ReadWholeFileInBlocks(e.Input(content), static_cast<int64_t>(content.size()),
                                          e.context, e.file, block, heldLimit, room)));
        EXPECT_TRUE(e.memory.closed);
        return ReaderResult{e.Output(),
                            e.result.MatchCount,
                            e.result.DuplicateCount,
                            e.result.SeenHashes.size(),
                            e.result.PartsInFile,
                            e.file.BadEncoding,
                            e.file.CutMatchLost,
                            e.file.EndedEarly,
                            e.file.ReadIncomplete};
    };
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 120; ++round) {
        std::u16string text;
        for (uint32_t n = next() % 40; n > 0; --n) text += pieces[next() % std::size(pieces)];
        const auto form = static_cast<Form>(next() % 4);
        const uint32_t flaw = next() % 3 == 0 ? next() | 1 : 0;
        const std::string content = file(form, text, flaw);
        const std::u16string& regex = regexes[next() % std::size(regexes)];
        const bool filter = next() % 2 == 0, counters = next() % 2 == 0;
        SCOPED_TRACE(testing::Message()
                     << "form " << form << " regex " << testing::PrintToString(regex) << " text "
                     << testing::PrintToString(content));
        const ReaderResult whole = run(form, regex, content, 0, SIZE_MAX, filter, counters);
        for (const uint64_t block : {1, 2, 3, 5, 8, 64})
            EXPECT_EQ(run(form, regex, content, block, SIZE_MAX, filter, counters), whole)
                << "blocks of " << block;
        // Through a thread's room of stale bytes about the size of a block and the buffer's
        // padding: just large enough or a unit short of it (memory of its own is then taken), and
        // a carry longer than half a block moves out of the room.
        for (const uint64_t block : {2, 8, 64}) {
            for (const uint64_t spare : {0, 1}) {
                const uint64_t units = (block + detail::kBufferAlignment + 2) / 2 + spare;
                LoadBuffer room{detail::TryAllocate<char16_t>(units), units};
                std::fill_n(room.Units.get(), units, u'\xFFFF');
                EXPECT_EQ(run(form, regex, content, block, SIZE_MAX, filter, counters, &room),
                          whole)
                    << "blocks of " << block << " through a room of " << units << " units";
            }
        }
    }
    // No memory for a carry that grows: what was read is searched as the text's end, up to its
    // last whole character, and the file is marked as not read whole.
    {
        FaultScope faults;
        Engine e(u"(?s)a.*");
        e.file.IsUtf8 = e.file.CheckUtfOnFirstSearch = true;
        // (The first block of three bytes ends inside the first letter.)
        std::string text = "ab";
        for (int i = 0; i < 20; ++i) text += "\xC3\xA9";
        platform::InjectFault(platform::FaultKind::Allocate, 2);
        EXPECT_TRUE(e.Ran(detail::ReadWholeFileInBlocks(
            e.Input(text), static_cast<int64_t>(text.size()), e.context, e.file, 3, SIZE_MAX)));
        const std::string out = e.Output();
        EXPECT_TRUE(e.file.ReadIncomplete);
        EXPECT_FALSE(e.file.BadEncoding);
        EXPECT_EQ(out, "<ab>");
    }
    // Output beyond what may be held is written as it comes: the results before a bad block stay.
    std::string flawed;
    for (int i = 0; i < 40000; ++i) flawed += "ab ";
    flawed += "\xC3";
    for (const size_t limit : {size_t{1000}, SIZE_MAX}) {
        Engine e(u"ab");
        e.file.IsUtf8 = e.file.CheckUtfOnFirstSearch = true;
        EXPECT_TRUE(e.Ran(detail::ReadWholeFileInBlocks(
            e.Input(flawed), static_cast<int64_t>(flawed.size()), e.context, e.file, 4096, limit)));
        EXPECT_TRUE(e.file.BadEncoding);
        EXPECT_EQ(e.Output().substr(0, 10), limit == SIZE_MAX ? "" : "<ab>\r\n<ab>");
        EXPECT_EQ(e.result.MatchCount == 0, limit == SIZE_MAX);
    }
}

// The room a large file's held output lives in keeps every byte through each growth, from a
// small reservation past several huge pages, in pieces of odd sizes.
TEST(ByteRoom, GrowsKeepingWhatItHolds) {
    ByteRoom room;
    ASSERT_TRUE(Reserve(room, 100));
    std::string expected;
    std::string piece;
    for (uint32_t n = 0; expected.size() < (size_t{5} << 20); ++n) {
        piece.assign(1 + n * 7919 % 40000, static_cast<char>('a' + n % 26));
        ASSERT_TRUE(Append(room, piece.data(), piece.size()));
        expected += piece;
    }
    ASSERT_EQ(room.Size, expected.size());
    EXPECT_GE(room.Capacity, room.Size);
    EXPECT_EQ(std::string_view(room.Data.get(), room.Size), expected);
    // A smaller reservation keeps the room as it is.
    const char* data = room.Data.get();
    EXPECT_TRUE(Reserve(room, 10));
    EXPECT_EQ(room.Data.get(), data);
}

TEST(ReadFileInParts, FindWhatASearchOfTheWholeTextFinds) {
    struct Row {
        std::string content;
        std::u16string regex;
        bool replace;
        Outcome expected;
    };
    // Parts of 32 bytes: the cuts fall inside lines, after a part's last newline, and inside a
    // line longer than a part.
    constexpr size_t kPart = 32;
    const std::string lines = "one two\nthree four\r\nfive six\rseven eight\nnine ten";
    const std::string a(kPart - 3, 'a'), b(kPart, 'b');
    const Row rows[] = {
        {lines,
         kLine,
         false,
         {"<one two>\r\n<three four>\r\n<five six>\r\n<seven eight>\r\n<nine ten>"}},
        {lines, kLine, true, {"<one two>\n<three four>\r\n<five six>\r<seven eight>\n<nine ten>"}},
        // A match across the line break that ends its part.
        {a + "b\ncd" + b, u"b\\nc", false, {"<b\nc>"}},
        {a.substr(1) + "b\r\ncd" + b, u"b\\r\\nc", false, {"<b\r\nc>"}},
        // A match across the cut of a line longer than the part, in search and replace too.
        {a + "NEEDLE" + b, u"NEEDLE", false, {"<NEEDLE>"}},
        {a + "NEEDLE" + b, u"NEEDLE", true, {a + "<NEEDLE>" + b}},
        // The end of a part is not the end of the text.
        {a + "NEEDLE" + b, u".\\z", false, {"<b>"}},
        {lines, u".$", false, {"<n>"}},
        // A part that ends in a run of line breaks keeps every one of them.
        {"x" + std::string(2 * kPart, '\n') + "yy",
         u"y",
         true,
         {"x" + std::string(2 * kPart, '\n') + "<y><y>", true}},
        // A match whose one required character lies past the cut (searched line by line, the
        // part's open last line left to the next part).
        {std::string(kPart - 2, 'x') + "abc" + std::string(kPart, 'x'),
         u"(a|b)*c",
         false,
         {"<abc>"}},
        // A newline that ends the data is searched with the last part.
        {"aaa\n", kWhole, false, {"<aaa\n>"}},
        // A match that would need more than half a part carried is found as far as its part
        // goes, and the file is marked.
        {std::string(2 * kPart + 8, 'a'),
         u"a+",
         false,
         {"<" + std::string(kPart, 'a') + ">\r\n<" + std::string(kPart, 'a') + ">\r\n<" +
              std::string(8, 'a') + ">",
          true}},
    };
    // Searched in slices, and by lines from the shortest text on where the expression allows.
    const SearchSlices saved = detail::Slices();
    for (const size_t linesFrom : {saved.LinesFrom, size_t{0}}) {
        detail::Slices().LinesFrom = linesFrom;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.content);
            EXPECT_EQ(Parts(row.content, kPart, row.regex, row.replace), row.expected);
        }
    }
    detail::Slices() = saved;
}

TEST(ReadFileInParts, Utf16PartsAndProgress) {
    ProgressScope progress;
    Engine e(kLine);
    const std::string content = Utf16(u"one\ntwo\nsix\nten\nabc\nxyz", true);
    e.file.IsUtf16 = true;
    e.file.IsBigEndian = true;
    EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(
        e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 32)));
    EXPECT_EQ(e.Output(), "<one>\r\n<two>\r\n<six>\r\n<ten>\r\n<abc>\r\n<xyz>");
    // Each byte is reported once, when the part that finished it is done.
    EXPECT_EQ(e.result.PartsInFile, 2u);
    ASSERT_EQ(g_progress.size(), 2u);
    EXPECT_EQ(g_progress[0] + g_progress[1], static_cast<int>(content.size()));
}

TEST(ReadFileInParts, AbortAndAllocationFailures) {
    {
        ProgressScope progress(0);
        Engine e(kWhole);
        InputSource input = e.Input("aaa\nbbb\nccc");
        EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(input, 11, e.context, e.file, 6)));
        EXPECT_EQ(e.status, SearchStatus::Cancelled);
        EXPECT_TRUE(e.memory.closed);
        EXPECT_EQ(e.result.PartsInFile, 1u);
    }
    FaultScope faults;
    {
        // Parts of 5 MiB or less that cannot be allocated end the file.
        Engine e(kWhole);
        platform::InjectFault(platform::FaultKind::Allocate, 1);
        EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(e.Input("abc"), 3, e.context, e.file, 2)));
        EXPECT_EQ(e.result.PartsInFile, 0u);
        EXPECT_TRUE(e.file.ReadIncomplete);
    }
    {
        // Larger parts fall back to 5 MiB.
        Engine e(kWhole);
        platform::InjectFault(platform::FaultKind::Allocate, 1);
        EXPECT_TRUE(e.Ran(ReadFileInParts(e.Input("abc"), 3, e.context, e.file, 10)));
        EXPECT_EQ(e.result.PartsInFile, 1u);
        EXPECT_EQ(e.Output(), "<abc>");
    }
}

TEST(Readers, ReadsThatFailOrEndEarlySearchWhatArrivedAndMarkTheFile) {
    enum class Reader { Whole, Parts, Lines };
    const std::string kFour = "one two\nthree four\nfive six\nseven eight"; // more than a part
    struct Row {
        Reader reader;
        std::string content;
        int64_t size; // more than the content: the file got shorter while it was read
        int failingRead;
        std::string expected;
        bool utf8 = false;
    };
    const Row rows[] = {
        {Reader::Whole, "ab\ncd", 20, 0, "<ab>\r\n<cd>"},
        {Reader::Whole, "ab\xC3\xA9\xC3", 20, 0, "<ab\xC3\xA9>", true}, // cut in a character
        {Reader::Parts, kFour, 100, 0, "<one two>\r\n<three four>\r\n<five six>\r\n<seven eight>"},
        {Reader::Lines, "ab\ncd", 20, 0, "<ab>\r\n<cd>"},
        {Reader::Lines, "ab\ncde", 20, 0, "<ab>\r\n<cde>"}, // nothing after a full block
        // After a failed read, what was read before it is still searched.
        {Reader::Whole, "ab\ncd", 5, 1, ""},
        {Reader::Parts, kFour, 39, 2, "<one two>\r\n<three four>\r\n<five six>\r\n<seve>"},
        {Reader::Lines, "ab\ncd\nef", 8, 2, "<ab>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content);
        Engine e(kLine);
        e.file.IsUtf8 = row.utf8;
        InputSource input = e.Input(row.content);
        e.memory.failingRead = row.failingRead;
        if (row.reader == Reader::Whole)
            e.Ran(ReadWholeFile(input, row.size, e.context, e.file));
        else if (row.reader == Reader::Parts)
            e.Ran(detail::ReadFileInPartsOfSize(input, row.size, e.context, e.file, 32));
        else
            e.Ran(detail::ReadLinesInBlocks(input, row.size, e.context, e.file, 3, 1024));
        EXPECT_EQ(e.Output(), row.expected);
        EXPECT_TRUE(e.file.ReadIncomplete);
        EXPECT_FALSE(e.file.BadEncoding);
        EXPECT_TRUE(e.memory.closed);
    }
}

TEST(ReadLines, LineEndsAndTheEmptyLastLine) {
    uint32_t searches = 0;
    EXPECT_EQ(Lines("a\nb", 64, 1024, &searches), "<a>\r\n<b>");
    EXPECT_EQ(searches, 2u);
    EXPECT_EQ(Lines("a\nb\n", 64, 1024, &searches), "<a>\r\n<b>\r\n<>");
    EXPECT_EQ(searches, 3u);
    EXPECT_EQ(Lines("a\r\n\rb\n\nc", 64, 1024), "<a>\r\n<>\r\n<b>\r\n<>\r\n<c>");
    EXPECT_EQ(Lines("", 64, 1024, &searches), "");
    EXPECT_EQ(searches, 0u);
    EXPECT_EQ(Lines("\r", 64, 1024), "<>\r\n<>");
}

TEST(ReadLines, BlocksCarryAndCrLfAcrossBlocks) {
    uint32_t searches = 0;
    // The CR ends block 1, the LF starts block 2: one line end.
    EXPECT_EQ(Lines("ab\r\ncd", 3, 1024, &searches), "<ab>\r\n<cd>");
    EXPECT_EQ(searches, 2u);
    // The same with the LF as the last unit of the file: one more, empty line.
    EXPECT_EQ(Lines("ab\r\n", 3, 1024, &searches), "<ab>\r\n<>");
    EXPECT_EQ(searches, 2u);
    // A CR at a block end followed by something else.
    EXPECT_EQ(Lines("ab\rcd", 3, 1024), "<ab>\r\n<cd>");
    // Lines running over several blocks are joined.
    EXPECT_EQ(Lines("abcdefgh\nxy\nz", 3, 1024), "<abcdefgh>\r\n<xy>\r\n<z>");
}

TEST(ReadLines, PiecesOfALineLongerThanTheReadMemoryFindWhatTheWholeLineHolds) {
    struct Row {
        std::string content;
        std::u16string regex;
        Outcome expected;
    };
    // Blocks of 8 bytes, a piece once more than 16 bytes of a line are in memory: the first
    // piece of a long line is its first 24 bytes.
    const Row rows[] = {
        {std::string(21, 'a') + "NEEDLE" + std::string(13, 'b') + "\nx", u"NEEDLE", {"<NEEDLE>"}},
        {"ab\n" + std::string(29, 'c') + "Z\nmn", u".\\z", {"<b>\r\n<Z>\r\n<n>"}},
        {std::string(40, 'b') + "\nab\na", u"^a", {"<a>\r\n<a>"}},
        // A match that would need more than half the read memory carried is found as far as
        // its piece goes, and the file is marked.
        {std::string(24, 'a') + std::string(16, 'b') + "\nk",
         kWhole,
         {"<" + std::string(24, 'a') + ">\r\n<" + std::string(16, 'b') + ">\r\n<k>", true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content);
        EXPECT_EQ(LinesOf(row.content, 8, 16, row.regex), row.expected);
    }
}

TEST(ReadLines, LineLongerThanTheReadMemory) {
    ProgressScope progress;
    Engine e(u"a+", u"x", false);
    std::string content(0x180000, 'a'); // 1.5 MiB of one line
    content += "\nb";
    EXPECT_TRUE(e.Ran(
        ReadLines(e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 1)));
    // 1.25 MiB searched when the carry passed 1 MiB, then the last 256 KiB, then "b": three
    // searches of two lines.
    EXPECT_EQ(e.result.PartsInFile, 2u);
    EXPECT_EQ(e.result.MatchCount, 2u);
    EXPECT_EQ(g_progress.size(), 7u);
    EXPECT_EQ(g_progress.front(), 0x40000);
    EXPECT_EQ(g_progress.back(), 2);
}

TEST(ReadLines, Utf16LinesLineModeHeadersAndAbort) {
    {
        Engine e(kWhole);
        const std::string content = Utf16(u"a\r\n\u00e9\nc", true);
        e.file.IsUtf16 = true;
        e.file.IsBigEndian = true;
        EXPECT_TRUE(e.Ran(detail::ReadLinesInBlocks(
            e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 4, 1024)));
        EXPECT_EQ(e.Output(), "<a>\r\n<\xC3\xA9>\r\n<c>");
    }
    {
        // Line numbers count every line, the empty ones too.
        Engine e(u"x");
        e.settings.LineMode = true;
        e.settings.EmptyValid = false;
        e.file.FileName = u"f.txt";
        const std::string content = "x\n\nax\n";
        EXPECT_TRUE(e.Ran(ReadLines(e.Input(content), static_cast<int64_t>(content.size()),
                                    e.context, e.file, 5)));
        EXPECT_EQ(e.result.PartsInFile, 4u);
        EXPECT_EQ(e.Output(), ">>>> \"f.txt\":\r\n>> Line 1:\r\n<x>\r\n>> Line 3:\r\n<x>");
    }
    {
        // A line longer than the read memory is searched in pieces but stays one line: one
        // number, one header, and the lines after it keep their numbers.
        Engine e(u"x");
        e.settings.LineMode = true;
        e.settings.EmptyValid = false;
        e.file.FileName = u"f.txt";
        const std::string content = "xaaaaaaaaax\ny\nx";
        EXPECT_TRUE(e.Ran(detail::ReadLinesInBlocks(
            e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 3, 4)));
        EXPECT_EQ(e.result.PartsInFile, 3u);
        EXPECT_EQ(e.Output(), ">>>> \"f.txt\":\r\n>> Line 1:\r\n<x>\r\n<x>\r\n>> Line 3:\r\n<x>");
    }
    {
        ProgressScope progress(0);
        Engine e(kWhole);
        InputSource input = e.Input("aa\nbb\ncc\n");
        EXPECT_TRUE(e.Ran(detail::ReadLinesInBlocks(input, 9, e.context, e.file, 3, 1024)));
        EXPECT_EQ(e.status, SearchStatus::Cancelled);
        EXPECT_TRUE(e.memory.closed);
        EXPECT_EQ(e.result.PartsInFile, 1u);
    }
}

// The lines a text splits into: CR, LF and CR LF end a line; a final line end is followed by
// one more, empty line.
std::vector<std::string> ReferenceLines(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty()) return lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        lines.push_back(line);
        line.clear();
    }
    lines.push_back(line);
    return lines;
}

TEST(ReadLines, AgreesWithASimpleSplitForEveryBlockSize) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    // The last rounds are UTF-8 and UTF-16 text with a broken character now and then.
    static const char* const kAlphabet[] = {"a", "b", "\r", "\n", "\xC3\xA9", "\xC3"};
    static const char16_t* const kUnits[] = {u"a",      u"b",          u"\r",    u"\n",
                                             u"\u00e9", u"\U0001F600", u"\xD800"};
    // (Longer texts, in larger blocks, have lines passed over several words at a time.)
    for (int round = 0; round < 100; ++round) {
        const bool utf8 = round >= 60 && round < 80;
        const bool utf16 = round >= 80;
        const char* form = utf16 ? "UTF-16" : utf8 ? "UTF-8" : "code page";
        std::string text;
        std::u16string units;
        const size_t length = next() % (round < 20 ? 24 : 90);
        for (size_t i = 0; i < length; ++i) {
            if (utf16)
                units += kUnits[next() % (round % 2 ? 6 : 7)];
            else
                text += kAlphabet[next() % (utf8 ? (round % 2 ? 5 : 6) : 4)];
        }
        if (utf16) text = Utf16(units, false);
        std::string expected;
        for (const std::string& line : ReferenceLines(text))
            expected += (expected.empty() ? "<" : "\r\n<") + line + ">";
        for (const uint64_t block : {1, 2, 3, 4, 5, 6, 40, 64}) {
            if (!utf8 && !utf16) {
                EXPECT_EQ(Lines(text, block, 1024), expected) << "block " << block;
            }
            // Lines before the next place a match could lie on (a literal start, a character
            // every match holds) are passed over, and the lines of a block whose encoding is
            // sound are not checked one by one, which changes nothing, the count included.
            for (const char16_t* regex : {u"ab", u"a*b", u"(?i)B", u"\u00e9b"}) {
                uint32_t passed = 0;
                uint32_t searched = 0;
                const Outcome some = LinesOf(text, block, 1024, regex, &passed, form);
                detail::Slices().LinesPassedOver = false;
                EXPECT_EQ(LinesOf(text, block, 1024, regex, &searched, form), some)
                    << "block " << block << " " << testing::PrintToString(text);
                detail::Slices().LinesPassedOver = true;
                EXPECT_EQ(passed, searched);
            }
        }
    }
}

TEST(ReadFileInParts, SearchAndReplaceGivesWhatTheWholeFileGivesForEveryPartSize) {
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    // Matches that span line breaks and characters of more than one unit, whichever cut.
    const std::u16string regex = u"a\\r?\\n|\u00e9+a";
    auto read = [&regex](const std::string& content, bool utf16, uint64_t part, bool& lost) {
        Engine e(regex, u"X", false, true);
        e.file.IsUtf8 = !utf16;
        e.file.IsUtf16 = e.file.IsBigEndian = utf16;
        const auto size = static_cast<int64_t>(content.size());
        if (part == 0)
            e.Ran(ReadWholeFile(e.Input(content), size, e.context, e.file));
        else
            e.Ran(detail::ReadFileInPartsOfSize(e.Input(content), size, e.context, e.file, part));
        EXPECT_FALSE(e.file.BadEncoding);
        lost = e.file.CutMatchLost;
        return e.Output();
    };
    static const char16_t* const kAlphabet[] = {u"a", u"\u00e9", u"\r", u"\n", u"\U0001F600"};
    int compared = 0;
    for (int round = 0; round < 12; ++round) {
        std::u16string text;
        const size_t length = next() % 60;
        for (size_t i = 0; i < length; ++i) text += kAlphabet[next() % 5];
        // The UTF-8 form, and the big-endian UTF-16 form in parts of whole units.
        for (const bool utf16 : {false, true}) {
            const std::string content = utf16 ? Utf16(text, true) : platform::WideToUtf8(text);
            bool lost = false;
            const std::string whole = read(content, utf16, 0, lost);
            for (uint64_t part = 16; part <= 56; part += 8) {
                SCOPED_TRACE(testing::PrintToString(content) + " in parts of " +
                             std::to_string(part));
                const std::string inParts = read(content, utf16, utf16 ? part * 2 : part, lost);
                if (lost) continue; // a match needed more than half a part
                EXPECT_EQ(inParts, whole);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 72);
}

} // namespace
} // namespace gleanery

namespace gleanery {
namespace {

TEST(ReadLinesInBlocks, LineEndsAreFoundAtEveryPlaceOfAWord) {
    // The line scan looks at eight bytes at a time: a line end in every lane, in both widths.
    for (size_t before = 0; before < 19; ++before) {
        for (const char* end : {"\n", "\r", "\r\n"}) {
            SCOPED_TRACE(std::to_string(before) + (end[0] == '\n' ? " LF" : " CR"));
            const std::string text = std::string(before, 'x') + end + "y";
            const std::string expected = "<" + std::string(before, 'x') + ">\r\n<y>";
            EXPECT_EQ(Lines(text, 64, 64), expected);

            std::string utf16;
            for (char c : text) utf16 += std::string{c, '\0'};
            Engine e(kWhole);
            e.file.IsUtf16 = true;
            EXPECT_TRUE(e.Ran(detail::ReadLinesInBlocks(
                e.Input(utf16), static_cast<int64_t>(utf16.size()), e.context, e.file, 128, 128)));
            EXPECT_EQ(e.Output(), expected);
        }
    }
}

TEST(Readers, PiecesCutInsideCharactersEndOnWholeOnes) {
    // "aé€😀" repeated without a newline: parts, and pieces of a line longer than the read memory,
    // are cut inside characters. Every piece searched is valid UTF, so nothing is reported as
    // badly encoded, and the matches across the cuts are all found.
    std::u16string text, replaced;
    for (int i = 0; i < 8; ++i) {
        text += u"a\u00e9\u20ac\U0001F600";
        replaced += u"a\u00e9X";
    }
    const std::u16string regex = u"\u20ac\U0001F600";
    for (const bool utf16 : {false, true}) {
        SCOPED_TRACE(utf16 ? "UTF-16" : "UTF-8");
        auto form = [utf16](const std::u16string& t) {
            return utf16 ? Utf16(t, false) : platform::WideToUtf8(t);
        };
        const std::string content = form(text);
        const auto size = static_cast<int64_t>(content.size());
        Engine parts(regex, u"X", false, true);
        Engine lines(regex, u"X", false);
        for (Engine* e : {&parts, &lines}) {
            e->file.IsUtf8 = !utf16;
            e->file.IsUtf16 = utf16;
            e->file.CheckUtfOnFirstSearch = true;
        }
        EXPECT_TRUE(parts.Ran(detail::ReadFileInPartsOfSize(parts.Input(content), size,
                                                            parts.context, parts.file, 32)));
        EXPECT_FALSE(parts.file.BadEncoding);
        EXPECT_EQ(parts.Output(), form(replaced));
        EXPECT_TRUE(lines.Ran(detail::ReadLinesInBlocks(lines.Input(content), size, lines.context,
                                                        lines.file, 5, 32)));
        EXPECT_FALSE(lines.file.BadEncoding);
        EXPECT_EQ(lines.result.MatchCount, 8u);
    }
}

} // namespace
} // namespace gleanery
