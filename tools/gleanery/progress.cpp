#include "progress.h"

#include <chrono>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "columns.h"
#include "printable.h"
#include "stdout_copy.h"
#include "terminal.h"

namespace gleanery::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A redraw costs a write to the terminal; more than ten a second nobody reads, and one per file
// made a run of many small files much slower.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// How far ahead of the last file the count looks for the one now reported; a name not found
// there (reported out of order) leaves the count as it is.
constexpr size_t kLookAhead = 4096;

struct Progress {
    bool show = false;
    bool shown = false; // the line is on the terminal now
    std::vector<std::u16string> names;
    size_t current = 0; // index of the file last reported
    uint64_t bytes = 0;
    Clock::time_point start;
    Clock::time_point lastDraw;
};

Progress g_progress;
std::mutex g_terminal;

int TerminalWidth() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

std::string Bytes(uint64_t n) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(n);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string Elapsed(Clock::duration d) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

// `name` cut at its start to at most `columns` terminal columns, "..." standing for the cut.
std::string Fitted(std::string name, size_t columns) {
    if (TerminalColumns(name) <= columns) return name;
    if (columns <= 3) return std::string();
    size_t from = 0;
    while (from < name.size() && TerminalColumns(std::string_view(name).substr(from)) > columns - 3)
        do ++from;
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80);
    return "..." + name.substr(from);
}

void Draw(const std::u16string& name) {
    Progress& p = g_progress;
    std::string status = std::to_string(p.current) + "/" + std::to_string(p.names.size()) +
                         " files  " + Bytes(p.bytes) + "  " + Elapsed(Clock::now() - p.start) +
                         "  ";
    // One column short of the width: a line that fills it would wrap on some terminals.
    const size_t width = static_cast<size_t>(TerminalWidth());
    const size_t room = width > status.size() + 1 ? width - status.size() - 1 : 0;
    status += Fitted(Printable(ToUtf8(name)), room);
    std::lock_guard<std::mutex> lock(g_terminal);
    std::fprintf(stderr, "\r\033[K%s", status.c_str());
    std::fflush(stderr);
    p.shown = true;
}

// Moves the count to the file now reported.
void Locate(const std::u16string& name) {
    Progress& p = g_progress;
    const size_t end = std::min(p.names.size(), p.current + kLookAhead);
    for (size_t i = p.current; i < end; ++i)
        if (p.names[i] == name) {
            p.current = i;
            return;
        }
}

} // namespace

void StartProgress(std::vector<std::u16string> names, bool show) {
    g_progress.names = std::move(names);
    g_progress.show = show;
    g_progress.start = g_progress.lastDraw = Clock::now();
}

bool ShowsProgress() {
    return g_progress.show;
}

void AddProgressName(std::u16string name) {
    if (g_progress.show) g_progress.names.push_back(std::move(name));
}

int WCX_CALL ProgressCallback(char16_t* fileName, int size) {
    Progress& p = g_progress;
    if (size > 0) p.bytes += static_cast<uint64_t>(size);
    if (p.show && fileName) {
        const std::u16string name(fileName);
        Locate(name);
        const Clock::time_point now = Clock::now();
        if (now - p.lastDraw >= kRedrawInterval) {
            p.lastDraw = now;
            Draw(name);
        }
    }
    return Interrupted() || StdoutClosed() ? 0 : 1;
}

std::mutex& TerminalMutex() {
    return g_terminal;
}

void ClearProgressLineLocked() {
    if (!g_progress.shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_progress.shown = false;
}

void EndProgressLine() {
    std::lock_guard<std::mutex> lock(g_terminal);
    ClearProgressLineLocked();
}

} // namespace gleanery::cli
