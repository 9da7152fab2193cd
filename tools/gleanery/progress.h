// The progress line on standard error: on a terminal only, redrawn at most ten times a second,
// with the files done of the total, the bytes read, the time taken and the current file.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "host/wcx.h"

namespace gleanery::cli {

// Starts the clock and the count for a pack of `names` (each file's name as the plug-in forms
// it, in the order it takes them); `show` false keeps the line off (--quiet, no terminal).
void StartProgress(std::vector<std::u16string> names, bool show);
// A name handed to the plug-in after the start: the count's total grows with the names.
void AddProgressName(std::u16string name);
// Whether the progress line is drawn (names for it are kept).
bool ShowsProgress();
// The host's progress callback: counts and, when due, redraws; 0 (stop) after Ctrl-C or when
// the reader of standard output has gone.
int WCX_CALL ProgressCallback(char16_t* fileName, int size);
// Ends the progress line, if one is shown.
void EndProgressLine();

// Held by whoever writes to the terminal while the progress line may be shown on it.
std::mutex& TerminalMutex();
// EndProgressLine for a holder of TerminalMutex.
void ClearProgressLineLocked();

} // namespace gleanery::cli
