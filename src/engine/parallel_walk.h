// The walk over the add list with workers that search files side by side. The host's thread
// hands the files out in add-list order and writes each file's results once every file before it
// is written, so the output is the one a walk on the host's thread alone would write; it is also
// the only thread that calls the host (progress) and the one that merges counts and lists.
#pragma once

#include <cstdint>
#include <string>

#include "engine/extraction_job.h"

namespace gleanery {

// The workers the `Threads` setting asks for: one per processor core for 0 (at least one), else
// the setting itself (at most 64).
unsigned WorkerCount(int32_t threadsSetting);

// True when the job is searched by workers: the settings ask for two or more, the add list holds
// more than one entry, and nothing in the output depends on earlier files beyond the separator
// and the byte order mark before a file's first result (see WalkInParallel).
bool SearchesInParallel(const ExtractionJob& job, AddList& names);

// Walks the add list with WorkerCount workers. False when no worker could be started: nothing
// was done, and the walk is left to the host's thread.
bool WalkInParallel(ExtractionJob& job, JobOutcome& outcome, const std::u16string& sourcePath,
                    AddList& names);

} // namespace gleanery
