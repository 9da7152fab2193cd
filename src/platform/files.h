// File services used by the plug-in: the handful of open modes the job, the readers and the
// settings file need, plus the attribute queries. Paths are UTF-16 in the host's own form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gleanery::platform {

// Error numbers that callers compare against after an exclusive create (the Win32 values).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorAccessDenied = 5;    // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorFileExists = 80;     // ERROR_FILE_EXISTS
inline constexpr uint32_t kErrorAlreadyExists = 183; // ERROR_ALREADY_EXISTS

// Where a file lives on disk: device or volume and file number.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool known = false; // read when the file was opened

    bool operator==(const FileIdentity&) const = default;
};

// An open file. Move-only; the destructor closes it.
struct File {
    intptr_t handle = -1; // fd on POSIX, HANDLE on Windows (-1 = INVALID_HANDLE_VALUE)
    // Taken from the attributes the open reads anyway: a job compares every input with its
    // output, which would otherwise cost two queries a file.
    FileIdentity identity;
    // The size read with the identity by OpenForReading (-1: not read). A search takes it from
    // here rather than asking for the name's attributes once more; files opened for writing
    // leave it unread, as their writes change it.
    int64_t sizeAtOpen = -1;

    File() = default;
    explicit File(intptr_t h) : handle(h) {}
    File(intptr_t h, FileIdentity id, int64_t size = -1)
        : handle(h), identity(id), sizeAtOpen(size) {}
    File(File&& other) noexcept
        : handle(other.handle), identity(other.identity), sizeAtOpen(other.sizeAtOpen) {
        other.handle = -1;
        other.identity = {};
        other.sizeAtOpen = -1;
    }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool IsOpen() const { return handle != -1; }
};

// Existing file, read only, others may read too, sequential-scan hint.
File OpenForReading(const std::u16string& path);
// The same for the inputs of a job, which come a directory at a time: on POSIX the directory of
// the last input opened on this thread is kept open and an input in the same directory is opened
// relative to it, so the system looks up one name instead of every directory of the path again.
// ForgetInputDirectory lets the kept directory go: every thread that opened inputs calls it when
// it is done with them (a job on the host's thread, a worker before it ends).
File OpenInputForReading(const std::u16string& path);
void ForgetInputDirectory();

// Read and write, others may read; created here and now, or not at all. Fails with
// kErrorFileExists or kErrorAlreadyExists when anything already has that name (a directory or a
// symbolic link too), so two callers can never both get the same new file.
File CreateNewForWriting(const std::u16string& path, uint32_t& lastError);

// What OpenOrCreateForWriting found at the name.
enum class OpenedFile { Created, Existing };

// Read and write, others may read, opened when it exists and created otherwise; never truncated
// here. Only a file on a disk is opened (no directory, FIFO or device). `opened`, when given,
// tells whether the file was there already.
File OpenOrCreateForWriting(const std::u16string& path, OpenedFile* opened = nullptr);

// Reads up to `count` bytes; `got` receives how many were read. False on a system failure.
bool Read(File& file, void* buffer, size_t count, size_t& got);
// Writes all `count` bytes; false when the system wrote fewer or failed.
bool Write(File& file, const void* data, size_t count);
// Moves the file position to `offset` bytes from the start.
bool Seek(File& file, int64_t offset);
// Cuts the file at its current position (SetEndOfFile).
bool Truncate(File& file);
// Hands what was written to the disk (fsync / FlushFileBuffers) before the file takes the place
// of another.
bool FlushToDisk(File& file);
void Close(File& file);

// Other: exists but is neither a regular file nor a directory (FIFO, socket, device).
// TooLong: the name is longer than the system accepts, so whether anything is there cannot be
// asked at all (it may well be: a directory walk can reach deeper than a whole name may be long).
enum class PathKind { Missing, File, Directory, Other, TooLong };
PathKind KindOf(const std::u16string& path);
// Size from the file's attributes; -1 when they cannot be read.
int64_t SizeOf(const std::u16string& path);
// Size of an open file: the one its open recorded, else the system's answer now (fstat /
// GetFileSizeEx); -1 when it cannot be told.
int64_t SizeOf(const File& file);
bool DeleteFileAt(const std::u16string& path);
// Puts the file `source` in the place of `target` in one step (replacing it when it exists), so
// that `target` is never seen half-written (rename / MoveFileExW with MOVEFILE_REPLACE_EXISTING).
bool ReplaceFileWith(const std::u16string& source, const std::u16string& target);
// The file that writing to `path` reaches: symbolic links (reparse points on Windows) in the last
// part of the name followed to the file they name, even when that does not exist yet. A name
// that is no link is its own target. False when the links cannot be followed (a loop, a link
// that cannot be read).
bool LinkTargetOf(const std::u16string& path, std::u16string& target);
// Gives the new file `file` the permissions of the existing file at `path`: the mode bits (and,
// where the system allows it, the owner and group) on POSIX, the attributes on Windows. True when
// nothing is at `path`. False when what is there cannot be asked or may not be written (read-only
// for us): then it must not be replaced either.
bool TakeOverPermissions(const std::u16string& path, File& file);
// The system's full-path resolution; false when it fails.
bool FullPathOf(const std::u16string& path, std::u16string& full);

// True where file names longer than MAX_PATH need the "\\?\" form (Windows only).
bool UsesLongPathPrefix();

// True when both open files are the same file on disk (same device and file identity). An
// identity the open did not record is asked of the system.
bool IsSameFile(const File& a, const File& b);

} // namespace gleanery::platform
