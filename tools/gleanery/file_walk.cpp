#include "file_walk.h"

#include <algorithm>
#include <unordered_set>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "printable.h"
#include "terminal.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

struct Walker {
    bool follow = false;
    // Whether the same file can be met twice: through links, or under two operands.
    bool mayRepeat = false;
    std::unordered_set<std::string> seenFiles;
    std::unordered_set<std::string> seenDirectories;
    Walk& walk;
};

void Problem(Walker& w, const fs::path& shown, const std::string& reason) {
    Complain(Printable(shown.string()) + ": " + reason);
    w.walk.incomplete = true;
}

// What makes a file the same file whatever the path it is reached by: device and inode on POSIX;
// on Windows the path itself. Empty when it cannot be told.
std::string IdentityOf(const fs::path& path) {
#if defined(_WIN32)
    return path.string();
#else
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return std::string();
    return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
#endif
}

// False for a file or directory taken before in this run.
bool FirstTime(std::unordered_set<std::string>& seen, const fs::path& path) {
    const std::string identity = IdentityOf(path);
    return identity.empty() || seen.insert(identity).second;
}

void AddFile(Walker& w, fs::path path) {
    if (w.mayRepeat && !FirstTime(w.seenFiles, path)) return;
    w.walk.inputs.push_back({std::move(path), false});
}

// An entry of a directory, with the kind the directory listing gave (a link as a link).
struct Entry {
    fs::path::string_type name;
    fs::path path;
    fs::file_type type;
};

// The kind of `entry` without a system call where the listing told it.
fs::file_type KindOf(const fs::directory_entry& entry) {
    std::error_code ec;
    if (entry.is_symlink(ec)) return fs::file_type::symlink;
    if (entry.is_directory(ec)) return fs::file_type::directory;
    if (entry.is_regular_file(ec)) return fs::file_type::regular;
    return fs::file_type::unknown;
}

void WalkDirectory(Walker& w, const fs::path& dir, const fs::path& shown) {
    if (w.follow && !FirstTime(w.seenDirectories, dir)) return;
    std::error_code ec;
    std::vector<Entry> entries;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // The name cut from the path's text: asking the path for it would parse it again.
        const fs::path::string_type& full = it->path().native();
        const size_t cut = full.find_last_of(fs::path::preferred_separator);
        entries.push_back({full.substr(cut + 1), it->path(), KindOf(*it)});
    }
    if (ec) Problem(w, shown, ec.message());
    // Name by name in each directory gives the files in path order, component by component.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (Entry& entry : entries) {
        if (Interrupted()) return;
        fs::file_type type = entry.type;
        if (type == fs::file_type::symlink) {
            if (!w.follow) continue;
            std::error_code kind;
            type = fs::status(entry.path, kind).type();
            if (kind || type == fs::file_type::not_found) {
                Problem(w, shown / entry.name, kind ? kind.message() : "No such file or directory");
                continue;
            }
        }
        // FIFOs, devices and sockets met while walking are not read: a device may never end.
        if (type == fs::file_type::directory)
            WalkDirectory(w, entry.path, shown / entry.name);
        else if (type == fs::file_type::regular)
            AddFile(w, std::move(entry.path));
    }
}

} // namespace

void CollectInputs(const std::vector<std::string>& operands, bool follow, Walk& walk) {
    Walker w{follow, follow || operands.size() > 1, {}, {}, walk};
    bool standardInput = false;
    for (const std::string& operand : operands) {
        if (Interrupted()) return;
        if (operand == "-") {
            if (!standardInput) walk.inputs.push_back({operand, true});
            standardInput = true;
            continue;
        }
        std::error_code ec;
        const fs::path path = fs::absolute(operand, ec).lexically_normal();
        // A link named here is followed, as the user named what it leads to.
        const fs::file_status status = ec ? fs::file_status() : fs::status(path, ec);
        if (ec || status.type() == fs::file_type::not_found) {
            Problem(w, operand, ec ? ec.message() : "No such file or directory");
        } else if (status.type() == fs::file_type::directory) {
            WalkDirectory(w, path, operand);
        } else if (status.type() == fs::file_type::regular) {
            AddFile(w, path);
        } else if (status.type() == fs::file_type::fifo ||
                   status.type() == fs::file_type::character) {
            walk.inputs.push_back({operand, true});
        } else {
            Problem(w, operand, "not a regular file, directory, FIFO or device");
        }
    }
}

} // namespace gleanery::cli
