// A pack as the host asks for it: the plug-in's process state supplies the settings, the system's
// facts and the progress callback of the extraction job, and keeps what the job leaves to tell.
#pragma once

#include "engine/extraction_job.h"

namespace gleanery {

// On the first pack since the library was loaded (the dialog has not run), the last settings are
// taken from the settings file first.
void RunPackJob(const char16_t* archivePath, const char16_t* sourcePath, const AddList& names,
                JobOutcome& outcome);

// The pack as the host's export answers it: the job's return code, or E_NO_MEMORY when memory ran
// out on the way (an allocation that failed anywhere in the job ends it). An output file begun
// before that stays as far as it was written, as after a failed write.
int RunPackForHost(const char16_t* archivePath, const char16_t* sourcePath, const AddList& names);

} // namespace gleanery
