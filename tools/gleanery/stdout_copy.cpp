#include "stdout_copy.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "printable.h"
#include "scratch.h"
#include "terminal.h"

namespace gleanery::cli {

namespace {

#if defined(_WIN32)
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

bool Put(const std::string& text, std::string& error) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0)
        return true;
#if !defined(_WIN32)
    if (errno == EPIPE) {
        RemoveScratch();
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
#endif
    error = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
}

} // namespace

CopyResult CopyToStdout(const std::filesystem::path& file, bool lines, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the result in " + file.string();
        return CopyResult::Failed;
    }
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#else
    std::signal(SIGPIPE, SIG_IGN); // a reader that left early shows as EPIPE in Put
#endif
    const bool terminal = isatty(fileno(stdout)) != 0;
    std::string carry; // the end of a piece that belongs to the next: a CR, part of a character
    std::vector<char> buffer(1 << 16);
    char last = '\n';
    while (in) {
        if (Interrupted()) return CopyResult::Cancelled;
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::string piece = carry + std::string(buffer.data(), static_cast<size_t>(in.gcount()));
        carry.clear();
        if (piece.empty()) break;
        if (in) {
            size_t keep = terminal ? CompletePrefix(piece) : piece.size();
            if (lines && keep > 0 && piece[keep - 1] == '\r') --keep;
            carry = piece.substr(keep);
            piece.resize(keep);
        }
        if (piece.empty()) continue;
        last = piece.back();
        if (lines) {
            std::string converted;
            converted.reserve(piece.size());
            for (size_t i = 0; i < piece.size(); ++i) {
                if (piece[i] == '\r' && i + 1 < piece.size() && piece[i + 1] == '\n') {
                    converted += kLineEnd;
                    ++i;
                } else {
                    converted += piece[i];
                }
            }
            piece.swap(converted);
        }
        if (!Put(terminal ? Printable(piece, LineBreaks::Keep) : piece, error))
            return CopyResult::Failed;
    }
    if (lines && last != '\n' && !Put(kLineEnd, error)) return CopyResult::Failed;
    return CopyResult::Done;
}

} // namespace gleanery::cli
