// Tests of encoding detection (over real files) and the three input readers (over input and
// output in memory), with a real compiled expression and the match loop.
#include "engine/compiled_expression.h"
#include "engine/detect_encoding.h"
#include "engine/match_loop.h"
#include "engine/readers.h"
#include "engine/replacement_template.h"
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

Detection Detect(const TempDir& dir, const std::string& content, Settings settings = {}) {
    WriteAll(dir.Narrow("in.bin"), content);
    platform::File input = platform::OpenForReading(dir.Wide("in.bin"));
    Detection d;
    d.ok = DetectEncoding(static_cast<int64_t>(content.size()), d.bom, input, d.file, settings);
    std::string rest(content.size() + 1, '\0');
    size_t got = 0;
    platform::Read(input, rest.data(), rest.size(), got);
    rest.resize(got);
    d.rest = rest;
    return d;
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
    Detection d = Detect(dir, "\xEF\xBB\xBF"
                              "abc");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.rest, "\xEF\xBB\xBF"
                      "abc");

    // The swapped copy for big-endian data is the second allocation.
    platform::InjectFault(platform::FaultKind::Allocate, 2);
    d = Detect(dir, "\xFE\xFF" + Utf16(u"abc", true));
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

std::string Parts(const std::string& content, uint64_t partBytes, bool searchAndReplace = false) {
    Engine e(kWhole, u"<$0>", true, searchAndReplace);
    EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(
        e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, partBytes)));
    EXPECT_EQ(e.result.PartsInFile, e.result.MatchCount);
    return e.Output();
}

std::string Lines(const std::string& content, uint64_t blockBytes, uint64_t limit,
                  uint32_t* searches = nullptr) {
    Engine e(kWhole);
    EXPECT_TRUE(
        e.Ran(detail::ReadLinesInBlocks(e.Input(content), static_cast<int64_t>(content.size()),
                                        e.context, e.file, blockBytes, limit)));
    if (searches) *searches = e.result.PartsInFile;
    return e.Output();
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
    // 5121 lines of 1024 bytes: just over 5 MiB. The first 5 MiB part ends with a newline
    // that is left out of the text; the second part holds the last line.
    std::string line(1023, 'a');
    line += '\n';
    std::string content;
    for (int i = 0; i < 5121; ++i) content += line;
    Engine e(u"\\n", u"n", false);
    platform::InjectFault(platform::FaultKind::Allocate, 1);
    EXPECT_TRUE(e.Ran(
        ReadWholeFile(e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file)));
    EXPECT_EQ(e.result.PartsInFile, 2u);
    EXPECT_EQ(e.result.MatchCount, 5120u);
}

TEST(ReadFileInParts, CutsAtTheLastNewlineOfAFullPart) {
    EXPECT_EQ(Parts("aaa\nbbb\nccc", 6), "<aaa>\r\n<bbb>\r\n<ccc>");
    // CR LF is left out as one newline.
    EXPECT_EQ(Parts("aa\r\nbb\r\ncc", 5), "<aa>\r\n<bb>\r\n<cc>");
    // Without LF the last CR cuts.
    EXPECT_EQ(Parts("ab\rcd\ref", 4), "<ab>\r\n<cd>\r\n<ef>");
    // A part without any newline is searched whole.
    EXPECT_EQ(Parts("abcdefgh", 3), "<abc>\r\n<def>\r\n<gh>");
    // A newline that ends the data is searched with the part.
    EXPECT_EQ(Parts("aaa\n", 4), "<aaa\n>");
    // In search-and-replace mode the newline always stays in the text.
    EXPECT_EQ(Parts("aaa\nbbb\nccc", 6, true), "<aaa\n><bbb\n><ccc>");
    // The earliest LF of a part is preferred over a later CR.
    EXPECT_EQ(Parts("a\nbc\rdefg", 5), "<a>\r\n<bc>\r\n<defg>");
}

TEST(ReadFileInParts, SearchAndReplaceCopiesEveryByte) {
    Engine e(u"b+", u"X", false, true);
    const std::string content = "aaa\nbbb\r\nccc\nbb";
    EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(
        e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 5)));
    EXPECT_EQ(e.Output(), "aaa\nX\r\nccc\nX");
    EXPECT_GT(e.result.PartsInFile, 3u);
}

TEST(ReadFileInParts, Utf16PartsAndProgress) {
    ProgressScope progress;
    Engine e(kWhole);
    const std::string content = Utf16(u"ab\ncd\nef", true);
    e.file.IsUtf16 = true;
    e.file.IsBigEndian = true;
    EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(
        e.Input(content), static_cast<int64_t>(content.size()), e.context, e.file, 6)));
    EXPECT_EQ(e.Output(), "<ab>\r\n<cd>\r\n<ef>");
    EXPECT_EQ(g_progress, (std::vector<int>{6, 6, 4}));
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
    }
    {
        // Larger parts fall back to 5 MiB.
        Engine e(kWhole);
        platform::InjectFault(platform::FaultKind::Allocate, 1);
        EXPECT_TRUE(e.Ran(ReadFileInParts(e.Input("abc"), 3, e.context, e.file, 10)));
        EXPECT_EQ(e.result.PartsInFile, 1u);
        EXPECT_EQ(e.Output(), "<abc>");
    }
    {
        // A failed read ends the file after what was searched.
        Engine e(kWhole);
        InputSource input = e.Input("aaa\nbbb\nccc");
        e.memory.failingRead = 2;
        EXPECT_TRUE(e.Ran(detail::ReadFileInPartsOfSize(input, 11, e.context, e.file, 6)));
        EXPECT_EQ(e.Output(), "<aaa>");
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
    // A carry longer than the read memory is searched in pieces.
    EXPECT_EQ(Lines("abcdefghij\nk", 3, 4), "<abcdef>\r\n<ghij>\r\n<k>");
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
    static const char kAlphabet[] = {'a', 'b', '\r', '\n'};
    for (int round = 0; round < 20; ++round) {
        std::string text;
        const size_t length = next() % 24;
        for (size_t i = 0; i < length; ++i) text += kAlphabet[next() % 4];
        std::string expected;
        for (const std::string& line : ReferenceLines(text))
            expected += (expected.empty() ? "<" : "\r\n<") + line + ">";
        for (uint64_t block = 1; block <= 6; ++block)
            EXPECT_EQ(Lines(text, block, 1024), expected) << "block " << block;
    }
}

TEST(ReadFileInParts, SearchAndReplaceCopiesEveryByteForEveryPartSize) {
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    static const char16_t kAlphabet[] = {u'a', u'\u00e9', u'\r', u'\n'};
    for (int round = 0; round < 12; ++round) {
        std::u16string text;
        const size_t length = next() % 20;
        for (size_t i = 0; i < length; ++i) text += kAlphabet[next() % 4];
        for (uint64_t part = 1; part <= 6; ++part) {
            // Bytes of the UTF-8 form, and the big-endian UTF-16 form in parts of whole units.
            const std::string utf8 = platform::WideToUtf8(text);
            Engine bytes(u"Q", u"X", false, true);
            EXPECT_TRUE(bytes.Ran(detail::ReadFileInPartsOfSize(bytes.Input(utf8),
                                                                static_cast<int64_t>(utf8.size()),
                                                                bytes.context, bytes.file, part)));
            EXPECT_EQ(bytes.Output(), utf8);

            const std::string be = Utf16(text, true);
            Engine units(u"Q", u"X", false, true);
            units.file.IsUtf16 = true;
            units.file.IsBigEndian = true;
            EXPECT_TRUE(units.Ran(
                detail::ReadFileInPartsOfSize(units.Input(be), static_cast<int64_t>(be.size()),
                                              units.context, units.file, part * 2)));
            EXPECT_EQ(units.Output(), be);
        }
    }
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

TEST(ReadFileInParts, PiecesWithoutNewlinesEndOnWholeCharacters) {
    // "é€😀" repeated, no newline: 4-byte parts would cut inside characters. Every part is
    // valid UTF, so nothing is reported as badly encoded and every byte is searched once.
    const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
                             "b";
    Engine e8(kWhole);
    e8.file.IsUtf8 = true;
    e8.file.CheckUtfOnFirstSearch = true;
    EXPECT_TRUE(e8.Ran(detail::ReadFileInPartsOfSize(
        e8.Input(utf8), static_cast<int64_t>(utf8.size()), e8.context, e8.file, 4)));
    EXPECT_FALSE(e8.file.BadEncoding);
    EXPECT_EQ(e8.Output(), "<a\xC3\xA9>\r\n<\xE2\x82\xAC>\r\n<\xF0\x9F\x98\x80>\r\n<b>");

    // UTF-16 LE: a part never ends between the two halves of a surrogate pair.
    const std::string utf16("a\0\x3D\xD8\x00\xDE"
                            "b\0",
                            8);
    Engine e16(kWhole);
    e16.file.IsUtf16 = true;
    e16.file.CheckUtfOnFirstSearch = true;
    EXPECT_TRUE(
        e16.Ran(detail::ReadFileInPartsOfSize(e16.Input(utf16), 8, e16.context, e16.file, 4)));
    EXPECT_FALSE(e16.file.BadEncoding);
    EXPECT_EQ(e16.Output(), "<a>\r\n<\xF0\x9F\x98\x80>\r\n<b>");

    // Line mode cuts a line longer than the read memory (4 bytes here) the same way: the
    // second block leaves the carry ending in half of the four-byte character.
    Engine l8(kWhole);
    l8.file.IsUtf8 = true;
    l8.file.CheckUtfOnFirstSearch = true;
    EXPECT_TRUE(l8.Ran(detail::ReadLinesInBlocks(l8.Input(utf8), static_cast<int64_t>(utf8.size()),
                                                 l8.context, l8.file, 4, 4)));
    EXPECT_FALSE(l8.file.BadEncoding);
    EXPECT_EQ(l8.Output(), "<a\xC3\xA9\xE2\x82\xAC>\r\n<\xF0\x9F\x98\x80"
                           "b>");
}

} // namespace
} // namespace gleanery
