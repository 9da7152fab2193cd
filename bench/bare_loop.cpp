// The lower limit of a search: the expression compiled with the options the plug-in uses, studied,
// and run by the bare pcre_exec / pcre16_exec global-match loop over the same bytes in memory,
// with nothing but a match count as output. The plug-in's job time divided by this program's
// time is the plug-in's overhead.
//
//   bare_loop [--form utf8|utf16|ansi] [--jit] [--caseless] [--ucp] [--check-first]
//             [--parts BYTES | --lines] [--unique] -e EXPR FILE...
//   bare_loop --read-floor [--form utf8|utf16|ansi] [--parts BYTES | --lines] FILE...
//
// --form picks the compiled form: UTF-8 (skips an EF BB BF mark), UTF-16 little-endian (skips
// FF FE) or code-page bytes. --check-first lets the library validate the UTF encoding on the first
// search of every piece, as the plug-in does for UTF files above 256 KiB. --parts cuts the file
// into pieces of at most BYTES at the last newline, as the parts reader does; --lines calls the
// library once per line, as the line reader must. --jit studies the expression with the JIT
// compiler and searches with it (on a heap stack as large as the plug-in's), passing only options
// the JIT takes; without it the interpreter runs. --unique counts each distinct match once, as
// the duplicate filter does: the filter's own 64-bit hash of the match's bytes (its formula is
// part of the filter's behaviour, so it is work the plug-in must do) in the same flat hash set.
// Prints the number of matches.
//
// --read-floor is the floor below any search: nothing is compiled, the files are read exactly as
// the search modes read them (the same mark skip; a file up to 256 KiB whole in one buffer kept
// from file to file, a larger one and every file in line mode a block of 256 KiB at a time, as the
// plug-in reads them, or the same parts with the text after the last newline carried over) and
// every byte is looked at once by the C library's vectorised memchr, for a byte the text forms
// hardly use. A search that comes near this time is bound by reading, not by matching. Prints the
// number of such bytes seen (counted so the pass cannot be optimised away); the search options are
// ignored.
#include <pcre.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/hash_set.h"
#include "engine/match_hash.h"

namespace {

constexpr int kOutputVector = 300; // the plug-in's vector: whole match, 99 groups, work space
constexpr int kNoUtfCheck = 0x2000;
constexpr int kJitStackBytes = 1024 * 1024 * 1024;

enum class Form { Utf8, Utf16, Ansi };

struct Options {
    Form form = Form::Utf8;
    bool caseless = false;
    bool ucp = false;
    bool checkFirst = false;
    bool jit = false;
    uint64_t partBytes = 0;
    bool lines = false;
    bool unique = false;
    bool readFloor = false;
    std::string expression;
    std::vector<std::string> files;
};

struct Compiled {
    pcre* code8 = nullptr;
    pcre_extra* extra8 = nullptr;
    pcre16* code16 = nullptr;
    pcre16_extra* extra16 = nullptr;
    int execOptions = 0;
};

[[noreturn]] void Die(const char* what, const char* detail = "") {
    std::fprintf(stderr, "bare_loop: %s%s\n", what, detail);
    std::exit(1);
}

std::u16string Widen(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// The plug-in's compile options: UTF forms with UTF, no UTF check and ANYCRLF newlines (plus UCP
// when asked); the code-page form with ANYCRLF newlines and \R; every form studied, with the JIT
// when asked.
Compiled Compile(const Options& o) {
    Compiled c;
    const char* error = nullptr;
    int offset = 0;
    int common = o.caseless ? PCRE_CASELESS : 0;
    if (o.form != Form::Ansi)
        common |= 0x502800 | (o.ucp ? PCRE_UCP : 0);
    else
        common |= 0xD00000;
    unsigned long newline = 0;
    if (o.form == Form::Utf16) {
        const std::u16string wide = Widen(o.expression);
        c.code16 = pcre16_compile(reinterpret_cast<PCRE_SPTR16>(wide.c_str()), common, &error,
                                  &offset, nullptr);
        if (!c.code16) Die("compile: ", error);
        c.extra16 = pcre16_study(c.code16, o.jit ? PCRE_STUDY_JIT_COMPILE : 0, &error);
        if (error) Die("study: ", error);
        if (o.jit) {
            int jit = 0;
            pcre16_fullinfo(c.code16, c.extra16, PCRE_INFO_JIT, &jit);
            if (jit != 1) Die("the JIT did not compile the expression");
            pcre16_assign_jit_stack(c.extra16, nullptr,
                                    pcre16_jit_stack_alloc(32 * 1024, kJitStackBytes));
        }
        pcre16_fullinfo(c.code16, c.extra16, PCRE_INFO_OPTIONS, &newline);
    } else {
        c.code8 = pcre_compile(o.expression.c_str(), common, &error, &offset, nullptr);
        if (!c.code8) Die("compile: ", error);
        c.extra8 = pcre_study(c.code8, o.jit ? PCRE_STUDY_JIT_COMPILE : 0, &error);
        if (error) Die("study: ", error);
        if (o.jit) {
            int jit = 0;
            pcre_fullinfo(c.code8, c.extra8, PCRE_INFO_JIT, &jit);
            if (jit != 1) Die("the JIT did not compile the expression");
            pcre_assign_jit_stack(c.extra8, nullptr,
                                  pcre_jit_stack_alloc(32 * 1024, kJitStackBytes));
        }
        pcre_fullinfo(c.code8, c.extra8, PCRE_INFO_OPTIONS, &newline);
    }
    // The newline convention was fixed at compile time; the JIT takes no newline options.
    c.execOptions = o.jit ? 0 : static_cast<int>(newline & 0x700000);
    if (o.form != Form::Ansi) c.execOptions |= kNoUtfCheck;
    return c;
}

// Distinct matches seen so far (with --unique).
gleanery::HashSet64 g_seen;

// True when the match is counted: always, or with --unique when it was not seen before.
template <class Unit>
bool Counts(const Options& o, const Unit* text, const int* ov) {
    if (!o.unique) return true;
    const auto* bytes = reinterpret_cast<const char*>(text + ov[0]);
    const size_t count = static_cast<size_t>(ov[1] - ov[0]) * sizeof(Unit);
    return g_seen.insert(gleanery::MatchHash(bytes, count)).second;
}

// The global-match loop over one piece; returns the matches found.
template <class Unit>
uint64_t Loop(const Compiled& c, const Options& o, const Unit* text, size_t length) {
    int ov[kOutputVector];
    uint64_t matches = 0;
    size_t pos = 0;
    bool first = true;
    for (;;) {
        int options = c.execOptions;
        if (first && o.checkFirst) options &= ~kNoUtfCheck;
        first = false;
        int rc;
        if constexpr (sizeof(Unit) == 2)
            rc = pcre16_exec(c.code16, c.extra16, reinterpret_cast<PCRE_SPTR16>(text),
                             static_cast<int>(length), static_cast<int>(pos), options, ov,
                             kOutputVector);
        else
            rc = pcre_exec(c.code8, c.extra8, reinterpret_cast<const char*>(text),
                           static_cast<int>(length), static_cast<int>(pos), options, ov,
                           kOutputVector);
        if (rc < 0) break;
        if (ov[0] == ov[1]) {
            // An empty match is not counted; the search moves on by one unit.
            pos = static_cast<size_t>(ov[1]) + 1;
            if (pos > length) break;
            continue;
        }
        if (Counts(o, text, ov)) ++matches;
        pos = static_cast<size_t>(ov[1]);
    }
    return matches;
}

template <class Unit>
bool IsNewline(Unit u) {
    return u == Unit('\n') || u == Unit('\r');
}

template <class Unit>
uint64_t SearchLines(const Compiled& c, const Options& o, const Unit* text, size_t length) {
    uint64_t matches = 0;
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsNewline(text[i])) continue;
        matches += Loop(c, o, text + start, i - start);
        if (text[i] == Unit('\r') && i + 1 < length && text[i + 1] == Unit('\n')) ++i;
        start = i + 1;
    }
    // The text after the last line end; an empty last line when the file ends with one.
    matches += Loop(c, o, text + start, length - start);
    return matches;
}

// Large buffers on huge pages, as the plug-in asks for them: filling a large buffer otherwise
// costs more in page faults than many searches take.
void AdviseHugePages(void* buffer, uint64_t bytes) {
    if (bytes < (4u << 20)) return;
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<uintptr_t>(buffer) + page - 1) / page * page;
    const auto last = (reinterpret_cast<uintptr_t>(buffer) + bytes) / page * page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// Buffers start on a cache line, as the plug-in's do: the system copies into them faster.
constexpr size_t kAlignment = 64;
struct AlignedFree {
    void operator()(char* bytes) const { ::operator delete[](bytes, std::align_val_t{kAlignment}); }
};
using AlignedBuffer = std::unique_ptr<char[], AlignedFree>;
AlignedBuffer Allocate(size_t bytes) {
    return AlignedBuffer(static_cast<char*>(::operator new[](bytes, std::align_val_t{kAlignment})));
}

bool ReadFully(int fd, char* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer + got, count - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Reads the file as the plug-in's readers do and hands every piece to `search` (units, count);
// returns the sum of what it answers.
template <class Unit, class Search>
uint64_t ReadFile(const Options& o, int fd, uint64_t size, Search&& search) {
    constexpr size_t kUnit = sizeof(Unit);
    constexpr uint64_t kBlock = 0x40000;
    if (o.readFloor && (o.lines || (o.partBytes == 0 && size > kBlock))) {
        static AlignedBuffer block = Allocate(kBlock);
        uint64_t found = 0;
        for (uint64_t position = 0; position < size; position += kBlock) {
            const uint64_t bytes = std::min(kBlock, size - position);
            if (!ReadFully(fd, block.get(), bytes)) Die("read failed");
            found += search(reinterpret_cast<const Unit*>(block.get()), bytes / kUnit);
        }
        return found;
    }
    if (o.partBytes == 0 || o.lines) {
        // The whole file in memory: one buffer kept from file to file and grown as needed, as
        // the plug-in keeps its own.
        static AlignedBuffer kept;
        static size_t keptBytes = 0;
        if (keptBytes < size + kUnit) {
            keptBytes = static_cast<size_t>(size + kUnit);
            kept = Allocate(keptBytes);
            AdviseHugePages(kept.get(), size);
        }
        auto* units = reinterpret_cast<Unit*>(kept.get());
        if (!ReadFully(fd, kept.get(), size)) Die("read failed");
        return search(units, static_cast<size_t>(size / kUnit));
    }
    // Parts cut after the last newline; the text after the cut starts the next part.
    const uint64_t part = o.partBytes / kUnit * kUnit;
    AlignedBuffer room = Allocate(part + kUnit);
    auto* const buffer = reinterpret_cast<Unit*>(room.get());
    AdviseHugePages(buffer, part);
    uint64_t found = 0, position = 0;
    size_t carried = 0;
    while (position < size) {
        const uint64_t toRead = std::min(part, size - position);
        if (!ReadFully(fd, reinterpret_cast<char*>(buffer) + carried, toRead - carried))
            Die("read failed");
        const size_t count = toRead / kUnit;
        Unit* units = buffer;
        size_t cut = count;
        if (toRead == part) {
            for (size_t i = count; i-- > 0;)
                if (IsNewline(units[i])) {
                    cut = i;
                    break;
                }
        }
        if (cut == count) {
            found += search(units, count);
            position += toRead;
            carried = 0;
        } else {
            found += search(units, cut);
            carried = (count - cut - 1) * kUnit;
            std::memmove(units, units + cut + 1, carried);
            position += (cut + 1) * kUnit;
        }
    }
    return found;
}

// The read floor's look at a piece: one pass of memchr over all its bytes for 0xFF, which UTF-8
// never holds and code-page and UTF-16 text seldom do, so the pass runs at the vectorised speed
// of the C library's scan with hardly a restart; returns how many it met.
uint64_t TouchBytes(const void* data, size_t bytes) {
    const auto* at = static_cast<const unsigned char*>(data);
    const auto* const end = at + bytes;
    uint64_t seen = 0;
    while (at < end) {
        const void* hit = std::memchr(at, 0xFF, static_cast<size_t>(end - at));
        if (!hit) break;
        ++seen;
        at = static_cast<const unsigned char*>(hit) + 1;
    }
    return seen;
}

template <class Unit>
uint64_t SearchFile(const Compiled& c, const Options& o, int fd, uint64_t size) {
    if (o.readFloor)
        return ReadFile<Unit>(o, fd, size, [](const Unit* units, size_t count) {
            return TouchBytes(units, count * sizeof(Unit));
        });
    if (o.lines)
        return ReadFile<Unit>(o, fd, size, [&](const Unit* units, size_t count) {
            return SearchLines(c, o, units, count);
        });
    return ReadFile<Unit>(
        o, fd, size, [&](const Unit* units, size_t count) { return Loop(c, o, units, count); });
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) Die("missing value after ", a.c_str());
            return argv[++i];
        };
        if (a == "--form") {
            const std::string f = next();
            o.form = f == "utf16" ? Form::Utf16 : f == "ansi" ? Form::Ansi : Form::Utf8;
        } else if (a == "--caseless") {
            o.caseless = true;
        } else if (a == "--ucp") {
            o.ucp = true;
        } else if (a == "--jit") {
            o.jit = true;
        } else if (a == "--check-first") {
            o.checkFirst = true;
        } else if (a == "--parts") {
            o.partBytes = std::strtoull(next().c_str(), nullptr, 10);
        } else if (a == "--lines") {
            o.lines = true;
        } else if (a == "--unique") {
            o.unique = true;
        } else if (a == "--read-floor") {
            o.readFloor = true;
        } else if (a == "-e") {
            o.expression = next();
        } else {
            o.files.push_back(a);
        }
    }
    if (o.files.empty()) Die("no files");
    // The read floor compiles nothing: its time is reading and one look at every byte.
    const Compiled c = o.readFloor ? Compiled{} : Compile(o);
    const bool checkLarge = o.checkFirst;
    uint64_t matches = 0;
    for (const std::string& name : o.files) {
        const int fd = ::open(name.c_str(), O_RDONLY);
        if (fd < 0) Die("cannot open ", name.c_str());
        uint64_t size = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
        // Skip the byte-order mark of the form, as encoding detection does.
        unsigned char head[3] = {0, 0, 0};
        ::lseek(fd, 0, SEEK_SET);
        const ssize_t got = ::read(fd, head, 3);
        uint64_t skip = 0;
        if (o.form == Form::Utf8 && got == 3 && head[0] == 0xEF && head[1] == 0xBB &&
            head[2] == 0xBF)
            skip = 3;
        if (o.form == Form::Utf16 && got >= 2 && head[0] == 0xFF && head[1] == 0xFE) skip = 2;
        ::lseek(fd, static_cast<off_t>(skip), SEEK_SET);
        size -= skip;
        // Files up to 256 KiB are searched without the encoding check, as in the plug-in.
        o.checkFirst = checkLarge && size + skip > 0x40000;
        matches += o.form == Form::Utf16 ? SearchFile<char16_t>(c, o, fd, size)
                                         : SearchFile<char>(c, o, fd, size);
        ::close(fd);
    }
    std::printf("%llu\n", static_cast<unsigned long long>(matches));
    return 0;
}
