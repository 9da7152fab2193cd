#include "file_walk.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>

#if !defined(_WIN32)
#include <dirent.h>
#include <sys/stat.h>
#endif

#include "printable.h"
#include "terminal.h"

namespace fs = std::filesystem;

namespace gleanery::cli {

namespace {

using Text = fs::path::string_type;

struct Walker {
    bool follow = false;
    // Whether the same file can be met twice: through links, or under two operands.
    bool mayRepeat = false;
    // Following links: every file taken. Otherwise the files named as operands: a walk that
    // follows no link and enters no directory twice meets every other file once, so a file it
    // meets costs no look-up of its identity unless some file was named.
    std::unordered_set<std::string> seenFiles;
    std::unordered_set<std::string> seenDirectories;
    Walk& walk;
};

// Ctrl-C, or the taker of the inputs wants no more.
bool Stopped(const Walker& w) {
    return Interrupted() || (w.walk.feed != nullptr && w.walk.feed->abandoned);
}

// Hands the inputs found so far to the feed, if there is one.
void Publish(Walk& walk) {
    if (walk.feed == nullptr || walk.inputs.empty()) return;
    WalkFeed& feed = *walk.feed;
    {
        std::lock_guard guard(feed.lock);
        if (feed.inputs.empty())
            feed.inputs.swap(walk.inputs);
        else
            feed.inputs.insert(feed.inputs.end(), std::make_move_iterator(walk.inputs.begin()),
                               std::make_move_iterator(walk.inputs.end()));
    }
    walk.inputs.clear();
    feed.found.notify_one();
}

// A run of inputs goes to the feed at each directory's end, or once it is this long.
constexpr size_t kLongestRun = 256;

void Problem(Walker& w, const Text& shown, const std::string& reason) {
    std::string report = Printable(fs::path(shown).string()) + ": " + reason;
    if (w.walk.holdProblems)
        w.walk.heldProblems.push_back(std::move(report));
    else
        Complain(report);
    w.walk.incomplete = true;
}

bool IsSeparator(Text::value_type c) {
    return c == '/' || c == fs::path::preferred_separator;
}

// `name` inside the directory `dir`, as a path object would join them, without one.
Text Joined(const Text& dir, const Text& name) {
    if (dir.empty()) return name;
    Text joined;
    joined.reserve(dir.size() + 1 + name.size());
    joined = dir;
    if (!IsSeparator(dir.back())) joined.push_back(fs::path::preferred_separator);
    joined += name;
    return joined;
}

// What makes a file the same file whatever the path it is reached by: device and inode on POSIX;
// on Windows the path itself. Empty when it cannot be told.
#if !defined(_WIN32)
std::string IdentityFrom(const struct stat& s) {
    return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
}
#endif

std::string IdentityOf(const Text& path) {
#if defined(_WIN32)
    return fs::path(path).string();
#else
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return std::string();
    return IdentityFrom(s);
#endif
}

// False for a file or directory taken before in this run.
bool FirstTime(std::unordered_set<std::string>& seen, const Text& path) {
    const std::string identity = IdentityOf(path);
    return identity.empty() || seen.insert(identity).second;
}

// A regular file met while walking a directory.
void AddWalkedFile(Walker& w, Text path) {
    if (w.follow ? !FirstTime(w.seenFiles, path)
                 : !w.seenFiles.empty() && w.seenFiles.count(IdentityOf(path)) != 0)
        return;
    w.walk.inputs.push_back({std::move(path), false});
    if (w.walk.inputs.size() >= kLongestRun) Publish(w.walk);
}

// Whether the directory that holds the file `path` leads to (through any links) was walked: it
// took every regular file in it.
bool InWalkedDirectory(const Walker& w, const Text& path) {
    std::error_code ec;
    const fs::path target = fs::canonical(fs::path(path), ec);
    if (ec) return false;
    const std::string identity = IdentityOf(target.parent_path().native());
    return !identity.empty() && w.seenDirectories.count(identity) != 0;
}

// A file named as an operand.
void AddNamedFile(Walker& w, Text path) {
    if (w.mayRepeat) {
        if (!w.follow && InWalkedDirectory(w, path)) return;
        if (!FirstTime(w.seenFiles, path)) return;
    }
    w.walk.inputs.push_back({std::move(path), false});
}

// An entry of a directory, with the kind the directory listing gave (a link as a link).
struct Entry {
    Text name;
    fs::file_type type;
};

#if defined(_WIN32)

fs::file_type KindOf(const fs::directory_entry& entry) {
    std::error_code ec;
    if (entry.is_symlink(ec)) return fs::file_type::symlink;
    if (entry.is_directory(ec)) return fs::file_type::directory;
    if (entry.is_regular_file(ec)) return fs::file_type::regular;
    return fs::file_type::unknown;
}

void ListDirectory(const Text& dir, std::vector<Entry>& entries, std::error_code& ec,
                   std::string* identity) {
    if (identity != nullptr) *identity = IdentityOf(dir);
    fs::directory_iterator it(fs::path(dir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const Text& full = it->path().native();
        const size_t cut = full.find_last_of(fs::path::preferred_separator);
        entries.push_back({full.substr(cut + 1), KindOf(*it)});
    }
}

#else

// The kind the listing told, or the entry's own attributes where the file system does not tell
// (a link is not followed).
fs::file_type KindOf(const Text& dir, const dirent& entry) {
    switch (entry.d_type) {
    case DT_LNK:
        return fs::file_type::symlink;
    case DT_DIR:
        return fs::file_type::directory;
    case DT_REG:
        return fs::file_type::regular;
    case DT_UNKNOWN:
        break;
    default:
        return fs::file_type::unknown;
    }
    struct stat s {};
    if (::lstat(Joined(dir, entry.d_name).c_str(), &s) != 0) return fs::file_type::unknown;
    if (S_ISLNK(s.st_mode)) return fs::file_type::symlink;
    if (S_ISDIR(s.st_mode)) return fs::file_type::directory;
    return S_ISREG(s.st_mode) ? fs::file_type::regular : fs::file_type::unknown;
}

// The names of `dir` straight from the system's listing; with `identity`, what makes the
// directory the same whatever path leads to it (see IdentityOf), taken from the open listing
// (empty when the listing could not be opened).
void ListDirectory(const Text& dir, std::vector<Entry>& entries, std::error_code& ec,
                   std::string* identity) {
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        ec.assign(errno, std::generic_category());
        return;
    }
    struct stat s {};
    if (identity != nullptr && ::fstat(::dirfd(listing), &s) == 0) *identity = IdentityFrom(s);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            if (errno != 0) ec.assign(errno, std::generic_category());
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        entries.push_back({name, KindOf(dir, *entry)});
    }
    ::closedir(listing);
}

#endif

void WalkDirectory(Walker& w, const Text& dir, const Text& shown) {
    std::error_code ec;
    std::vector<Entry> entries;
    std::string identity;
    ListDirectory(dir, entries, ec, w.mayRepeat ? &identity : nullptr);
    if (w.mayRepeat && identity.empty()) identity = IdentityOf(dir);
    // A directory entered before (through a link, or under another operand) is not walked again.
    if (!identity.empty() && !w.seenDirectories.insert(identity).second) return;
    if (ec) Problem(w, shown, ec.message());
    // Name by name in each directory gives the files in path order, component by component.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (Entry& entry : entries) {
        if (Stopped(w)) return;
        fs::file_type type = entry.type;
        Text path = Joined(dir, entry.name);
        if (type == fs::file_type::symlink) {
            if (!w.follow) continue;
            std::error_code kind;
            type = fs::status(fs::path(path), kind).type();
            if (kind || type == fs::file_type::not_found) {
                Problem(w, Joined(shown, entry.name),
                        kind ? kind.message() : "No such file or directory");
                continue;
            }
        }
        // FIFOs, devices and sockets met while walking are not read: a device may never end.
        if (type == fs::file_type::directory)
            WalkDirectory(w, path, Joined(shown, entry.name));
        else if (type == fs::file_type::regular)
            AddWalkedFile(w, std::move(path));
    }
    Publish(w.walk);
}

} // namespace

bool TakeFound(WalkFeed& feed, std::vector<Input>& into) {
    std::unique_lock lock(feed.lock);
    feed.found.wait(lock, [&] { return !feed.inputs.empty() || feed.done; });
    if (feed.inputs.empty()) return false;
    if (into.empty())
        into.swap(feed.inputs);
    else
        into.insert(into.end(), std::make_move_iterator(feed.inputs.begin()),
                    std::make_move_iterator(feed.inputs.end()));
    feed.inputs.clear();
    return true;
}

void CollectInputs(const std::vector<std::string>& operands, bool follow, Walk& walk) {
    // The feed hears of the walk's end however it ends.
    struct EndFeed {
        Walk& walk;
        ~EndFeed() {
            if (walk.feed == nullptr) return;
            try {
                Publish(walk);
            } catch (...) {
                walk.incomplete = true; // (memory ran out: the inputs not handed over are lost)
            }
            std::lock_guard guard(walk.feed->lock);
            walk.feed->done = true;
            walk.feed->found.notify_all();
        }
    } endFeed{walk};
    Walker w{follow, follow || operands.size() > 1, {}, {}, walk};
    bool standardInput = false;
    for (const std::string& operand : operands) {
        if (Stopped(w)) return;
        const Text given = fs::path(operand).native();
        if (operand == "-") {
            if (!standardInput) walk.inputs.push_back({given, true});
            standardInput = true;
            continue;
        }
        std::error_code ec;
        const fs::path path = fs::absolute(operand, ec).lexically_normal();
        // A link named here is followed, as the user named what it leads to.
        const fs::file_status status = ec ? fs::file_status() : fs::status(path, ec);
        if (ec || status.type() == fs::file_type::not_found) {
            Problem(w, given, ec ? ec.message() : "No such file or directory");
        } else if (status.type() == fs::file_type::directory) {
            WalkDirectory(w, path.native(), given);
        } else if (status.type() == fs::file_type::regular) {
            AddNamedFile(w, path.native());
            Publish(walk);
        } else if (status.type() == fs::file_type::fifo ||
                   status.type() == fs::file_type::character) {
            walk.inputs.push_back({given, true});
        } else {
            Problem(w, given, "not a regular file, directory, FIFO or device");
        }
    }
}

} // namespace gleanery::cli
