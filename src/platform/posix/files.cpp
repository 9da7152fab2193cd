// File services on POSIX: file descriptors behind the Win32-shaped interface of files.h.
#include "platform/files.h"
#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/system_files.h"
#include "platform/unicode.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace gleanery::platform {

namespace {

// Win32 error numbers that the callers and the tests may see after an exclusive create.
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorFilenameTooLong = 206;

uint32_t Win32ErrorOf(int error) {
    switch (error) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
        return kErrorAccessDenied;
    case EEXIST:
        return kErrorFileExists;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    default:
        return kErrorGenFailure;
    }
}

// The file system's name for `path`. A POSIX name is bytes and need not be UTF-8: a host hands
// over each byte outside a well-formed UTF-8 sequence as the unpaired surrogate U+DC80..U+DCFF
// (U+DC00 + the byte), which becomes that byte again here. False for a name that no file can
// have: one with a zero unit (the system would cut the name there) or any other unpaired
// surrogate (UTF-8 has no form for it, and its replacement character would name a different
// file).
bool SystemPath(const std::u16string& path, std::string& name) {
    const size_t n = path.size();
    // Written in one pass into room for the longest form (three bytes a unit), most names being
    // ASCII all through.
    name.resize(3 * n);
    char* out = name.data();
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = path[i];
        if (c < 0x80) {
            if (c == 0) return false;
            *out++ = static_cast<char>(c);
        } else if (IsEscapedByte(c)) {
            *out++ = EscapedByteOf(c);
        } else if (IsHighSurrogate(c)) {
            if (!IsSurrogatePairAt(path, i)) return false;
            out = EncodeUtf8Of4(CodePointFromSurrogates(c, path[i + 1]), out);
            ++i;
        } else if (IsLowSurrogate(c)) {
            return false;
        } else {
            out = EncodeUtf8(c, out);
        }
    }
    name.resize(static_cast<size_t>(out - name.data()));
    return true;
}

// The wide form of a name the system gave (a link's content); false when it has none that leads
// back to the same bytes.
bool WidePath(const std::string& name, std::u16string& path) {
    path = Utf8ToWide(name);
    return WideToUtf8(path) == name;
}

int Fd(const File& file) {
    return static_cast<int>(file.handle);
}

FileIdentity IdentityFrom(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), true};
}

// open(2), asked again for as long as a signal interrupts it.
int OpenRetrying(const std::string& name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(name.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// O_EXCL also refuses a symbolic link of that name, dangling or not: the new file is never made
// somewhere else.
constexpr int kCreateExclusive = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC;

// A file an exclusive create has just made, with its identity.
File CreatedFile(int fd) {
    File created(fd);
    struct stat info;
    if (::fstat(fd, &info) == 0) created.identity = IdentityFrom(info);
    return created;
}

} // namespace

namespace os {

void CloseHandle(intptr_t handle) {
    ::close(static_cast<int>(handle));
}

bool AskIdentity(intptr_t handle, FileIdentity& identity) {
    struct stat info;
    if (::fstat(static_cast<int>(handle), &info) != 0) return false;
    identity = IdentityFrom(info);
    return true;
}

int64_t AskSize(intptr_t handle) {
    struct stat info;
    if (::fstat(static_cast<int>(handle), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

} // namespace os

// Files from this size on are read in large pieces from start to end; the kernel is told so.
constexpr off_t kSequentialHintBytes = off_t{1} << 20;

namespace {

// The directory of the last input this thread opened (see OpenInputForReading). Plain data:
// a thread-local object with a destructor would have the system call into this library when the
// thread ends, and a host may have unloaded the library by then (ForgetInputDirectory lets the
// directory go instead, at the end of every job and of every worker).
struct InputDirectory {
    // The directory's system form, and its descriptor once a second input in it was opened
    // (kNotOpened before, kCannotKeep when it could not be opened).
    std::string* path = nullptr;
    int fd = -1;
    // The system's form of the last name opened, its room kept from input to input.
    std::string* name = nullptr;
};
thread_local InputDirectory tInputDirectory;
constexpr int kNotOpened = -1;
constexpr int kCannotKeep = -3;

void CloseKept(InputDirectory& kept) {
    if (kept.fd >= 0) ::close(kept.fd);
    kept.fd = kNotOpened;
}

// Without O_NONBLOCK, opening a FIFO would wait for a writer that may never come.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

// A kept directory is only looked up in, never read: where the system has it, a descriptor for
// that alone, which also needs no read permission (as the plain open of a name below it needs
// none).
#ifdef O_PATH
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The answer of OpenInDirectory that leaves the name to a plain open.
constexpr int kPlainOpen = -2;

// `name` opened for reading relative to the thread's kept directory; -1 with errno set as
// open(2) sets it. The first input of another directory is left to a plain open
// (kPlainOpen), its directory noted: the directory is opened for a second input in it, since
// a tree's directories mostly give a worker one or two files, and for one the directory's open
// would cost what the plain open saves. A name without a directory, or one whose directory
// cannot be kept (no descriptor left, say), goes to a plain open too.
int OpenInDirectory(const std::string& name) {
    const size_t cut = name.rfind('/');
    if (cut == std::string::npos || cut == 0 || cut + 1 == name.size()) return kPlainOpen;
    InputDirectory& kept = tInputDirectory;
    if (kept.path == nullptr || kept.path->size() != cut || name.compare(0, cut, *kept.path) != 0) {
        CloseKept(kept);
        if (kept.path == nullptr) kept.path = new std::string();
        kept.path->assign(name, 0, cut);
        return kPlainOpen;
    }
    if (kept.fd == kNotOpened) {
        int fd;
        do {
            fd = ::open(kept.path->c_str(), kDirectoryFlags);
        } while (fd < 0 && errno == EINTR);
        kept.fd = fd < 0 ? kCannotKeep : fd;
    }
    if (kept.fd < 0) return kPlainOpen;
    int fd;
    do {
        fd = ::openat(kept.fd, name.c_str() + cut + 1, kReadFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// An opened descriptor as a readable regular file, or none.
File ReadableFile(int fd) {
    if (fd < 0) return File();
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        // Only regular files are read: CreateFileW does not open directories without backup
        // semantics, and FIFOs, sockets and devices have no fixed content to search.
        ::close(fd);
        errno = EACCES;
        return File();
    }
    // O_NONBLOCK stays: it changes nothing for a regular file, whose reads never wait, and
    // clearing it would cost two more system calls for every file of a large selection.
    if (info.st_size >= kSequentialHintBytes) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return File(fd, IdentityFrom(info), static_cast<int64_t>(info.st_size));
}

// `path` opened for reading; with `inKeptDirectory`, relative to the thread's kept directory.
File OpenReading(const std::u16string& path, bool inKeptDirectory) {
    if (ShouldFail(FaultKind::Open)) {
        errno = EACCES;
        return File();
    }
    std::string plainName;
    InputDirectory& kept = tInputDirectory;
    if (inKeptDirectory && kept.name == nullptr) kept.name = new std::string();
    std::string& name = inKeptDirectory ? *kept.name : plainName;
    if (!SystemPath(path, name)) {
        errno = ENOENT;
        return File();
    }
    const int fd = inKeptDirectory ? OpenInDirectory(name) : kPlainOpen;
    return ReadableFile(fd != kPlainOpen ? fd : OpenRetrying(name, kReadFlags));
}

} // namespace

File OpenInputForReading(const std::u16string& path) {
    return OpenReading(path, true);
}

void ForgetInputDirectory() {
    InputDirectory& kept = tInputDirectory;
    CloseKept(kept);
    delete kept.path;
    kept.path = nullptr;
    delete kept.name;
    kept.name = nullptr;
}

File OpenForReading(const std::u16string& path) {
    return OpenReading(path, false);
}

File CreateNewForWriting(const std::u16string& path, uint32_t& lastError) {
    if (ShouldFail(FaultKind::Open)) {
        lastError = kErrorAccessDenied;
        return File();
    }
    std::string name;
    if (!SystemPath(path, name)) {
        lastError = kErrorPathNotFound;
        return File();
    }
    const int fd = OpenRetrying(name, kCreateExclusive, 0666);
    if (fd < 0) {
        lastError = Win32ErrorOf(errno);
        return File();
    }
    lastError = kErrorSuccess;
    return CreatedFile(fd);
}

File OpenOrCreateForWriting(const std::u16string& path, OpenedFile* opened) {
    std::string name;
    if (ShouldFail(FaultKind::Open) || !SystemPath(path, name)) return File();
    // Open an existing file first so that the answer tells apart "opened" and "created", as
    // OPEN_ALWAYS does; the exclusive create closes the race with another creator.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = OpenRetrying(name, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            // Only a regular file is written: a FIFO or a device would take the output
            // somewhere else (or block once its buffer is full).
            struct stat info;
            const int flags = ::fcntl(fd, F_GETFL);
            if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
                ::close(fd);
                return File();
            }
            if (opened != nullptr) *opened = OpenedFile::Existing;
            return File(fd, IdentityFrom(info));
        }
        if (errno != ENOENT) return File();
        fd = OpenRetrying(name, kCreateExclusive, 0666);
        if (fd >= 0) {
            if (opened != nullptr) *opened = OpenedFile::Created;
            return CreatedFile(fd);
        }
        if (errno != EEXIST) return File();
    }
    return File();
}

bool Read(File& file, void* buffer, size_t count, size_t& got) {
    got = 0;
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Read)) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < count) {
        const ssize_t n = ::read(Fd(file), bytes + got, count - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break; // end of file
        got += static_cast<size_t>(n);
    }
    return true;
}

bool Write(File& file, const void* data, size_t count) {
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Write)) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(Fd(file), bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Seek(File& file, int64_t offset) {
    if (!file.IsOpen() || offset < 0) return false;
    return ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool Truncate(File& file) {
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Truncate)) return false;
    const off_t here = ::lseek(Fd(file), 0, SEEK_CUR);
    if (here < 0) return false;
    int result;
    do {
        result = ::ftruncate(Fd(file), here);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool FlushToDisk(File& file) {
    if (!file.IsOpen()) return false;
    int result;
    do {
        result = ::fsync(Fd(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

PathKind KindOf(const std::u16string& path) {
    std::string name;
    if (path.empty() || !SystemPath(path, name)) return PathKind::Missing;
    struct stat info;
    if (::stat(name.c_str(), &info) != 0)
        return errno == ENAMETOOLONG ? PathKind::TooLong : PathKind::Missing;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

int64_t SizeOf(const std::u16string& path) {
    std::string name;
    if (path.empty() || !SystemPath(path, name)) return -1;
    struct stat info;
    if (::stat(name.c_str(), &info) != 0) return -1;
    // Directories have no size in their attributes.
    if (S_ISDIR(info.st_mode)) return 0;
    return static_cast<int64_t>(info.st_size);
}

bool ReplaceFileWith(const std::u16string& source, const std::u16string& target) {
    std::string from, to;
    if (source.empty() || target.empty() || !SystemPath(source, from) || !SystemPath(target, to))
        return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFileAt(const std::u16string& path) {
    std::string name;
    if (path.empty() || !SystemPath(path, name)) return false;
    return ::unlink(name.c_str()) == 0;
}

bool LinkTargetOf(const std::u16string& path, std::u16string& target) {
    std::string name;
    if (path.empty() || !SystemPath(path, name)) return false;
    // The system's own limit on links followed in one lookup.
    constexpr int kMaxLinks = 40;
    for (int followed = 0; followed <= kMaxLinks; ++followed) {
        struct stat info;
        if (::lstat(name.c_str(), &info) != 0) {
            // Nothing there (yet): the name itself is written. Any other failure leaves the
            // question open, and the write would not get further.
            if (errno != ENOENT) return false;
            return WidePath(name, target);
        }
        if (!S_ISLNK(info.st_mode)) return WidePath(name, target);
        std::vector<char> buffer(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        ssize_t length;
        for (;;) {
            length = ::readlink(name.c_str(), buffer.data(), buffer.size());
            if (length < 0) return false;
            if (static_cast<size_t>(length) < buffer.size()) break;
            // The link changed since lstat: ask again with room to spare.
            buffer.resize(buffer.size() * 2);
        }
        std::string next(buffer.data(), static_cast<size_t>(length));
        if (next.empty()) return false;
        if (next.front() != '/') {
            // Relative to the directory that holds the link.
            const size_t slash = name.rfind('/');
            if (slash != std::string::npos) next = name.substr(0, slash + 1) + next;
        }
        name = std::move(next);
    }
    return false;
}

bool TakeOverPermissions(const std::u16string& path, File& file) {
    std::string name;
    if (!file.IsOpen() || path.empty() || !SystemPath(path, name)) return false;
    struct stat info;
    if (::stat(name.c_str(), &info) != 0) return errno == ENOENT;
    // A file we may not write is not replaced behind its owner's back either: writing it in
    // place would have been refused as well.
    if (!S_ISREG(info.st_mode) || ::access(name.c_str(), W_OK) != 0) return false;
    // The owner first: changing it clears the set-user and set-group bits that the mode then
    // puts back. Only a privileged process may give a file away; anyone else keeps their own.
    struct stat mine;
    if (::fstat(Fd(file), &mine) != 0) return false;
    if (mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) {
        if (::fchown(Fd(file), info.st_uid, info.st_gid) != 0)
            (void)!::fchown(Fd(file), static_cast<uid_t>(-1), info.st_gid);
    }
    return ::fchmod(Fd(file), info.st_mode & 07777) == 0;
}

bool FullPathOf(const std::u16string& path, std::u16string& full) {
    if (path.empty()) return false;
    std::u16string absolute;
    if (path.front() != u'/') {
        std::vector<char> buffer(4096);
        while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
            buffer.resize(buffer.size() * 2);
        }
        absolute = Utf8ToWide(buffer.data());
        absolute += u'/';
    }
    absolute += path;

    // Lexical normalisation: no symbolic links are followed and the file need not exist.
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(absolute);
    bool trailingSeparator = false;
    while (!rest.empty()) {
        const size_t slash = rest.find(u'/');
        const std::u16string_view part = rest.substr(0, slash);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
        trailingSeparator = slash != std::u16string_view::npos && rest.empty();
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::u16string result;
    for (const auto& part : parts) {
        result += u'/';
        result += part;
    }
    if (result.empty() || trailingSeparator) result += u'/';
    full = std::move(result);
    return true;
}

bool UsesLongPathPrefix() {
    return false;
}

} // namespace gleanery::platform
