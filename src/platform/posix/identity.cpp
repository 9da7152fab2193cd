#include <sys/stat.h>

#include "platform/files.h"

namespace gleanery::platform {

bool IsSameFile(const File& a, const File& b) {
    struct stat sa {};
    struct stat sb {};
    if (!a.IsOpen() || !b.IsOpen()) return false;
    if (fstat(static_cast<int>(a.handle), &sa) != 0 || fstat(static_cast<int>(b.handle), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace gleanery::platform
