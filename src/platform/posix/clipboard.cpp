// The clipboard on POSIX: a handler installed by the host (or a test) takes the text; otherwise
// the desktop's command-line clipboard tool receives it on its standard input.
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/system_services.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace gleanery::platform {

namespace {

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// The full path of an executable `tool` found along PATH, or empty.
std::string FindOnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::string();
    std::string_view rest(path);
    while (true) {
        const size_t colon = rest.find(':');
        std::string directory(rest.substr(0, colon));
        if (directory.empty()) directory = ".";
        const std::string candidate = directory + "/" + tool;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::string();
}

// Writes everything to the pipe without letting a reader that went away raise SIGPIPE.
bool WriteToPipe(int fd, std::string_view data) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool ok = true;
    bool brokenPipe = false;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            brokenPipe = n < 0 && errno == EPIPE;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (brokenPipe && !sigismember(&previous, SIGPIPE)) {
        const struct timespec noWait = {0, 0};
        sigtimedwait(&pipeSignal, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

// Runs `program` with `arguments`, feeds `data` to its standard input and waits for it.
bool RunWithInput(const std::string& program, const std::vector<std::string>& arguments,
                  std::string_view data) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    // The tools stay in the background to serve the selection: keep them off our output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (spawned != 0) {
        ::close(fds[1]);
        return false;
    }
    const bool written = WriteToPipe(fds[1], data);
    ::close(fds[1]);
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return written && waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The clipboard text without its terminating zero, as UTF-8 for wide text.
bool TextOf(uint32_t format, const std::string& bytes, std::string& text) {
    if (format == kCfUnicodeText) {
        std::u16string wide;
        wide.reserve(bytes.size() / 2);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t unit =
                static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
            if (unit == 0) break;
            wide += unit;
        }
        text = WideToUtf8(wide);
        return true;
    }
    if (format == kCfText) {
        text = bytes.substr(0, bytes.find('\0'));
        return true;
    }
    return false;
}

} // namespace

bool os::SetSystemClipboard(uint32_t format, const std::string& bytes) {
    std::string text;
    if (!TextOf(format, bytes, text)) return false;
    const bool unicode = format == kCfUnicodeText;
    if (IsSet("WAYLAND_DISPLAY")) {
        const std::string tool = FindOnPath("wl-copy");
        if (!tool.empty()) {
            return RunWithInput(
                tool, {"--type", unicode ? "text/plain;charset=utf-8" : "text/plain"}, text);
        }
    }
    if (IsSet("DISPLAY")) {
        const std::string tool = FindOnPath("xclip");
        if (!tool.empty()) {
            return RunWithInput(
                tool, {"-selection", "clipboard", "-target", unicode ? "UTF8_STRING" : "STRING"},
                text);
        }
    }
    return false;
}

} // namespace gleanery::platform
