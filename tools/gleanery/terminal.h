// The host's conversation with the user: progress line, questions, Ctrl-C.
#pragma once

#include <cstdint>
#include <string>

#include "host/wcx.h"

namespace gleanery::cli {

enum class AnswerPolicy { Ask, Yes, No };

// How questions are answered: on the terminal, or always Yes / No (--yes, --no). Without a
// terminal the question's default button is taken.
void SetAnswerPolicy(AnswerPolicy policy);
void SetQuiet(bool quiet);

// The plug-in's message box, as the host's extension record offers it (UTF-8, Win32 flags).
int WCX_CALL HostMessageBox(char* text, char* caption, int32_t flags);
// The host's progress callback: shows the file on a terminal; 0 after Ctrl-C.
int WCX_CALL ProgressCallback(char16_t* fileName, int size);
// The exit status of a cancelled run (the plug-in's answer to a cancelled pack).
inline constexpr int kCancelledStatus = 21;
// Catches Ctrl-C: the first makes the next progress call cancel the pack; a second one ends the
// process at once, after removing the run's temporary directory, with kCancelledStatus.
void InstallInterruptHandler();
bool Interrupted();
// Whether a question of the plug-in was answered No since the last reset.
void ResetDeclined();
bool Declined();
// Ends the progress line, if one is shown.
void EndProgressLine();

std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

} // namespace gleanery::cli
