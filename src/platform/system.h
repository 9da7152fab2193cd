// System facts: memory, time, environment, the plug-in's own location.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace gleanery::platform {

// Available physical memory in bytes (GlobalMemoryStatus).
uint64_t AvailablePhysicalMemory();
// Asks the system to back a large buffer that is about to be filled with large pages where it
// offers them, so that filling it costs far fewer page faults. Harmless when it cannot.
void AdviseLargeBuffer(void* buffer, size_t bytes);
// Runs `work(context)` on a thread of its own whose stack can grow to `stackBytes`, and waits
// for it to end. Only the address space is reserved up front; what the work touches is committed.
// False when no such thread could be made: `work` did not run.
bool RunOnLargeStack(size_t stackBytes, void (*work)(void*), void* context);
// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();
// An environment variable, or nothing when it is not set.
std::optional<std::u16string> Environment(const std::u16string& name);
// Full path of the loaded plug-in library (GetModuleFileNameW on the library's own module).
std::u16string ModuleFilePath();
// The path separator of the platform's file names.
char16_t PathSeparator();

// Integer key from an ini file (GetPrivateProfileIntA); `fallback` when missing.
int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int fallback);
// Writes a key into an ini file (WritePrivateProfileStringA); false on failure.
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

} // namespace gleanery::platform
