// Interface texts: the table of user-visible texts by number, and the language file.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace gleanery {

inline constexpr uint16_t kLanguageMark = 65535;

using TextTable = std::map<uint16_t, std::u16string>;

// The texts that code looks up by number (the control table labels the dialog by number). The
// numbers are the keys of the language file, so they never change.
inline constexpr uint16_t kTextDialogTitle = 0;           // "Gleanery Settings"
inline constexpr uint16_t kTextReplaceString = 7;         // the replace editor's label
inline constexpr uint16_t kTextStart = 32;                // test panel: start a test
inline constexpr uint16_t kTextAdd = 39;                  // presets panel: add under a new name
inline constexpr uint16_t kTextRegexHelpShow = 42;        // "RegEx Help>"
inline constexpr uint16_t kTextReplaceHelpShow = 43;      // "Replace Help>"
inline constexpr uint16_t kTextRegexHelpHide = 44;        // "RegEx Help<"
inline constexpr uint16_t kTextReplaceHelpHide = 45;      // "Replace Help<"
inline constexpr uint16_t kTextOkWithLineBreaks = 60;     // status line: compiles, line breaks
inline constexpr uint16_t kTextOk = 61;                   // status line: compiles
inline constexpr uint16_t kTextSave = 70;                 // presets panel: overwrite the selected
inline constexpr uint16_t kTextDelete = 80;               // question before a preset is deleted
inline constexpr uint16_t kTextGroup = 90;                // test panel: "Group n"
inline constexpr uint16_t kTextEntirePattern = 91;        // test panel: after "Group 0"
inline constexpr uint16_t kTextSystemAnsiPage = 150;      // code page list
inline constexpr uint16_t kTextSystemOemPage = 151;       // code page list
inline constexpr uint16_t kTextDefaultCharacter = 152;    // replacement character list
inline constexpr uint16_t kTextSpace = 153;               // replacement character list
inline constexpr uint16_t kTextFirstFile = 160;           // outfile extension list
inline constexpr uint16_t kTextPackDialog = 161;          // outfile extension list
inline constexpr uint16_t kTextTestString = 170;          // the replace editor's label in a test
inline constexpr uint16_t kTextNoMatch = 171;             // test panel
inline constexpr uint16_t kTextStop = 172;                // test panel: Start while a test runs
inline constexpr uint16_t kTextPrevious = 173;            // test panel: the toggle while it runs
inline constexpr uint16_t kTextIncorrectExpression = 174; // OK or a test with an error
inline constexpr uint16_t kTextIniNotReadable = 200;
inline constexpr uint16_t kTextNoPresetsLoaded = 201;
inline constexpr uint16_t kTextPresetsNotSaved = 202;
inline constexpr uint16_t kTextNoPresetSectionLeft = 203;
inline constexpr uint16_t kTextSubgroupsNotFound = 210; // OK with missing subgroups: question
inline constexpr uint16_t kTextContinueAnyway = 211;
inline constexpr uint16_t kTextReferencesRemoved = 212;
inline constexpr uint16_t kTextFontChangeFailed = 220;
inline constexpr uint16_t kTextLastSettingsMissing = 300; // a pack without the last settings
inline constexpr uint16_t kTextContinueWithDefaults = 301;
inline constexpr uint16_t kTextOverwrite = 310; // the verb of the replace-file/preset question
inline constexpr uint16_t kTextClipboardFailed = 320;
inline constexpr uint16_t kTextTooBigForClipboard = 321;
inline constexpr uint16_t kTextOutfileNotDeleted = 322;
inline constexpr uint16_t kTextEndedEarly = 340;
inline constexpr uint16_t kTextNotCompiled = 341;
inline constexpr uint16_t kTextNotReadWhole = 342;
inline constexpr uint16_t kTextCutMatchLost = 343;
inline constexpr uint16_t kTextQuestionMark = 500; // ends a question after a quoted name

// The process-wide table of interface texts: filled at start-up (the built-in texts, then the
// language file) and read by every layer, so it lives here rather than with the host's state.
TextTable& InterfaceTexts();
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
