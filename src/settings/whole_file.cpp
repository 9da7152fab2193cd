// Reading a settings file whole and replacing it whole.
#include "settings/whole_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/files.h"

namespace gleanery {

namespace {

constexpr int64_t kMaxSettingsFileSize = 5242880; // 5 MiB

// A name beside `path` for one save's temporary file, so that saves running at the same moment
// (two processes, or the dialog and a job) each take their own: different for every save of this
// process (the counter) and, in all likelihood, from every other process's (the clock and where
// this process has its data). A clash costs only another try, the file is created exclusively.
std::u16string TemporaryNameFor(const std::u16string& path) {
    static std::atomic<uint32_t> counter{0};
    uint64_t bits =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&counter) ^
        (uint64_t{counter.fetch_add(1)} * 0x9E3779B97F4A7C15ULL);
    // Mixed so that close inputs give names that differ in every digit.
    bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ULL;
    bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBULL;
    bits ^= bits >> 31;
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string name = path + u'.';
    for (int i = 0; i < 12; ++i, bits >>= 4) name += kDigits[bits & 15];
    return name + u".tmp";
}

// Creates this save's own temporary file beside `path`. It is created exclusively, so it can be
// no other save's file, nor a file or directory that merely has a name like it; another name is
// tried when one is taken.
platform::File CreateTemporaryFile(const std::u16string& path, std::u16string& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = TemporaryNameFor(path);
        uint32_t lastError = 0;
        platform::File file = platform::CreateNewForWriting(temporary, lastError);
        if (file.IsOpen()) return file;
        if (lastError != platform::kErrorFileExists && lastError != platform::kErrorAlreadyExists)
            break;
    }
    return platform::File();
}

} // namespace

// Reads the open file to its end rather than to the size its name reports: a save in another
// process may put a new file under that name between the open and the question, and the bytes
// read must all come from the one file that was opened.
bool ReadWholeFile(const std::u16string& path, std::string& data) {
    platform::File file = platform::OpenForReading(path);
    if (!file.IsOpen()) return false;
    const int64_t size = platform::SizeOf(path);
    if (size > kMaxSettingsFileSize) return false;
    data.clear();
    data.resize(static_cast<size_t>(std::clamp<int64_t>(size, 0, kMaxSettingsFileSize)) + 1);
    size_t total = 0;
    for (;;) {
        if (total == data.size()) {
            if (total > static_cast<size_t>(kMaxSettingsFileSize)) return false;
            data.resize(std::min<size_t>(total * 2, kMaxSettingsFileSize + 1));
        }
        size_t got = 0;
        if (!platform::Read(file, data.data() + total, data.size() - total, got)) return false;
        if (got == 0) break;
        total += got;
    }
    data.resize(total);
    return true;
}

// The file replaced is the one the user has: a symbolic link is followed and its target
// replaced (the link stays a link), and the new file gets the old one's permissions. Other hard
// links to the old file keep the old content: a file that all of its names share can only be
// changed by writing into it, and a write in place can fail halfway or be read half-done.
bool ReplaceFileContent(const std::u16string& path, const std::string& data, bool durable) {
    std::u16string target;
    if (!platform::LinkTargetOf(path, target)) return false;
    std::u16string temporary;
    platform::File file = CreateTemporaryFile(target, temporary);
    if (!file.IsOpen()) return false;
    bool ok = platform::TakeOverPermissions(target, file) &&
              platform::Write(file, data.data(), data.size()) &&
              (!durable || platform::FlushToDisk(file));
    platform::Close(file);
    ok = ok && platform::ReplaceFileWith(temporary, target);
    if (!ok) platform::DeleteFileAt(temporary);
    return ok;
}

} // namespace gleanery
