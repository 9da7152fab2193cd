// System facts on POSIX.
#include "platform/system.h"
#include "platform/codepage.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace gleanery::platform {

uint64_t AvailablePhysicalMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream fields(line.substr(13));
        uint64_t kibibytes = 0;
        if (fields >> kibibytes) return kibibytes * 1024;
        break;
    }
    return 0;
}

namespace {

struct StackWork {
    void (*work)(void*);
    void* context;
};

void* RunStackWork(void* argument) {
    const auto* stackWork = static_cast<const StackWork*>(argument);
    stackWork->work(stackWork->context);
    return nullptr;
}

} // namespace

bool RunOnLargeStack(size_t stackBytes, void (*work)(void*), void* context) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    StackWork stackWork{work, context};
    pthread_t thread;
    const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                         pthread_create(&thread, &attributes, &RunStackWork, &stackWork) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(thread, nullptr);
    return started;
}

uint32_t TickCount() {
    // The coarse clock is what GetTickCount is: a tick of a few milliseconds, read without
    // asking the hardware. The match loop reads it around every search, so the precise clock's
    // cost (over 100 ns on virtual machines) would show in line mode, one search per line.
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<uint32_t>(milliseconds);
}

std::optional<std::u16string> Environment(const std::u16string& name) {
    if (name.empty()) return std::nullopt;
    const char* value = std::getenv(WideToUtf8(name).c_str());
    if (value == nullptr) return std::nullopt;
    return Utf8ToWide(value);
}

std::u16string ModuleFilePath() {
    // An address inside this library names the object it was loaded from: the plug-in when the
    // platform layer is linked into it, the executable when linked into a test program.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) == 0 || info.dli_fname == nullptr)
        return std::u16string();
    std::string path = info.dli_fname;
    if (path.empty() || path.front() != '/') {
        // The loader names the program by how it was started and a library by how it was
        // asked for: make such a name absolute. A bare name was found along PATH, so only the
        // kernel knows where the program lies.
        char* resolved =
            path.find('/') != std::string::npos ? realpath(path.c_str(), nullptr) : nullptr;
        if (resolved != nullptr) {
            path = resolved;
            std::free(resolved);
        } else {
            char self[4096];
            const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
            if (length > 0) path.assign(self, static_cast<size_t>(length));
        }
    }
    return Utf8ToWide(path);
}

char16_t PathSeparator() {
    return u'/';
}

void AdviseLargeBuffer(void* buffer, size_t bytes) {
#ifdef MADV_HUGEPAGE
    // Only whole pages inside the buffer; the kernel uses huge pages where they fit.
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<uintptr_t>(buffer) + page - 1) / page * page;
    const auto last = (reinterpret_cast<uintptr_t>(buffer) + bytes) / page * page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

} // namespace gleanery::platform
