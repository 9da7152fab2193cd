// Message boxes on POSIX, where no handler answers: asked on the terminal, else answered with the
// default button.
#include "platform/message_box.h"
#include "platform/codepage.h"
#include "platform/system_services.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace gleanery::platform {

namespace {

constexpr uint32_t kMbTypeMask = 0xF;

std::string TerminalText(const std::u16string& text) {
    std::string out;
    for (char c : WideToUtf8(text)) {
        if (c != '\r') out += c; // the terminal wants bare line feeds
    }
    return out;
}

// Reads one answer line from the terminal; false at end of input.
bool ReadAnswer(std::string& answer) {
    answer.clear();
    char c;
    while (true) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) return false;
        if (n == 0) return !answer.empty();
        if (c == '\n') return true;
        if (c != '\r' && c != ' ' && c != '\t') answer += c;
    }
}

int AskOnTerminal(const std::u16string& text, const std::u16string& title, uint32_t flags) {
    const uint32_t type = flags & kMbTypeMask;
    std::fprintf(stderr, "\n%s\n%s\n", TerminalText(title).c_str(), TerminalText(text).c_str());
    if (type != kMbYesNo && type != kMbYesNoCancel) {
        std::fflush(stderr);
        return DefaultAnswer(flags);
    }
    const bool withCancel = type == kMbYesNoCancel;
    const int fallback = DefaultAnswer(flags);
    const char* choices = withCancel ? "[y/n/c]" : "[y/n]";
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::fprintf(stderr, "%s ", choices);
        std::fflush(stderr);
        std::string answer;
        if (!ReadAnswer(answer)) return fallback;
        if (answer.empty()) return fallback;
        const char first = answer[0];
        if (first == 'y' || first == 'Y') return kIdYes;
        if (first == 'n' || first == 'N') return kIdNo;
        if (withCancel && (first == 'c' || first == 'C')) return kIdCancel;
    }
    return fallback;
}

} // namespace

int os::ShowSystemMessageBox(const std::u16string& text, const std::u16string& title,
                             uint32_t flags) {
    if (::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) return AskOnTerminal(text, title, flags);
    return DefaultAnswer(flags);
}

} // namespace gleanery::platform
