#include "output_reason.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace gleanery::cli {

std::string WhyNotCreated(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::directory) return ": a directory has that name";
    if (fs::exists(status) && status.type() != fs::file_type::regular)
        return ": not a regular file";
    const fs::file_status parent = fs::status(path.parent_path(), ec);
    if (!fs::exists(parent)) return std::string(": ") + std::strerror(ENOENT);
    if (parent.type() != fs::file_type::directory)
        return std::string(": ") + std::strerror(ENOTDIR);
    // Try it: the system's answer is the reason.
    const bool existed = fs::exists(status);
#if defined(_WIN32)
    std::FILE* file = _wfopen(path.c_str(), L"ab");
#else
    std::FILE* file = std::fopen(path.c_str(), "ab");
#endif
    if (!file) return std::string(": ") + std::strerror(errno);
    std::fclose(file);
    if (!existed) fs::remove(path, ec);
    return std::string();
}

std::string WhyNotWritten(const fs::path& path) {
    std::error_code ec;
    const fs::space_info space = fs::space(path.parent_path(), ec);
    if (!ec && space.available == 0) return std::string(": ") + std::strerror(ENOSPC);
    return std::string();
}

} // namespace gleanery::cli
