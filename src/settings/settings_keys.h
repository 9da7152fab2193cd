// The mapping between the settings file and the Settings record: the keys of a settings section
// and of the font, their text forms, and which stored values are taken.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"
#include "settings/settings_document.h"

namespace gleanery {

// The section that holds the last settings.
inline constexpr char kLastSection[] = "gleanery_last";

// UTF-16 with CR LF line breaks to UTF-8 with LF line breaks. A lone CR is a line break too (the
// load reads it as one) and becomes an LF as well: left as it was, a lone CR before a CR LF
// ("\r\r\n") would be written as one line break instead of two. An unpaired surrogate becomes
// U+FFFD, as the system converter does. Without `lineBreaks` the text is only re-encoded.
std::string WideToFileText(std::u16string_view text, bool lineBreaks = true);
// UTF-8 with LF line breaks to UTF-16 with CR LF line breaks. Invalid sequences become U+FFFD.
std::u16string FileTextToWide(std::string_view text, bool lineBreaks = true);

// The settings a section holds: every key that is present and valid replaces the default (a code
// page must be one of `usableCodePages`, or 0 or 1; an empty list is not probed yet, and the
// code page is probed by itself).
Settings ReadSettings(const SettingsDocument& doc, const char* section,
                      const std::vector<uint32_t>& usableCodePages);
// Writes every key of `s` into `section`, with the preset's name first when there is one.
void WriteSettings(SettingsDocument& doc, const char* section, const Settings& s,
                   const std::u16string* name);

// The stored text-box font replaces `font` when the document holds a well-formed one.
void ReadFont(const SettingsDocument& doc, TextBoxFont& font);
// Stores `font`; no font, or one without a face name, removes the stored one.
void WriteFont(SettingsDocument& doc, const TextBoxFont* font);

// The name stored in a preset section; empty when it has none.
std::u16string PresetName(const SettingsDocument& doc, const char* section);

} // namespace gleanery
