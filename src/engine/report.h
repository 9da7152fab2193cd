// The last stage of a job: statistics block, deleting an empty or aborted output, clipboard.
#pragma once

#include <string>

#include "engine/extraction_job.h"

namespace gleanery {

// The statistics text for the job as it stands (starts with a line break).
std::u16string StatisticsText(const ExtractionJob& job, const JobOutcome& outcome);
// Size text of the statistics' output line: "12 Bytes", "1.00 kiB", "*** Empty file! ***", ...
std::u16string SizeText(int64_t size);
// Writes the statistics when asked, deletes an empty or aborted output, copies to the clipboard.
void ReportAndDeliver(ExtractionJob& job, JobOutcome& outcome);

} // namespace gleanery
