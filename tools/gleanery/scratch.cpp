#include "scratch.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

// The directory's name, as the signal handler needs it: a fixed buffer, set before any file is
// put in the directory and cleared after it is gone.
fs::path::value_type g_scratch[4096];
std::atomic<bool> g_active{false};

// Where a directory that holds only a few small files goes when the user has not chosen a place
// for temporary files (TMPDIR): the user's runtime directory or the shared memory file system.
// Files made and removed on every run cost a disk file system its journal and inode allocation,
// a millisecond or more per file on a virtual disk; in memory they cost next to nothing.
fs::path MemoryBase() {
#if defined(_WIN32)
    return {};
#else
    if (std::getenv("TMPDIR") != nullptr) return {};
    const char* const candidates[] = {std::getenv("XDG_RUNTIME_DIR"), "/dev/shm"};
    for (const char* candidate : candidates) {
        std::error_code ec;
        if (candidate != nullptr && *candidate == '/' && fs::is_directory(candidate, ec) &&
            ::access(candidate, W_OK | X_OK) == 0)
            return candidate;
    }
    return {};
#endif
}

} // namespace

bool CreateScratch(fs::path& dir, std::string& error, bool smallFilesOnly) {
    std::error_code ec;
    fs::path base = smallFilesOnly ? MemoryBase() : fs::path();
    if (base.empty()) base = fs::temp_directory_path(ec);
    if (ec) {
        error = "no temporary directory: " + ec.message();
        return false;
    }
#if defined(_WIN32)
    std::random_device random;
    for (int attempt = 0; attempt < 16 && dir.empty(); ++attempt) {
        const fs::path candidate = base / ("gleanery-" + std::to_string(random()));
        if (fs::create_directory(candidate, ec)) dir = candidate;
    }
#else
    std::string name = (base / "gleanery-XXXXXX").native();
    if (::mkdtemp(name.data())) dir = name;
#endif
    if (dir.empty() || dir.native().size() >= std::size(g_scratch)) {
        if (!dir.empty()) fs::remove(dir, ec);
        error = "cannot create a temporary directory in " + base.string();
        return false;
    }
    std::memcpy(g_scratch, dir.c_str(), (dir.native().size() + 1) * sizeof g_scratch[0]);
    g_active = true;
    return true;
}

void RemoveScratch() {
    if (!g_active) return;
    std::error_code ec;
    // The directory may be the working directory (streams are searched there), which Windows
    // does not remove.
    fs::current_path(fs::path(g_scratch).parent_path(), ec);
    fs::remove_all(fs::path(g_scratch), ec);
    g_active = false;
}

#if !defined(_WIN32)
namespace {

// Empties the directory open as `dir`, and the directories in it, `depth` levels down at most
// (the copies of streams named by relative paths); only async-signal-safe calls.
void EmptyDirectory(int dir, int depth) {
    // Entries removed while the directory is read may move the others; read it again until a
    // pass finds nothing left to remove.
    for (int pass = 0; pass < 8; ++pass) {
        ::lseek(dir, 0, SEEK_SET);
        bool removed = false;
        alignas(struct dirent64) char buffer[2048];
        ssize_t n;
        while ((n = ::getdents64(dir, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
                const char* name = entry->d_name;
                at += entry->d_reclen;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                if (entry->d_type == DT_DIR && depth > 0) {
                    const int sub = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                    if (sub >= 0) {
                        EmptyDirectory(sub, depth - 1);
                        ::close(sub);
                    }
                    removed = ::unlinkat(dir, name, AT_REMOVEDIR) == 0 || removed;
                } else {
                    removed = ::unlinkat(dir, name, 0) == 0 || removed;
                }
            }
        }
        if (!removed) break;
    }
}

} // namespace
#endif

void RemoveScratchFromSignal() {
    if (!g_active) return;
#if defined(_WIN32)
    // Windows runs console handlers on a thread of their own, where any call is allowed.
    RemoveScratch();
#else
    const int dir = ::open(g_scratch, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        EmptyDirectory(dir, 32);
        ::close(dir);
    }
    ::rmdir(g_scratch);
    g_active = false;
#endif
}

} // namespace gleanery::cli
