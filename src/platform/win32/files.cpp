// File services on Windows: thin wrappers over the kernel's file API. The fault-injection seam is
// consulted before each operation that tests make fail.
#include "platform/files.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace gleanery::platform {

namespace {

HANDLE Handle(const File& file) {
    return reinterpret_cast<HANDLE>(file.handle);
}

// The identity the open recorded, else the system's answer now.
bool IdentityOf(const File& file, FileIdentity& identity) {
    if (!file.IsOpen()) return false;
    if (file.identity.known) {
        identity = file.identity;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(Handle(file), &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    identity.known = true;
    return true;
}

// Only files on a disk are read and written. A name can stand for a device ("C:\dir\con" is
// the console, whatever the directory holds): reading one could wait for ever. Anything else
// is closed again and counts as an open refused.
File AdoptDiskFile(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return File();
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetLastError(ERROR_ACCESS_DENIED);
        return File();
    }
    File file(reinterpret_cast<intptr_t>(handle));
    // Read once here, for every comparison with this file; the caller may still read the
    // open's own last error (ERROR_ALREADY_EXISTS) afterwards.
    const DWORD lastError = GetLastError();
    IdentityOf(file, file.identity);
    SetLastError(lastError);
    return file;
}

// ReadFile and WriteFile take 32-bit counts: larger transfers go in pieces of this size.
constexpr size_t kMaxTransfer = size_t{1} << 30;

} // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close(*this);
        handle = other.handle;
        identity = other.identity;
        other.handle = -1;
        other.identity = {};
    }
    return *this;
}

File::~File() {
    Close(*this);
}

void Close(File& file) {
    if (file.IsOpen()) {
        CloseHandle(Handle(file));
        file.handle = -1;
        file.identity = {};
    }
}

File OpenForReading(const std::u16string& path) {
    if (ShouldFail(FaultKind::Open)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return File();
    }
    return AdoptDiskFile(CreateFileW(win32::Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

File OpenOrCreateForWriting(const std::u16string& path, uint32_t& lastError) {
    if (ShouldFail(FaultKind::Open)) {
        lastError = ERROR_ACCESS_DENIED;
        return File();
    }
    HANDLE handle = CreateFileW(win32::Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Taken at once: OPEN_ALWAYS reports ERROR_ALREADY_EXISTS for a file that was there.
    lastError = GetLastError();
    File file = AdoptDiskFile(handle);
    if (handle != INVALID_HANDLE_VALUE && !file.IsOpen()) lastError = ERROR_ACCESS_DENIED;
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

PathKind KindOf(const std::u16string& path) {
    if (path.empty()) return PathKind::Missing;
    const DWORD attributes = GetFileAttributesW(win32::Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
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
    return MoveFileExW(win32::Wide(source), win32::Wide(target),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
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

bool IsSameFile(const File& a, const File& b) {
    FileIdentity ia;
    FileIdentity ib;
    return IdentityOf(a, ia) && IdentityOf(b, ib) && ia == ib;
}

} // namespace gleanery::platform
