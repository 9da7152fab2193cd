#include "stdout_copy.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <poll.h>
#include <unistd.h>
#endif

#include "printable.h"
#include "progress.h"
#include "terminal.h"

namespace gleanery::cli {

namespace {

#if defined(_WIN32)
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

// How long the follower waits before it looks at the file again when it had nothing new.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// The copy in progress: what it turns the file's bytes into, and what it holds back because it
// belongs to the next piece (a CR before a possible LF, part of a character, a possible start of
// the statistics' output line).
struct Copy {
    FollowOptions options;
    bool terminal = false;
    std::string carry;
    char last = '\n';
    std::string needle; // the statistics' output line as the plug-in writes it
};

struct Follower {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> closed{false};
    CopyResult result = CopyResult::Done;
    std::string error;
};

Follower g_follower;

// The length of the longest end of `text` that begins `needle` (and is shorter than it).
size_t PartialMatchAtEnd(const std::string& text, const std::string& needle) {
    for (size_t n = std::min(text.size(), needle.size() - 1); n > 0; --n)
        if (text.compare(text.size() - n, n, needle, 0, n) == 0) return n;
    return 0;
}

// The bytes of `piece` (after what was carried) ready for standard output; with `more` a tail
// that may change meaning with what follows stays carried.
std::string Convert(Copy& copy, std::string_view piece, bool more) {
    std::string text = copy.carry;
    text.append(piece);
    copy.carry.clear();
    if (!copy.needle.empty()) {
        const std::string shown = "Output file: standard output";
        for (size_t at = text.find(copy.needle); at != std::string::npos;
             at = text.find(copy.needle, at + shown.size()))
            text.replace(at, copy.needle.size(), shown);
    }
    if (more) {
        size_t keep = text.size();
        if (!copy.needle.empty()) keep -= PartialMatchAtEnd(text, copy.needle);
        if (copy.terminal) keep = CompletePrefix(std::string_view(text).substr(0, keep));
        if (copy.options.lines && keep > 0 && text[keep - 1] == '\r') --keep;
        copy.carry = text.substr(keep);
        text.resize(keep);
    }
    if (text.empty()) return text;
    copy.last = text.back();
    if (copy.options.lines) {
        std::string converted;
        converted.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                converted += kLineEnd;
                ++i;
            } else {
                converted += text[i];
            }
        }
        text.swap(converted);
    }
    return copy.terminal ? Printable(text, LineBreaks::Keep) : text;
}

// Writes to standard output, clearing the progress line first when one is shown (both may share
// a terminal). False when the write failed; a reader that has gone marks the follower closed.
bool Put(const std::string& text) {
    if (text.empty()) return true;
    std::lock_guard<std::mutex> lock(TerminalMutex());
    ClearProgressLineLocked();
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return true;
#if !defined(_WIN32)
    if (errno == EPIPE) {
        g_follower.closed = true;
        g_follower.result = CopyResult::Closed;
        return false;
    }
#endif
    g_follower.result = CopyResult::Failed;
    g_follower.error = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
}

// Whether the reader of standard output has gone although nothing was written since: a pack
// that finds nothing more is stopped too.
bool ReaderGone() {
#if defined(_WIN32)
    return false;
#else
    pollfd out{STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
#endif
}

void Follow(const std::filesystem::path file, Copy copy) {
    std::ifstream in;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        if (Interrupted()) {
            g_follower.result = CopyResult::Cancelled;
            return;
        }
        // Read after looking at the flag: what the plug-in wrote before the job ended is read
        // before the loop ends.
        const bool last = g_follower.finished;
        if (!in.is_open()) in.open(file, std::ios::binary);
        size_t got = 0;
        if (in.is_open()) {
            in.clear();
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            got = static_cast<size_t>(in.gcount());
        }
        if (got > 0) {
            if (!Put(Convert(copy, std::string_view(buffer.data(), got), true))) return;
            continue;
        }
        if (last) break;
        if (ReaderGone()) {
            g_follower.closed = true;
            g_follower.result = CopyResult::Closed;
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (!Put(Convert(copy, {}, false))) return;
    if (copy.options.lines && copy.last != '\n' && in.is_open()) Put(kLineEnd);
}

} // namespace

void StartFollowing(const std::filesystem::path& file, const FollowOptions& options) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#else
    std::signal(SIGPIPE, SIG_IGN); // a reader that left early shows as EPIPE in Put
#endif
    Copy copy;
    copy.options = options;
    copy.terminal = isatty(fileno(stdout)) != 0;
    if (!options.privateName.empty()) copy.needle = "Output file: \"" + options.privateName + "\"";
    g_follower.thread = std::thread(Follow, file, std::move(copy));
}

bool StdoutClosed() {
    return g_follower.closed;
}

CopyResult FinishFollowing(std::string& error) {
    g_follower.finished = true;
    if (g_follower.thread.joinable()) g_follower.thread.join();
    error = g_follower.error;
    return g_follower.result;
}

} // namespace gleanery::cli
