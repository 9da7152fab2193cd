// A fresh directory for one test under the system's temporary directory (removed at the end),
// and whole-file reads and writes. POSIX only: test files that include this header are left out
// of the Windows build (tests/CMakeLists.txt).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/codepage.h"

namespace gleanery::test {

struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& prefix = "gleanery-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        path = ::mkdtemp(pattern.data());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::u16string Wide(const std::string& name) const {
        return platform::Utf8ToWide((path / name).string());
    }
    std::string Narrow(const std::string& name) const { return (path / name).string(); }
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace gleanery::test
