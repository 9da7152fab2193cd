// Deterministic benchmark corpora: the same seed always gives the same bytes, so runs on
// different machines search the same text. Nothing is downloaded.
//
//   make_corpus log-utf8    OUT BYTES   log lines in UTF-8 (no byte-order mark), at least BYTES
//   make_corpus log-utf16le OUT BYTES   the same lines as UTF-16 little-endian with FF FE
//   make_corpus log-cp1252  OUT BYTES   the same lines in code page 1252
//   make_corpus short-lines OUT BYTES   many short lines (line mode)
//   make_corpus dupes       OUT COUNT   COUNT identifier matches, each value present twice
//   make_corpus small-files DIR COUNT   COUNT files of about 4 KiB of log lines each
//   make_corpus tree        DIR COUNT   COUNT files in nested folders, sizes skewed as in a
//                                       source or document tree: most a few KiB, some tens of
//                                       KiB, a few MiB, and some binary and compressed files
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

// A small, fast, well-mixed generator (splitmix64): deterministic on every platform.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

// Words of the messages. The non-ASCII ones use only characters that code page 1252 has, so the
// same text exists in UTF-8, UTF-16 and 1252.
const char* const kWords[] = {
    "request", "handled", "user",       "session", "cache",   "miss",     "retry",  "database",
    "query",   "Größe",   "Übersicht",  "café",    "niño",    "Benutzer", "Preis",  "12,50 €",
    "Straße",  "déjà",    "connection", "timeout", "payload", "bytes",    "worker", "queue",
    "latency", "ms",      "token",      "refresh", "upload",  "download", "index",  "shard",
    "replica", "primary", "Müller",     "Zoë",
};
const char* const kErrors[] = {"ConnectionReset",  "Timeout",      "DiskFull",
                               "PermissionDenied", "ParseFailure", "OutOfMemory",
                               "ChecksumMismatch", "Unavailable"};
const char* const kNames[] = {"anna", "bert", "carla", "dieter", "eva",   "frank", "greta",
                              "hans", "ines", "jonas", "karla",  "lukas", "mia",   "noah"};
const char* const kDomains[] = {"example.com", "mail.example.org", "corp.example.net", "example.de",
                                "shop.example.co.uk"};
const char* const kLevels[] = {"INFO ", "DEBUG", "WARN "};

template <size_t N>
const char* Pick(Random& r, const char* const (&list)[N]) {
    return list[r.Below(N)];
}

// One log line in UTF-8, with its LF.
void LogLine(Random& r, std::string& line) {
    char head[96];
    const bool error = r.Below(100) < 4;
    std::snprintf(head, sizeof head, "2024-%02u-%02u %02u:%02u:%02u.%03u [worker-%02u] %s ",
                  1 + r.Below(12), 1 + r.Below(28), r.Below(24), r.Below(60), r.Below(60),
                  r.Below(1000), r.Below(32), error ? "ERROR" : Pick(r, kLevels));
    line = head;
    if (error) {
        line += Pick(r, kErrors);
        line += " while";
    }
    const uint32_t words = 6 + r.Below(10);
    for (uint32_t i = 0; i < words; ++i) {
        line += ' ';
        line += Pick(r, kWords);
    }
    if (r.Below(100) < 8) {
        line += " for ";
        line += Pick(r, kNames);
        line += '.';
        line += Pick(r, kNames);
        line += std::to_string(r.Below(100));
        line += '@';
        line += Pick(r, kDomains);
    }
    line += " id=";
    line += std::to_string(r.Next() % 1000000);
    line += '\n';
}

// The few non-ASCII characters of kWords, as (UTF-8 sequence, code page 1252 byte, UTF-16 unit).
struct Special {
    const char* utf8;
    unsigned char cp1252;
    char16_t unit;
};
const Special kSpecials[] = {{"ö", 0xF6, u'ö'}, {"Ü", 0xDC, u'Ü'}, {"é", 0xE9, u'é'},
                             {"ñ", 0xF1, u'ñ'}, {"ß", 0xDF, u'ß'}, {"à", 0xE0, u'à'},
                             {"ü", 0xFC, u'ü'}, {"ë", 0xEB, u'ë'}, {"€", 0x80, u'€'}};

const Special* SpecialAt(const std::string& s, size_t i) {
    for (const Special& sp : kSpecials)
        if (s.compare(i, std::strlen(sp.utf8), sp.utf8) == 0) return &sp;
    return nullptr;
}

void ToCp1252(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        if (static_cast<unsigned char>(in[i]) < 0x80) {
            out += in[i++];
            continue;
        }
        const Special* sp = SpecialAt(in, i);
        if (!sp) std::abort();
        out += static_cast<char>(sp->cp1252);
        i += std::strlen(sp->utf8);
    }
}

void ToUtf16le(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        char16_t u;
        if (static_cast<unsigned char>(in[i]) < 0x80) {
            u = static_cast<unsigned char>(in[i++]);
        } else {
            const Special* sp = SpecialAt(in, i);
            if (!sp) std::abort();
            u = sp->unit;
            i += std::strlen(sp->utf8);
        }
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
}

struct Output {
    FILE* f;
    explicit Output(const std::string& path) : f(std::fopen(path.c_str(), "wb")) {
        if (!f) {
            std::perror(path.c_str());
            std::exit(1);
        }
        std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
    }
    ~Output() {
        if (std::fclose(f) != 0) {
            std::perror("close");
            std::exit(1);
        }
    }
    void Put(const std::string& s) {
        if (std::fwrite(s.data(), 1, s.size(), f) != s.size()) {
            std::perror("write");
            std::exit(1);
        }
    }
};

// The log in one of three encodings; the line count is set by the UTF-8 size, so all three hold
// the same text.
void Log(const std::string& path, uint64_t bytes, const std::string& encoding) {
    Output out(path);
    Random r{20240517};
    if (encoding == "utf16le") out.Put(std::string("\xFF\xFE", 2));
    std::string line, converted;
    for (uint64_t done = 0; done < bytes;) {
        LogLine(r, line);
        done += line.size();
        if (encoding == "utf8") {
            out.Put(line);
        } else if (encoding == "cp1252") {
            ToCp1252(line, converted);
            out.Put(converted);
        } else {
            ToUtf16le(line, converted);
            out.Put(converted);
        }
    }
}

void ShortLines(const std::string& path, uint64_t bytes) {
    Output out(path);
    Random r{77};
    std::string line;
    for (uint64_t done = 0; done < bytes;) {
        const uint32_t kind = r.Below(100);
        if (kind < 5)
            line = std::string("ERROR ") + Pick(r, kErrors) + "\n";
        else if (kind < 10)
            line = "\n";
        else
            line = std::string(Pick(r, kWords)) + " " + std::to_string(r.Below(100000)) + "\n";
        done += line.size();
        out.Put(line);
    }
}

// `count` matches of ID followed by six digits; the value of match i is (i * 7919) mod count/2,
// so every value occurs exactly twice and the repeats are spread over the whole file.
void Dupes(const std::string& path, uint64_t count) {
    Output out(path);
    Random r{99};
    const uint64_t distinct = count / 2 > 0 ? count / 2 : 1;
    char line[96];
    for (uint64_t i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "seq=%08llu ref=ID%07llu status=%s\n",
                      static_cast<unsigned long long>(i),
                      static_cast<unsigned long long>((i * 7919) % distinct),
                      r.Below(2) ? "ok" : "retry");
        out.Put(line);
    }
}

void SmallFiles(const std::string& dir, uint64_t count) {
    std::filesystem::create_directories(dir);
    Random r{4096};
    std::string line, text;
    for (uint64_t i = 0; i < count; ++i) {
        text.clear();
        while (text.size() < 4096) {
            LogLine(r, line);
            text += line;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/f%05llu.log", static_cast<unsigned long long>(i));
        Output out(dir + name);
        out.Put(text);
    }
}

// A folder three levels deep (eight folders a level), picked by the file's number.
std::string TreeFolder(const std::string& dir, uint64_t i) {
    char path[48];
    std::snprintf(path, sizeof path, "/d%llu/d%llu/d%llu", static_cast<unsigned long long>(i % 8),
                  static_cast<unsigned long long>(i / 8 % 8),
                  static_cast<unsigned long long>(i / 64 % 8));
    return dir + path;
}

void Tree(const std::string& dir, uint64_t count) {
    Random r{31337};
    std::string line, text;
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t kind = r.Below(1000);
        const std::string folder = TreeFolder(dir, i);
        std::filesystem::create_directories(folder);
        char name[32];
        text.clear();
        if (kind < 10) {
            // Binary (an object file's look: zeros among the bytes) or compressed (no zeros to
            // speak of, no structure): 8 to 64 KiB.
            const bool compressed = kind < 5;
            const uint32_t size = 8192 + r.Below(57344);
            for (uint32_t k = 0; k < size; k += 8) {
                uint64_t bits = r.Next();
                if (!compressed && r.Below(4) == 0) bits &= 0x00FF00FF00FF00FFULL;
                text.append(reinterpret_cast<const char*>(&bits), 8);
            }
            std::snprintf(name, sizeof name, "/f%06llu.%s", static_cast<unsigned long long>(i),
                          compressed ? "gz" : "o");
        } else {
            // Text: 0.3 % of 1 to 3 MiB, 8 % of 16 to 64 KiB, the rest of 1 to 8 KiB.
            const uint64_t size = kind < 13   ? (1u << 20) + r.Below(2u << 20)
                                  : kind < 93 ? 16384 + r.Below(49152)
                                              : 1024 + r.Below(7168);
            while (text.size() < size) {
                LogLine(r, line);
                text += line;
            }
            std::snprintf(name, sizeof name, "/f%06llu.log", static_cast<unsigned long long>(i));
        }
        Output out(folder + name);
        out.Put(text);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_corpus KIND OUT AMOUNT (see the source)\n");
        return 2;
    }
    const std::string kind = argv[1];
    const std::string out = argv[2];
    const uint64_t amount = std::strtoull(argv[3], nullptr, 10);
    if (kind == "log-utf8")
        Log(out, amount, "utf8");
    else if (kind == "log-utf16le")
        Log(out, amount, "utf16le");
    else if (kind == "log-cp1252")
        Log(out, amount, "cp1252");
    else if (kind == "short-lines")
        ShortLines(out, amount);
    else if (kind == "dupes")
        Dupes(out, amount);
    else if (kind == "small-files")
        SmallFiles(out, amount);
    else if (kind == "tree")
        Tree(out, amount);
    else {
        std::fprintf(stderr, "make_corpus: unknown kind %s\n", kind.c_str());
        return 2;
    }
    return 0;
}
