// Whole packs through the exports, comparing whole output files byte for byte.
#include <regex>

#include "plugin_fixture.h"

namespace gleanery::test {
namespace {

std::string Utf16Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string Utf16Be(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

// The statistics' timing line differs from run to run; everything else is compared exactly.
std::string WithoutTiming(const std::string& text) {
    return std::regex_replace(text, std::regex("completed in [0-9]+\\.[0-9]{3} seconds"),
                              "completed in T seconds");
}

using Packing = PluginTest;

TEST_F(Packing, ExtractionWithEveryTemplateItem) {
    WriteLastSettings(
        "regex=id=(\\d+) name=(\\S+)\r\n"
        "replace=[$1|$2|\\xNn|\\xM2|\\xm0|\\x41|^$1|$0|$9]\\xNN\r\nCodePage=1252\r\n");
    WriteFile(work / "x.txt", "id=42 name=Zo\xEB\r\nid=7 name=Al\r\n");
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"x.txt"}), 0);
    const std::string path = (work / "x.txt").string();
    EXPECT_EQ(ReadAll(root / "out.txt"), "[42|Zo\xC3\xAB|x.txt|000|1|A|$1|id=42 name=Zo\xC3\xAB|]" +
                                             path + "\r\n[7|Al|x.txt|001|2|A|$1|id=7 name=Al|]" +
                                             path);
}

TEST_F(Packing, LineModeAcrossTwoFiles) {
    WriteLastSettings("regex=\\d\r\nLineMode=true\r\n");
    WriteFile(work / "a.txt", "foo 1\r\n\r\nbar 2 3\r\n");
    WriteFile(work / "b.txt", "none\nbaz 4");
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"a.txt", "b.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), ">>>> \"" + (work / "a.txt").string() +
                                             "\":\r\n>> Line 1:\r\n1\r\n>> Line 3:\r\n2\r\n3\r\n"
                                             ">>>> \"" +
                                             (work / "b.txt").string() + "\":\r\n>> Line 2:\r\n4");
}

TEST_F(Packing, SearchAndReplaceKeepsEachEncoding) {
    WriteLastSettings("regex=(\\d{4})-(\\d\\d)-(\\d\\d)\r\nreplace=$3.$2.$1\r\n"
                      "SearchAndReplace=true\r\nCodePage=1252\r\n");
    const std::u16string text = u"Gr\u00FC\u00DFe 2026-11-03 \u263A\r\n";
    const std::u16string done = u"Gr\u00FC\u00DFe 03.11.2026 \u263A\r\n";
    WriteFile(work / "cp.txt", "Gr\xFC\xDF"
                               "e 2026-11-03 !\r\n");
    WriteFile(work / "u8.txt", "\xEF\xBB\xBF" + U8(text));
    WriteFile(work / "le.txt", "\xFF\xFE" + Utf16Le(text));
    WriteFile(work / "be.txt", "\xFE\xFF" + Utf16Be(text));
    WriteFile(work / "le-nobom.txt", Utf16Le(text));
    Load();
    struct Case {
        const char* file;
        std::string expected;
    } cases[] = {
        {"cp.txt", "Gr\xFC\xDF"
                   "e 03.11.2026 !\r\n"},
        {"u8.txt", "\xEF\xBB\xBF" + U8(done)},
        {"le.txt", "\xFF\xFE" + Utf16Le(done)},
        {"be.txt", "\xFE\xFF" + Utf16Be(done)},
        {"le-nobom.txt", Utf16Le(done)},
    };
    for (const Case& c : cases) {
        fs::remove(root / "out.txt");
        ASSERT_EQ(Pack(root / "out.zip", {c.file}), 0) << c.file;
        EXPECT_EQ(ReadAll(root / "out.txt"), c.expected) << c.file;
        EXPECT_EQ(ReadAll(work / c.file).size() + 0, ReadAll(work / c.file).size());
    }
    // Without any match the text is copied unchanged, and that is success.
    WriteFile(work / "none.txt", "nothing here");
    fs::remove(root / "out.txt");
    EXPECT_EQ(Pack(root / "out.zip", {"none.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "nothing here");
}

TEST_F(Packing, NoDuplicatesAcrossCodePageAndUtf16) {
    WriteLastSettings("regex=Zo\\S\r\nNoDuplicates=true\r\nCodePage=1252\r\n");
    WriteFile(work / "cp.txt", "Zo\xEB and Zo\xEB");
    WriteFile(work / "le.txt", "\xFF\xFE" + Utf16Le(u"Zo\u00EB, Zoe"));
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"cp.txt", "le.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "Zo\xC3\xAB\r\nZoe");
}

TEST_F(Packing, BinaryModeKeepsRawBytes) {
    WriteLastSettings("regex=A.\r\nreplace=$0-\\x00\\xff\r\nBinaryMode=true\r\nDotall=true\r\n");
    WriteFile(work / "b.bin", std::string("\x00\xFF"
                                          "A\x01\x00"
                                          "A\xFE",
                                          7));
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"b.bin"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), std::string("A\x01-\x00\xFF\r\nA\xFE-\x00\xFF", 12));
}

TEST_F(Packing, EmptyMatches) {
    WriteFile(work / "baaa.txt", "baaa");
    WriteFile(work / "crlf.txt", "a\r\nb");
    WriteFile(work / "empty.txt", "");

    WriteLastSettings("regex=a*\r\n");
    Load();
    ASSERT_EQ(Pack(root / "off.zip", {"baaa.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "off.txt"), "aaa");
    Unload();

    WriteLastSettings("regex=a*\r\nreplace=<$0>\r\nEmptyValid=true\r\n");
    Load();
    ASSERT_EQ(Pack(root / "on.zip", {"baaa.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "on.txt"), "<>\r\n<aaa>");
    ASSERT_EQ(Pack(root / "empty.zip", {"empty.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "empty.txt"), "<>");
    Unload();

    // An empty-match advance steps over CR LF as one line break unless the pattern says (*LF).
    WriteLastSettings("regex=x*\r\nreplace=\\xM0\r\nEmptyValid=true\r\n");
    Load();
    ASSERT_EQ(Pack(root / "crlf.zip", {"crlf.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "crlf.txt"), "0\r\n1\r\n2");
    Unload();
    WriteLastSettings("regex=(*LF)x*\r\nreplace=\\xM0\r\nEmptyValid=true\r\n");
    Load();
    ASSERT_EQ(Pack(root / "lf.zip", {"crlf.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "lf.txt"), "0\r\n1\r\n2\r\n3");
}

TEST_F(Packing, EncodingDetectionAtTheCheckBufferEdge) {
    WriteLastSettings("regex=a\\x{C3}|\\x{E9}\r\nEncodingCheck=1\r\nCodePage=1252\r\n");
    // UTF-8 longer than the check buffer, which ends inside "é": still UTF-8.
    WriteFile(work / "long.txt", std::string(131071, 'b') + "\xC3\xA9" + "b");
    // The same cut in a file no longer than the check buffer: code-page text.
    WriteFile(work / "short.txt", std::string(131071, 'a') + "\xC3");
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"long.txt", "short.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "out.txt"), "\xC3\xA9\r\na\xC3\x83");
    Unload();

    // UTF-16 without a mark whose check buffer cuts a surrogate pair. A code point beyond a
    // byte needs UTF mode in the code-page form too.
    WriteLastSettings("regex=(*UTF)\\x{1F600}c\r\nEncodingCheck=1\r\n");
    WriteFile(work / "u16.txt", Utf16Le(std::u16string(65535, u'c') + u"\U0001F600" + u"c"));
    Load();
    ASSERT_EQ(Pack(root / "u16.zip", {"u16.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "u16.txt"), "\xF0\x9F\x98\x80"
                                         "c");
}

TEST_F(Packing, LargeFileSearchedInPartsAndLongLineInLineMode) {
    // 12 MiB of short lines with a marker every 2 MiB; 5 MiB parts cut at line ends.
    std::string big;
    int marker = 0;
    while (big.size() < (12u << 20)) {
        if (big.size() / (2u << 20) >= static_cast<size_t>(marker))
            big += "marker" + std::to_string(marker++) + "\n";
        big += "filler line of text\n";
    }
    WriteFile(work / "big.txt", big);
    WriteLastSettings("regex=marker\\d+\r\nMemory=5\r\nWriteStats=true\r\nCodePage=1252\r\n");
    Load();
    ASSERT_EQ(Pack(root / "parts.zip", {"big.txt"}), 0);
    const std::string parts = ReadAll(root / "parts.txt");
    EXPECT_EQ(parts.substr(0, parts.find("\r\n\r\n")),
              "marker0\r\nmarker1\r\nmarker2\r\nmarker3\r\nmarker4\r\nmarker5");
    EXPECT_NE(parts.find("\r\nFile parts searched (cut at newlines): 3\r\n"), std::string::npos);
    Unload();

    // A line longer than the read memory is searched in pieces, and stays one line: the lines
    // are numbered by their line ends.
    WriteFile(work / "long.txt", std::string(6u << 20, 'a') + "Q\nQ");
    WriteLastSettings("regex=Q\r\nMemory=5\r\nLineMode=true\r\n");
    Load();
    ASSERT_EQ(Pack(root / "lines.zip", {"long.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "lines.txt"), ">>>> \"" + (work / "long.txt").string() +
                                               "\":\r\n>> Line 1:\r\nQ\r\n>> Line 2:\r\nQ");
}

TEST_F(Packing, StatisticsOfARunWithSkippedAndBadlyEncodedFiles) {
    WriteLastSettings("regex=b+\r\nWriteStats=true\r\nCodePage=1252\r\nEncodingCheck=1\r\n"
                      "OutfileExtension=2\r\n");
    WriteFile(work / "a.txt", "abba cbbbd");
    // Valid UTF-8 in the check buffer, invalid later: searched up to the bad byte.
    WriteFile(work / "bad.txt", "\xC3\xA9" + std::string(300000, ' ') + "\xFF bb");
    // The output file itself is selected too: it is never read while it is being written.
    WriteFile(work / "out.txt", "old");
    Load();
    host.answers = {6};
    ASSERT_EQ(Pack(work / "out.txt", {"a.txt", "bad.txt", "out.txt"}), 0);
    const std::string out = WithoutTiming(ReadAll(work / "out.txt"));
    EXPECT_EQ(out, "bb\r\nbbb\r\n"
                   "\r\nSearched file(s): 2"
                   "\r\nSkipped file(s): 1"
                   "\r\nWith Regular Expression: \"b+\""
                   "\r\nReplacement string: \"{Group0}\""
                   "\r\nPCRE options: Unicode properties"
                   "\r\nRead memory: 10 MiB"
                   "\r\nEncoding check buffer: 0.13 MiB"
                   "\r\nCode page used for recoding: 1252"
                   "\r\nReplacement character: default"
                   "\r\nFile parts searched (cut at newlines): 2"
                   "\r\nSuccessful matches: 2"
                   "\r\nOutput file: \"" +
                       (work / "out.txt").string() +
                       "\": 7 Bytes (without statistics)"
                       "\r\nOperation completed in T seconds"
                       "\r\n\r\nThe following file(s) were at least partially skipped due to bad "
                       "UTF encoding,"
                       "\r\ntherefore some results could be missing. Try them again in binary "
                       "mode with"
                       "\r\nor without a smaller read buffer, in line mode, or fix the encoding "
                       "first:\r\n" +
                       (work / "bad.txt").string() +
                       "\r\n\r\nCould not open the following file(s) for reading:\r\n" +
                       (work / "out.txt").string());
}

TEST_F(Packing, StatisticsOfLineModeAndOfAnEmptyRun) {
    WriteLastSettings("regex=x\r\nreplace=$1\r\nWriteStats=true\r\nLineMode=true\r\n"
                      "NoDuplicates=true\r\nCaseSensitive=true\r\nDotall=true\r\n"
                      "UnicodeProperties=false\r\nDefaultCharacter=35\r\nCodePage=1252\r\n"
                      "WriteBom=true\r\n");
    WriteFile(work / "a.txt", "no\nmatch\n");
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"a.txt"}), 22);
    EXPECT_EQ(WithoutTiming(ReadAll(root / "out.txt")),
              "\xEF\xBB\xBF"
              "\r\n\r\n*** Line mode ***"
              "\r\nSearched file(s): 1"
              "\r\nWith Regular Expression: \"x\""
              "\r\nReplacement string: \"{Group1}\""
              "\r\nOne or more subpattern(s) not found in expression and ignored!"
              "\r\nPCRE options: Case sensitive, Dotall"
              "\r\nRead memory: 10 MiB"
              "\r\nEncoding check buffer: 0.25 MiB"
              "\r\nCode page used for recoding: 1252"
              "\r\nReplacement character: \"#\""
              "\r\nLines extracted and searched: 3"
              "\r\n*** 0 duplicate search results omitted ***"
              "\r\nSuccessful matches: *** No matches! ***"
              "\r\nOutput file: \"" +
                  (root / "out.txt").string() +
                  "\": *** Empty file! *** (without statistics)"
                  "\r\nOperation completed in T seconds");
}

TEST_F(Packing, WorkersWriteWhatOneThreadWrites) {
    const std::u16string text = u"Zo\u00EB a1 \u263A b22\r\nnone\r\nc333 \U0001F600\r\n";
    WriteFile(work / "cp.txt", "Zo\xEB a1 b22\r\nc333\r\n");
    WriteFile(work / "u8.txt", "\xEF\xBB\xBF" + U8(text));
    WriteFile(work / "le.txt", "\xFF\xFE" + Utf16Le(text));
    WriteFile(work / "be.txt", "\xFE\xFF" + Utf16Be(text));
    WriteFile(work / "empty.txt", "");
    WriteFile(work / "none.txt", "nothing");
    std::vector<std::string> files = {"missing.txt"};
    for (int round = 0; round < 3; ++round)
        for (const char* name : {"cp.txt", "none.txt", "u8.txt", "empty.txt", "le.txt", "be.txt"})
            files.push_back(name);
    const char* const cases[] = {
        "regex=[a-c]\\d+\r\nWriteStats=true\r\nWriteBom=true\r\nCodePage=1252\r\n",
        "regex=[a-c](2)?\\d\r\nreplace=$1$3\r\nLineMode=true\r\nWriteStats=true\r\n",
        "regex=[a-c]\\d+\r\nreplace=<$0>\r\nSearchAndReplace=true\r\n",
    };
    for (const char* settings : cases) {
        std::string reference;
        for (const char* threads : {"1", "2", "4"}) {
            WriteLastSettings(std::string(settings) + "Threads=" + threads + "\r\n");
            Load();
            fs::remove(root / "out.txt");
            ASSERT_EQ(Pack(root / "out.zip", files), 0) << settings << threads;
            const std::string out = WithoutTiming(ReadAll(root / "out.txt"));
            if (reference.empty())
                reference = out;
            else
                EXPECT_EQ(out, reference) << settings << " threads " << threads;
            // The names handed over in runs, as the command line hands them over while walking.
            fs::remove(root / "out.txt");
            ASSERT_EQ(PackInRuns(root / "out.zip", files), 0) << settings << threads;
            Unload();
            EXPECT_EQ(WithoutTiming(ReadAll(root / "out.txt")), reference)
                << settings << " threads " << threads << " in runs";
        }
    }
}

TEST_F(Packing, NameLongerThanTheSystemAllowsIsListedAsNotOpened) {
    // Deeper than a whole name may be long (4096 bytes on Linux, 32767 units on Windows), as a
    // directory walk can reach: the system refuses to look such a name up at all, so the file
    // is listed as one that could not be opened rather than passed over.
    std::string deep;
    while (deep.size() < 33000) deep += std::string(200, 'd') + char(fs::path::preferred_separator);
    deep += "x.txt";
    WriteLastSettings("regex=b+\r\nWriteStats=true\r\n");
    WriteFile(work / "a.txt", "abba");
    Load();
    ASSERT_EQ(Pack(root / "out.zip", {"a.txt", deep}), 0);
    const std::string out = ReadAll(root / "out.txt");
    EXPECT_NE(out.find("\r\nSearched file(s): 1\r\n"), std::string::npos) << out.substr(0, 500);
    EXPECT_NE(out.find("\r\n\r\nCould not open the following file(s) for reading:\r\n" +
                       (work / "").string() + deep),
              std::string::npos);
}

TEST_F(Packing, ClipboardReceivesUtf16BigEndianOutputAsText) {
#if defined(_WIN32)
    GTEST_SKIP() << "the desktop clipboard tool is a Linux hand-over";
#else
    // A stand-in for xclip that records what it was given.
    const fs::path bin = root / "bin";
    WriteFile(bin / "xclip", "#!/bin/sh\necho \"$@\" > \"" + (root / "args").string() +
                                 "\"\ncat > \"" + (root / "clip").string() + "\"\n");
    fs::permissions(bin / "xclip", fs::perms::owner_all);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    unsetenv("WAYLAND_DISPLAY");

    WriteLastSettings("regex=cat\r\nreplace=dog\r\nSearchAndReplace=true\r\nCopyClip=2\r\n");
    WriteFile(work / "be.txt", "\xFE\xFF" + Utf16Be(u"cat \u00E9 cat"));
    Load();
    const int code = Pack(root / "out.zip", {"be.txt"});
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ReadAll(root / "clip"), "dog \xC3\xA9 dog");
    EXPECT_NE(ReadAll(root / "args").find("UTF8_STRING"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "out.txt")); // copied, then deleted
#endif
}

} // namespace
} // namespace gleanery::test

namespace gleanery::test {
namespace {

TEST_F(Packing, FilesWhoseFormDidNotCompileAreListedAndTheOthersSearched) {
    // Code page 1252 has no alpha: that form of the expression does not compile, the UTF ones do.
    WriteLastSettings("regex=\\x{3b1}+\r\nCodePage=1252\r\nWriteStats=true\r\n"
                      "OutfileExtension=2\r\n");
    WriteFile(work / "a.txt", "plain text");
    WriteFile(work / "b.txt", "\xEF\xBB\xBFx \xCE\xB1\xCE\xB1");
    WriteFile(work / "c.txt", std::string("\xFF\xFE\xB1\x03", 4));
    Load();
    ASSERT_EQ(Pack(root / "out.txt", {"a.txt", "b.txt", "c.txt"}), 0);
    const std::string out = ReadAll(root / "out.txt");
    EXPECT_EQ(out.substr(0, 8), "\xCE\xB1\xCE\xB1\r\n\xCE\xB1");
    const std::string list = "\r\n\r\nThe expression could not be compiled for the encoding of "
                             "the following file(s), so they were not searched (the settings "
                             "dialog's expression status tells why):\r\n" +
                             (work / "a.txt").string();
    ASSERT_GT(out.size(), list.size());
    EXPECT_EQ(out.substr(out.size() - list.size()), list);
}

TEST_F(PluginTest, DeepMatchesRunWholeAndSearchesEndedByALimitAreListed) {
    // Every character of this line is one more level of backtracking: the JIT keeps it on a heap
    // stack of its own, so the whole line matches, far past a file manager's 1 MiB stack.
    std::string subject;
    for (int i = 0; i < 100000; ++i) subject += "ab";
    WriteFile(work / "deep.txt", subject + "\r\nabc");
    WriteLastSettings("regex=(a|b)+c?\r\nLineMode=true\r\n");
    Load();
    ASSERT_EQ(Pack(root / "deep.zip", {"deep.txt"}), 0);
    EXPECT_EQ(ReadAll(root / "deep.txt"), ">>>> \"" + (work / "deep.txt").string() +
                                              "\":\r\n>> Line 1:\r\n" + subject +
                                              "\r\n>> Line 2:\r\nabc");
    Unload();

    // A search the library stops at a limit ends that part, never silently: the statistics count
    // the part and list the file, and the host can ask for the list.
    WriteFile(work / "short.txt", "z " + std::string(300, 'a') + " z\r\nz");
    WriteLastSettings("regex=(*LIMIT_MATCH=50)(a|b)*c|z\r\nWriteStats=true\r\n"
                      "OutfileExtension=2\r\n");
    Load();
    ASSERT_EQ(Pack(root / "out.txt", {"short.txt"}), 0);
    const std::string out = ReadAll(root / "out.txt");
    EXPECT_EQ(out.substr(0, 1), "z");
    const std::string list = "The search ended early in the following file(s), stopped by a limit "
                             "of the expression library; some results could be missing. Try a "
                             "simpler expression or line mode:\r\n" +
                             (work / "short.txt").string();
    EXPECT_NE(out.find("\r\n*** 1 file part(s) searched only in part: the search ended early at "
                       "a limit ***\r\n"),
              std::string::npos);
    ASSERT_GT(out.size(), list.size() + 4);
    EXPECT_EQ(out.substr(out.size() - list.size() - 4), "\r\n\r\n" + list);
    ASSERT_NE(lib.GleaneryJobNotesW, nullptr);
    char16_t notes[2048];
    EXPECT_EQ(lib.GleaneryJobNotesW(notes, 2048), static_cast<int>(list.size()));
    EXPECT_EQ(U8(notes), list);
}

} // namespace
} // namespace gleanery::test
