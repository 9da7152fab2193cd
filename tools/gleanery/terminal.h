// The host's conversation with the user: questions, Ctrl-C.
#pragma once

#include <cstdint>
#include <string>

#include "host/wcx.h"

namespace gleanery::cli {

enum class AnswerPolicy { Ask, Yes, No };

// How questions are answered: on the terminal, or always Yes / No (--yes, --no). Without a
// terminal the question's default button is taken.
void SetAnswerPolicy(AnswerPolicy policy);

// The plug-in's message box, as the host's extension record offers it (UTF-8, Win32 flags).
int WCX_CALL HostMessageBox(char* text, char* caption, int32_t flags);
// The exit status of a cancelled run (the plug-in's answer to a cancelled pack).
inline constexpr int kCancelledStatus = 21;
// Catches Ctrl-C: the first makes the next progress call cancel the pack; a second one ends the
// process at once, after removing the run's temporary directory, with kCancelledStatus.
void InstallInterruptHandler();
bool Interrupted();
// Whether a question of the plug-in was answered No since the last reset.
void ResetDeclined();
bool Declined();

// A message on standard error, "gleanery: " before it, control characters escaped.
void Complain(const std::string& message);

bool StderrIsTerminal();
bool StdinIsTerminal();

std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

} // namespace gleanery::cli
