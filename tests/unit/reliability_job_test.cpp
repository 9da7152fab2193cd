// The extraction job under failure: every row of its failure table, and faults injected at every
// point of a whole pack (writes, truncation, opens, reads, the host's cancel answer). The job is
// run directly so that the fault counters are the ones the job's own file operations consult.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/match_loop.h"
#include "host/pack_job.h"
#include "host/process_state.h"
#include "host/wcx.h"
#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "settings/texts.h"
#include "support/pack_invariants.h"
#include "support/temp_dir.h"

namespace gleanery {
namespace {

namespace fs = std::filesystem;
using platform::FaultKind;
using test::ExpectPackInvariants;
using test::SnapshotTree;
using test::TreeSnapshot;

// ---- host stand-ins -----------------------------------------------------------------------------

std::vector<std::string> g_calls;              // progress calls, "name|size"
std::function<int(const std::string&)> g_hook; // answers a progress call; 1 when unset
std::deque<int> g_answers;                     // message box answers; Yes when none is left
std::vector<std::string> g_boxes;

int WCX_CALL Progress(char16_t* name, int size) {
    const std::string text = platform::WideToUtf8(name);
    g_calls.push_back(text + "|" + std::to_string(size));
    return g_hook ? g_hook(text) : 1;
}

int Answer(void*, const std::u16string& text, const std::u16string&, uint32_t) {
    g_boxes.push_back(platform::WideToUtf8(text));
    if (g_answers.empty()) return platform::kIdYes;
    const int answer = g_answers.front();
    g_answers.pop_front();
    return answer;
}

using test::ReadAll;
using test::WriteAll;

// Lines of `count` numbered words, `width` bytes each with CR LF.
std::string NumberedLines(char tag, int count, size_t width = 32) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string line = tag + std::to_string(100000 + i);
        line.resize(width - 2, '.');
        text += line + "\r\n";
    }
    return text;
}

class JobReliability : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateProcessState();
        ProcessState& st = State();
        if (InterfaceTexts().empty()) EnterBuiltInTexts(InterfaceTexts());
        st.DialogX = st.DialogY = 0; // the dialog has run: no first-use load
        st.CurrentSettings = Settings{};
        st.CurrentSettings.CodePage = 1252;
        st.CurrentSettings.regex = u"[A-Z]\\d+";
        // Faults and progress calls are counted in the order of the host's thread; the tests of
        // the workers ask for them.
        st.CurrentSettings.Threads = 1;
        st.ProcessData = &Progress;
        platform::SetMessageBoxHandler(&Answer, nullptr);
        platform::ClearFaults();
        g_calls.clear();
        g_hook = nullptr;
        g_answers.clear();
        g_boxes.clear();
        work = root / "work";
        fs::create_directories(work);
        output = root / "out.txt";
    }

    void TearDown() override {
        platform::ClearFaults();
        platform::SetMessageBoxHandler(nullptr, nullptr);
        ProcessState& st = State();
        st.ProcessData = nullptr;
        st.DialogX = st.DialogY = kNoDialogPosition;
        st.CurrentSettings = Settings{};
    }

    Settings& Options() { return State().CurrentSettings; }

    // Packs `entries` of `work` into root/out.zip and checks the invariants of every pack. With
    // `inRuns` the names come as a host still finding them hands them over: in runs of 1, 2, 3,
    // 1, ... entries.
    int Pack(const std::vector<std::string>& entries, bool answeredYes = true,
             bool inRuns = false) {
        const TreeSnapshot before = SnapshotTree(root);
        std::u16string source = work.u16string() + u"/";
        std::u16string list;
        std::vector<std::u16string> runs(1);
        size_t inRun = 0;
        for (const auto& entry : entries) {
            list += platform::Utf8ToWide(entry) + u'\0';
            if (inRun == runs.size() % 3 + 1) {
                runs.back() += u'\0';
                runs.emplace_back();
                inRun = 0;
            }
            runs.back() += platform::Utf8ToWide(entry) + u'\0';
            ++inRun;
        }
        list += u'\0';
        runs.back() += u'\0';
        struct Handed {
            const std::vector<std::u16string>& runs;
            size_t next = 0;
        } handed{runs};
        AddList names = WholeAddList(list.c_str());
        if (inRuns) {
            names = AddList{};
            names.More = [](void* data) -> const char16_t* {
                Handed& h = *static_cast<Handed*>(data);
                return h.next < h.runs.size() ? h.runs[h.next++].c_str() : nullptr;
            };
            names.MoreData = &handed;
        }
        const std::u16string archive = (root / "out.zip").u16string();
        JobOutcome outcome;
        RunPackJob(archive.c_str(), source.c_str(), names, outcome);
        ExpectPackInvariants(before, root, output, answeredYes);
        return PackResultCode(outcome);
    }

    // A pack with the n-th operation of `kind` failing; the output of the run before is removed.
    int PackWithFault(FaultKind kind, uint64_t nth, const std::vector<std::string>& entries) {
        fs::remove(output);
        g_calls.clear();
        platform::InjectFault(kind, nth);
        const int code = Pack(entries);
        platform::ClearFaults();
        return code;
    }

    test::TempDir temp{"gleanery-reliability"};
    const fs::path& root = temp.path;
    fs::path work, output;
};

// ---- the failure table --------------------------------------------------------------------------

TEST_F(JobReliability, LastSettingsUnavailableAnsweredNoTouchesNothing) {
    State().DialogX = State().DialogY = kNoDialogPosition;
    State().PluginDirectory = root.u16string() + u"/";
    // A settings file one byte above the 5 MiB limit cannot be loaded.
    WriteAll(root / "Gleanery.ini", "[gleanery_last]\nregex=x\n" + std::string(5242880 - 23, ';'));
    ASSERT_EQ(fs::file_size(root / "Gleanery.ini"), 5242881u);
    WriteAll(work / "a.txt", "A1 B2");
    g_answers = {platform::kIdNo};
    EXPECT_EQ(Pack({"a.txt"}, false), 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0], "Last settings not available!\r\nContinue with default settings?");
    EXPECT_FALSE(fs::exists(output));

    // Yes goes on with the settings in memory.
    Options().regex = u"[A-Z]\\d";
    g_answers = {platform::kIdYes};
    EXPECT_EQ(Pack({"a.txt"}), 0);
    EXPECT_EQ(ReadAll(output), "A1\r\nB2");
    State().PluginDirectory.clear();
}

TEST_F(JobReliability, ExistingOutputAnsweredNoIsLeftAsItWas) {
    WriteAll(work / "a.txt", "A1");
    WriteAll(output, "old content");
    g_answers = {platform::kIdNo};
    EXPECT_EQ(Pack({"a.txt"}, false), 0);
    EXPECT_EQ(ReadAll(output), "old content");
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0], "Overwrite \"out.txt\" ?");
    // Yes replaces it.
    EXPECT_EQ(Pack({"a.txt"}, true), 0);
    EXPECT_EQ(ReadAll(output), "A1");
}

TEST_F(JobReliability, OutputThatCannotBeCreatedGives16) {
    WriteAll(work / "a.txt", "A1");
    EXPECT_EQ(PackWithFault(FaultKind::Open, 1, {"a.txt"}), 16);
    EXPECT_FALSE(fs::exists(output));

    // A directory in the output's place.
    fs::create_directory(output);
    EXPECT_EQ(Pack({"a.txt"}), 16);
    EXPECT_TRUE(fs::is_directory(output));
    fs::remove(output);

    // A FIFO in the output's place is neither asked about, written into nor deleted.
    ASSERT_EQ(::mkfifo(output.c_str(), 0600), 0);
    EXPECT_EQ(Pack({"a.txt"}, false), 16);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_TRUE(fs::is_fifo(output));
}

TEST_F(JobReliability, MissingEntriesDirectoriesAndSpecialFilesAreSkippedUncounted) {
    Options().WriteStats = true;
    WriteAll(work / "a.txt", "A1");
    fs::create_directory(work / "dir");
    ASSERT_EQ(::mkfifo((work / "fifo").c_str(), 0600), 0);
    // Without the FIFO guard this pack would wait for a writer forever.
    EXPECT_EQ(Pack({"dir", "missing.txt", "fifo", "a.txt"}), 0);
    const std::string w = work.string() + "/";
    ASSERT_GE(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0], w + "dir|0");
    EXPECT_EQ(g_calls[1], w + "missing.txt|0");
    EXPECT_EQ(g_calls[2], w + "fifo|0");
    const std::string out = ReadAll(output);
    EXPECT_NE(out.find("Searched file(s): 1"), std::string::npos) << out;
    EXPECT_EQ(out.find("Could not open"), std::string::npos) << out;
}

TEST_F(JobReliability, NoMatchGives22AndRemovesTheEmptyOutput) {
    WriteAll(work / "a.txt", "nothing here");
    EXPECT_EQ(Pack({"a.txt"}), 22);
    EXPECT_FALSE(fs::exists(output));
    Options().SearchAndReplace = true; // search and replace always has output
    EXPECT_EQ(Pack({"a.txt"}), 0);
    EXPECT_EQ(ReadAll(output), "nothing here");
}

TEST_F(JobReliability, MemoryRunningOutGivesENoMemory) {
    WriteAll(work / "a.txt", "A1");
    fs::create_directory(work / "dir");
    // The progress call for the directory stands for any allocation of the job that fails.
    g_hook = [](const std::string& name) -> int {
        if (name.ends_with("/dir")) throw std::bad_alloc();
        return 1;
    };
    const std::u16string source = work.u16string() + u"/";
    const std::u16string archive = (root / "out.zip").u16string();
    EXPECT_EQ(RunPackForHost(archive.c_str(), source.c_str(), WholeAddList(u"a.txt\0dir\0")),
              wcx::kENoMemory);
    g_hook = nullptr;
    EXPECT_EQ(RunPackForHost(archive.c_str(), source.c_str(), WholeAddList(u"a.txt\0dir\0")), 0);
    EXPECT_EQ(ReadAll(output), "A1");
}

// ---- faults at every point of a pack ------------------------------------------------------------

// The ThreadSanitizer build runs the tests of the parallel search for races; the host's thread
// alone has none to find, so the parts of those tests that run on it alone are left to the other
// builds there.
#ifdef __SANITIZE_THREAD__
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

TEST_F(JobReliability, WriteFailureAtEveryWriteGives19AndKeepsWhatWasWritten) {
    // About 600 KiB of results: several flushes of the output buffer.
    Options().replace = u"$0" + std::u16string(60, u'-');
    WriteAll(work / "a.txt", NumberedLines('A', 6000));
    WriteAll(work / "b.txt", NumberedLines('B', 6000));
    const std::vector<std::string> entries = {"a.txt", "b.txt"};
    ASSERT_EQ(Pack(entries), 0);
    const std::string reference = ReadAll(output);
    ASSERT_GT(reference.size(), 3 * 0x20000u);

    // Workers write nothing themselves: a failed write on the host's thread stops them.
    Options().Threads = 2;
    for (uint64_t n = 1; n < 100; ++n) {
        const int code = PackWithFault(FaultKind::Write, n, entries);
        if (code == 0) break;
        EXPECT_EQ(code, 19) << "write " << n;
        const std::string kept = fs::exists(output) ? ReadAll(output) : std::string();
        EXPECT_EQ(reference.compare(0, kept.size(), kept), 0) << "not a prefix at write " << n;
    }
    if (kUnderThreadSanitizer) return;
    Options().Threads = 1;

    int failures = 0;
    for (uint64_t n = 1; n < 100; ++n) {
        const int code = PackWithFault(FaultKind::Write, n, entries);
        if (code == 0) {
            EXPECT_EQ(ReadAll(output), reference) << "fault " << n << " was never reached";
            break;
        }
        ++failures;
        EXPECT_EQ(code, 19) << "write " << n;
        if (n == 1) {
            EXPECT_FALSE(fs::exists(output)) << "an empty output is not kept";
        } else {
            ASSERT_TRUE(fs::exists(output)) << "write " << n;
            const std::string kept = ReadAll(output);
            EXPECT_FALSE(kept.empty());
            EXPECT_EQ(reference.compare(0, kept.size(), kept), 0) << "not a prefix at write " << n;
            EXPECT_LT(kept.size(), reference.size());
        }
    }
    EXPECT_GE(failures, 4);

    // With statistics: a failed write of the statistics still gives 19 and keeps the results.
    Options().WriteStats = true;
    for (uint64_t n = 1; n < 100; ++n) {
        const int code = PackWithFault(FaultKind::Write, n, entries);
        if (code == 0) break;
        EXPECT_EQ(code, 19);
        if (n > 1) {
            const std::string kept = ReadAll(output);
            EXPECT_EQ(reference.compare(0, std::min(kept.size(), reference.size()),
                                        kept.substr(0, reference.size())),
                      0);
            EXPECT_EQ(kept.find("Operation completed"), std::string::npos);
        }
    }

    // A failed truncation of the output is a failed write too.
    Options().WriteStats = false;
    EXPECT_EQ(PackWithFault(FaultKind::Truncate, 1, entries), 19);
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(JobReliability, OpenFailureAtEveryOpen) {
    Options().WriteStats = true;
    WriteAll(work / "a.txt", "A1 A2");
    WriteAll(work / "b.txt", "B1");
    WriteAll(work / "c.txt", "C1");
    const std::vector<std::string> entries = {"a.txt", "b.txt", "c.txt"};
    EXPECT_EQ(PackWithFault(FaultKind::Open, 1, entries), 16);
    EXPECT_FALSE(fs::exists(output));
    const char* names[] = {"a.txt", "b.txt", "c.txt"};
    for (uint64_t n = 2; n <= 4; ++n) {
        EXPECT_EQ(PackWithFault(FaultKind::Open, n, entries), 0);
        const std::string out = ReadAll(output);
        const std::string failed = names[n - 2];
        EXPECT_NE(out.find("Searched file(s): 2"), std::string::npos) << out;
        EXPECT_NE(out.find("Could not open the following file(s) for reading:\r\n" + work.string() +
                           "/" + failed),
                  std::string::npos)
            << out;
        // The other files' results are all there.
        for (const char* other : names) {
            if (failed == other) continue;
            EXPECT_NE(out.find(std::string(1, static_cast<char>(other[0] - 32)) + "1"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(PackWithFault(FaultKind::Open, 5, entries), 0);
    EXPECT_EQ(ReadAll(output).find("Could not open"), std::string::npos);
}

TEST_F(JobReliability, ReadFailureSkipsTheRestOfThatFileOnly) {
    // Line mode reads in blocks of 256 KiB: a failed read ends the file there, the next file is
    // searched whole.
    Options().LineMode = true;
    Options().regex = u"[A-Z]1\\d+";
    const int lines = 5000; // 640 KB: three blocks
    WriteAll(work / "a.txt", NumberedLines('A', lines, 128));
    WriteAll(work / "b.txt", NumberedLines('B', 50));
    const std::vector<std::string> entries = {"a.txt", "b.txt"};
    const std::regex token("([AB])1(\\d+)");

    for (uint64_t n = 1; n < 20; ++n) {
        const int code = PackWithFault(FaultKind::Read, n, entries);
        EXPECT_EQ(code, 0) << "read " << n;
        const std::string out = ReadAll(output);
        std::vector<int> a, b;
        for (auto it = std::sregex_iterator(out.begin(), out.end(), token);
             it != std::sregex_iterator(); ++it)
            ((*it)[1] == "A" ? a : b).push_back(std::stoi((*it)[2]));
        // a.txt: a gapless prefix of its lines; b.txt: complete unless its own read failed.
        for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], static_cast<int>(i));
        if (a.size() == static_cast<size_t>(lines)) {
            // The fault fell on b.txt (or was never reached).
            EXPECT_TRUE(b.empty() || b.size() == 50u) << "read " << n;
            if (b.size() == 50u) break;
        } else {
            EXPECT_LT(a.size(), static_cast<size_t>(lines));
            EXPECT_EQ(b.size(), 50u) << "the job goes on after a failed read, read " << n;
        }
    }
}

TEST_F(JobReliability, CancelAtEveryProgressCallGives21AndNoOutput) {
    WriteAll(work / "a.txt", "A1 A2");
    WriteAll(work / "b.txt", NumberedLines('B', 20000)); // line mode: three blocks
    fs::create_directory(work / "dir");
    const std::vector<std::string> entries = {"dir", "missing", "a.txt", "b.txt"};
    // Workers report through the host's thread, once a file and while it waits. Names handed
    // over in runs are followed by one more call at their end (a host that stopped finding them
    // on a cancel has its answer there).
    struct Round {
        bool lineMode;
        int threads;
        bool inRuns;
    };
    for (const auto& [lineMode, threads, inRuns] : {Round{false, 1, false},
                                                    {true, 1, false},
                                                    {false, 2, false},
                                                    {true, 2, false},
                                                    {false, 1, true},
                                                    {false, 2, true}}) {
        if (kUnderThreadSanitizer && threads == 1) continue;
        Options().LineMode = lineMode;
        Options().Threads = threads;
        for (int k = 1; k < 50; ++k) {
            fs::remove(output);
            g_calls.clear();
            g_hook = [k](const std::string&) {
                return static_cast<int>(g_calls.size()) == k ? 0 : 1;
            };
            const int code = Pack(entries, true, inRuns);
            g_hook = nullptr;
            if (static_cast<int>(g_calls.size()) < k) {
                EXPECT_EQ(code, 0);
                EXPECT_TRUE(fs::exists(output));
                EXPECT_GE(k, (threads > 1 ? 4 : lineMode ? 6 : 4) + (inRuns ? 1 : 0));
                EXPECT_EQ(g_calls.back() == "|0", inRuns);
                break;
            }
            EXPECT_EQ(code, 21) << "call " << k << " line mode " << lineMode;
            EXPECT_FALSE(fs::exists(output)) << "call " << k;
            EXPECT_EQ(static_cast<int>(g_calls.size()), k) << "nothing is reported after a cancel";
        }
    }
}

// ---- hostile input ------------------------------------------------------------------------------

TEST_F(JobReliability, FilesThatVanishOrChangeSizeDuringThePack) {
    // On the host's thread alone: workers would have opened the files the hook removes.
    Options().Threads = 1;
    Options().LineMode = true;
    Options().regex = u"[A-Z]1\\d+";
    WriteAll(work / "a.txt", NumberedLines('A', 20000));
    WriteAll(work / "b.txt", NumberedLines('B', 20000));
    WriteAll(work / "c.txt", "C100");
    // While a.txt is being read, b.txt vanishes, and a.txt itself shrinks after its first block.
    g_hook = [this](const std::string& name) {
        if (name.find("a.txt") != std::string::npos && fs::exists(work / "b.txt")) {
            fs::remove(work / "b.txt");
            fs::resize_file(work / "a.txt", 300000);
        }
        return 1;
    };
    // The test itself changes the inputs here; the invariants are checked by hand below.
    std::u16string source = work.u16string() + u"/";
    std::u16string list = u"a.txt";
    list += u'\0';
    list += u"b.txt";
    list += u'\0';
    list += u"c.txt";
    list += u'\0';
    list += u'\0';
    const std::u16string archive = (root / "out.zip").u16string();
    JobOutcome outcome;
    RunPackJob(archive.c_str(), source.c_str(), WholeAddList(list.c_str()), outcome);
    EXPECT_EQ(PackResultCode(outcome), 0);
    const std::string out = ReadAll(output);
    EXPECT_NE(out.find("A100000"), std::string::npos);
    EXPECT_EQ(out.find("B1"), std::string::npos);
    EXPECT_NE(out.find("C100"), std::string::npos);
    EXPECT_EQ(g_calls.back().substr(g_calls.back().size() - 7), "c.txt|4");

    // Growing while read: only the size taken before reading is searched.
    g_calls.clear();
    fs::remove(output);
    WriteAll(work / "a.txt", NumberedLines('A', 20000));
    g_hook = [this](const std::string&) {
        std::ofstream(work / "a.txt", std::ios::binary | std::ios::app) << "Z100\r\n";
        return 1;
    };
    list = u"a.txt";
    list += u'\0';
    list += u'\0';
    JobOutcome grown;
    RunPackJob(archive.c_str(), source.c_str(), WholeAddList(list.c_str()), grown);
    EXPECT_EQ(PackResultCode(grown), 0);
    EXPECT_EQ(ReadAll(output).find("Z100"), std::string::npos);
}

TEST_F(JobReliability, UnpairedSurrogatesInNamesOpenNoOtherFile) {
    // The replacement character stands for the unpaired surrogate in UTF-8; a file of that name
    // must not be searched in its place. U+DC80..U+DCFF stand for the bytes of a name that is
    // not UTF-8.
    WriteAll(work / "x\xEF\xBF\xBD.txt", "A1");
    WriteAll(work / "ok\xF0\x9F\x98\x80.txt", "B2"); // a surrogate pair: U+1F600
    WriteAll(work / "y\xFF.txt", "C3");
    std::u16string source = work.u16string() + u"/";
    std::u16string list = u"x";
    list += char16_t(0xD800);
    list += u".txt";
    list += u'\0';
    list += u"x";
    list += char16_t(0xDC00);
    list += u".txt";
    list += u'\0';
    list += u"ok\xD83D\xDE00.txt";
    list += u'\0';
    list += u"y";
    list += char16_t(0xDCFF);
    list += u".txt";
    list += u'\0';
    list += u'\0';
    const TreeSnapshot before = SnapshotTree(root);
    const std::u16string archive = (root / "out.zip").u16string();
    JobOutcome outcome;
    RunPackJob(archive.c_str(), source.c_str(), WholeAddList(list.c_str()), outcome);
    ExpectPackInvariants(before, root, output, true);
    EXPECT_EQ(PackResultCode(outcome), 0);
    EXPECT_EQ(ReadAll(output), "B2\r\nC3");
    ASSERT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(g_calls[0].substr(g_calls[0].size() - 2), "|0"); // skipped as missing
    EXPECT_EQ(g_calls[1].substr(g_calls[1].size() - 2), "|0");
}

TEST_F(JobReliability, InvalidUtf8PastTheCheckBufferIsCheckedNotSearchedBlindly) {
    // 128 KiB of check buffer, a 200 KiB file: valid UTF-8 at first, invalid after the buffer.
    Options().EncodingCheck = 131072;
    Options().UnicodeProperties = true;
    Options().regex = u"\\p{L}+";
    Options().WriteStats = true;
    std::string text;
    while (text.size() < 150000)
        text += "Stra\xC3\x9F"
                "e ";
    text += "\xFE\xFF\xFF\xFF\xC3";
    text += std::string(50000, 'x');
    WriteAll(work / "u.txt", text);
    // The checked search finds the part invalid: no result, the file is reported instead.
    EXPECT_EQ(Pack({"u.txt"}), 22);
    const std::string out = ReadAll(output);
    EXPECT_NE(out.find("skipped due to bad UTF encoding"), std::string::npos);
}

TEST_F(JobReliability, PathsOf260AndMoreCharacters) {
    fs::path deep = work;
    std::string relative;
    for (int i = 0; i < 4; ++i) {
        const std::string part(80, static_cast<char>('a' + i));
        deep /= part;
        relative += part + "/";
    }
    fs::create_directories(deep);
    WriteAll(deep / "long.txt", "A7");
    relative += "long.txt";
    ASSERT_GE(work.string().size() + 1 + relative.size(), 260u);
    EXPECT_EQ(Pack({relative}), 0);
    EXPECT_EQ(ReadAll(output), "A7");
}

TEST_F(JobReliability, CatastrophicBacktrackingEndsThatPartAndTheJobReports) {
    Options().regex = u"(a+)+$";
    Options().WriteStats = true;
    WriteAll(work / "a.txt", std::string(40, 'a') + "b");
    WriteAll(work / "b.txt", "aaa");
    EXPECT_EQ(Pack({"a.txt", "b.txt"}), 0);
    const std::string out = ReadAll(output);
    EXPECT_EQ(out.substr(0, 5), "aaa\r\n");
    EXPECT_NE(out.find("Searched file(s): 2"), std::string::npos) << out;
    EXPECT_NE(out.find("Successful matches: 1"), std::string::npos) << out;
}

TEST_F(JobReliability, LongestExpressionAndTemplate) {
    // 65,534 characters each: an expression of that length and a template of literal text.
    std::u16string regex = u"A1";
    regex += u"(?:";
    while (regex.size() < 65534 - 2) regex += u"x|";
    regex.resize(65534 - 2);
    if (regex.back() == u'|') regex.back() = u'x';
    regex += u")?";
    ASSERT_EQ(regex.size(), 65534u);
    Options().regex = regex;
    std::u16string replace(65532, u'-');
    replace = u"$0" + replace;
    Options().replace = replace;
    WriteAll(work / "a.txt", "A1 A1");
    const int code = Pack({"a.txt"});
    if (code == 0) {
        EXPECT_EQ(ReadAll(output),
                  "A1" + std::string(65532, '-') + "\r\nA1" + std::string(65532, '-'));
    } else {
        // Too large for the library to compile: the job still ends normally with no match.
        EXPECT_EQ(code, 22);
    }
}

// ---- files not read whole, matches lost at a cut -----------------------------------------------

TEST_F(JobReliability, FilesNotReadWholeAreCountedApartAndListed) {
    Options().WriteStats = true;
    WriteAll(work / "a.txt", "A1 A2");
    WriteAll(work / "b.txt", NumberedLines('B', 20000)); // line mode: three blocks
    const std::string heading = platform::WideToUtf8(Text(kTextNotReadWhole));
    // A file searched whole is read once, for its encoding check too: when that read fails, it
    // could not be opened.
    EXPECT_EQ(PackWithFault(FaultKind::Read, 1, {"a.txt", "b.txt"}), 0);
    std::string out = ReadAll(output);
    EXPECT_NE(out.find("\r\nSearched file(s): 1\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("for reading:\r\n" + (work / "a.txt").string()), std::string::npos) << out;
    // Line mode reads a small file once too, and a larger one in blocks after its encoding
    // check: the third read, b.txt's first block, fails.
    Options().LineMode = true;
    EXPECT_EQ(PackWithFault(FaultKind::Read, 3, {"a.txt", "b.txt"}), 0);
    out = ReadAll(output);
    EXPECT_NE(out.find("\r\nSearched file(s): 1\r\nSearched only in part (not read whole): 1\r\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Skipped file(s)"), std::string::npos) << out;
    const std::string list = heading + "\r\n" + (work / "b.txt").string();
    EXPECT_NE(out.find("\r\n\r\n" + list), std::string::npos) << out;
    EXPECT_EQ(platform::WideToUtf8(State().LastJobNotes), list);

    // A log that is cut short while line mode reads it keeps the lines it had, and is listed.
    Options().regex = u"B1\\d+";
    g_hook = [this](const std::string& name) {
        if (name.find("b.txt") != std::string::npos) fs::resize_file(work / "b.txt", 300000);
        return 1;
    };
    fs::remove(output);
    // The test itself changes the input here, which the invariants of a pack forbid.
    const std::u16string source = work.u16string() + u"/";
    const std::u16string archive = (root / "out.zip").u16string();
    JobOutcome outcome;
    RunPackJob(archive.c_str(), source.c_str(), WholeAddList(u"b.txt\0"), outcome);
    EXPECT_EQ(PackResultCode(outcome), 0);
    out = ReadAll(output);
    EXPECT_NE(out.find("B100000"), std::string::npos);
    EXPECT_NE(out.find(heading + "\r\n" + (work / "b.txt").string()), std::string::npos) << out;
    EXPECT_NE(out.find("\r\nSearched file(s): 0\r\n"), std::string::npos) << out;
}

TEST_F(JobReliability, SearchAndReplaceInPartsReplacesAcrossTheCutAndListsWhatItCannotCarry) {
    // Parts of 5 MiB: a needle across the first cut, and a match longer than half a part.
    Options().Memory = 5;
    Options().SearchAndReplace = true;
    Options().WriteStats = true;
    Options().regex = u"NEEDLE|a+";
    Options().replace = u"X";
    const size_t part = 5 << 20;
    const std::string tail(1 << 20, '.');
    WriteAll(work / "cut.txt", std::string(part - 3, '.') + "NEEDLE" + tail);
    WriteAll(work / "long.txt", std::string(part + (1 << 20), 'a'));
    EXPECT_EQ(Pack({"cut.txt", "long.txt"}), 0);
    const std::string out = ReadAll(output);
    ASSERT_GT(out.size(), part + 3 + tail.size());
    EXPECT_EQ(out.substr(part - 4, 3), ".X.");
    EXPECT_EQ(out.find("NEEDLE"), out.find("\"NEEDLE|a+\"") + 1) << "left unreplaced";
    const std::string list =
        platform::WideToUtf8(Text(kTextCutMatchLost)) + "\r\n" + (work / "long.txt").string();
    EXPECT_NE(out.find("\r\n\r\n" + list), std::string::npos);
    EXPECT_EQ(out.find((work / "cut.txt").string()), std::string::npos);
}

// ---- workers side by side -----------------------------------------------------------------------

std::string WithoutTiming(const std::string& text) {
    return std::regex_replace(text, std::regex("completed in [0-9]+\\.[0-9]{3} seconds"),
                              "completed in T seconds");
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string out;
    for (const char16_t c : text) {
        const char low = static_cast<char>(c & 0xFF);
        const char high = static_cast<char>(c >> 8);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

TEST_F(JobReliability, WorkersWriteWhatTheHostsThreadAloneWrites) {
    const std::u16string text = u"Zo\u00EB A1 b22 \u263A C333\r\nx4 D5 \U0001F600 E66\r\n";
    WriteAll(work / "cp.txt", "Zo\xEB A1 b22 C333\r\nx4 D5 E66\r\n");
    WriteAll(work / "u8.txt", "\xEF\xBB\xBF" + platform::WideToUtf8(text));
    WriteAll(work / "u8-nobom.txt", platform::WideToUtf8(text) + "F7");
    WriteAll(work / "le.txt", "\xFF\xFE" + Utf16(text, false));
    WriteAll(work / "be.txt", "\xFE\xFF" + Utf16(text, true));
    WriteAll(work / "le-nobom.txt", Utf16(text + text, false));
    WriteAll(work / "empty.txt", "");
    WriteAll(work / "none.txt", "nothing to find here\r\n");
    // Invalid UTF-8 past the check buffer, and a file over the read memory (read in parts).
    WriteAll(work / "bad.txt", "G8 \xC3\xA9" + std::string(300000, ' ') + "\xFF H9");
    fs::create_directory(work / "dir");
    std::vector<std::string> entries = {"cp.txt", "dir", "u8.txt", "missing.txt", "empty.txt"};
    for (int round = 0; round < 2; ++round)
        for (const char* name : {"u8-nobom.txt", "none.txt", "le.txt", "be.txt", "le-nobom.txt",
                                 "bad.txt", "../out.txt", "empty.txt", "cp.txt"})
            entries.push_back(name);
    // The files over 5 MiB only where the read memory is set.
    std::vector<std::string> withBig = entries;
    withBig.insert(withBig.begin() + 9, "big.txt");
    withBig.insert(withBig.begin() + 3, "bigbad.txt");

    struct Case {
        const char* name;
        std::function<void(Settings&)> set;
        // (Under ThreadSanitizer, cases whose extra work is the workers' own, shared with no
        // other thread, are left out: it would take half a minute there.)
        bool ownWorkOnly = false;
    } cases[] = {
        {"plain", [](Settings&) {}},
        {"bom", [](Settings& s) { s.WriteBom = true; }},
        {"template", [](Settings& s) { s.replace = u"<$0|\\xNn|\\x09>"; }},
        // Items of groups the expression lacks: no separator after a match that wrote nothing.
        {"missing groups", [](Settings& s) { s.replace = u"$3"; }},
        {"some missing",
         [](Settings& s) {
             s.regex = u"[A-Z](2)?\\d";
             s.replace = u"$1$4";
         }},
        {"line mode", [](Settings& s) { s.LineMode = true; }},
        // Filtered and numbered across files, on the host's thread in add-list order.
        {"no duplicates", [](Settings& s) { s.NoDuplicates = true; }},
        {"counters", [](Settings& s) { s.replace = u"\\xM2 $0 \\xm0;\\xNn"; }},
        {"line mode, no duplicates, counters",
         [](Settings& s) {
             s.LineMode = true;
             s.NoDuplicates = true;
             s.regex = u"[A-Z]\\d|\\d+";
             s.replace = u"\\xm1=$0";
         }},
        {"no duplicates, missing groups, bom",
         [](Settings& s) {
             s.NoDuplicates = true;
             s.WriteBom = true;
             s.regex = u"[A-Z](2)?\\d";
             s.replace = u"$1";
         }},
        {"binary", [](Settings& s) { s.BinaryMode = true; }},
        {"empty matches",
         [](Settings& s) {
             s.regex = u"[A-Z]*";
             s.EmptyValid = true;
         }},
        {"search and replace",
         [](Settings& s) {
             s.SearchAndReplace = true;
             s.replace = u"[$0]";
         }},
        {"interpreter",
         [](Settings& s) {
             s.Jit = false;
             s.LineMode = true;
         }},
        {"parts",
         [](Settings& s) {
             s.regex = u"[A-Z]\\d{5}";
             s.Memory = 5;
         }},
        // Matches longer than the output buffer go to the output past it.
        {"long matches, no duplicates, counters",
         [](Settings& s) {
             s.regex = u"J1\\d{4}0(?s)(?:.{50000}){4}";
             s.BinaryMode = true; // the matched bytes as they are, not converted piece by piece
             s.Memory = 5;
             s.NoDuplicates = true;
             s.replace = u"\\xm1:$0";
         }},
        {"parts, no duplicates, counters",
         [](Settings& s) {
             s.regex = u"[A-Z]\\d{3}";
             s.Memory = 5;
             s.NoDuplicates = true;
             s.replace = u"\\xM5 $0";
         }},
        // Large files searched whole, read a block at a time: one badly encoded near its end,
        // whose results are all dropped (every hundredth line matches, with results long enough
        // to leave the output buffer while they are held).
        {"large files whole, no duplicates, counters",
         [](Settings& s) {
             s.regex = u"[A-Z]\\d{4}00";
             s.Memory = 20;
             s.NoDuplicates = true;
             s.replace = u"\\xM5 $0 " + std::u16string(100, u'=');
         },
         true},
    };
    for (const Case& c : cases) {
#ifdef __SANITIZE_THREAD__
        if (c.ownWorkOnly) continue;
#endif
        Options() = Settings{};
        Options().CodePage = 1252;
        Options().regex = u"[A-Z]\\d+";
        Options().WriteStats = true;
        Options().EncodingCheck = 131072;
        c.set(Options());
        std::string reference;
        for (const int threads : {1, 3}) {
            // (Compared by the other builds: a third of the time under ThreadSanitizer.)
            if (kUnderThreadSanitizer && threads == 1) continue;
            Options().Threads = threads;
            fs::remove(output);
            g_calls.clear();
            const bool big = Options().Memory != Settings{}.Memory;
            // (Written for these cases only: every pack compares the whole tree before and after.)
            // (Lines of 32 bytes: 165,000 of them are just over 5 MiB.)
            if (big && !fs::exists(work / "big.txt")) {
                WriteAll(work / "big.txt", NumberedLines('J', 165000));
                WriteAll(work / "bigbad.txt",
                         "K8 \xC3\xA9" + NumberedLines('K', 165000) + "\xFF K9");
            }
            // The workers take the names as a host still finding them hands them over.
            ASSERT_EQ(Pack(big ? withBig : entries, true, threads > 1), 0)
                << c.name << " threads " << threads;
            const std::string out = WithoutTiming(ReadAll(output));
            if (threads == 1) {
                reference = out;
            } else if (!kUnderThreadSanitizer) {
                EXPECT_EQ(out, reference) << c.name << " threads " << threads;
            }
        }
    }
}

TEST_F(JobReliability, ACancelRightAfterASlowRunOfNamesEndsTheJob) {
    // The host takes longer than the progress interval to find the next names, and answers the
    // question the job asks as soon as it has handed them out with a cancel: the file it asks
    // about may not have been taken by any worker yet, and the job must end all the same.
    // (The first file finds nothing: output waiting to be written would give the workers time.)
    for (int i = 0; i < 4; ++i) WriteAll(work / ("f" + std::to_string(i) + ".txt"), i ? "F1" : "-");
    Options().Threads = 2;
    struct Host {
        int runs = 0;
    } host;
    AddList names;
    names.More = [](void* data) -> const char16_t* {
        static const std::u16string kRuns[] = {std::u16string(u"f0.txt\0", 8),
                                               std::u16string(u"f1.txt\0f2.txt\0f3.txt\0\0", 22)};
        int& runs = static_cast<Host*>(data)->runs;
        if (runs == 1) std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return runs < 2 ? kRuns[runs++].c_str() : nullptr;
    };
    names.MoreData = &host;
    g_hook = [](const std::string&) { return g_calls.size() >= 2 ? 0 : 1; };
    const std::u16string source = work.u16string() + u"/";
    const std::u16string archive = (root / "out.zip").u16string();
    JobOutcome outcome;
    RunPackJob(archive.c_str(), source.c_str(), names, outcome);
    EXPECT_EQ(PackResultCode(outcome), 21);
    EXPECT_EQ(g_calls.size(), 2u) << "nothing is reported after a cancel";
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(JobReliability, ACancelStopsEveryWorker) {
    // Slices of one unit make every search slow; the host's first progress call answers 0.
    const SearchSlices saved = detail::Slices();
    detail::Slices() = {1, 1, 1, SIZE_MAX};
    std::u16string list;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "slow" + std::to_string(i) + ".txt";
        WriteAll(work / name, NumberedLines('S', 100000));
        list += platform::Utf8ToWide(name) + u'\0';
    }
    list += u'\0';
    Options().regex = u"S\\d+Q";
    Options().Threads = 4;
    using Clock = std::chrono::steady_clock;
    Clock::time_point answered;
    g_hook = [&](const std::string&) {
        answered = Clock::now();
        return 0;
    };
    const std::u16string source = work.u16string() + u"/";
    const std::u16string archive = (root / "out.zip").u16string();
    JobOutcome outcome;
    RunPackJob(archive.c_str(), source.c_str(), WholeAddList(list.c_str()), outcome);
    const auto stopping = Clock::now() - answered;
    EXPECT_EQ(PackResultCode(outcome), 21);
    detail::Slices() = saved;
    ASSERT_EQ(g_calls.size(), 1u) << "nothing is reported after a cancel";
    EXPECT_LT(stopping, std::chrono::seconds(3));
    EXPECT_FALSE(fs::exists(output));
}

} // namespace
} // namespace gleanery
