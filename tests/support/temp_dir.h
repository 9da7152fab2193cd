// A fresh directory for one test under the system's temporary directory, removed with everything
// in it at the end, and whole-file reads and writes. Portable: std::filesystem only, so the same
// helper serves the native and the Windows builds, the unit and the plug-in tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace gleanery::test {

struct TempDir {
    std::filesystem::path path;

    explicit TempDir(const std::string& prefix = "gleanery-test") {
        namespace fs = std::filesystem;
        // A name from the clock and a counter; create_directory refuses one that exists, so two
        // tests (or two test programs) never share a directory.
        static unsigned counter = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0; attempt < 1000; ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() /
                (prefix + "-" + std::to_string(stamp) + "-" + std::to_string(++counter));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                path = candidate;
                return;
            }
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }

    // The path of `name` (UTF-8) inside the directory; in the UTF-16 form the platform layer takes;
    // as a string in the system's narrow form.
    std::filesystem::path Path(std::string_view name) const {
        return path / std::filesystem::path(std::u8string(name.begin(), name.end()));
    }
    std::u16string Wide(std::string_view name) const { return Path(name).u16string(); }
    std::string Narrow(std::string_view name) const { return Path(name).string(); }
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace gleanery::test
