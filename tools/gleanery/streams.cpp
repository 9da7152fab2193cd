#include "streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "terminal.h"
#include "wide_names.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

std::string Reason() {
    return std::strerror(errno);
}

std::FILE* OpenFile(const fs::path& path, bool write) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

// Copies everything `in` gives into `to`. Ctrl-C stops the copy (what was read is kept).
bool CopyAll(std::FILE* in, const fs::path& to, const std::string& shown, std::string& error) {
    std::FILE* out = OpenFile(to, true);
    const std::string failed = "cannot copy " + shown + " into " + to.parent_path().string() + ": ";
    if (!out) {
        error = failed + Reason();
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool written = true;
    size_t n = 0;
    while (written && !Interrupted() && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        written = std::fwrite(buffer.data(), 1, n, out) == n;
    const bool read = !std::ferror(in);
    if (!read) error = shown + ": " + Reason();
    written = std::fclose(out) == 0 && written;
    if (read && !written) error = failed + Reason();
    return read && written;
}

#if !defined(_WIN32)
// The descriptor a name like /dev/fd/63 (what a shell's <(...) gives) or /dev/stdin stands for
// in this process; -1 for any other name.
int DescriptorNamed(const std::string& name) {
    if (name == "/dev/stdin") return STDIN_FILENO;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const size_t length = std::strlen(prefix);
        if (name.compare(0, length, prefix) != 0 || name.size() == length ||
            name.size() > length + 6)
            continue;
        int fd = 0;
        for (size_t i = length; i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9') return -1;
            fd = fd * 10 + (name[i] - '0');
        }
        return fd;
    }
    return -1;
}
#endif

} // namespace

bool CopyStream(const Input& input, const fs::path& scratch, size_t index, std::u16string& entry,
                std::string& error) {
    const fs::path path(input.path);
    if (path == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        entry = WideName(fs::path(kStandardInputName));
        return CopyAll(stdin, scratch / kStandardInputName, "standard input", error);
    }
    const std::string shown = path.string();
    std::FILE* in = OpenFile(path, false);
    if (!in) {
        error = shown + ": " + Reason();
        return false;
    }
#if !defined(_WIN32)
    // The descriptor is made to lead to the copy, so that the name reaches it.
    if (const int fd = DescriptorNamed(shown); fd >= 0) {
        const fs::path copy = scratch / ("stream-" + std::to_string(index));
        const bool copied = CopyAll(in, copy, shown, error);
        std::fclose(in);
        if (!copied) return false;
        const int opened = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
        if (opened < 0 || ::dup2(opened, fd) < 0) {
            error = shown + ": " + Reason();
            if (opened >= 0) ::close(opened);
            return false;
        }
        ::close(opened);
        entry = WideName(path);
        return true;
    }
#else
    (void)index;
#endif
    fs::path relative = path.lexically_normal();
    if (relative.is_absolute() || relative.has_root_name() || *relative.begin() == "..")
        relative = fs::absolute(path).lexically_normal().relative_path();
    std::error_code ec;
    fs::create_directories(scratch / relative.parent_path(), ec);
    const bool copied = CopyAll(in, scratch / relative, shown, error);
    std::fclose(in);
    entry = WideName(relative);
    return copied;
}

} // namespace gleanery::cli
