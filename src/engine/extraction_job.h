// One pack operation: from the host's file list to the finished output file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/add_list.h"
#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace gleanery {

struct JobOutcome {
    bool ok = true;
    bool aborted = false;
    bool created = true;
    bool matched = true;
    // What the host should keep for its own host to tell the user (see IncompleteSearchesText).
    std::u16string Notes;
};

// The encoding all files of a search-and-replace job share so far; the clipboard copy follows it.
enum class SharedEncoding { NoFileYet, Mixed, CodePage, Utf8, Utf16LittleEndian, Utf16BigEndian };

// What a pack is asked to do, and with what.
struct JobRequest {
    std::u16string ArchivePath;
    std::u16string SourcePath; // with a trailing separator
    AddList Names;             // relative to SourcePath
    Settings CurrentSettings;
    platform::SystemFacts System;
    ProgressFn Progress = nullptr;
};

struct ExtractionJob {
    Settings JobSettings;
    platform::SystemFacts System;
    // Set while the files are searched.
    SearchContext* Context = nullptr;
    bool BomAtStart = false;
    ResultState Result;
    CompiledExpression Compiled;
    std::u16string OutputPath;
    platform::File Output;
    uint32_t Attempted = 0;
    // Files searched whole, and files searched only as far as they could be read.
    uint32_t Searched = 0;
    uint32_t SearchedInPart = 0;
    uint32_t Declined = 0;
    SharedEncoding EncodingAgreement = SharedEncoding::NoFileYet;
    uint32_t StartTime = 0;
    uint32_t Elapsed = 0;
    std::u16string CouldNotOpen;
    std::u16string BadEncoding;
    // Files whose search the library stopped at one of its limits, each after a line break.
    std::u16string EndedEarly;
    // Files whose encoding's form of the expression did not compile, so they were not searched.
    std::u16string NotCompiled;
    // Files where a match across the cut between two parts may be missing: it needed more than
    // the reader could carry.
    std::u16string CutMatchLost;
    // Files that could not be read whole, searched as far as they were read.
    std::u16string NotReadWhole;
    int64_t OutputSize = -1;
};

// Runs one job.
void RunExtractionJob(const JobRequest& request, JobOutcome& outcome);

// The WCX return code for an outcome.
int PackResultCode(const JobOutcome& outcome);

// Output file name from the archive path and `OutfileExtension` (before full-path resolution).
// The extension of the first file takes the names up to it.
std::u16string OutputNameFor(const std::u16string& archivePath, int8_t outfileExtension,
                             const std::u16string& sourcePath, AddList& names);
inline std::u16string OutputNameFor(const std::u16string& archivePath, int8_t outfileExtension,
                                    const std::u16string& sourcePath, const char16_t* entries) {
    AddList names = WholeAddList(entries);
    return OutputNameFor(archivePath, outfileExtension, sourcePath, names);
}

// The granted read memory in MiB for a `Memory` setting and the available physical memory: from
// kLeastGrantMiB to kMostGrantMiB.
inline constexpr uint32_t kLeastGrantMiB = 5;
inline constexpr uint32_t kMostGrantMiB = 500;
// The most a `Memory` setting grants, whatever the system has free.
inline uint32_t SettingGrantMiB(int32_t memorySetting) {
    return static_cast<uint32_t>(std::clamp(memorySetting, static_cast<int32_t>(kLeastGrantMiB),
                                            static_cast<int32_t>(kMostGrantMiB)));
}
uint32_t GrantedReadMemory(int32_t memorySetting, uint64_t availablePhysical);

} // namespace gleanery
