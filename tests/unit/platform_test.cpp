// Tests of the platform layer's contract on every system: files and fault injection, the Unicode
// helpers, code pages, character tables, system facts, profile files, message boxes and the
// clipboard. Where the systems differ by design (names, devices, links, permissions, the
// terminal, the clipboard tools), the system's own part of a test sits in a #if branch.
#include "platform/char_tables.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "platform/utf8_sequence.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <pcre.h>

#if defined(_WIN32)
#include <windows.h>
#undef WriteProfileString
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

namespace gleanery::platform {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// A path in the UTF-16 form the platform layer takes.
std::u16string Utf16(const fs::path& path) {
    return path.u16string();
}

// A handle opened behind the file services' back, so that nothing recorded its identity.
intptr_t RawReadHandle(const fs::path& path) {
#if defined(_WIN32)
    return reinterpret_cast<intptr_t>(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
#else
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

#if !defined(_WIN32)
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
#endif

// ---- files -----------------------------------------------------------------------------------

TEST(PlatformFiles, OpenOrCreateNeverTruncatesAndTellsExistingFiles) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string path = dir.Wide("out.txt");
    OpenedFile opened = OpenedFile::Existing;
    {
        File file = OpenOrCreateForWriting(path, &opened);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(opened, OpenedFile::Created);
        ASSERT_TRUE(Write(file, "hello world", 11));
#if defined(_WIN32)
        // Shared for reading only: another writer is refused while it is open.
        EXPECT_EQ(CreateFileW(dir.Path("out.txt").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr),
                  INVALID_HANDLE_VALUE);
#endif
    }
    {
        File file = OpenOrCreateForWriting(path, &opened);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(opened, OpenedFile::Existing);
    }
    EXPECT_EQ(ReadAll(dir.Path("out.txt")), "hello world");
    EXPECT_EQ(SizeOf(path), 11);
    EXPECT_EQ(KindOf(path), PathKind::File);

    // Directories, devices (whatever directory their name is given in: the console would wait
    // for input for ever) and names in a missing directory are neither read nor written.
    const std::u16string directory = Utf16(dir.path);
#if defined(_WIN32)
    const std::u16string devices[] = {u"NUL", dir.Wide("con")};
#else
    const std::u16string devices[] = {u"/dev/null"};
#endif
    EXPECT_FALSE(OpenOrCreateForWriting(directory).IsOpen());
    EXPECT_FALSE(OpenForReading(directory).IsOpen());
    for (const std::u16string& device : devices) {
        EXPECT_FALSE(OpenOrCreateForWriting(device).IsOpen());
        EXPECT_FALSE(OpenForReading(device).IsOpen());
    }
    EXPECT_FALSE(OpenOrCreateForWriting(dir.Wide("missing/out.txt")).IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("missing/out.txt")).IsOpen());
}

TEST(PlatformFiles, ReadingRefusesDirectoriesAndMissingFiles) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    EXPECT_FALSE(OpenForReading(Utf16(dir.path)).IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("nothing.txt")).IsOpen());
    EXPECT_EQ(KindOf(Utf16(dir.path)), PathKind::Directory);
    EXPECT_EQ(KindOf(dir.Wide("nothing.txt")), PathKind::Missing);
    EXPECT_EQ(SizeOf(dir.Wide("nothing.txt")), -1);

    // Non-ASCII names reach the file system (as UTF-8 on POSIX).
    WriteAll(dir.Path("d\xC3\xA4t\xC3\xA4.txt"), "0123456789");
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

#if !defined(_WIN32)
    // A character beyond the BMP, and a byte that is no UTF-8 (escaped), name the file they
    // stand for; a lone surrogate or a zero unit names none.
    WriteAll(dir.Path("\xF0\x9D\x84\x9E\xFF"), "clef");
    EXPECT_TRUE(OpenForReading(dir.Wide("") + u"\U0001D11E\xDCFF").IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("") + u"\xD834\xDCFF").IsOpen());
    EXPECT_FALSE(OpenForReading(dir.Wide("") + std::u16string(u"\U0001D11E\0", 3)).IsOpen());
#endif

    // Moving hands the handle over exactly once; the moved-from file is closed.
    File moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    File assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_TRUE(assigned.IsOpen());
    Close(assigned);
    EXPECT_FALSE(assigned.IsOpen());
    EXPECT_TRUE(DeleteFileAt(name));
    EXPECT_EQ(KindOf(name), PathKind::Missing);
    EXPECT_FALSE(DeleteFileAt(name));
}

TEST(PlatformFiles, InputsOpenRelativeToTheLastInputsDirectory) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::filesystem::create_directories(dir.Path("a/sub"));
    std::filesystem::create_directories(dir.Path("b"));
    for (const char* name : {"a/1.txt", "a/2.txt", "b/3.txt", "a/sub/4.txt"})
        WriteAll(dir.Path(name), name);
    auto content = [](File file) {
        char buffer[32] = {};
        size_t got = 0;
        return file.IsOpen() && Read(file, buffer, sizeof buffer, got) ? std::string(buffer, got)
                                                                       : std::string("(none)");
    };
    // Each input's own content, in the kept directory, another one, back and through "..";
    // what is no readable file is refused there as by a plain open.
    for (const char* name :
         {"a/1.txt", "a/2.txt", "b/3.txt", "a/sub/4.txt", "a/1.txt", "a/sub/../2.txt",
          "a/missing.txt", "a/sub", "missing/1.txt", "a/1.txt/"}) {
        EXPECT_EQ(content(OpenInputForReading(dir.Wide(name))),
                  content(OpenForReading(dir.Wide(name))))
            << name;
    }
    EXPECT_EQ(content(OpenInputForReading(dir.Wide("a/2.txt"))), "a/2.txt");
    // A file made in the kept directory after it was kept is found.
    WriteAll(dir.Path("a/5.txt"), "five");
    EXPECT_EQ(content(OpenInputForReading(dir.Wide("a/5.txt"))), "five");
    ForgetInputDirectory();
    EXPECT_EQ(content(OpenInputForReading(dir.Wide("b/3.txt"))), "b/3.txt");
    ForgetInputDirectory();
}

TEST(PlatformFiles, SeekAndTruncateCutAtTheCurrentPosition) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string path = dir.Wide("cut.txt");
    WriteAll(dir.Path("cut.txt"), "abcdefghij");
    {
        File file = OpenOrCreateForWriting(path);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(Seek(file, 4));
        ASSERT_TRUE(Write(file, "XY", 2));
        ASSERT_TRUE(Truncate(file));
    }
    EXPECT_EQ(ReadAll(dir.Path("cut.txt")), "abcdXY");
    EXPECT_EQ(SizeOf(path), 6);
    {
        File file = OpenOrCreateForWriting(path);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(Seek(file, 5));
        ASSERT_TRUE(Truncate(file));
        ASSERT_TRUE(Write(file, "!", 1));
    }
    EXPECT_EQ(ReadAll(dir.Path("cut.txt")), "abcdX!");
    EXPECT_EQ(SizeOf(path), 6);
}

TEST(PlatformFiles, SameFileByIdentityThroughLinksMovesAndCreation) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    WriteAll(dir.Path("a.txt"), "a");
    WriteAll(dir.Path("b.txt"), "b");
    // A created file records its identity as an opened one does.
    OpenedFile opened = OpenedFile::Existing;
    File output = OpenOrCreateForWriting(dir.Wide("out.txt"), &opened);
    ASSERT_EQ(opened, OpenedFile::Created);
    EXPECT_TRUE(output.identity.known);
#if !defined(_WIN32)
    // (Windows does not open a file for reading while it is open for writing.)
    EXPECT_TRUE(IsSameFile(output, OpenForReading(dir.Wide("out.txt"))));
#endif
    EXPECT_FALSE(IsSameFile(output, OpenForReading(dir.Wide("a.txt"))));

    File a = OpenForReading(dir.Wide("a.txt"));
    EXPECT_TRUE(IsSameFile(a, OpenForReading(dir.Wide("a.txt"))));
    EXPECT_FALSE(IsSameFile(a, OpenForReading(dir.Wide("b.txt"))));
#if !defined(_WIN32)
    // A second name of the same file is the same file.
    ASSERT_EQ(::link(dir.Path("a.txt").c_str(), dir.Path("link.txt").c_str()), 0);
    EXPECT_TRUE(IsSameFile(a, OpenForReading(dir.Wide("link.txt"))));
#endif
    // The size an open for reading recorded; a written file's size is asked as it is now.
    EXPECT_EQ(SizeOf(a), 1);
    EXPECT_EQ(SizeOf(output), 0);
    ASSERT_TRUE(Write(output, "xyz", 3));
    EXPECT_EQ(SizeOf(output), 3);
    File moved = std::move(a);
    EXPECT_FALSE(a.identity.known);
    EXPECT_EQ(SizeOf(a), -1);
    EXPECT_TRUE(IsSameFile(moved, OpenForReading(dir.Wide("a.txt"))));
    // A handle adopted without a recorded identity is asked of the system.
    File raw(RawReadHandle(dir.Path("a.txt")));
    ASSERT_TRUE(raw.IsOpen());
    ASSERT_FALSE(raw.identity.known);
    EXPECT_TRUE(IsSameFile(raw, moved));
    EXPECT_FALSE(IsSameFile(raw, output));
    EXPECT_EQ(SizeOf(raw), 1);
    Close(moved);
    EXPECT_FALSE(moved.identity.known);
    EXPECT_FALSE(IsSameFile(raw, moved));
}

TEST(PlatformFiles, NewFilesLinkTargetsAndPermissionsForAReplace) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string target = dir.Wide("Gleanery.ini");
    const std::u16string temporary = dir.Wide("Gleanery.ini.1.tmp");
    uint32_t lastError = 12345;
    // A new file is made only where nothing has the name (no file, directory or link), and
    // only in a directory that exists.
    {
        File old = CreateNewForWriting(target, lastError);
        ASSERT_TRUE(old.IsOpen());
        EXPECT_EQ(lastError, kErrorSuccess);
        ASSERT_TRUE(Write(old, "old", 3));
    }
    EXPECT_FALSE(CreateNewForWriting(target, lastError).IsOpen());
    EXPECT_EQ(lastError, kErrorFileExists);
    EXPECT_FALSE(CreateNewForWriting(dir.Wide("missing/new.txt"), lastError).IsOpen());
    EXPECT_EQ(lastError, 3u); // ERROR_PATH_NOT_FOUND
#if !defined(_WIN32)
    fs::create_directory(dir.path / "dir");
    fs::create_symlink("nowhere", dir.path / "dangling");
    for (const char* taken : {"dir", "dangling"}) {
        EXPECT_FALSE(CreateNewForWriting(dir.Wide(taken), lastError).IsOpen()) << taken;
        EXPECT_EQ(lastError, kErrorFileExists) << taken;
    }
    EXPECT_FALSE(fs::exists(dir.path / "nowhere"));

    // Links are followed to the file they name, relative ones from their own directory, even
    // when that file does not exist yet; a loop has no target.
    fs::create_directory(dir.path / "sub");
    fs::create_symlink("../dangling", dir.path / "sub" / "link");
    std::u16string linked;
    ASSERT_TRUE(LinkTargetOf(dir.Wide("sub/link"), linked));
    EXPECT_EQ(linked, dir.Wide("sub/../nowhere"));
    fs::create_symlink("loop", dir.path / "loop");
    EXPECT_FALSE(LinkTargetOf(dir.Wide("loop"), linked));
    fs::permissions(dir.path / "Gleanery.ini", fs::perms::owner_read | fs::perms::owner_write);
#else
    ASSERT_TRUE(SetFileAttributesW(dir.Path("Gleanery.ini").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
#endif
    std::u16string resolved;
    ASSERT_TRUE(LinkTargetOf(target, resolved)); // no link: the name itself
    EXPECT_EQ(resolved, target);

    // The permissions of the file replaced go to the new one; nothing there is no obstacle.
    {
        File file = CreateNewForWriting(temporary, lastError);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(TakeOverPermissions(target, file));
        EXPECT_TRUE(TakeOverPermissions(dir.Wide("missing.ini"), file));
        ASSERT_TRUE(Write(file, "new", 3));
        EXPECT_TRUE(FlushToDisk(file));
    }
    ASSERT_TRUE(ReplaceFileWith(temporary, target));
    EXPECT_EQ(ReadAll(dir.Path("Gleanery.ini")), "new");
    EXPECT_EQ(KindOf(temporary), PathKind::Missing);
#if !defined(_WIN32)
    EXPECT_EQ(fs::status(dir.path / "Gleanery.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
#else
    EXPECT_EQ(GetFileAttributesW(dir.Path("Gleanery.ini").c_str()) &
                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
#endif

    // What may not be written (a directory, a read-only file) is not taken over.
    File other = CreateNewForWriting(temporary, lastError);
    ASSERT_TRUE(other.IsOpen());
    EXPECT_FALSE(TakeOverPermissions(Utf16(dir.path), other));
#if defined(_WIN32)
    ASSERT_TRUE(SetFileAttributesW(dir.Path("Gleanery.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(TakeOverPermissions(target, other));
    SetFileAttributesW(dir.Path("Gleanery.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    Close(other);

    // A name longer than the system looks up is told apart from a missing file.
#if defined(_WIN32)
    std::u16string tooLong = u"\\\\?\\" + Utf16(dir.path) + u"\\";
    while (tooLong.size() < 33000) tooLong += std::u16string(200, u'n') + u"\\";
    EXPECT_EQ(KindOf(tooLong + u"x.txt"), PathKind::TooLong);
#else
    std::string deep;
    while (deep.size() < 5000) deep += std::string(100, 'd') + "/";
    EXPECT_EQ(KindOf(dir.Wide(deep + "x.txt")), PathKind::TooLong);
    EXPECT_EQ(KindOf(dir.Wide(std::string(300, 'n'))), PathKind::TooLong);
#endif
}

#if defined(_WIN32)
TEST(PlatformFiles, LongPathsThroughTheLongForm) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    // A directory and file name that together pass MAX_PATH.
    std::u16string full;
    ASSERT_TRUE(FullPathOf(Utf16(dir.path) + u"\\", full));
    const std::u16string longDir = u"\\\\?\\" + full + std::u16string(120, u'd');
    ASSERT_TRUE(CreateDirectoryW(reinterpret_cast<const wchar_t*>(longDir.c_str()), nullptr));
    const std::u16string longFile = longDir + u"\\" + std::u16string(150, u'f') + u".txt";
    ASSERT_GE(longFile.size(), 260u);
    {
        OpenedFile opened = OpenedFile::Existing;
        File file = OpenOrCreateForWriting(longFile, &opened);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(opened, OpenedFile::Created);
        ASSERT_TRUE(Write(file, "deep", 4));
    }
    EXPECT_EQ(KindOf(longFile), PathKind::File);
    EXPECT_EQ(SizeOf(longFile), 4);
    File reader = OpenForReading(longFile);
    char buffer[8];
    size_t got = 0;
    ASSERT_TRUE(Read(reader, buffer, sizeof buffer, got));
    EXPECT_EQ(std::string(buffer, got), "deep");
    Close(reader);
    EXPECT_TRUE(DeleteFileAt(longFile));
    EXPECT_TRUE(RemoveDirectoryW(reinterpret_cast<const wchar_t*>(longDir.c_str())));
}
#endif

TEST(PlatformFiles, FullPathIsResolvedLexically) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    struct Case {
        const char16_t* path;
        const char16_t* full;
    };
#if defined(_WIN32)
    const Case cases[] = {{u"C:\\a\\b\\..\\c\\.\\d.txt", u"C:\\a\\c\\d.txt"}};
    EXPECT_TRUE(UsesLongPathPrefix());
    EXPECT_EQ(PathSeparator(), u'\\');
#else
    const Case cases[] = {{u"/a/b/../c/./d.txt", u"/a/c/d.txt"},
                          {u"/../../x//y/", u"/x/y/"},
                          {u"/a/b/..", u"/a"},
                          {u"/", u"/"}};
    EXPECT_FALSE(UsesLongPathPrefix());
    EXPECT_EQ(PathSeparator(), u'/');
#endif
    std::u16string full;
    for (const Case& c : cases) {
        ASSERT_TRUE(FullPathOf(c.path, full));
        EXPECT_EQ(full, c.full);
    }
    EXPECT_FALSE(FullPathOf(u"", full));

    // Relative names are taken from the working directory; the file need not exist.
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path);
    const bool ok = FullPathOf(u"sub/../missing.txt", full);
    const fs::path expected = fs::current_path() / "missing.txt";
    fs::current_path(previous);
    ASSERT_TRUE(ok);
    EXPECT_EQ(full, Utf16(expected));
}

TEST(PlatformFiles, InjectedFaultsHitTheNthOperationOnly) {
    ClearFaults(); // faults left armed elsewhere must not hit these operations
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string path = dir.Wide("f.txt");
    InjectFault(FaultKind::Open, 2);
    File file = OpenOrCreateForWriting(path);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_FALSE(OpenOrCreateForWriting(path).IsOpen());
    uint32_t lastError = 0;
    InjectFault(FaultKind::Open, 1);
    EXPECT_FALSE(CreateNewForWriting(dir.Wide("new.txt"), lastError).IsOpen());
    EXPECT_EQ(lastError, kErrorAccessDenied);

    InjectFault(FaultKind::Write, 3);
    EXPECT_TRUE(Write(file, "1", 1));
    EXPECT_TRUE(Write(file, "2", 1));
    EXPECT_FALSE(Write(file, "3", 1));
    EXPECT_TRUE(Write(file, "4", 1)); // only the third one fails
    InjectFault(FaultKind::Truncate, 1);
    EXPECT_FALSE(Truncate(file));
    EXPECT_TRUE(Truncate(file));
    Close(file);
    EXPECT_EQ(ReadAll(dir.Path("f.txt")), "124");

    InjectFault(FaultKind::Open, 2);
    EXPECT_TRUE(OpenForReading(path).IsOpen());
    EXPECT_FALSE(OpenForReading(path).IsOpen());
    File reader = OpenForReading(path);
    ASSERT_TRUE(reader.IsOpen());
    InjectFault(FaultKind::Read, 1);
    char buffer[8];
    size_t got = 99;
    EXPECT_FALSE(Read(reader, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(Read(reader, buffer, 1, got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buffer[0], '1');

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

// ---- Unicode helpers -------------------------------------------------------------------------

TEST(PlatformUnicode, SurrogatesAndUtf8Forms) {
    struct Unit {
        char16_t unit;
        bool high, low;
    };
    for (const Unit& u :
         {Unit{0x0041, false, false}, Unit{0xD7FF, false, false}, Unit{0xD800, true, false},
          Unit{0xDBFF, true, false}, Unit{0xDC00, false, true}, Unit{0xDFFF, false, true},
          Unit{0xE000, false, false}, Unit{0xFFFF, false, false}}) {
        EXPECT_EQ(IsHighSurrogate(u.unit), u.high) << std::hex << unsigned{u.unit};
        EXPECT_EQ(IsLowSurrogate(u.unit), u.low) << std::hex << unsigned{u.unit};
        EXPECT_EQ(IsSurrogate(u.unit), u.high || u.low) << std::hex << unsigned{u.unit};
    }
    const std::u16string pair = u"a\U0001F600";
    EXPECT_TRUE(IsSurrogatePairAt(pair, 1));
    EXPECT_FALSE(IsSurrogatePairAt(pair, 0));
    EXPECT_FALSE(IsSurrogatePairAt(pair, 2));              // the second half
    EXPECT_FALSE(IsSurrogatePairAt(pair.substr(0, 2), 1)); // cut after the first half
    EXPECT_EQ(CodePointFromSurrogates(pair[1], pair[2]), 0x1F600u);
    EXPECT_EQ(CodePointFromSurrogates(0xDBFF, 0xDFFF), 0x10FFFFu);

    // Each code point at the edges of the UTF-8 lengths, both ways: encoded by itself, and as
    // UTF-16 text (where the units of a pair make one character).
    struct Code {
        char32_t code;
        std::string_view utf8;
    };
    for (const Code& c : {Code{0x00, {"\0", 1}}, Code{0x7F, "\x7F"}, Code{0x80, "\xC2\x80"},
                          Code{0x7FF, "\xDF\xBF"}, Code{0x800, "\xE0\xA0\x80"},
                          Code{0xFFFD, "\xEF\xBF\xBD"}, Code{0xFFFF, "\xEF\xBF\xBF"},
                          Code{0x10000, "\xF0\x90\x80\x80"}, Code{0x10FFFF, "\xF4\x8F\xBF\xBF"}}) {
        const std::string expected(c.utf8);
        std::string utf8 = "<";
        AppendUtf8(c.code, utf8);
        EXPECT_EQ(utf8, "<" + expected) << std::hex << unsigned{c.code};
        std::u16string utf16 = u"<";
        AppendUtf16(c.code, utf16);
        utf8 = "<";
        AppendUtf16AsUtf8(utf16, utf8);
        EXPECT_EQ(utf8, "<<" + expected) << std::hex << unsigned{c.code};
    }
    // An unpaired surrogate, high or low, at the end or not, has no UTF-8 form of its own.
    std::string utf8;
    AppendUtf16AsUtf8(
        std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800) + u"b" + char16_t(0xDBFF), utf8);
    EXPECT_EQ(utf8, "a\xEF\xBF\xBD\xEF\xBF\xBD"
                    "b\xEF\xBF\xBD");

    // The multi-byte UTF-8 sequences a lead byte's rule allows, and a rule a caller widened.
    struct Sequence {
        std::string_view bytes;
        size_t length;
        char32_t code;
    };
    for (const Sequence& s :
         {Sequence{"\xC3\xA4!", 2, 0xE4}, Sequence{"\xE2\x82\xAC", 3, 0x20AC},
          Sequence{"\xF4\x8F\xBF\xBF", 4, 0x10FFFF}, Sequence{"\xC0\x80", 0, 0}, // overlong
          Sequence{"\xED\xA0\x80", 0, 0},                                        // a surrogate
          Sequence{"\xF4\x90\x80\x80", 0, 0},                                    // above U+10FFFF
          Sequence{"\xE2\x82", 0, 0}}) {                                         // cut short
        char32_t code = 0;
        const auto lead = static_cast<unsigned char>(s.bytes[0]);
        EXPECT_EQ(Utf8SequenceAt(s.bytes, 0, Utf8LeadOf(lead), code), s.length) << s.bytes;
        if (s.length != 0) {
            EXPECT_EQ(code, s.code) << s.bytes;
        }
    }
    Utf8Lead widened = Utf8LeadOf(0xED);
    widened.high = 0xBF;
    char32_t code = 0;
    EXPECT_EQ(Utf8SequenceAt("\xED\xB2\x80", 0, widened, code), 3u);
    EXPECT_EQ(code, 0xDC80u);

    // Bytes of a POSIX name that are no UTF-8 travel as U+DC80..U+DCFF.
    EXPECT_EQ(EscapedByteUnit(0x80), 0xDC80);
    EXPECT_EQ(EscapedByteOf(EscapedByteUnit(0xFF)), '\xFF');
    EXPECT_TRUE(IsEscapedByte(0xDCFF));
    EXPECT_FALSE(IsEscapedByte(0xDC7F)); // an ASCII byte is never escaped
}

TEST(PlatformUnicode, DecimalNumbers) {
    EXPECT_EQ(Decimal(0), u"0");
    EXPECT_EQ(Decimal(-7), u"-7");
    EXPECT_EQ(Decimal(1234567890L), u"1234567890");
    EXPECT_EQ(Decimal(std::numeric_limits<int64_t>::min()), u"-9223372036854775808");
    EXPECT_EQ(Decimal(std::numeric_limits<uint64_t>::max()), u"18446744073709551615");
    EXPECT_EQ(Decimal(uint32_t{65001}), u"65001");
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
    // Invalid bytes become U+FFFD, as the system converter does.
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              u"a\uFFFD"
              u"b");
#if !defined(_WIN32)
    // Unpaired surrogates have no UTF-8 form; ill-formed bytes read as U+FFFD, one for each
    // maximal ill-formed subsequence.
    EXPECT_EQ(WideToUtf8(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80!"), u"\uFFFD\uFFFD\uFFFD!"); // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xE2\x82z"), u"\uFFFDz"); // truncated sequence, one replacement
#endif
    // UTF-8 takes no default character even when one is given; appending keeps what is there
    // and empty input appends nothing.
    std::string bytes = "pre:";
    ASSERT_TRUE(AppendWideAsCodePage(kUtf8CodePage, u"\u00e4", '#', bytes));
    EXPECT_EQ(bytes, "pre:\xC3\xA4");
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"", '#', bytes));
    EXPECT_EQ(bytes, "pre:\xC3\xA4");
    std::u16string wide = u"w";
    ASSERT_TRUE(AppendCodePageAsWide(1252, "", wide));
    EXPECT_EQ(wide, u"w");

    // Far beyond what fits a fixed buffer, with pairs and double bytes.
    std::u16string longText;
    for (int i = 0; i < 50000; ++i) longText += (i % 7 == 0) ? u"\U0001F600" : u"\u00e4x\u65e5";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(longText)), longText);
}

TEST(PlatformCodePage, SingleBytePagesRoundTripWithDefaultCharacter) {
    // 1252: the euro sign and umlauts.
    EXPECT_EQ(ToWide(1252, "\x80\xC4\xE4x"), u"\u20ac\u00c4\u00e4x");
    EXPECT_EQ(FromWide(1252, u"\u20ac\u00c4\u00e4x"), "\x80\xC4\xE4x");
    // Characters the page lacks become the given default, the system's ('?') for anything
    // below 1 as a signed byte; no best-fit look-alikes (a full-width backslash is no
    // backslash).
    EXPECT_EQ(FromWide(1252, u"\u00e4\u20ac\u03a9", '#'), "\xE4\x80#");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b", 0), "a?b");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b", -1), "a?b");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b", -5), "a?b");
    EXPECT_EQ(FromWide(1252, u"\uff3c\u0391", '#'), "##");
    // Cyrillic in the OEM page 866.
    EXPECT_EQ(FromWide(866, u"\u0416", '#'), "\x86");
#if !defined(_WIN32)
    // An undefined byte reads as U+FFFD; a surrogate pair is one character and gives one
    // default character, an unpaired surrogate one as well.
    EXPECT_EQ(ToWide(1252, "\x81"), u"\uFFFD");
    EXPECT_EQ(FromWide(1252, u"a\u4e00b\U0001F600c", '#'), "a#b#c");
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
        std::string defined;
        std::u16string definedWide;
        for (size_t i = 0; i < all.size(); ++i) {
            if (wide[i] == 0xFFFD) continue;
            defined += all[i];
            definedWide += wide[i];
        }
        EXPECT_EQ(FromWide(codePage, definedWide), defined) << codePage;
    }
#endif
}

TEST(PlatformCodePage, DoubleBytePagesRoundTripWithDefaultCharacter) {
    // "日本語" and a half-width katakana "ｱ" in code page 932.
    const std::string bytes = "A\x93\xFA\x96\x7B\x8C\xEA\xB1z";
    const std::u16string wide = u"A\u65e5\u672c\u8a9e\uff71z";
    EXPECT_EQ(ToWide(932, bytes), wide);
    EXPECT_EQ(FromWide(932, wide, '#'), bytes);
    std::u16string cjk;
    for (int i = 0; i < 30000; ++i) cjk += u"\u65e5a";
    const std::string sjis = FromWide(932, cjk, '#');
    EXPECT_EQ(sjis.size(), 90000u);
    EXPECT_EQ(ToWide(932, sjis), cjk);
#if !defined(_WIN32)
    // Hangul has no form in 932; an incomplete double-byte character reads as U+FFFD.
    EXPECT_EQ(FromWide(932, u"\u65e5\uac00x", '#'), "\x93\xFA#x");
    EXPECT_EQ(FromWide(932, u"\uac00\U0001F600", 0), "??");
    EXPECT_EQ(ToWide(932, "ab\x93"), u"ab\uFFFD");
    // Stateful encodings end in their initial state; replacements do not upset the state.
    const std::string jis = FromWide(50220, u"\u65e5\uac00\u672c", '?');
    EXPECT_EQ(ToWide(50220, jis), u"\u65e5?\u672c");
#else
    // A code page that refuses flags and a default character still converts, with its own
    // substitute (where the system has it at all).
    if (IsValidCodePage(50220)) {
        EXPECT_FALSE(FromWide(50220, u"A\u65e5", '#').empty());
    }
#endif
}

TEST(PlatformCodePage, UnknownCodePagesFail) {
    std::string bytes = "keep";
    std::u16string wide = u"keep";
    EXPECT_FALSE(AppendWideAsCodePage(12345, u"abc", 0, bytes));
    EXPECT_FALSE(AppendCodePageAsWide(12345, "abc", wide));
#if !defined(_WIN32)
    EXPECT_FALSE(AppendCodePageAsWide(709, "abc", wide)); // no converter for this one
#endif
    EXPECT_EQ(bytes, "keep");
    EXPECT_EQ(wide, u"keep");
}

#if !defined(_WIN32)
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
#endif

TEST(PlatformCodePage, LeadBytes) {
    struct Case {
        uint32_t codePage;
        uint8_t byte;
        bool lead;
    };
    for (const Case& c :
         {Case{932, 0x81, true}, Case{932, 0x93, true}, Case{932, 0x9F, true},
          Case{932, 0xE0, true}, Case{932, 0xFC, true}, Case{932, 0x41, false},
          Case{932, 0x80, false}, Case{932, 0xA0, false},
          Case{932, 0xB1, false}, // half-width katakana is a single byte
          Case{932, 0xFD, false}, Case{936, 0xFE, true}, Case{936, 0x80, false},
          Case{1252, 0x81, false}, Case{1252, 0x93, false}, Case{kUtf8CodePage, 0xC3, false}})
        EXPECT_EQ(IsLeadByte(c.codePage, c.byte), c.lead) << c.codePage << " " << int{c.byte};
#if !defined(_WIN32)
    EXPECT_TRUE(IsLeadByte(1361, 0xD8));
    EXPECT_FALSE(IsLeadByte(1361, 0xD4));
#endif
}

#if !defined(_WIN32)
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
#endif

// ---- character tables ------------------------------------------------------------------------

struct Tables {
    const unsigned char* data;
    explicit Tables(const unsigned char* t) : data(t) {}
    ~Tables() {
        if (data) pcre_free(const_cast<unsigned char*>(data));
    }
};

TEST(PlatformCharTables, SystemTablesFoldTheCodePagesLetters) {
    Tables oem(MakeCharTables(true));
    Tables ansi(MakeCharTables(false));
    ASSERT_NE(oem.data, nullptr);
    ASSERT_NE(ansi.data, nullptr);
    // The first table is the lower-case map: ASCII in both.
    EXPECT_EQ(oem.data['A'], 'a');
    EXPECT_EQ(ansi.data['Z'], 'z');
#if defined(_WIN32)
    const uint32_t ansiPage = SystemAnsiCodePage();
    const uint32_t oemPage = SystemOemCodePage();
    EXPECT_EQ(ansiPage, GetACP());
    EXPECT_EQ(oemPage, GetOEMCP());
    // The locale stays at the ANSI code page afterwards.
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    EXPECT_NE(locale.find(std::to_string(ansiPage)), std::string::npos) << locale;
    // A with diaeresis: 0xC4 in 1252 and 0x8E in 437, lower case 0xE4 and 0x84.
    if (ansiPage == 1252) {
        EXPECT_EQ(ansi.data[0xC4], 0xE4);
    }
    // Wine's C runtime classifies every 8-bit locale by the ANSI code page, so the OEM letters
    // can only be checked on Windows itself.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (oemPage == 437 && !wine) {
        EXPECT_EQ(oem.data[0x8E], 0x84);
        EXPECT_NE(oem.data[0xC4], 0xE4);
    }
    // Compiled with the tables, a caseless expression folds the code page's own letters.
    const char* error = nullptr;
    int offset = 0;
    pcre* code = pcre_compile("\xc4", PCRE_CASELESS, &error, &offset, ansi.data);
    ASSERT_NE(code, nullptr);
    int vector[3];
    if (ansiPage == 1252) {
        EXPECT_EQ(pcre_exec(code, nullptr, "x\xe4", 2, 0, 0, vector, 3), 1);
    }
    pcre_free(code);
#else
    // The system tables follow the locale's ANSI and OEM code pages.
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    Tables german(MakeCharTables(true));
    ASSERT_NE(german.data, nullptr);
    EXPECT_EQ(german.data[0x8E], 0x84); // Ä -> ä in code page 850
    Tables germanAnsi(MakeCharTables(false));
    ASSERT_NE(germanAnsi.data, nullptr);
    EXPECT_EQ(germanAnsi.data[0xC4], 0xE4);
    EXPECT_EQ(MakeCharTablesFor(12345), nullptr);

    // Arabic systems use OEM code page 720, which has no converter here: ASCII tables then.
    ScopedEnv arabic("LC_ALL", "ar_EG.UTF-8");
    Tables fallback(MakeCharTables(true));
    ASSERT_NE(fallback.data, nullptr);
    EXPECT_EQ(fallback.data[0x41], 0x61);
    EXPECT_EQ(fallback.data[832 + 0xE4], 0);
#endif
}

#if !defined(_WIN32)
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
}

TEST(PlatformCharTables, DoubleByteLeadBytesAreNoLetters) {
    Tables tables(MakeCharTablesFor(932));
    ASSERT_NE(tables.data, nullptr);
    EXPECT_EQ(tables.data[832 + 0x93], 0);       // a lead byte stands for nothing
    EXPECT_TRUE(tables.data[832 + 0xB1] & 0x02); // half-width katakana is a letter
    EXPECT_EQ(tables.data[0x41], 'a');
}
#endif

// ---- profile files ---------------------------------------------------------------------------

// The narrow name the profile functions take: UTF-8 on POSIX, the ANSI code page on Windows.
std::string ProfileName(const TempDir& dir, std::string_view name) {
#if defined(_WIN32)
    std::string narrow;
    EXPECT_TRUE(AppendWideAsCodePage(GetACP(), dir.Wide(name), -1, narrow));
    return narrow;
#else
    return dir.Path(name).string();
#endif
}

TEST(PlatformProfile, ReadAndWriteIntegers) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string file = ProfileName(dir, "wincmd.ini");
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 2048);
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "1"));
    ASSERT_TRUE(WriteProfileString(file, "Configuration", "languageini", "wcmd_deu.lng"));
    EXPECT_EQ(ReadProfileInt(file, "GLEANERY", "usetcinidir", 2048), 1);
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "0"));
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 0);
    EXPECT_NE(ReadAll(dir.Path("wincmd.ini")).find("languageini=wcmd_deu.lng"), std::string::npos);
}

#if !defined(_WIN32)
TEST(PlatformProfile, ReadsIntegersLikeTheSystem) {
    TempDir dir;
    const std::string file = ProfileName(dir, "plugin.ini");
    WriteAll(file, "; comment\r\n[Other]\r\nUseTcIniDir=5\r\n[GLEANERY]\r\n  usetcinidir = 1 \r\n"
                   "Neg=-42xyz\r\nJunk=abc\r\nEmpty=\r\nQuoted=\"7\"\r\n[gleanery]\r\nLate=3\r\n");
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 1);
    EXPECT_EQ(ReadProfileInt(file, "Gleanery", "neg", 2048), -42);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Junk", 2048), 0);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Empty", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Quoted", 2048), 7);
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "Missing", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(file, "nosection", "UseTcIniDir", 2048), 2048);
    EXPECT_EQ(ReadProfileInt(ProfileName(dir, "none.ini"), "gleanery", "UseTcIniDir", 9), 9);
}

TEST(PlatformProfile, WritesKeepEveryOtherLine) {
    TempDir dir;
    const std::string file = ProfileName(dir, "plugin.ini");
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
    EXPECT_FALSE(WriteProfileString(ProfileName(dir, "missing/x.ini"), "s", "k", "v"));
}
#endif

// ---- system facts ----------------------------------------------------------------------------

TEST(PlatformSystem, EnvironmentModuleAndMemory) {
#if defined(_WIN32)
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE", L"C:\\tc\\wincmd.ini"));
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VALUE"), std::u16string(u"C:\\tc\\wincmd.ini"));
    const std::u16string big(1000, u'v');
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE",
                                        reinterpret_cast<const wchar_t*>(big.c_str())));
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VALUE"), big);
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE", nullptr));
    EXPECT_FALSE(Environment(u"GLEANERY_TEST_VALUE").has_value());
    EXPECT_FALSE(Environment(u"").has_value());
#else
    ScopedEnv set("GLEANERY_TEST_VARIABLE", "C:\\w\xC3\xA4r\\wincmd.ini");
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VARIABLE"), std::u16string(u"C:\\w\u00e4r\\wincmd.ini"));
    ScopedEnv unset("GLEANERY_TEST_UNSET", nullptr);
    EXPECT_FALSE(Environment(u"GLEANERY_TEST_UNSET").has_value());
#endif
    EXPECT_GT(AvailablePhysicalMemory(), 0u);

    // Linked into this test program, the module is the program itself.
    const std::u16string module = ModuleFilePath();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(KindOf(module), PathKind::File);
#if defined(_WIN32)
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(module, std::u16string(reinterpret_cast<const char16_t*>(self), n));
    const uint32_t before = TickCount();
    Sleep(20);
    EXPECT_NE(TickCount(), before);
#else
    EXPECT_EQ(module.front(), u'/');
#endif
}

// ---- message boxes ---------------------------------------------------------------------------

int AnswerNo(void* context, const std::u16string& text, const std::u16string& title,
             uint32_t flags) {
    auto* seen = static_cast<std::u16string*>(context);
    *seen = title + u"|" + text + u"|" + Decimal(flags);
    return kIdNo;
}

TEST(PlatformMessageBox, DefaultsAndHandler) {
    EXPECT_EQ(DefaultAnswer(kMbOk), kIdOk);
    EXPECT_EQ(DefaultAnswer(kMbOk | kMbIconWarning), kIdOk);
    EXPECT_EQ(DefaultAnswer(kMbYesNo), kIdYes);
    EXPECT_EQ(DefaultAnswer(kMbYesNo | kMbDefButton2 | kMbIconWarning), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNo | kMbDefButton2 | kMbIconWarning | kMbSystemModal), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel), kIdYes);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel | kMbDefButton2), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel | 0x200), kIdCancel);

    // The handler answers instead of the system.
    std::u16string seen;
    SetMessageBoxHandler(&AnswerNo, &seen);
    EXPECT_EQ(ShowMessageBox(u"Overwrite?", u"Gleanery", kMbYesNo), kIdNo);
    EXPECT_EQ(seen, u"Gleanery|Overwrite?|4");
    EXPECT_EQ(ShowMessageBox(u"Overwrite \"a.txt\" ?", u"Gleanery",
                             kMbYesNo | kMbIconWarning | kMbDefButton2),
              kIdNo);
    EXPECT_EQ(seen, u"Gleanery|Overwrite \"a.txt\" ?|308");
    SetMessageBoxHandler(nullptr, nullptr);
}

#if !defined(_WIN32)
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
    // The terminal hands its output over in pieces: read until nothing more comes.
    std::string text;
    for (pollfd ready{master, POLLIN, 0}; ::poll(&ready, 1, 200) > 0;) {
        char shown[4096];
        const ssize_t got = ::read(master, shown, sizeof shown);
        if (got <= 0) break;
        text.append(shown, static_cast<size_t>(got));
    }
    ::close(terminal);
    ::close(master);
    EXPECT_EQ(answers[0], kIdYes);
    EXPECT_EQ(answers[1], kIdNo);
    EXPECT_EQ(answers[2], kIdCancel);
    EXPECT_EQ(answers[3], kIdOk);
    EXPECT_NE(text.find("Overwrite?"), std::string::npos);
    EXPECT_NE(text.find("[y/n/c]"), std::string::npos);
}
#endif

// ---- clipboard -------------------------------------------------------------------------------

bool TakeClip(void* context, uint32_t format, const std::string& bytes) {
    *static_cast<std::string*>(context) = std::to_string(format) + ":" + bytes;
    return true;
}

#if defined(_WIN32)
std::string ClipboardBytes(UINT format, size_t size) {
    if (!OpenClipboard(nullptr)) return "<not opened>";
    std::string bytes = "<no data>";
    if (HANDLE data = GetClipboardData(format)) {
        const void* memory = GlobalLock(data);
        if (memory != nullptr) bytes.assign(static_cast<const char*>(memory), size);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return bytes;
}
#endif

TEST(PlatformClipboard, SystemClipboardAndHandler) {
#if defined(_WIN32)
    const std::u16string text = u"f\u00fcnf\r\nzeilen\0";
    const std::string unicode(reinterpret_cast<const char*>(text.data()), text.size() * 2 + 2);
    ASSERT_TRUE(SetClipboard(kCfUnicodeText, unicode));
    EXPECT_EQ(ClipboardBytes(CF_UNICODETEXT, unicode.size()), unicode);
    ASSERT_TRUE(SetClipboard(kCfText, std::string("raw\x01\xff", 6)));
    EXPECT_EQ(ClipboardBytes(CF_TEXT, 6), std::string("raw\x01\xff", 6));
#else
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
#endif
    // A handler takes the text in place of the system clipboard, which is left alone.
    std::string got;
    SetClipboardHandler(&TakeClip, &got);
    EXPECT_TRUE(SetClipboard(kCfText, std::string("ab\0", 3)));
    EXPECT_EQ(got, std::string("1:ab\0", 5));
    SetClipboardHandler(nullptr, nullptr);
#if defined(_WIN32)
    EXPECT_EQ(ClipboardBytes(CF_TEXT, 6), std::string("raw\x01\xff", 6));
#else
    // Without a display there is no clipboard.
    EXPECT_FALSE(SetClipboard(kCfText, std::string("ab\0", 3)));
#endif
}

#if !defined(_WIN32)
TEST(PlatformClipboard, HandsTheTextToXclip) {
    TempDir dir;
    const std::string script = dir.Path("xclip").string();
    WriteAll(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$GLEANERY_FAKE_OUT.args\"\n"
                     "cat > \"$GLEANERY_FAKE_OUT.data\"\n");
    ::chmod(script.c_str(), 0755);
    const std::string path =
        dir.path.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
    ScopedEnv pathVariable("PATH", path.c_str());
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    ScopedEnv display("DISPLAY", ":77");
    const std::string out = dir.Path("clip").string();
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
    fs::copy_file(script, dir.Path("wl-copy"));
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
#endif

} // namespace
} // namespace gleanery::platform
