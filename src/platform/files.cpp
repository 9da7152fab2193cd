// The file services that are the same on every system: an open file's ownership (a move hands
// it over, the last owner closes it) and the comparison of two open files by their identity.
#include "platform/files.h"

#include "platform/system_files.h"

namespace gleanery::platform {

namespace {

// The identity the open recorded, else the system's answer now.
bool IdentityOf(const File& file, FileIdentity& identity) {
    if (!file.IsOpen()) return false;
    if (file.identity.known) {
        identity = file.identity;
        return true;
    }
    return os::AskIdentity(file.handle, identity);
}

} // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close(*this);
        handle = other.handle;
        identity = other.identity;
        sizeAtOpen = other.sizeAtOpen;
        other.handle = -1;
        other.identity = {};
        other.sizeAtOpen = -1;
    }
    return *this;
}

File::~File() {
    Close(*this);
}

void Close(File& file) {
    if (file.IsOpen()) {
        os::CloseHandle(file.handle);
        file.handle = -1;
        file.identity = {};
        file.sizeAtOpen = -1;
    }
}

int64_t SizeOf(const File& file) {
    if (!file.IsOpen()) return -1;
    return file.sizeAtOpen >= 0 ? file.sizeAtOpen : os::AskSize(file.handle);
}

bool IsSameFile(const File& a, const File& b) {
    FileIdentity ia;
    FileIdentity ib;
    return IdentityOf(a, ia) && IdentityOf(b, ib) && ia == ib;
}

} // namespace gleanery::platform
