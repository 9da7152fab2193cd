// Tests of the Win32 platform layer, run under Wine: files and their error numbers, the long
// path form, code pages through the system converters, character tables under the C runtime's
// code page locales, system facts, profile files, message boxes and the clipboard.
#if defined(_WIN32)

#include "platform/char_tables.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/system.h"

#include <gtest/gtest.h>
#include <pcre.h>
#include <windows.h>

#include <clocale>
#include <string>

#undef WriteProfileString

namespace gleanery::platform {
namespace {

std::u16string FromWide(const wchar_t* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}
const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A fresh directory under the system's temporary directory, removed with its files at the end.
struct TempDir {
    std::u16string path; // with a trailing backslash
    TempDir() {
        wchar_t base[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, base);
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            path = std::u16string(reinterpret_cast<const char16_t*>(base), n) + u"gleanery-w32-" +
                   Utf8ToWide(std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount() + attempt)) +
                   u"\\";
            if (CreateDirectoryW(W(path), nullptr)) return;
        }
        path.clear();
    }
    ~TempDir() { Remove(path); }
    static void Remove(const std::u16string& directory) {
        if (directory.empty()) return;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(W(directory + u"*"), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::u16string name = FromWide(found.cFileName);
                if (name == u"." || name == u"..") continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(directory + name + u"\\");
                else
                    DeleteFileW(W(directory + name));
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(W(directory));
    }
};

std::string ReadAll(const std::u16string& path) {
    File file = OpenForReading(path);
    std::string content(1 << 16, '\0');
    size_t got = 0;
    if (!file.IsOpen() || !Read(file, content.data(), content.size(), got)) return "<unreadable>";
    content.resize(got);
    return content;
}

// ---- files -----------------------------------------------------------------------------------

TEST(PlatformWin32Files, OpenModesAndTheirErrorNumbers) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string path = dir.path + u"out.txt";
    uint32_t lastError = 12345;
    {
        File file = OpenOrCreateForWriting(path, lastError);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(lastError, kErrorSuccess);
        ASSERT_TRUE(Write(file, "hello world", 11));
        // Shared for reading only: another writer is refused while it is open.
        EXPECT_EQ(CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
    }
    {
        // Opening an existing file neither truncates it nor reports success.
        File file = OpenOrCreateForWriting(path, lastError);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(lastError, kErrorAlreadyExists);
        ASSERT_TRUE(Seek(file, 5));
        ASSERT_TRUE(Truncate(file));
        ASSERT_TRUE(Write(file, "!", 1));
    }
    EXPECT_EQ(ReadAll(path), "hello!");
    EXPECT_EQ(SizeOf(path), 6);
    EXPECT_EQ(KindOf(path), PathKind::File);
    EXPECT_EQ(KindOf(dir.path), PathKind::Directory);
    EXPECT_EQ(KindOf(dir.path + u"none.txt"), PathKind::Missing);
    EXPECT_EQ(SizeOf(dir.path + u"none.txt"), -1);

    // Devices are neither read nor written, whatever directory their name is given in: the
    // console would wait for input for ever.
    EXPECT_FALSE(OpenForReading(u"NUL").IsOpen());
    EXPECT_FALSE(OpenForReading(dir.path + u"con").IsOpen());
    EXPECT_FALSE(OpenOrCreateForWriting(u"NUL", lastError).IsOpen());
    EXPECT_NE(lastError, kErrorSuccess);

    // Directories are neither read nor written; a missing parent directory is reported as such.
    EXPECT_FALSE(OpenForReading(dir.path).IsOpen());
    EXPECT_FALSE(OpenForReading(dir.path + u"none.txt").IsOpen());
    File onDirectory = OpenOrCreateForWriting(dir.path.substr(0, dir.path.size() - 1), lastError);
    EXPECT_FALSE(onDirectory.IsOpen());
    EXPECT_NE(lastError, kErrorSuccess);
    EXPECT_NE(lastError, kErrorAlreadyExists);
    File inMissing = OpenOrCreateForWriting(dir.path + u"missing\\out.txt", lastError);
    EXPECT_FALSE(inMissing.IsOpen());
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));

    // Reading to the end stops at the file's end; moving a handle keeps it open exactly once.
    File reader = OpenForReading(path);
    ASSERT_TRUE(reader.IsOpen());
    File moved = std::move(reader);
    EXPECT_FALSE(reader.IsOpen());
    char buffer[32];
    size_t got = 0;
    ASSERT_TRUE(Read(moved, buffer, sizeof buffer, got));
    EXPECT_EQ(std::string(buffer, got), "hello!");
    ASSERT_TRUE(Read(moved, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);

    File again = OpenForReading(path);
    EXPECT_TRUE(IsSameFile(moved, again));
    Close(moved);
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_FALSE(IsSameFile(moved, again));
    Close(again);

    EXPECT_TRUE(DeleteFileAt(path));
    EXPECT_FALSE(DeleteFileAt(path));
    EXPECT_EQ(KindOf(path), PathKind::Missing);
}

TEST(PlatformWin32Files, LongPathsThroughTheLongForm) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    EXPECT_TRUE(UsesLongPathPrefix());
    EXPECT_EQ(PathSeparator(), u'\\');
    // A directory and file name that together pass MAX_PATH.
    std::u16string full;
    ASSERT_TRUE(FullPathOf(dir.path, full));
    const std::u16string longDir = u"\\\\?\\" + full + std::u16string(120, u'd');
    ASSERT_TRUE(CreateDirectoryW(W(longDir), nullptr));
    const std::u16string longFile = longDir + u"\\" + std::u16string(150, u'f') + u".txt";
    ASSERT_GE(longFile.size(), 260u);
    uint32_t lastError = 0;
    {
        File file = OpenOrCreateForWriting(longFile, lastError);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(lastError, kErrorSuccess);
        ASSERT_TRUE(Write(file, "deep", 4));
    }
    EXPECT_EQ(KindOf(longFile), PathKind::File);
    EXPECT_EQ(SizeOf(longFile), 4);
    EXPECT_EQ(ReadAll(longFile), "deep");
    EXPECT_TRUE(DeleteFileAt(longFile));
    EXPECT_TRUE(RemoveDirectoryW(W(longDir)));
}

TEST(PlatformWin32Files, ReplacingAFileKeepsItsAttributes) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string target = dir.path + u"Gleanery.ini";
    const std::u16string temporary = dir.path + u"Gleanery.ini.1.tmp";
    uint32_t lastError = 0;
    {
        File old = CreateNewForWriting(target, lastError);
        ASSERT_TRUE(old.IsOpen());
        EXPECT_EQ(lastError, kErrorSuccess);
        ASSERT_TRUE(Write(old, "old", 3));
    }
    EXPECT_FALSE(CreateNewForWriting(target, lastError).IsOpen());
    EXPECT_EQ(lastError, kErrorFileExists);
    ASSERT_TRUE(SetFileAttributesW(W(target), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

    std::u16string resolved;
    ASSERT_TRUE(LinkTargetOf(target, resolved)); // no link: the name itself
    EXPECT_EQ(resolved, target);
    {
        File file = CreateNewForWriting(temporary, lastError);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(TakeOverPermissions(target, file));
        ASSERT_TRUE(Write(file, "new", 3));
        EXPECT_TRUE(FlushToDisk(file));
    }
    ASSERT_TRUE(ReplaceFileWith(temporary, target));
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(KindOf(temporary), PathKind::Missing);
    EXPECT_EQ(GetFileAttributesW(W(target)) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));

    // A read-only file is not taken over; nothing there is no obstacle.
    File other = CreateNewForWriting(temporary, lastError);
    ASSERT_TRUE(other.IsOpen());
    EXPECT_TRUE(TakeOverPermissions(dir.path + u"missing.ini", other));
    ASSERT_TRUE(SetFileAttributesW(W(target), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(TakeOverPermissions(target, other));
    SetFileAttributesW(W(target), FILE_ATTRIBUTE_NORMAL);
    Close(other);

    // A name longer than the system accepts at all, even in the long form.
    std::u16string tooLong = u"\\\\?\\" + dir.path;
    while (tooLong.size() < 33000) tooLong += std::u16string(200, u'n') + u"\\";
    EXPECT_EQ(KindOf(tooLong + u"x.txt"), PathKind::TooLong);
}

TEST(PlatformWin32Files, FullPathResolution) {
    std::u16string full;
    ASSERT_TRUE(FullPathOf(u"C:\\a\\b\\..\\c\\.\\d.txt", full));
    EXPECT_EQ(full, u"C:\\a\\c\\d.txt");
    wchar_t current[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_GT(n, 0u);
    std::u16string here = std::u16string(reinterpret_cast<const char16_t*>(current), n);
    if (here.back() != u'\\') here += u'\\';
    ASSERT_TRUE(FullPathOf(u"x.txt", full));
    EXPECT_EQ(full, here + u"x.txt");
    EXPECT_FALSE(FullPathOf(u"", full));
}

TEST(PlatformWin32Files, InjectedFaultsHitTheNthOperation) {
    ClearFaults();
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::u16string path = dir.path + u"f.txt";
    uint32_t lastError = 0;

    InjectFault(FaultKind::Open, 2);
    File first = OpenOrCreateForWriting(path, lastError);
    EXPECT_TRUE(first.IsOpen());
    Close(first);
    File second = OpenOrCreateForWriting(path, lastError);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(lastError, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    File third = OpenOrCreateForWriting(path, lastError);
    ASSERT_TRUE(third.IsOpen());

    InjectFault(FaultKind::Write, 1);
    EXPECT_FALSE(Write(third, "x", 1));
    EXPECT_TRUE(Write(third, "y", 1));
    InjectFault(FaultKind::Truncate, 1);
    EXPECT_FALSE(Truncate(third));
    EXPECT_TRUE(Truncate(third));
    Close(third);

    InjectFault(FaultKind::Open, 1);
    EXPECT_FALSE(OpenForReading(path).IsOpen());
    File reader = OpenForReading(path);
    ASSERT_TRUE(reader.IsOpen());
    InjectFault(FaultKind::Read, 1);
    char c = 0;
    size_t got = 0;
    EXPECT_FALSE(Read(reader, &c, 1, got));
    EXPECT_TRUE(Read(reader, &c, 1, got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(c, 'y');
    ClearFaults();
}

// ---- code pages ------------------------------------------------------------------------------

TEST(PlatformWin32CodePage, Utf8AndInvalidInput) {
    const std::u16string text = u"a\u00e4\u20ac\U0001F600z";
    const std::string utf8 = WideToUtf8(text);
    EXPECT_EQ(utf8, "a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80z");
    EXPECT_EQ(Utf8ToWide(utf8), text);
    // Invalid bytes become U+FFFD, each, as the system converter does.
    EXPECT_EQ(Utf8ToWide("a\xff"
                         "b"),
              u"a\ufffd"
              u"b");
    // UTF-8 takes no default character even when one is given.
    std::string out = "x";
    ASSERT_TRUE(AppendWideAsCodePage(kUtf8CodePage, u"\u00e4", '#', out));
    EXPECT_EQ(out, "x\xc3\xa4");
    // Appending keeps what was there; empty input appends nothing.
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"", '#', out));
    EXPECT_EQ(out, "x\xc3\xa4");
    std::u16string wide = u"w";
    ASSERT_TRUE(AppendCodePageAsWide(1252, "", wide));
    EXPECT_EQ(wide, u"w");
}

TEST(PlatformWin32CodePage, DefaultCharacterRule) {
    std::string out;
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"\u00e4\u20ac\u03a9", '#', out));
    EXPECT_EQ(out, "\xe4\x80#");
    out.clear();
    // -1 (or anything below 1 as a signed byte) means the system's default character.
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"\u03a9", -1, out));
    EXPECT_EQ(out, "?");
    out.clear();
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"\u03a9", 0, out));
    EXPECT_EQ(out, "?");
    std::u16string wide;
    ASSERT_TRUE(AppendCodePageAsWide(1252, "\xe4\x80", wide));
    EXPECT_EQ(wide, u"\u00e4\u20ac");
    // Cyrillic in 1251 and in the OEM page 866.
    out.clear();
    ASSERT_TRUE(AppendWideAsCodePage(866, u"\u0416", '#', out));
    EXPECT_EQ(out, "\x86");
}

TEST(PlatformWin32CodePage, DoubleBytePagesAndUnknownPages) {
    const std::u16string japanese = u"\u65e5\u672c\u8a9eA";
    std::string sjis;
    ASSERT_TRUE(AppendWideAsCodePage(932, japanese, '#', sjis));
    EXPECT_EQ(sjis, "\x93\xfa\x96\x7b\x8c\xea"
                    "A");
    std::u16string back;
    ASSERT_TRUE(AppendCodePageAsWide(932, sjis, back));
    EXPECT_EQ(back, japanese);
    EXPECT_TRUE(IsLeadByte(932, 0x93));
    EXPECT_FALSE(IsLeadByte(932, 'A'));
    EXPECT_FALSE(IsLeadByte(1252, 0x93));
    EXPECT_FALSE(IsLeadByte(kUtf8CodePage, 0xe4));

    std::string out = "keep";
    EXPECT_FALSE(AppendWideAsCodePage(12345, u"abc", '#', out));
    EXPECT_EQ(out, "keep");
    std::u16string wide = u"keep";
    EXPECT_FALSE(AppendCodePageAsWide(12345, "abc", wide));
    EXPECT_EQ(wide, u"keep");

    // A code page that refuses flags and a default character still converts, with its own
    // substitute (where the system has it at all).
    if (IsValidCodePage(50220)) {
        std::string iso2022;
        EXPECT_TRUE(AppendWideAsCodePage(50220, u"A\u65e5", '#', iso2022));
        EXPECT_FALSE(iso2022.empty());
    }
    // No best-fit look-alikes: a full-width backslash is not a backslash in 1252.
    std::string ansi;
    ASSERT_TRUE(AppendWideAsCodePage(1252, u"\uff3c\u0391", '#', ansi));
    EXPECT_EQ(ansi, "##");
}

TEST(PlatformWin32CodePage, LongTextsRoundTrip) {
    // Far beyond the 2048 characters that fit a fixed buffer, with pairs and double bytes.
    std::u16string text;
    for (int i = 0; i < 50000; ++i) text += (i % 7 == 0) ? u"\U0001F600" : u"\u00e4x\u65e5";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    std::u16string cjk;
    for (int i = 0; i < 30000; ++i) cjk += u"\u65e5a";
    std::string sjis;
    ASSERT_TRUE(AppendWideAsCodePage(932, cjk, '#', sjis));
    EXPECT_EQ(sjis.size(), 90000u);
    std::u16string back;
    ASSERT_TRUE(AppendCodePageAsWide(932, sjis, back));
    EXPECT_EQ(back, cjk);
}

// ---- character tables --------------------------------------------------------------------------

TEST(PlatformWin32CharTables, TablesFollowTheOemAndAnsiPages) {
    const uint32_t ansi = SystemAnsiCodePage();
    const uint32_t oem = SystemOemCodePage();
    EXPECT_EQ(ansi, GetACP());
    EXPECT_EQ(oem, GetOEMCP());
    const unsigned char* oemTables = MakeCharTables(true);
    const unsigned char* ansiTables = MakeCharTables(false);
    ASSERT_NE(oemTables, nullptr);
    ASSERT_NE(ansiTables, nullptr);
    // The locale stays at the ANSI code page afterwards.
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    EXPECT_NE(locale.find(std::to_string(ansi)), std::string::npos) << locale;
    // The first table is the lower-case map: ASCII in both.
    EXPECT_EQ(oemTables['A'], 'a');
    EXPECT_EQ(ansiTables['Z'], 'z');
    // A with diaeresis: 0xC4 in 1252 and 0x8E in 437, lower case 0xE4 and 0x84.
    if (ansi == 1252) {
        EXPECT_EQ(ansiTables[0xC4], 0xE4);
    }
    // Wine's C runtime classifies every 8-bit locale by the ANSI code page, so the OEM letters
    // can only be checked on Windows itself.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (oem == 437 && !wine) {
        EXPECT_EQ(oemTables[0x8E], 0x84);
        EXPECT_NE(oemTables[0xC4], 0xE4);
    }
    // Compiled with the tables, a caseless expression folds the code page's own letters.
    const char* error = nullptr;
    int offset = 0;
    pcre* code = pcre_compile("\xc4", PCRE_CASELESS, &error, &offset, ansiTables);
    ASSERT_NE(code, nullptr);
    int vector[3];
    if (ansi == 1252) {
        EXPECT_EQ(pcre_exec(code, nullptr, "x\xe4", 2, 0, 0, vector, 3), 1);
    }
    pcre_free(code);
    pcre_free(const_cast<unsigned char*>(oemTables));
    pcre_free(const_cast<unsigned char*>(ansiTables));
}

// ---- system facts and profile files ------------------------------------------------------------

TEST(PlatformWin32System, EnvironmentModuleMemory) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE", L"C:\\tc\\wincmd.ini"));
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VALUE"), std::u16string(u"C:\\tc\\wincmd.ini"));
    const std::u16string big(1000, u'v');
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE", W(big)));
    EXPECT_EQ(Environment(u"GLEANERY_TEST_VALUE"), big);
    ASSERT_TRUE(SetEnvironmentVariableW(L"GLEANERY_TEST_VALUE", nullptr));
    EXPECT_FALSE(Environment(u"GLEANERY_TEST_VALUE").has_value());
    EXPECT_FALSE(Environment(u"").has_value());

    // Linked into this test program, the module is the program itself.
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(ModuleFilePath(), std::u16string(reinterpret_cast<const char16_t*>(self), n));
    EXPECT_EQ(KindOf(ModuleFilePath()), PathKind::File);

    EXPECT_GT(AvailablePhysicalMemory(), 0u);
    const uint32_t before = TickCount();
    Sleep(20);
    EXPECT_NE(TickCount(), before);
}

TEST(PlatformWin32Profile, ReadAndWriteIntegers) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string file;
    ASSERT_TRUE(AppendWideAsCodePage(GetACP(), dir.path + u"wincmd.ini", -1, file));
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 2048);
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "1"));
    ASSERT_TRUE(WriteProfileString(file, "Configuration", "languageini", "wcmd_deu.lng"));
    EXPECT_EQ(ReadProfileInt(file, "GLEANERY", "usetcinidir", 2048), 1);
    ASSERT_TRUE(WriteProfileString(file, "gleanery", "UseTcIniDir", "0"));
    EXPECT_EQ(ReadProfileInt(file, "gleanery", "UseTcIniDir", 2048), 0);
    EXPECT_NE(ReadAll(dir.path + u"wincmd.ini").find("languageini=wcmd_deu.lng"),
              std::string::npos);
}

// ---- message boxes and the clipboard
// -------------------------------------------------------------

int Answer(void* context, const std::u16string& text, const std::u16string& title, uint32_t flags) {
    auto* seen = static_cast<std::u16string*>(context);
    *seen = title + u"|" + text + u"|" + Utf8ToWide(std::to_string(flags));
    return kIdYes;
}

TEST(PlatformWin32MessageBox, HandlerAnswersInsteadOfTheSystem) {
    std::u16string seen;
    SetMessageBoxHandler(&Answer, &seen);
    EXPECT_EQ(ShowMessageBox(u"Overwrite \"a.txt\" ?", u"Gleanery",
                             kMbYesNo | kMbIconWarning | kMbDefButton2),
              kIdYes);
    EXPECT_EQ(seen, u"Gleanery|Overwrite \"a.txt\" ?|308");
    SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(DefaultAnswer(kMbYesNo | kMbDefButton2 | kMbIconWarning), kIdNo);
    EXPECT_EQ(DefaultAnswer(kMbYesNoCancel | 0x200), kIdCancel);
    EXPECT_EQ(DefaultAnswer(kMbOk | kMbIconWarning), kIdOk);
}

bool Take(void* context, uint32_t format, const std::string& bytes) {
    *static_cast<std::string*>(context) = std::to_string(format) + ":" + bytes;
    return true;
}

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

TEST(PlatformWin32Clipboard, SystemClipboardAndHandler) {
    const std::u16string text = u"f\u00fcnf\r\nzeilen\0";
    const std::string unicode(reinterpret_cast<const char*>(text.data()), text.size() * 2 + 2);
    ASSERT_TRUE(SetClipboard(kCfUnicodeText, unicode));
    EXPECT_EQ(ClipboardBytes(CF_UNICODETEXT, unicode.size()), unicode);

    ASSERT_TRUE(SetClipboard(kCfText, std::string("raw\x01\xff", 6)));
    EXPECT_EQ(ClipboardBytes(CF_TEXT, 6), std::string("raw\x01\xff", 6));

    std::string taken;
    SetClipboardHandler(&Take, &taken);
    EXPECT_TRUE(SetClipboard(kCfText, "abc"));
    EXPECT_EQ(taken, "1:abc");
    SetClipboardHandler(nullptr, nullptr);
    // The system clipboard was left alone while the handler took the text.
    EXPECT_EQ(ClipboardBytes(CF_TEXT, 6), std::string("raw\x01\xff", 6));
}

} // namespace
} // namespace gleanery::platform

#endif // _WIN32
