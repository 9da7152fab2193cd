#include "terminal.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <utf8.h>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "platform/message_box.h"
#include "printable.h"
#include "progress.h"
#include "scratch.h"

namespace gleanery::cli {

namespace {

AnswerPolicy g_policy = AnswerPolicy::Ask;
std::atomic<bool> g_interrupted{false};
bool g_declined = false;

void OnInterrupt(int) {
#if defined(_WIN32)
    std::signal(SIGINT, OnInterrupt); // Windows resets the handler before each call
#endif
    if (g_interrupted.exchange(true)) {
        // The pack did not come back to the progress callback (a full pipe, a slow disk): asked
        // twice, the process ends now and leaves nothing of its own behind.
        RemoveScratchFromSignal();
        _exit(kCancelledStatus);
    }
}

#if !defined(_WIN32)
void OnTermination(int signal) {
    RemoveScratchFromSignal();
    std::raise(signal); // the default action now, as SA_RESETHAND left it
}
#endif

} // namespace

void Complain(const std::string& message) {
    std::lock_guard<std::mutex> lock(TerminalMutex());
    ClearProgressLineLocked();
    std::fprintf(stderr, "gleanery: %s\n", Printable(message, LineBreaks::Keep).c_str());
}

bool StderrIsTerminal() {
    return isatty(fileno(stderr)) != 0;
}
bool StdinIsTerminal() {
    return isatty(fileno(stdin)) != 0;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    utf8::unchecked::utf16to8(text.begin(), text.end(), std::back_inserter(out));
    return out;
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    try {
        utf8::utf8to16(text.begin(), text.end(), std::back_inserter(out));
    } catch (const utf8::exception&) {
        out.clear();
        for (unsigned char c : text) out.push_back(c); // not UTF-8: take the bytes as Latin-1
    }
    return out;
}

void SetAnswerPolicy(AnswerPolicy policy) {
    g_policy = policy;
}

// The answer to one message box of the plug-in; `text` and `caption` are printable already.
int Answer(const std::string& text, const std::string& caption, int32_t flags) {
    const uint32_t f = static_cast<uint32_t>(flags);
    const uint32_t buttons = f & 0xF;
    const bool question = buttons == platform::kMbYesNo || buttons == platform::kMbYesNoCancel;
    EndProgressLine();
    if (!question) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return platform::kIdOk;
    }
    if (g_policy == AnswerPolicy::Yes) return platform::kIdYes;
    if (g_policy == AnswerPolicy::No) return platform::kIdNo;
    const int fallback = platform::DefaultAnswer(f);
    if (!StdinIsTerminal() || !StderrIsTerminal()) return fallback;

    const bool cancel = buttons == platform::kMbYesNoCancel;
    for (;;) {
        std::fprintf(stderr, "%s: %s [%s] ", caption.c_str(), text.c_str(),
                     fallback == platform::kIdYes  ? (cancel ? "Y/n/c" : "Y/n")
                     : fallback == platform::kIdNo ? (cancel ? "y/N/c" : "y/N")
                                                   : "y/n/C");
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) return fallback;
        if (line.empty()) return fallback;
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (c == 'y') return platform::kIdYes;
        if (c == 'n') return platform::kIdNo;
        if (c == 'c' && cancel) return platform::kIdCancel;
    }
}

int WCX_CALL HostMessageBox(char* text, char* caption, int32_t flags) {
    const int answer = Answer(text ? Printable(text, LineBreaks::Keep) : std::string(),
                              caption ? Printable(caption) : std::string(), flags);
    if (answer == platform::kIdNo) g_declined = true;
    return answer;
}

void InstallInterruptHandler() {
#if defined(_WIN32)
    std::signal(SIGINT, OnInterrupt);
#else
    // Interrupted system calls resume: the plug-in's own calls are not made to see EINTR.
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    // Ended from outside (the terminal closed, a kill, Ctrl-\ on the terminal): the temporary
    // directory goes too.
    action.sa_handler = OnTermination;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGQUIT, &action, nullptr);
#endif
}

bool Interrupted() {
    return g_interrupted;
}

void ResetDeclined() {
    g_declined = false;
}

bool Declined() {
    return g_declined;
}

} // namespace gleanery::cli
