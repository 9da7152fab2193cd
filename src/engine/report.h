// The last stage of a job: statistics block, deleting an empty or aborted output, clipboard.
#pragma once

#include <string>

#include "engine/extraction_job.h"

namespace gleanery {

// The statistics text for the job as it stands (starts with a line break).
std::u16string StatisticsText(const ExtractionJob& job, const JobOutcome& outcome);
// The lists of files whose search was incomplete in a way the output cannot show (their form of
// the expression did not compile, a limit ended the search, a match across a cut needed more than
// the reader could carry, or the file could not be read whole), each under its heading; empty
// when there are none. Part of the statistics, and what the plug-in keeps for its host after the
// job.
// With IncompleteLists::WithUnsearched (what the host keeps) the files partly skipped for bad
// encoding and those that could not be opened follow, under the fixed headings below, which a
// host may look for; the statistics list those two elsewhere.
enum class IncompleteLists { Searched, WithUnsearched };
inline constexpr char16_t kBadEncodingHeading[] =
    u"The following file(s) were at least partially skipped due to bad UTF encoding:";
inline constexpr char16_t kNotOpenedHeading[] =
    u"Could not open the following file(s) for reading:";
std::u16string IncompleteSearchesText(const ExtractionJob& job,
                                      IncompleteLists lists = IncompleteLists::Searched);
// Size text of the statistics' output line: "12 Bytes", "1.00 kiB", "*** Empty file! ***", ...
std::u16string SizeText(int64_t size);
// Writes the statistics when asked, deletes an empty or aborted output, copies to the clipboard.
void ReportAndDeliver(ExtractionJob& job, JobOutcome& outcome);

} // namespace gleanery
