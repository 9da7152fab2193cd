// Tests of the POSIX platform layer: files, fault injection, code pages, character tables,
// profile files, message box defaults and the clipboard tool hand-over.
#include "platform/char_tables.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/system.h"
#include "posix_temp_dir.h"

#include <gtest/gtest.h>
#include <pcre.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace gleanery::platform {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Sets an environment variable for the lifetime of the object and restores it afterwards.
struct ScopedEnv {
    std::string name;
    std::optional<std::string> old;
    ScopedEnv(const char* variable, const char* value) : name(variable) {
        if (const char* current = std::getenv(variable)) old = current;
        if (value != nullptr)
            ::setenv(variable, value, 1);
        else
            ::unsetenv(variable);
    }
    ~ScopedEnv() {
        if (old)
            ::setenv(name.c_str(), old->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
};

// ---- files -----------------------------------------------------------------------------------

TEST(PlatformFiles, OpenOrCreateNeverTruncatesAndTellsExistingFiles) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    const std::u16string path = dir.Wide("out.txt");
    uint32_t lastError = 12345;
    {
        File file = OpenOrCreateForWriting(path, lastError);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(lastError, kErrorSuccess);
        ASSERT_TRUE(Write(file, "hello world", 11));
    }
    {
        File file = OpenOrCreateForWriting(path, lastError);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(lastError, kErrorAlreadyExists);
    }
    EXPECT_EQ(ReadAll(dir.Narrow("out.txt")), "hello world");
    EXPECT_EQ(SizeOf(path), 11);

    // A directory cannot be opened for writing; a missing parent directory fails as well.
    File onDirectory = OpenOrCreateForWriting(Utf8ToWide(dir.path.string()), lastError);
    EXPECT_FALSE(onDirectory.IsOpen());
    EXPECT_NE(lastError, kErrorSuccess);
    EXPECT_NE(lastError, kErrorAlreadyExists);
    File inMissing = OpenOrCreateForWriting(dir.Wide("missing/out.txt"), lastError);
    EXPECT_FALSE(inMissing.IsOpen());
    EXPECT_EQ(lastError, 3u); // ERROR_PATH_NOT_FOUND
}

TEST(PlatformFiles, ReadingRefusesDirectoriesAndMissingFiles) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    EXPECT_FALSE(OpenForReading(Utf8ToWide(dir.path.string())).IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("nothing.txt")).IsOpen());
    EXPECT_EQ(KindOf(Utf8ToWide(dir.path.string())), PathKind::Directory);
    EXPECT_EQ(KindOf(dir.Wide("nothing.txt")), PathKind::Missing);
    EXPECT_EQ(SizeOf(dir.Wide("nothing.txt")), -1);

    // Non-ASCII names reach the file system as UTF-8.
    WriteAll(dir.Narrow("d\xC3\xA4t\xC3\xA4.txt"), "0123456789");
    const std::u16string name = dir.Wide("d\xC3\xA4t\xC3\xA4.txt");
    EXPECT_EQ(KindOf(name), PathKind::File);
    File file = OpenForReading(name);
    ASSERT_TRUE(file.IsOpen());
    char buffer[32] = {};
    size_t got = 0;
    ASSERT_TRUE(Read(file, buffer, 4, got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, got), "0123");
    ASSERT_TRUE(Read(file, buffer, sizeof buffer, got)); // stops at the end of the file
    EXPECT_EQ(std::string(buffer, got), "456789");
    ASSERT_TRUE(Read(file, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);

    // Moving hands the descriptor over; the moved-from file is closed.
    File moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    Close(moved);
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_TRUE(DeleteFileAt(name));
    EXPECT_EQ(KindOf(name), PathKind::Missing);
    EXPECT_FALSE(DeleteFileAt(name));
}

TEST(PlatformFiles, SeekAndTruncateCutAtTheCurrentPosition) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    const std::u16string path = dir.Wide("cut.txt");
    WriteAll(dir.Narrow("cut.txt"), "abcdefghij");
    uint32_t lastError = 0;
    File file = OpenOrCreateForWriting(path, lastError);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(Seek(file, 4));
    ASSERT_TRUE(Write(file, "XY", 2));
    ASSERT_TRUE(Truncate(file));
    Close(file);
    EXPECT_EQ(ReadAll(dir.Narrow("cut.txt")), "abcdXY");
    EXPECT_EQ(SizeOf(path), 6);
}

TEST(PlatformFiles, SameFileByIdentityThroughLinksMovesAndCreation) {
    ClearFaults();
    TempDir dir;
    WriteAll(dir.Narrow("a.txt"), "a");
    WriteAll(dir.Narrow("b.txt"), "b");
    ASSERT_EQ(::link(dir.Narrow("a.txt").c_str(), dir.Narrow("link.txt").c_str()), 0);
    uint32_t lastError = 0;
    // A created file records its identity as an opened one does.
    File output = OpenOrCreateForWriting(dir.Wide("out.txt"), lastError);
    ASSERT_EQ(lastError, kErrorSuccess);
    EXPECT_TRUE(output.identity.known);
    EXPECT_TRUE(IsSameFile(output, OpenForReading(dir.Wide("out.txt"))));
    EXPECT_FALSE(IsSameFile(output, OpenForReading(dir.Wide("a.txt"))));

    File a = OpenForReading(dir.Wide("a.txt"));
    EXPECT_TRUE(IsSameFile(a, OpenForReading(dir.Wide("link.txt"))));
    EXPECT_FALSE(IsSameFile(a, OpenForReading(dir.Wide("b.txt"))));
    File moved = std::move(a);
    EXPECT_FALSE(a.identity.known);
    EXPECT_TRUE(IsSameFile(moved, OpenForReading(dir.Wide("link.txt"))));
    // A handle adopted without a recorded identity is asked of the system.
    File raw(::open(dir.Narrow("link.txt").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_FALSE(raw.identity.known);
    EXPECT_TRUE(IsSameFile(raw, moved));
    Close(moved);
    EXPECT_FALSE(moved.identity.known);
    EXPECT_FALSE(IsSameFile(raw, moved));
}

TEST(PlatformFiles, NewFilesLinkTargetsAndPermissionsForAReplace) {
    ClearFaults();
    TempDir dir;
    uint32_t lastError = 0;
    // A new file is made only where nothing has the name: no file, directory or link.
    File created = CreateNewForWriting(dir.Wide("new.txt"), lastError);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_EQ(lastError, kErrorSuccess);
    fs::create_directory(dir.path / "dir");
    fs::create_symlink("nowhere", dir.path / "dangling");
    for (const char* taken : {"new.txt", "dir", "dangling"}) {
        EXPECT_FALSE(CreateNewForWriting(dir.Wide(taken), lastError).IsOpen()) << taken;
        EXPECT_EQ(lastError, kErrorFileExists) << taken;
    }
    EXPECT_FALSE(fs::exists(dir.path / "nowhere"));

    // Links are followed to the file they name, relative ones from their own directory, even
    // when that file does not exist yet; a loop has no target.
    fs::create_directory(dir.path / "sub");
    fs::create_symlink("../dangling", dir.path / "sub" / "link");
    std::u16string target;
    ASSERT_TRUE(LinkTargetOf(dir.Wide("sub/link"), target));
    EXPECT_EQ(target, dir.Wide("sub/../nowhere"));
    ASSERT_TRUE(LinkTargetOf(dir.Wide("new.txt"), target));
    EXPECT_EQ(target, dir.Wide("new.txt"));
    fs::create_symlink("loop", dir.path / "loop");
    EXPECT_FALSE(LinkTargetOf(dir.Wide("loop"), target));

    // The mode of the file replaced goes to the new one; nothing there is no obstacle.
    WriteAll(dir.Narrow("old.txt"), "old");
    fs::permissions(dir.path / "old.txt", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(TakeOverPermissions(dir.Wide("old.txt"), created));
    EXPECT_EQ(fs::status(dir.path / "new.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(TakeOverPermissions(dir.Wide("missing.txt"), created));
    EXPECT_FALSE(TakeOverPermissions(dir.Wide("dir"), created));
    ASSERT_TRUE(Write(created, "x", 1));
    EXPECT_TRUE(FlushToDisk(created));

    // A name longer than the system looks up is told apart from a missing file.
    std::string deep;
    while (deep.size() < 5000) deep += std::string(100, 'd') + "/";
    EXPECT_EQ(KindOf(dir.Wide(deep + "x.txt")), PathKind::TooLong);
    EXPECT_EQ(KindOf(dir.Wide(std::string(300, 'n'))), PathKind::TooLong);
}

TEST(PlatformFiles, FullPathIsLexicallyNormalised) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    std::u16string full;
    ASSERT_TRUE(FullPathOf(u"/a/b/../c/./d.txt", full));
    EXPECT_EQ(full, u"/a/c/d.txt");
    ASSERT_TRUE(FullPathOf(u"/../../x//y/", full));
    EXPECT_EQ(full, u"/x/y/");
    ASSERT_TRUE(FullPathOf(u"/a/b/..", full));
    EXPECT_EQ(full, u"/a");
    ASSERT_TRUE(FullPathOf(u"/", full));
    EXPECT_EQ(full, u"/");
    EXPECT_FALSE(FullPathOf(u"", full));

    // Relative names are taken from the working directory; the file need not exist.
    TempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path);
    const bool ok = FullPathOf(u"sub/../missing.txt", full);
    const std::string cwd = fs::current_path().string();
    fs::current_path(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(full, Utf8ToWide(cwd + "/missing.txt"));
    EXPECT_FALSE(UsesLongPathPrefix());
    EXPECT_EQ(PathSeparator(), u'/');
}

TEST(PlatformFiles, InjectedFaultsHitTheNthOperationOnly) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    uint32_t lastError = 0;
    File file = OpenOrCreateForWriting(dir.Wide("f.txt"), lastError);
    ASSERT_TRUE(file.IsOpen());
    InjectFault(FaultKind::Write, 3);
    EXPECT_TRUE(Write(file, "1", 1));
    EXPECT_TRUE(Write(file, "2", 1));
    EXPECT_FALSE(Write(file, "3", 1));
    EXPECT_TRUE(Write(file, "4", 1)); // only the third one fails
    InjectFault(FaultKind::Truncate, 1);
    EXPECT_FALSE(Truncate(file));
    EXPECT_TRUE(Truncate(file));
    Close(file);
    EXPECT_EQ(ReadAll(dir.Narrow("f.txt")), "124");

    InjectFault(FaultKind::Open, 2);
    EXPECT_TRUE(OpenForReading(dir.Wide("f.txt")).IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("f.txt")).IsOpen());
    File reader = OpenForReading(dir.Wide("f.txt"));
    ASSERT_TRUE(reader.IsOpen());
    InjectFault(FaultKind::Read, 1);
    char buffer[8];
    size_t got = 99;
    EXPECT_FALSE(Read(reader, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);

    InjectFault(FaultKind::Allocate, 2);
    ClearFaults();
    EXPECT_FALSE(ShouldFail(FaultKind::Allocate));
    EXPECT_FALSE(ShouldFail(FaultKind::Allocate));
    InjectFault(FaultKind::Allocate, 2);
    EXPECT_FALSE(ShouldFail(FaultKind::Allocate));
    EXPECT_TRUE(ShouldFail(FaultKind::Allocate));
    EXPECT_FALSE(ShouldFail(FaultKind::Allocate));
    ClearFaults();
}

// ---- code pages ------------------------------------------------------------------------------

std::u16string ToWide(uint32_t codePage, std::string_view bytes) {
    std::u16string out;
    EXPECT_TRUE(AppendCodePageAsWide(codePage, bytes, out)) << codePage;
    return out;
}

std::string FromWide(uint32_t codePage, std::u16string_view text, int8_t defaultChar = 0) {
    std::string out;
    EXPECT_TRUE(AppendWideAsCodePage(codePage, text, defaultChar, out)) << codePage;
    return out;
}

TEST(PlatformCodePage, Utf8ConversionsReplaceWhatIsInvalid) {
    const std::u16string text = u"a\u00e4\u20ac\U0001F600";
    EXPECT_EQ(WideToUtf8(text), "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    // Unpaired surrogates have no UTF-8 form; ill-formed bytes read as U+FFFD.
    EXPECT_EQ(WideToUtf8(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80!"), u"\uFFFD\uFFFD\uFFFD!"); // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xE2\x82z"), u"\uFFFDz"); // truncated sequence, one replacement
    // Appending keeps what is there.
    std::string bytes = "pre:";
    ASSERT_TRUE(AppendWideAsCodePage(kUtf8CodePage, u"\u00e4", 0, bytes));
    EXPECT_EQ(bytes, "pre:\xC3\xA4");
}

TEST(PlatformCodePage, SingleBytePagesRoundTripWithDefaultCharacter) {
    // 1252: the euro sign, umlauts; an undefined byte reads as U+FFFD.
    EXPECT_EQ(ToWide(1252, "\x80\xC4\xE4x"), u"\u20ac\u00c4\u00e4x");
    EXPECT_EQ(ToWide(1252, "\x81"), u"\uFFFD");
    EXPECT_EQ(FromWide(1252, u"\u20ac\u00c4\u00e4x"), "\x80\xC4\xE4x");
    // Characters the page lacks become the given default, '?' without one; a surrogate pair is
    // one character and gives one default character.
    EXPECT_EQ(FromWide(1252, u"a\u4e00b\U0001F600c", '#'), "a#b#c");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b", 0), "a?b");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b", -5), "a?b");
    EXPECT_EQ(FromWide(1252, std::u16string(u"a") + char16_t(0xDC00), '*'), "a*");

    // 437: box drawing and umlauts at their OEM places.
    EXPECT_EQ(ToWide(437, "\x8E\x84\xC9"), u"\u00c4\u00e4\u2554");
    EXPECT_EQ(FromWide(437, u"\u00c4\u00e4\u2554\u20ac", '!'), "\x8E\x84\xC9!");

    // Every defined byte of these pages survives the round trip.
    for (uint32_t codePage : {1250u, 1251u, 1252u, 437u, 850u, 866u, 28605u}) {
        std::string all;
        for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
        const std::u16string wide = ToWide(codePage, all);
        ASSERT_EQ(wide.size(), all.size()) << codePage;
        std::string defined, back;
        std::u16string definedWide;
        for (size_t i = 0; i < all.size(); ++i) {
            if (wide[i] == 0xFFFD) continue;
            defined += all[i];
            definedWide += wide[i];
        }
        EXPECT_EQ(FromWide(codePage, definedWide), defined) << codePage;
    }
    // Empty input appends nothing and succeeds.
    std::string out = "x";
    EXPECT_TRUE(AppendWideAsCodePage(1252, u"", 0, out));
    EXPECT_EQ(out, "x");
}

TEST(PlatformCodePage, ShiftJisRoundTripWithDefaultCharacter) {
    // "日本" and a half-width katakana "ｱ" in code page 932.
    const std::string bytes = "A\x93\xFA\x96\x7B\xB1z";
    const std::u16string wide = u"A\u65e5\u672c\uff71z";
    EXPECT_EQ(ToWide(932, bytes), wide);
    EXPECT_EQ(FromWide(932, wide), bytes);
    // Hangul has no form in 932; an incomplete double-byte character reads as U+FFFD.
    EXPECT_EQ(FromWide(932, u"\u65e5\uac00x", '#'), "\x93\xFA#x");
    EXPECT_EQ(FromWide(932, u"\uac00\U0001F600", 0), "??");
    EXPECT_EQ(ToWide(932, "ab\x93"), u"ab\uFFFD");
    // Stateful encodings end in their initial state; replacements do not upset the state.
    const std::string jis = FromWide(50220, u"\u65e5\uac00\u672c", '?');
    EXPECT_EQ(ToWide(50220, jis), u"\u65e5?\u672c");
}

TEST(PlatformCodePage, UnknownCodePagesFail) {
    std::string bytes = "keep";
    std::u16string wide = u"keep";
    EXPECT_FALSE(AppendWideAsCodePage(12345, u"abc", 0, bytes));
    EXPECT_FALSE(AppendCodePageAsWide(12345, "abc", wide));
    EXPECT_FALSE(AppendCodePageAsWide(709, "abc", wide)); // no converter for this one
    EXPECT_EQ(bytes, "keep");
    EXPECT_EQ(wide, u"keep");
}

TEST(PlatformCodePage, UsableCodePageProbe) {
    std::string printable;
    for (char c = ' '; c <= '~'; ++c) printable += c;
    for (uint32_t codePage : {1252u, 932u, 437u, 936u, 949u, 950u, 28591u, 20866u, 54936u}) {
        std::u16string wide;
        ASSERT_TRUE(AppendCodePageAsWide(codePage, printable, wide)) << codePage;
        EXPECT_EQ(wide.size(), 95u) << codePage;
    }
    std::u16string wide;
    EXPECT_FALSE(AppendCodePageAsWide(57002, printable, wide));
    EXPECT_TRUE(wide.empty());
}

TEST(PlatformCodePage, LeadBytes) {
    EXPECT_TRUE(IsLeadByte(932, 0x81));
    EXPECT_TRUE(IsLeadByte(932, 0x9F));
    EXPECT_TRUE(IsLeadByte(932, 0xE0));
    EXPECT_TRUE(IsLeadByte(932, 0xFC));
    EXPECT_FALSE(IsLeadByte(932, 0x41));
    EXPECT_FALSE(IsLeadByte(932, 0x80));
    EXPECT_FALSE(IsLeadByte(932, 0xA0));
    EXPECT_FALSE(IsLeadByte(932, 0xB1)); // half-width katakana is a single byte
    EXPECT_FALSE(IsLeadByte(932, 0xFD));
    EXPECT_TRUE(IsLeadByte(936, 0xFE));
    EXPECT_FALSE(IsLeadByte(936, 0x80));
    EXPECT_TRUE(IsLeadByte(1361, 0xD8));
    EXPECT_FALSE(IsLeadByte(1361, 0xD4));
    EXPECT_FALSE(IsLeadByte(1252, 0x81));
    EXPECT_FALSE(IsLeadByte(kUtf8CodePage, 0xC3));
}

TEST(PlatformCodePage, SystemCodePagesFollowTheLocale) {
    ScopedEnv lcAll("LC_ALL", nullptr);
    ScopedEnv lcCtype("LC_CTYPE", nullptr);
    struct Case {
        const char* lang;
        uint32_t ansi, oem;
    };
    for (const Case& c : {Case{nullptr, 1252, 437},
                          Case{"C", 1252, 437},
                          Case{"POSIX", 1252, 437},
                          Case{"C.UTF-8", 1252, 437},
                          Case{"en_US.UTF-8", 1252, 437},
                          Case{"en_GB.UTF-8", 1252, 850},
                          Case{"de_DE.UTF-8@euro", 1252, 850},
                          Case{"ru_RU.KOI8-R", 1251, 866},
                          Case{"pl_PL", 1250, 852},
                          Case{"el_GR.UTF-8", 1253, 737},
                          Case{"tr_TR", 1254, 857},
                          Case{"he_IL", 1255, 862},
                          Case{"ar_EG", 1256, 720},
                          Case{"lt_LT", 1257, 775},
                          Case{"vi_VN", 1258, 1258},
                          Case{"th_TH", 874, 874},
                          Case{"ja_JP.UTF-8", 932, 932},
                          Case{"zh_CN.UTF-8", 936, 936},
                          Case{"zh_TW.UTF-8", 950, 950},
                          Case{"ko_KR.UTF-8", 949, 949},
                          Case{"xx_YY", 1252, 437}}) {
        ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(SystemAnsiCodePage(), c.ansi) << (c.lang ? c.lang : "(unset)");
        EXPECT_EQ(SystemOemCodePage(), c.oem) << (c.lang ? c.lang : "(unset)");
    }
    ScopedEnv lang("LANG", "ja_JP.UTF-8");
    ScopedEnv ctype("LC_CTYPE", "ru_RU.UTF-8");
    EXPECT_EQ(SystemAnsiCodePage(), 1251u); // LC_CTYPE before LANG
    ScopedEnv all("LC_ALL", "pl_PL.UTF-8");
    EXPECT_EQ(SystemAnsiCodePage(), 1250u); // LC_ALL before both
}

// ---- character tables ------------------------------------------------------------------------

struct Tables {
    const unsigned char* data;
    explicit Tables(const unsigned char* t) : data(t) {}
    ~Tables() {
        if (data) pcre_free(const_cast<unsigned char*>(data));
    }
};

bool InClass(const unsigned char* tables, size_t cbitOffset, int byte) {
    return (tables[512 + cbitOffset + byte / 8] >> (byte % 8)) & 1;
}

TEST(PlatformCharTables, AsciiPartEqualsPcreMaketablesInTheCLocale) {
    Tables ours(MakeCharTablesFor(20127));
    Tables reference(pcre_maketables());
    ASSERT_NE(ours.data, nullptr);
    ASSERT_NE(reference.data, nullptr);
    for (int b = 0; b < 128; ++b) {
        EXPECT_EQ(ours.data[b], reference.data[b]) << "lower " << b;
        EXPECT_EQ(ours.data[256 + b], reference.data[256 + b]) << "flip " << b;
        EXPECT_EQ(ours.data[832 + b], reference.data[832 + b]) << "ctype " << b;
        for (size_t cls = 0; cls < 10; ++cls) {
            EXPECT_EQ(InClass(ours.data, cls * 32, b), InClass(reference.data, cls * 32, b))
                << "class " << cls << " byte " << b;
        }
    }
}

TEST(PlatformCharTables, Cp1252TablesFoldUmlautsForCaselessMatching) {
    Tables tables(MakeCharTablesFor(1252));
    ASSERT_NE(tables.data, nullptr);
    EXPECT_EQ(tables.data[0xC4], 0xE4);       // Ä -> ä
    EXPECT_EQ(tables.data[256 + 0xE4], 0xC4); // ä flips to Ä
    EXPECT_EQ(tables.data[256 + 0xC4], 0xE4);
    EXPECT_EQ(tables.data[0x8A], 0x9A);            // Š -> š, outside Latin-1
    EXPECT_TRUE(InClass(tables.data, 160, 0xE4));  // ä is a word character
    EXPECT_FALSE(InClass(tables.data, 160, 0x81)); // undefined byte: no class
    EXPECT_FALSE(InClass(tables.data, 160, 0xD7)); // × is no letter
    EXPECT_TRUE(tables.data[832 + 0xDF] & 0x02);   // ß is a letter

    const char* error = nullptr;
    int offset = 0;
    pcre* re = pcre_compile("\xE4", PCRE_CASELESS, &error, &offset, tables.data);
    ASSERT_NE(re, nullptr) << error;
    int vector[3];
    EXPECT_EQ(pcre_exec(re, nullptr, "x\xC4y", 3, 0, 0, vector, 3), 1);
    EXPECT_EQ(vector[0], 1);
    pcre_free(re);
    re = pcre_compile("^\\w+$", 0, &error, &offset, tables.data);
    ASSERT_NE(re, nullptr) << error;
    EXPECT_EQ(pcre_exec(re, nullptr,
                        "Gr\xF6\xDF"
                        "e",
                        5, 0, 0, vector, 3),
              1);
    pcre_free(re);

    // The system tables follow the locale's ANSI and OEM code pages.
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    Tables oem(MakeCharTables(true));
    ASSERT_NE(oem.data, nullptr);
    EXPECT_EQ(oem.data[0x8E], 0x84); // Ä -> ä in code page 850
    Tables ansi(MakeCharTables(false));
    ASSERT_NE(ansi.data, nullptr);
    EXPECT_EQ(ansi.data[0xC4], 0xE4);
    EXPECT_EQ(MakeCharTablesFor(12345), nullptr);

    // Arabic systems use OEM code page 720, which has no converter here: ASCII tables then.
    ScopedEnv arabic("LC_ALL", "ar_EG.UTF-8");
    Tables fallback(MakeCharTables(true));
    ASSERT_NE(fallback.data, nullptr);
    EXPECT_EQ(fallback.data[0x41], 0x61);
    EXPECT_EQ(fallback.data[832 + 0xE4], 0);
}

TEST(PlatformCharTables, DoubleByteLeadBytesAreNoLetters) {
    Tables tables(MakeCharTablesFor(932));
    ASSERT_NE(tables.data, nullptr);
    EXPECT_EQ(tables.data[832 + 0x93], 0);       // a lead byte stands for nothing
    EXPECT_TRUE(tables.data[832 + 0xB1] & 0x02); // half-width katakana is a letter
    EXPECT_EQ(tables.data[0x41], 'a');
}

// ---- profile files ---------------------------------------------------------------------------

TEST(PlatformProfile, ReadsIntegersLikeTheSystem) {
    TempDir dir;
    const std::string file = dir.Narrow("plugin.ini");
    WriteAll(file, "; comment\r\n[Other]\r\nUseTcIniDir=5\r\n[GLEANERY]\r\n  usetcinidir = 1 \r\n"
                   "Neg=-42xyz\r\nJunk=abc\r\nEmpty=\r\nQuoted=\"7\"\r\n[gleanery]\r\nLate=3\r\n");
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 1);
    EXPECT_EQ(ReadProfileInt(file, "Gleanery", "neg", 2048), -42);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Junk", 2048), 0);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Empty", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Quoted", 2048), 7);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Missing", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(file, "nosection", "UseTcIniDir", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(dir.Narrow("none.ini"), "gleanery", "UseTcIniDir", 9), 9);
}

TEST(PlatformProfile, WritesKeepEveryOtherLine) {
    TempDir dir;
    const std::string file = dir.Narrow("plugin.ini");
    // A new file gets the section and the key, with CR LF line ends.
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "0"));
    EXPECT_EQ(ReadAll(file), "[gleanery]\r\nUseTcIniDir=0\r\n");

    const std::string original = "; keep me  \r\n[a]\r\nx = 1\r\n\r\n[Gleanery]\r\nFoo=bar \r\n"
                                 "\r\n[b]\r\ny=2";
    WriteAll(file, original);
    // A missing key goes after the last line of its section.
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "0"));
    EXPECT_EQ(ReadAll(file), "; keep me  \r\n[a]\r\nx = 1\r\n\r\n[Gleanery]\r\nFoo=bar \r\n"
                             "UseTcIniDir=0\r\n\r\n[b]\r\ny=2");
    // An existing key has its value replaced in place.
    ASSERT_TRUE(WriteProfileString(file, "GLEANERY", "usetcinidir", "1"));
    EXPECT_EQ(ReadAll(file), "; keep me  \r\n[a]\r\nx = 1\r\n\r\n[Gleanery]\r\nFoo=bar \r\n"
                             "UseTcIniDir=1\r\n\r\n[b]\r\ny=2");
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 1);
    ASSERT_TRUE(WriteProfileString(file, "a", "X", "10"));
    EXPECT_EQ(ReadProfileInt(file, "a", "x", 0), 10);
    EXPECT_NE(ReadAll(file).find("\r\nx=10\r\n"), std::string::npos);
    // A missing section is appended, after a line end for the unterminated last line.
    ASSERT_TRUE(WriteProfileString(file, "new", "k", "v"));
    const std::string content = ReadAll(file);
    EXPECT_TRUE(content.ends_with("\r\n[b]\r\ny=2\r\n[new]\r\nk=v\r\n")) << content;
    EXPECT_EQ(content.substr(0, 13), "; keep me  \r\n");

    // LF-only files stay LF-only.
    WriteAll(file, "[s]\nk=1\n");
    ASSERT_TRUE(WriteProfileString(file, "s", "j", "2"));
    EXPECT_EQ(ReadAll(file), "[s]\nk=1\nj=2\n");

    // A directory cannot be written as a profile file.
    EXPECT_FALSE(WriteProfileString(dir.path.string(), "s", "k", "v"));
    EXPECT_FALSE(WriteProfileString(dir.Narrow("missing/x.ini"), "s", "k", "v"));
}

// ---- system facts ----------------------------------------------------------------------------

TEST(PlatformSystem, EnvironmentAndModule) {
    ScopedEnv set("GLEANERY_TEST_VARIABLE", "C:\\w\xC3\xA4r\\wincmd.ini");
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VARIABLE"), std::u16string(u"C:\\w\u00e4r\\wincmd.ini"));
    ScopedEnv unset("GLEANERY_TEST_UNSET", nullptr);
    EXPECT_FALSE(Environment(u"GLEANERY_TEST_UNSET").has_value());
    EXPECT_GT(AvailablePhysicalMemory(), 0u);

    const std::u16string module = ModuleFilePath();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(module.front(), u'/');
    EXPECT_EQ(KindOf(module), PathKind::File);
}

// ---- message boxes ---------------------------------------------------------------------------

int AnswerNo(void* context, const std::u16string& text, const std::u16string& title,
             uint32_t flags) {
    auto* seen = static_cast<std::u16string*>(context);
    *seen = title + u"|" + text + u"|" + Utf8ToWide(std::to_string(flags));
    return kIdNo;
}

TEST(PlatformMessageBox, DefaultsAndHandler) {
    EXPECT_EQ(DefaultAnswer(kMbOk), kIdOk);
    EXPECT_EQ(DefaultAnswer(kMbOk | kMbIconWarning), kIdOk);
    EXPECT_EQ(DefaultAnswer(kMbYesNo), kIdYes);
    EXPECT_EQ(DefaultAnswer(kMbYesNo | kMbDefButton2 | kMbIconWarning | kMbSystemModal), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel), kIdYes);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel | kMbDefButton2), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel | 0x200), kIdCancel);

    std::u16string seen;
    SetMessageBoxHandler(&AnswerNo, &seen);
    EXPECT_EQ(ShowMessageBox(u"Overwrite?", u"Gleanery", kMbYesNo), kIdNo);
    EXPECT_EQ(seen, u"Gleanery|Overwrite?|4");
    SetMessageBoxHandler(nullptr, nullptr);
}

// Puts `fd` in place of standard input and standard error for the lifetime of the object.
struct ScopedStdio {
    int savedIn, savedErr;
    explicit ScopedStdio(int fd) : savedIn(::dup(STDIN_FILENO)), savedErr(::dup(STDERR_FILENO)) {
        ::dup2(fd, STDIN_FILENO);
        ::dup2(fd, STDERR_FILENO);
    }
    ~ScopedStdio() {
        ::dup2(savedIn, STDIN_FILENO);
        ::dup2(savedErr, STDERR_FILENO);
        ::close(savedIn);
        ::close(savedErr);
    }
};

TEST(PlatformMessageBox, TerminalOrDefaultButton) {
    // Without a terminal the default button answers.
    const int null = ::open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);
    {
        ScopedStdio stdio(null);
        EXPECT_EQ(ShowMessageBox(u"Q?", u"Gleanery", kMbYesNo | kMbDefButton2), kIdNo);
        EXPECT_EQ(ShowMessageBox(u"Q?", u"Gleanery", kMbYesNoCancel), kIdYes);
    }
    ::close(null);

    // On a terminal the typed answer counts; an empty line takes the default button.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    int answers[4];
    {
        ScopedStdio stdio(terminal);
        ASSERT_EQ(::write(master, "y\n", 2), 2);
        answers[0] =
            ShowMessageBox(u"Overwrite?\r\nReally?", u"Gleanery", kMbYesNo | kMbDefButton2);
        ASSERT_EQ(::write(master, "\n", 1), 1);
        answers[1] = ShowMessageBox(u"Q", u"Gleanery", kMbYesNo | kMbDefButton2);
        ASSERT_EQ(::write(master, "maybe\nc\n", 8), 8);
        answers[2] = ShowMessageBox(u"Q", u"Gleanery", kMbYesNoCancel | kMbDefButton2);
        answers[3] = ShowMessageBox(u"Done", u"Gleanery", kMbOk);
    }
    char shown[4096];
    const ssize_t length = ::read(master, shown, sizeof shown);
    ::close(terminal);
    ::close(master);
    EXPECT_EQ(answers[0], kIdYes);
    EXPECT_EQ(answers[1], kIdNo);
    EXPECT_EQ(answers[2], kIdCancel);
    EXPECT_EQ(answers[3], kIdOk);
    ASSERT_GT(length, 0);
    const std::string text(shown, static_cast<size_t>(length));
    EXPECT_NE(text.find("Overwrite?"), std::string::npos);
    EXPECT_NE(text.find("[y/n/c]"), std::string::npos);
}

// ---- clipboard -------------------------------------------------------------------------------

TEST(PlatformClipboard, HandsTheTextToXclip) {
    TempDir dir;
    const std::string script = dir.Narrow("xclip");
    WriteAll(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$GLEANERY_FAKE_OUT.args\"\n"
                     "cat > \"$GLEANERY_FAKE_OUT.data\"\n");
    ::chmod(script.c_str(), 0755);
    const std::string path =
        dir.path.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
    ScopedEnv pathVariable("PATH", path.c_str());
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    ScopedEnv display("DISPLAY", ":77");
    const std::string out = dir.Narrow("clip");
    ScopedEnv fakeOut("GLEANERY_FAKE_OUT", out.c_str());

    // Wide text: UTF-16LE with its terminating zero becomes UTF-8 without it.
    const std::string wide("A\0\xE4\0\xAC\x20\0\0", 8);
    ASSERT_TRUE(SetClipboard(kCfUnicodeText, wide));
    EXPECT_EQ(ReadAll(out + ".args"), "-selection\nclipboard\n-target\nUTF8_STRING\n");
    EXPECT_EQ(ReadAll(out + ".data"), "A\xC3\xA4\xE2\x82\xAC");

    // Bytes go as they are.
    ASSERT_TRUE(SetClipboard(kCfText, std::string("raw\xFF\r\n\0", 7)));
    EXPECT_EQ(ReadAll(out + ".args"), "-selection\nclipboard\n-target\nSTRING\n");
    EXPECT_EQ(ReadAll(out + ".data"), "raw\xFF\r\n");

    // Under Wayland wl-copy takes the text, with the MIME type of the format.
    const std::string waylandTool = dir.Narrow("wl-copy");
    fs::copy_file(script, waylandTool);
    {
        ScopedEnv waylandDisplay("WAYLAND_DISPLAY", "wayland-0");
        ASSERT_TRUE(SetClipboard(kCfUnicodeText, wide));
        EXPECT_EQ(ReadAll(out + ".args"), "--type\ntext/plain;charset=utf-8\n");
        EXPECT_EQ(ReadAll(out + ".data"), "A\xC3\xA4\xE2\x82\xAC");
        ASSERT_TRUE(SetClipboard(kCfText, std::string("b\0", 2)));
        EXPECT_EQ(ReadAll(out + ".args"), "--type\ntext/plain\n");
    }

    // A failing tool fails the copy; no display means no clipboard.
    WriteAll(script, "#!/bin/sh\ncat >/dev/null\nexit 1\n");
    EXPECT_FALSE(SetClipboard(kCfText, std::string("x\0", 2)));
    ScopedEnv noDisplay("DISPLAY", nullptr);
    EXPECT_FALSE(SetClipboard(kCfText, std::string("x\0", 2)));
}

bool TakeClip(void* context, uint32_t format, const std::string& bytes) {
    *static_cast<std::string*>(context) = std::to_string(format) + ":" + bytes;
    return true;
}

TEST(PlatformClipboard, HandlerTakesPrecedence) {
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    std::string got;
    SetClipboardHandler(&TakeClip, &got);
    EXPECT_TRUE(SetClipboard(kCfText, std::string("ab\0", 3)));
    EXPECT_EQ(got, std::string("1:ab\0", 5));
    SetClipboardHandler(nullptr, nullptr);
    EXPECT_FALSE(SetClipboard(kCfText, std::string("ab\0", 3)));
}

} // namespace
} // namespace gleanery::platform
