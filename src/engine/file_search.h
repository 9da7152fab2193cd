// The search of one file of a job, apart from what the job makes of it: the serial walk runs
// both halves on the host's thread; a parallel walk searches on its workers and merges on the
// host's thread, in add-list order.
#pragma once

#include <cstdint>
#include <string>

#include "engine/extraction_job.h"
#include "engine/readers.h"
#include "engine/search_context.h"
#include "engine/search_state.h"

namespace gleanery {

// What the search of one add-list entry gave, for the job to merge.
struct FileSearch {
    // The entry is no regular file (a directory, or gone by now): only the host hears of it.
    bool NotAFile = false;
    // Opened and its encoding settled; false puts it on the list of files that could not be opened.
    bool Opened = false;
    // The system granted less read memory than the settings ask for, and the file did not fit.
    bool Declined = false;
    SearchStatus Status = SearchStatus::GoOn;
    // The byte count the data to search has (the file's size less a byte order mark).
    int64_t DataSize = 0;
    // Past the byte order mark: where the data to search starts.
    uint32_t BomLength = 0;
    // A file searched whole is read at its open, once, for the encoding check and the search.
    LoadedFile Loaded;
    // The thread's load buffer, for a file searched whole that is too large to load: it is read
    // through it a block at a time.
    LoadBuffer* Room = nullptr;
    // The file's first bytes the encoding check left in the room (its mark included), the input
    // positioned behind them: the search takes them from there instead of reading them again.
    size_t Kept = 0;
    FileState File;
};

// Opens the entry and settles its encoding. False when it is no file (NotAFile) or cannot be
// opened (the job's `output` is never read as input); `input` is then closed. A file searched
// whole is read into `buffer` (the thread's own) here.
bool OpenForSearch(const Settings& settings, const platform::File& output,
                   const std::u16string& fullName, const std::u16string& accessName,
                   platform::File& input, LoadBuffer& buffer, FileSearch& search);
// Searches the opened file through `context`, whose result takes its output and its counts
// (PartsInFile from 0); the readers close `input`.
void SearchOpened(SearchContext& context, platform::File& input, FileSearch& search);

// The read memory a file takes in bytes (at most what the settings grant).
int64_t ReadMemoryOf(const Settings& settings, int64_t dataSize);

// Adds what one file's search gave to the job's counts and lists (the result's own counters
// excepted, which the caller merges) and to the outcome.
void MergeFileSearch(ExtractionJob& job, JobOutcome& outcome, const std::u16string& fullName,
                     const FileSearch& search, uint32_t partsInFile);

} // namespace gleanery
