// File services on Windows: thin wrappers over the kernel's file API. The fault-injection seam is
// consulted before each operation that tests make fail.
#include "platform/files.h"
#include "platform/faults.h"
#include "platform/system_files.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace gleanery::platform {

namespace {

HANDLE Handle(const File& file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

// Only files on a disk are read and written. A name can stand for a device ("C:\dir\con" is
// the console, whatever the directory holds): reading one could wait for ever. Anything else
// is closed again and counts as an open refused.
FileIdentity IdentityFrom(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow, true};
}

// Which files keep the size their open read: those opened for reading, whose size a search
// takes; the writes to any other file would change it.
enum class SizeAtOpen { Keep, Drop };

File AdoptDiskFile(HANDLE handle, SizeAtOpen size = SizeAtOpen::Drop) {
    if (handle == INVALID_HANDLE_VALUE) return File();
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetLastError(ERROR_ACCESS_DENIED);
        return File();
    }
    File file(reinterpret_cast<intptr_t>(handle));
    // Read once here, for every comparison with this file and the size a search needs; the
    // caller may still read the open's own last error (ERROR_ALREADY_EXISTS) afterwards.
    const DWORD lastError = GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        file.identity = IdentityFrom(info);
        if (size == SizeAtOpen::Keep)
            file.sizeAtOpen = static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 |
                                                   info.nFileSizeLow);
    }
    SetLastError(lastError);
    return file;
}

// ReadFile and WriteFile take 32-bit counts: larger transfers go in pieces of this size.
constexpr size_t kMaxTransfer = size_t{1} << 30;

} // namespace

namespace os {

void CloseHandle(intptr_t handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool AskIdentity(intptr_t handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) return false;
    identity = IdentityFrom(info);
    return true;
}

int64_t AskSize(intptr_t handle) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

} // namespace os

File OpenForReading(const std::u16string& path) {
    if (ShouldFail(FaultKind::Open)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return File();
    }
    return AdoptDiskFile(CreateFileW(win32::Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                         SizeAtOpen::Keep);
}

File OpenInputForReading(const std::u16string& path) {
    return OpenForReading(path);
}

void ForgetInputDirectory() {}

File CreateNewForWriting(const std::u16string& path, uint32_t& lastError) {
    if (ShouldFail(FaultKind::Open)) {
        lastError = ERROR_ACCESS_DENIED;
        return File();
    }
    HANDLE handle = CreateFileW(win32::Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    lastError = GetLastError();
    File file = AdoptDiskFile(handle);
    if (handle != INVALID_HANDLE_VALUE && !file.IsOpen()) lastError = ERROR_ACCESS_DENIED;
    if (file.IsOpen()) lastError = ERROR_SUCCESS;
    return file;
}

File OpenOrCreateForWriting(const std::u16string& path, OpenedFile* opened) {
    if (ShouldFail(FaultKind::Open)) return File();
    HANDLE handle = CreateFileW(win32::Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Taken at once: OPEN_ALWAYS reports ERROR_ALREADY_EXISTS for a file that was there.
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    File file = AdoptDiskFile(handle);
    if (file.IsOpen() && opened != nullptr)
        *opened = existed ? OpenedFile::Existing : OpenedFile::Created;
    return file;
}

bool Read(File& file, void* buffer, size_t count, size_t& got) {
    got = 0;
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Read)) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < count) {
        const DWORD want = static_cast<DWORD>(std::min(count - got, kMaxTransfer));
        DWORD n = 0;
        if (!ReadFile(Handle(file), bytes + got, want, &n, nullptr)) return false;
        if (n == 0) break; // end of file
        got += n;
    }
    return true;
}

bool Write(File& file, const void* data, size_t count) {
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Write)) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min(count - done, kMaxTransfer));
        DWORD n = 0;
        if (!WriteFile(Handle(file), bytes + done, want, &n, nullptr) || n != want) return false;
        done += n;
    }
    return true;
}

bool Seek(File& file, int64_t offset) {
    if (!file.IsOpen() || offset < 0) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(Handle(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool Truncate(File& file) {
    if (!file.IsOpen()) return false;
    if (ShouldFail(FaultKind::Truncate)) return false;
    return SetEndOfFile(Handle(file)) != 0;
}

bool FlushToDisk(File& file) {
    return file.IsOpen() && FlushFileBuffers(Handle(file)) != 0;
}

// The most UTF-16 units a name can have, even in the long form: the length of the system's own
// counted strings, in bytes, is a 16-bit number.
constexpr size_t kMaxNameUnits = 32767;

PathKind KindOf(const std::u16string& path) {
    if (path.empty()) return PathKind::Missing;
    if (path.size() > kMaxNameUnits) return PathKind::TooLong;
    const DWORD attributes = GetFileAttributesW(win32::Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILENAME_EXCED_RANGE ? PathKind::TooLong : PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

int64_t SizeOf(const std::u16string& path) {
    if (path.empty()) return -1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(win32::Wide(path), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                data.nFileSizeLow);
}

bool DeleteFileAt(const std::u16string& path) {
    if (path.empty()) return false;
    return DeleteFileW(win32::Wide(path)) != 0;
}

bool ReplaceFileWith(const std::u16string& source, const std::u16string& target) {
    if (source.empty() || target.empty()) return false;
    // A reader that opened the target without FILE_SHARE_DELETE (our own loads among them) holds
    // off the replace for the moment it reads; a few retries over about a second let it finish.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(win32::Wide(source), win32::Wide(target),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (attempt == 50 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
                              error != ERROR_LOCK_VIOLATION))
            return false;
        Sleep(20);
    }
}

bool LinkTargetOf(const std::u16string& path, std::u16string& target) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(win32::Wide(path));
    // Not there yet, or no reparse point: the name itself is written. Links in the directories
    // above do not matter, a replace in the directory goes through them.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        target = path;
        return true;
    }
    // The system follows every link to the final file when it opens the name; the open handle
    // then tells that file's own name ("\\?\C:\..." or "\\?\UNC\..."). A link whose target
    // does not exist cannot be opened: it is not followed, and not replaced by a file either.
    HANDLE handle =
        CreateFileW(win32::Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < buffer.size()) break;
        buffer.resize(length + 1);
    }
    CloseHandle(handle);
    if (length == 0 || length >= buffer.size()) return false;
    target = win32::FromWide(buffer.data(), length);
    return true;
}

bool TakeOverPermissions(const std::u16string& path, File& file) {
    if (!file.IsOpen() || path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(win32::Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A read-only file is not replaced: writing it in place would have been refused as well.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO info = {}; // times of 0 stay as they are
    info.FileAttributes = (attributes & kKept) ? (attributes & kKept) : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(Handle(file), FileBasicInfo, &info, sizeof info) != 0;
}

bool FullPathOf(const std::u16string& path, std::u16string& full) {
    if (path.empty()) return false;
    // Asked for the length first; the answer may grow if the current directory changes between
    // the two calls, so ask again until the path fits.
    DWORD needed = GetFullPathNameW(win32::Wide(path), 0, nullptr, nullptr);
    for (int attempt = 0; attempt < 4 && needed != 0; ++attempt) {
        std::vector<wchar_t> buffer(needed);
        const DWORD length = GetFullPathNameW(win32::Wide(path), needed, buffer.data(), nullptr);
        if (length == 0) return false;
        if (length < needed) {
            full = win32::FromWide(buffer.data(), length);
            return true;
        }
        needed = length;
    }
    return false;
}

bool UsesLongPathPrefix() {
    return true;
}

} // namespace gleanery::platform
