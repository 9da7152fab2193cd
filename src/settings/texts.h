// Interface texts: the table of user-visible texts by number, and the language file.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace gleanery {

inline constexpr uint16_t kLanguageMark = 65535;

using TextTable = std::map<uint16_t, std::u16string>;

// Texts looked up by code outside the dialog's own numbering.
inline constexpr uint16_t kTextEndedEarly = 340;
inline constexpr uint16_t kTextNotCompiled = 341;

// Looks a text up in the process-wide table; a number without an entry yields (and enters) "".
const std::u16string& Text(uint16_t number);
// True when a language section has been applied (the mark starts with "+").
bool LanguageApplied();

// Enters the built-in English texts into `table` and sets the mark to "-".
void EnterBuiltInTexts(TextTable& table);

// Applies section `language` of the language file at `path` to `table`; see the language file
// rules: a non-empty section replaces every non-empty text it has and sets the mark to "+".
void ApplyLanguageFile(TextTable& table, const std::u16string& language,
                       const std::u16string& path);

// The language name from a host language file name: HOST_DEU.LNG gives DEU.
std::u16string LanguageNameFromFile(const std::u16string& languageIni);

} // namespace gleanery
