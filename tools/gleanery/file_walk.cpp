#include "file_walk.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
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
std::string IdentityOf(const Text& path) {
#if defined(_WIN32)
    return fs::path(path).string();
#else
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return std::string();
    return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
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

void ListDirectory(const Text& dir, std::vector<Entry>& entries, std::error_code& ec) {
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

// The names of `dir` straight from the system's listing.
void ListDirectory(const Text& dir, std::vector<Entry>& entries, std::error_code& ec) {
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        ec.assign(errno, std::generic_category());
        return;
    }
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
    if (w.mayRepeat && !FirstTime(w.seenDirectories, dir)) return;
    std::error_code ec;
    std::vector<Entry> entries;
    ListDirectory(dir, entries, ec);
    if (ec) Problem(w, shown, ec.message());
    // Name by name in each directory gives the files in path order, component by component.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (Entry& entry : entries) {
        if (Interrupted()) return;
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
}

// ---- listing directories side by side ---------------------------------------------------------
// A walk that follows no link lists a tree's directories on several threads (the listings are
// most of a walk's time, and the system's), then takes the files from the listings in the order
// the walk above would, on the calling thread: the same inputs, problems and order.

// One directory's listing, with those of its subdirectories in the order of its entries.
struct Listing {
    Text dir;
    Text shown;
    std::vector<Entry> entries; // in name order
    std::error_code ec;
    std::vector<std::unique_ptr<Listing>> subdirectories;
};

struct Listers {
    std::mutex lock;
    std::condition_variable wakes;
    std::vector<Listing*> todo; // the last first: the walk goes deep before wide
    size_t busy = 0;            // listings taken and not yet done
    bool stopped = false;       // Ctrl-C, or memory ran out: nothing more is listed
    bool failed = false;        // memory ran out: the calling thread throws
};

void ListOne(Listing& listing) {
    ListDirectory(listing.dir, listing.entries, listing.ec);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& entry : listing.entries) {
        if (entry.type != fs::file_type::directory) continue;
        auto subdirectory = std::make_unique<Listing>();
        subdirectory->dir = Joined(listing.dir, entry.name);
        subdirectory->shown = Joined(listing.shown, entry.name);
        listing.subdirectories.push_back(std::move(subdirectory));
    }
}

void RunLister(Listers& listers) {
    std::unique_lock lock(listers.lock);
    for (;;) {
        listers.wakes.wait(lock, [&] { return !listers.todo.empty() || listers.busy == 0; });
        if (listers.todo.empty() || listers.stopped) return; // nothing left, nor being listed
        Listing* listing = listers.todo.back();
        listers.todo.pop_back();
        ++listers.busy;
        lock.unlock();
        bool listed = false;
        if (!Interrupted()) {
            try {
                ListOne(*listing);
                listed = true;
            } catch (...) {
            }
        }
        lock.lock();
        --listers.busy;
        if (!listed) {
            // Interrupted or out of memory: the other threads end with the listing they hold.
            listers.stopped = true;
            listers.failed = listers.failed || !Interrupted();
            listers.todo.clear();
        } else if (!listers.stopped) {
            for (auto it = listing->subdirectories.rbegin(); it != listing->subdirectories.rend();
                 ++it)
                listers.todo.push_back(it->get());
        }
        listers.wakes.notify_all();
    }
}

// Lists the tree under `root` on `threads` threads, the calling one among them.
void ListTree(Listing& root, unsigned threads) {
    Listers listers;
    listers.todo.push_back(&root);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(RunLister, std::ref(listers));
        } catch (const std::system_error&) {
            break; // no more threads: those started do the listing
        }
    }
    RunLister(listers);
    for (std::thread& helper : helpers) helper.join();
    if (listers.failed) throw std::bad_alloc();
}

// Takes the files of a listed tree as WalkDirectory takes them; each listing is let go once its
// files are taken.
void TakeListed(Walker& w, Listing& listing) {
    if (w.mayRepeat && !FirstTime(w.seenDirectories, listing.dir)) return;
    if (listing.ec) Problem(w, listing.shown, listing.ec.message());
    size_t next = 0;
    for (const Entry& entry : listing.entries) {
        if (Interrupted()) return;
        if (entry.type == fs::file_type::directory) {
            std::unique_ptr<Listing>& subdirectory = listing.subdirectories[next++];
            TakeListed(w, *subdirectory);
            subdirectory.reset();
        } else if (entry.type == fs::file_type::regular) {
            AddWalkedFile(w, Joined(listing.dir, entry.name));
        }
    }
}

void WalkTree(Walker& w, const Text& dir, const Text& shown, unsigned threads) {
    if (w.follow || threads < 2) {
        WalkDirectory(w, dir, shown);
        return;
    }
    Listing root;
    root.dir = dir;
    root.shown = shown;
    ListTree(root, threads);
    if (!Interrupted()) TakeListed(w, root);
}

} // namespace

unsigned WalkThreads(int32_t threadsSetting) {
    if (threadsSetting > 0)
        return std::min(static_cast<unsigned>(threadsSetting), kMostWalkThreads);
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMostWalkThreads);
}

void CollectInputs(const std::vector<std::string>& operands, bool follow, unsigned threads,
                   Walk& walk) {
    Walker w{follow, follow || operands.size() > 1, {}, {}, walk};
    bool standardInput = false;
    for (const std::string& operand : operands) {
        if (Interrupted()) return;
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
            WalkTree(w, path.native(), given, threads);
        } else if (status.type() == fs::file_type::regular) {
            AddNamedFile(w, path.native());
        } else if (status.type() == fs::file_type::fifo ||
                   status.type() == fs::file_type::character) {
            walk.inputs.push_back({given, true});
        } else {
            Problem(w, given, "not a regular file, directory, FIFO or device");
        }
    }
}

} // namespace gleanery::cli
