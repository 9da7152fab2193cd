// The run's private temporary directory: the copy of the settings that a pack with search
// options works on, the result on its way to standard output, and the copies of streams to be
// searched. A signal handler removes it with a handful of system calls.
#pragma once

#include <filesystem>
#include <string>

namespace gleanery::cli {

// Creates the directory, readable by this user only; one per process. `smallFilesOnly`: nothing
// large will be put in it (no result on its way to standard output, no copies of streams), so it
// may live in memory.
bool CreateScratch(std::filesystem::path& dir, std::string& error, bool smallFilesOnly = false);
// Removes the directory and its files, if there is one.
void RemoveScratch();
// The same from a signal handler: only async-signal-safe calls on POSIX.
void RemoveScratchFromSignal();

// Removes the directory when the scope that created it ends, however it ends.
struct ScratchGuard {
    ScratchGuard() = default;
    ScratchGuard(const ScratchGuard&) = delete;
    ScratchGuard& operator=(const ScratchGuard&) = delete;
    ~ScratchGuard() { RemoveScratch(); }
};

} // namespace gleanery::cli
