// Tests of the report stage: the statistics block, writing it, deleting the output and the
// clipboard copy.
#include "engine/report.h"

#include "engine/replacement_template.h"
#include "host/process_state.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "settings/texts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gleanery {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

void SetTemplate(ExtractionJob& job, const std::u16string& replace, int32_t captureCount) {
    Settings settings;
    settings.CodePage = 1252;
    settings.replace = replace;
    CompiledExpression compiled;
    compiled.CaptureCount = captureCount;
    job.Result.Template = ReplacementTemplate{};
    ParseReplacement(settings, job.Result.Template, compiled);
}

TEST(SizeText, Boundaries) {
    EXPECT_EQ(SizeText(-1), u"");
    EXPECT_EQ(SizeText(0), u"*** Empty file! ***");
    EXPECT_EQ(SizeText(1), u"1 Bytes");
    EXPECT_EQ(SizeText(1023), u"1023 Bytes");
    EXPECT_EQ(SizeText(1024), u"1.00 kiB");
    EXPECT_EQ(SizeText(1152), u"1.13 kiB"); // exactly 1.125: rounded away from zero
    EXPECT_EQ(SizeText(1048575), u"1024.00 kiB");
    EXPECT_EQ(SizeText(1048576), u"1.00 MiB");
    EXPECT_EQ(SizeText(262144 * 4 + 262144), u"1.25 MiB");
    EXPECT_EQ(SizeText(int64_t{5} << 40), u"5242880.00 MiB");
}

TEST(StatisticsText, PlainRun) {
    State().System.AnsiCodePage = 1252;
    ExtractionJob job;
    job.JobSettings.CodePage = 1252;
    SetTemplate(job, u"$0", 0);
    job.Attempted = 2;
    job.Searched = 2;
    job.Result.TotalParts = 2;
    job.Result.MatchCount = 5;
    job.OutputPath = u"/tmp/x/out.txt";
    job.OutputSize = 1024;
    job.Elapsed = 1234;
    // A plain run's mode line is a single line break.
    EXPECT_EQ(StatisticsText(job, JobOutcome{}),
              u"\r\n\r\nSearched file(s): 2"
              u"\r\nWith Regular Expression: \".*\""
              u"\r\nReplacement string: \"{Group0}\""
              u"\r\nPCRE options: Unicode properties"
              u"\r\nRead memory: 10 MiB"
              u"\r\nEncoding check buffer: 0.25 MiB"
              u"\r\nCode page used for recoding: 1252"
              u"\r\nReplacement character: default"
              u"\r\nFile parts searched (cut at newlines): 2"
              u"\r\nSuccessful matches: 5"
              u"\r\nOutput file: \"/tmp/x/out.txt\": 1.00 kiB (without statistics)"
              u"\r\nOperation completed in 1.234 seconds");
}

TEST(StatisticsText, LineModeWithEveryOptionalLine) {
    EnterBuiltInTexts(InterfaceTexts());
    State().System.AnsiCodePage = 1252;
    ExtractionJob job;
    Settings& s = job.JobSettings;
    s.LineMode = true;
    s.NoDuplicates = true;
    s.CaseSensitive = s.Dotall = s.Multiline = s.UnicodeProperties = s.EmptyValid = true;
    s.Memory = 50;
    s.EncodingCheck = 131072;
    s.CodePage = 0; // shown as the system code page
    s.DefaultCharacter = '?';
    s.regex = u"(a)(b)";
    SetTemplate(job, u"$1-$3\\xNn", 2);
    job.Attempted = 5;
    job.Searched = 2;
    job.SearchedInPart = 1;
    job.Declined = 1;
    job.Result.TotalParts = 120;
    job.Result.DuplicateCount = 7;
    job.OutputPath = u"\\\\?\\C:\\out\\list.txt";
    job.OutputSize = 0;
    job.Elapsed = 5;
    job.BadEncoding = u"\r\nC:\\in\\bad.txt";
    job.CouldNotOpen = u"\r\nC:\\in\\locked.txt\r\nC:\\in\\gone.txt";
    job.CutMatchLost = u"\r\nC:\\in\\long.txt";
    job.NotReadWhole = u"\r\nC:\\in\\rotated.log";
    const std::u16string incomplete = Text(kTextCutMatchLost) + u"\r\nC:\\in\\long.txt\r\n\r\n" +
                                      Text(kTextNotReadWhole) + u"\r\nC:\\in\\rotated.log";
    EXPECT_EQ(IncompleteSearchesText(job), incomplete);
    EXPECT_EQ(
        StatisticsText(job, JobOutcome{}),
        u"\r\n\r\n*** Line mode ***"
        u"\r\nSearched file(s): 2"
        u"\r\nSearched only in part (not read whole): 1"
        u"\r\nSkipped file(s): 2"
        u"\r\nWith Regular Expression: \"(a)(b)\""
        u"\r\nReplacement string: \"{Group1}-{Group3}{Filename}\""
        u"\r\nOne or more subpattern(s) not found in expression and ignored!"
        u"\r\nPCRE options: Case sensitive, Dotall, Line anchors, Unicode properties, Empty match "
        u"is valid"
        u"\r\nRead memory: 50 MiB"
        u"\r\n*** Requested read memory declined for 1 files! ***"
        u"\r\nEncoding check buffer: 0.13 MiB"
        u"\r\nCode page used for recoding: 1252"
        u"\r\nReplacement character: \"?\""
        u"\r\nLines extracted and searched: 120"
        u"\r\n*** 7 duplicate search results omitted ***"
        u"\r\nSuccessful matches: *** No matches! ***"
        u"\r\nOutput file: \"C:\\out\\list.txt\": *** Empty file! *** (without statistics)"
        u"\r\nOperation completed in 0.005 seconds"
        u"\r\n\r\nThe following file(s) were at least partially skipped due to bad UTF encoding,"
        u"\r\ntherefore some results could be missing. Try them again in binary mode with"
        u"\r\nor without a smaller read buffer, in line mode, or fix the encoding first:"
        u"\r\nC:\\in\\bad.txt\r\n\r\n" +
            incomplete +
            u"\r\n\r\nCould not open the following file(s) for reading:"
            u"\r\nC:\\in\\locked.txt\r\nC:\\in\\gone.txt");
}

TEST(StatisticsText, BinarySearchAndReplaceAfterAWriteError) {
    State().System.OemCodePage = 437;
    ExtractionJob job;
    Settings& s = job.JobSettings;
    s.SearchAndReplace = true;
    s.BinaryMode = true;
    s.UnicodeProperties = false;
    s.CaseSensitive = s.Dotall = true;
    s.CodePage = 1;
    s.DefaultCharacter = 10; // not printable: nothing shown
    s.regex = u"";
    SetTemplate(job, u"", 0);
    job.Attempted = job.Searched = 1;
    job.Result.TotalParts = 9;
    job.Result.MatchCount = 3;
    job.OutputPath = u"\\\\?\\UNC\\server\\share\\o.txt";
    job.OutputSize = -1;
    job.Elapsed = 61000;
    JobOutcome outcome;
    outcome.ok = false;
    EXPECT_EQ(StatisticsText(job, outcome),
              u"\r\n\r\n***************\r\nWrite error !!!\r\n***************"
              u"\r\n\r\n*** Search and replace ***"
              u"\r\nSearched file(s): 1"
              u"\r\nWith Regular Expression: \".*\""
              u"\r\nReplacement string: \"\""
              u"\r\nPCRE options: Case sensitive, Dotall"
              u"\r\nRead memory: 10 MiB"
              u"\r\nCode page used for recoding: 437"
              u"\r\nReplacement character: "
              u"\r\nFile parts searched (cut at newlines): 9"
              u"\r\n*** all files treated binary ***"
              u"\r\nSuccessful matches: 3"
              u"\r\nOutput file: \"\\\\server\\share\\o.txt\":  (without statistics)"
              u"\r\nOperation aborted after 61.000 seconds");
}

// ---- delivery
// ------------------------------------------------------------------------------------

// A job whose output file holds `results` as the match loop would have written them.
struct Delivery {
    TempDir dir;
    ExtractionJob job;
    JobOutcome outcome;

    explicit Delivery(const std::string& results, bool started = true) {
        job.JobSettings.CodePage = 1252;
        job.OutputPath = dir.Wide("out.txt");
        if (!started) WriteAll(dir.Narrow("out.txt"), "stale content of an overwritten file");
        job.Output = platform::OpenOrCreateForWriting(job.OutputPath);
        job.Result.OutputBuffer = results;
        if (started) {
            EXPECT_TRUE(FlushOutput(FileSink(job.Output), job.Result));
        }
        job.OutputSize = platform::SizeOf(job.OutputPath);
        SetTemplate(job, u"$0", 0);
        job.Attempted = job.Searched = 1;
    }
    // As the job leaves it when no statistics are to be written.
    void CloseOutput() { platform::Close(job.Output); }
    std::string Content() { return ReadAll(dir.Narrow("out.txt")); }
    bool Exists() { return fs::exists(dir.path / "out.txt"); }
};

TEST(ReportAndDeliver, StatisticsFollowTheResults) {
    Delivery d("one\r\ntwo");
    d.job.JobSettings.WriteStats = true;
    d.job.Result.MatchCount = 2;
    const std::string expected =
        "one\r\ntwo" + platform::WideToUtf8(StatisticsText(d.job, d.outcome));
    ReportAndDeliver(d.job, d.outcome);
    EXPECT_TRUE(d.outcome.ok);
    EXPECT_FALSE(d.job.Output.IsOpen());
    EXPECT_EQ(d.Content(), expected);
    EXPECT_EQ(d.job.OutputSize, static_cast<int64_t>(expected.size()));
    EXPECT_NE(expected.find("\"" + d.dir.Narrow("out.txt") + "\": 8 Bytes (without statistics)"),
              std::string::npos);
}

TEST(ReportAndDeliver, StatisticsOfAnEmptyRunTruncateAndGetThePendingMark) {
    Delivery d("", false);
    d.job.JobSettings.WriteStats = true;
    d.job.JobSettings.WriteBom = true;
    d.job.BomAtStart = true;
    ReportAndDeliver(d.job, d.outcome);
    EXPECT_TRUE(d.outcome.ok);
    EXPECT_TRUE(d.job.Result.BomWritten);
    const std::string content = d.Content();
    ASSERT_GE(content.size(), 5u);
    EXPECT_EQ(content.substr(0, 5), "\xEF\xBB\xBF\r\n");
    EXPECT_EQ(content.find("stale"), std::string::npos);
    EXPECT_NE(content.find(": *** Empty file! *** (without statistics)\r\n"), std::string::npos);
    EXPECT_NE(content.find("\r\nSuccessful matches: *** No matches! ***\r\n"), std::string::npos);
    EXPECT_TRUE(d.Exists());
}

TEST(ReportAndDeliver, BinaryStatisticsUseTheCodePage) {
    Delivery d("x");
    d.job.JobSettings.WriteStats = true;
    d.job.JobSettings.BinaryMode = true;
    d.job.JobSettings.DefaultCharacter = '#';
    d.job.JobSettings.regex = u"caf\u00e9|\u4e00";
    ReportAndDeliver(d.job, d.outcome);
    EXPECT_NE(d.Content().find("\"caf\xE9|#\""), std::string::npos);
}

TEST(ReportAndDeliver, AFailedStatisticsWriteKeepsTheResults) {
    Delivery d("results");
    d.job.JobSettings.WriteStats = true;
    platform::InjectFault(platform::FaultKind::Write, 1);
    ReportAndDeliver(d.job, d.outcome);
    platform::ClearFaults();
    EXPECT_FALSE(d.outcome.ok);
    EXPECT_FALSE(d.job.Output.IsOpen());
    EXPECT_EQ(d.Content(), "results");
}

TEST(ReportAndDeliver, DeletesEmptyAndAbortedOutputOnly) {
    {
        Delivery d("");
        d.CloseOutput();
        ReportAndDeliver(d.job, d.outcome);
        EXPECT_FALSE(d.Exists());
    }
    {
        // An aborted job leaves nothing, even with statistics asked for.
        Delivery d("partial");
        d.job.JobSettings.WriteStats = true;
        d.outcome.aborted = true;
        ReportAndDeliver(d.job, d.outcome);
        EXPECT_FALSE(d.Exists());
    }
    {
        Delivery d("abc");
        d.CloseOutput();
        d.outcome.ok = false;
        ReportAndDeliver(d.job, d.outcome);
        EXPECT_EQ(d.Content(), "abc");
    }
    {
        // An overwritten file that never received output is not left behind as a result.
        Delivery d("", false);
        d.CloseOutput();
        ReportAndDeliver(d.job, d.outcome);
        EXPECT_FALSE(d.Exists());
    }
    {
        TempDir dir;
        ExtractionJob job;
        JobOutcome outcome;
        fs::create_directory(dir.path / "sub");
        job.OutputPath = dir.Wide("sub");
        job.OutputSize = 0;
        ReportAndDeliver(job, outcome);
        EXPECT_TRUE(fs::is_directory(dir.path / "sub"));
    }
}

// ---- clipboard
// -----------------------------------------------------------------------------------

struct Recorded {
    std::vector<uint32_t> formats;
    std::vector<std::string> copies;
    bool accept = true;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> titles;
    std::vector<uint32_t> flags;
};

bool TakeClipboard(void* context, uint32_t format, const std::string& bytes) {
    auto* r = static_cast<Recorded*>(context);
    r->formats.push_back(format);
    r->copies.push_back(bytes);
    return r->accept;
}

int AnswerMessage(void* context, const std::u16string& text, const std::u16string& title,
                  uint32_t flags) {
    auto* r = static_cast<Recorded*>(context);
    r->messages.push_back(text);
    r->titles.push_back(title);
    r->flags.push_back(flags);
    return platform::kIdOk;
}

struct ClipboardScope {
    Recorded r;
    ClipboardScope() {
        EnterBuiltInTexts(InterfaceTexts());
        platform::SetClipboardHandler(&TakeClipboard, &r);
        platform::SetMessageBoxHandler(&AnswerMessage, &r);
    }
    ~ClipboardScope() {
        platform::SetClipboardHandler(nullptr, nullptr);
        platform::SetMessageBoxHandler(nullptr, nullptr);
    }
};

std::string LittleEndian(std::u16string_view text) {
    std::string bytes;
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

TEST(Clipboard, Utf8OutputWithoutItsMark) {
    ClipboardScope clip;
    Delivery d("\xEF\xBB\xBF"
               "caf\xC3\xA9\r\n\xF0\x9F\x98\x80");
    d.CloseOutput();
    d.job.BomAtStart = true;
    d.job.JobSettings.CopyClip = 1;
    ReportAndDeliver(d.job, d.outcome);
    ASSERT_EQ(clip.r.formats.size(), 1u);
    EXPECT_EQ(clip.r.formats[0], platform::kCfUnicodeText);
    EXPECT_EQ(clip.r.copies[0], LittleEndian(u"caf\u00e9\r\n\xD83D\xDE00") + std::string(2, '\0'));
    EXPECT_TRUE(d.Exists());
    EXPECT_TRUE(clip.r.messages.empty());
}

TEST(Clipboard, SearchAndReplaceEncodingAgreement) {
    {
        // Big-endian UTF-16 only: swapped to little-endian, the inputs' mark left out.
        ClipboardScope clip;
        Delivery d("\xFE\xFF\x00h\x00i\xD8\x3D\xDE\x00"s);
        d.CloseOutput();
        d.job.JobSettings.SearchAndReplace = true;
        d.job.JobSettings.CopyClip = 2;
        d.job.EncodingAgreement = SharedEncoding::Utf16BigEndian;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.formats.size(), 1u);
        EXPECT_EQ(clip.r.formats[0], platform::kCfUnicodeText);
        EXPECT_EQ(clip.r.copies[0], "h\0i\0\x3D\xD8\x00\xDE\0\0"s);
        EXPECT_FALSE(d.Exists()); // copied, so deleted
    }
    {
        // Mixed encodings: the raw bytes as 8-bit text.
        ClipboardScope clip;
        Delivery d("ab\xE9\xFF\xFE");
        d.CloseOutput();
        d.job.JobSettings.SearchAndReplace = true;
        d.job.JobSettings.CopyClip = 1;
        d.job.EncodingAgreement = SharedEncoding::Mixed;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.formats.size(), 1u);
        EXPECT_EQ(clip.r.formats[0], platform::kCfText);
        EXPECT_EQ(clip.r.copies[0], "ab\xE9\xFF\xFE\0\0"s);
    }
    {
        // UTF-8 only: converted, its mark left out.
        ClipboardScope clip;
        Delivery d("\xEF\xBB\xBFz\xC3\xA9");
        d.CloseOutput();
        d.job.JobSettings.SearchAndReplace = true;
        d.job.JobSettings.CopyClip = 1;
        d.job.EncodingAgreement = SharedEncoding::Utf8;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.formats.size(), 1u);
        EXPECT_EQ(clip.r.formats[0], platform::kCfUnicodeText);
        EXPECT_EQ(clip.r.copies[0], "z\0\xE9\0\0\0"s);
    }
    {
        // Binary mode outside search-and-replace: raw bytes too.
        ClipboardScope clip;
        Delivery d("\x01\x02");
        d.CloseOutput();
        d.job.JobSettings.BinaryMode = true;
        d.job.JobSettings.CopyClip = 1;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.formats.size(), 1u);
        EXPECT_EQ(clip.r.formats[0], platform::kCfText);
        EXPECT_EQ(clip.r.copies[0], "\x01\x02\0\0"s);
    }
}

TEST(Clipboard, FiveMiBBoundaryWithDeleteAfterCopy) {
    const size_t limit = 0x500000;
    {
        ClipboardScope clip;
        Delivery d(std::string(limit, 'a'));
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 2;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.copies.size(), 1u);
        EXPECT_EQ(clip.r.copies[0].size(), 2 * limit + 2);
        EXPECT_FALSE(d.Exists());
        EXPECT_TRUE(clip.r.messages.empty());
    }
    {
        ClipboardScope clip;
        Delivery d(std::string(limit + 1, 'a'));
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 2;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.copies.size(), 1u);
        EXPECT_EQ(clip.r.copies[0].size(), 2 * limit + 2);
        EXPECT_TRUE(d.Exists());
        ASSERT_EQ(clip.r.messages.size(), 1u);
        EXPECT_EQ(clip.r.messages[0], u"File too big for Clipboard copy.\r\nOutfile not deleted!");
        EXPECT_EQ(clip.r.titles[0], u"Gleanery");
        EXPECT_EQ(clip.r.flags[0], platform::kMbOk | platform::kMbIconWarning);
    }
}

TEST(Clipboard, CutTextEndsOnWholeCharacters) {
    const size_t limit = 0x500000;
    {
        // The 5 MiB cut falls inside a two-byte character: the lead byte is dropped.
        ClipboardScope clip;
        Delivery d(std::string(limit - 1, 'a') + "\xC3\xA9zz");
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 1;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.copies.size(), 1u);
        EXPECT_EQ(clip.r.copies[0].size(), 2 * (limit - 1) + 2);
    }
    {
        // UTF-16 cut between the units of a pair: the high surrogate is dropped.
        ClipboardScope clip;
        std::string content = "\xFF\xFE" + std::string(limit - 4, 'a') +
                              "\x3D\xD8\x00\xDE"
                              "b\0"s;
        Delivery d(content);
        d.CloseOutput();
        d.job.JobSettings.SearchAndReplace = true;
        d.job.JobSettings.CopyClip = 1;
        d.job.EncodingAgreement = SharedEncoding::Utf16LittleEndian;
        ReportAndDeliver(d.job, d.outcome);
        ASSERT_EQ(clip.r.copies.size(), 1u);
        EXPECT_EQ(clip.r.copies[0], std::string(limit - 4, 'a') + std::string(2, '\0'));
    }
}

TEST(Clipboard, RefusalWarnsAndKeepsTheFile) {
    ClipboardScope clip;
    clip.r.accept = false;
    Delivery d("text");
    d.CloseOutput();
    d.job.JobSettings.CopyClip = 2;
    ReportAndDeliver(d.job, d.outcome);
    EXPECT_TRUE(d.Exists());
    ASSERT_EQ(clip.r.messages.size(), 1u);
    EXPECT_EQ(clip.r.messages[0], u"Clipboard copy failed!");
    EXPECT_EQ(clip.r.flags[0], platform::kMbOk | platform::kMbIconWarning);
}

TEST(Clipboard, NoCopyAfterFailureAbortOrWithoutOutput) {
    ClipboardScope clip;
    {
        Delivery d("text");
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 1;
        d.outcome.ok = false;
        ReportAndDeliver(d.job, d.outcome);
    }
    {
        Delivery d("text");
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 1;
        d.outcome.aborted = true;
        ReportAndDeliver(d.job, d.outcome);
    }
    {
        Delivery d("");
        d.CloseOutput();
        d.job.JobSettings.CopyClip = 1;
        ReportAndDeliver(d.job, d.outcome);
    }
    EXPECT_TRUE(clip.r.copies.empty());
}

} // namespace
} // namespace gleanery
