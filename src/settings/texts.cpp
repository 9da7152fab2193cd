#include "settings/texts.h"

#include <SimpleIni.h>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace gleanery {

namespace {

struct BuiltInText {
    uint16_t number;
    const char16_t* text;
};

// The English texts, in the order in which they are entered and read from the language file.
constexpr BuiltInText kBuiltInTexts[] = {
    {0, u"Gleanery Settings"},
    {1, u"OK"},
    {2, u"Cancel"},
    {3, u"Regular Expression"},
    {4, u"\\Q...\\E"},
    {5, u"Expression Status"},
    {6, u"AaBbYyZz"},
    {7, u"Replace String"},
    {8, u"Modes"},
    {9, u"No duplicates"},
    {10, u"Binary mode"},
    {11, u"Search and Replace"},
    {12, u"Line mode"},
    {13, u"PCRE options"},
    {14, u"Case sensitive"},
    {15, u"Dotall (?s)"},
    {16, u"Line anchors (?m)"},
    {17, u"Unicode properties"},
    {18, u"Empty match is valid"},
    {19, u"Misc options"},
    {20, u"Read memory (MiB)"},
    {21, u"Encoding check buffer"},
    {22, u"Write stats to file"},
    {23, u"Copy to Clipboard"},
    {24, u"Delete file if copied"},
    {25, u"Write UTF-8-BOM"},
    {26, u"Recoding"},
    {27, u"Replacement character"},
    {28, u"Code page to use"},
    {29, u"Outfile extension"},
    {30, u"Expression test"},
    {31, u">"},
    {32, u"Start"},
    {33, u"Next"},
    {34, u"(-)"},
    {35, u"(+)"},
    {36, u"Presets"},
    {37, u"Load"},
    {38, u"Del"},
    {39, u"Add"},
    {40, u"About"},
    {41, u"Load defaults"},
    {42, u"RegEx Help>"},
    {43, u"Replace Help>"},
    {44, u"RegEx Help<"},
    {45, u"Replace Help<"},
    {46, u"( ... )"},
    {47, u".* ... .*"},
    {60, u"OK, but newlines / line breaks in expression!"},
    {61, u"OK!"},
    {70, u"Save"},
    {80, u"Delete"},
    {90, u"Group"},
    {91, u"(entire pattern)"},
    {100, u"Change Font for text boxes"},
    {101, u"Quote selection or complete text"},
    {102, u"Highlight error position on click"},
    {103, u"5 MiB limit"},
    {104, u"Not for files > 5 MiB"},
    {105, u"Previous Subgroup"},
    {106, u"Next Subgroup"},
    {107, u"PCRE Syntax"},
    {108, u"Character properties for values >128 work with system page only"},
    {109, u"Using 64-bit hash function"},
    {110, u"Returns line numbers"},
    {111, u"A high value worth only for dotall mode"},
    {112, u"A large buffer worth only for UTF-8 w/o BOM"},
    {113, u"Assign selection or complete text to a group"},
    {114, u"Surround selection or complete text with placeholders"},
    {150, u"Sys ANSI page"},
    {151, u"Sys OEM page"},
    {152, u"default"},
    {153, u"(Space)"},
    {160, u"First File"},
    {161, u"Pack Dialog"},
    {170, u"Test String"},
    {171, u"No match!"},
    {172, u"Stop"},
    {173, u"Prev"},
    {174, u"Incorrect Expression!"},
    {200, u"The ini file is present but not readable!"},
    {201, u"No presets loaded!"},
    {202, u"Could not save the presets to the ini file!"},
    {203, u"No free preset section left in the settings file (at most 2048 presets)!"},
    {210, u"Subgroup(s) not found in expression:"},
    {211, u"Continue anyway?"},
    {212, u"(references would be removed)"},
    {220, u"Font change failed!"},
    {300, u"Last settings not available!"},
    {301, u"Continue with default settings?"},
    {310, u"Overwrite"},
    {320, u"Clipboard copy failed!"},
    {321, u"File too big for Clipboard copy."},
    {322, u"Outfile not deleted!"},
    {340, u"The search ended early in the following file(s), stopped by a limit of the "
          u"expression library; some results could be missing. Try a simpler expression or "
          u"line mode:"},
    {341, u"The expression could not be compiled for the encoding of the following file(s), so "
          u"they were not searched (the settings dialog's expression status tells why):"},
    {342, u"The following file(s) could not be read whole (a read failed, memory was short, or "
          u"the file got shorter while it was read), so results from them may be missing:"},
    {343, u"In the following file(s) a match may be missing where the text was cut into parts "
          u"(or a line longer than the read memory into pieces): it would have spanned more than "
          u"half the read memory. Try a larger read memory:"},
    {500, u"?"},
};

constexpr size_t kBuiltInCount = sizeof(kBuiltInTexts) / sizeof(kBuiltInTexts[0]);
static_assert(kBuiltInCount == 99);

// Reads a whole file whose size comes from its attributes; false unless every byte arrived.
bool ReadWholeFileAt(const std::u16string& path, std::string& bytes) {
    int64_t size = platform::SizeOf(path);
    if (size < 0) return false;
    platform::File file = platform::OpenForReading(path);
    if (!file.IsOpen()) return false;
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    return platform::Read(file, bytes.data(), bytes.size(), got) && got == bytes.size();
}

} // namespace

TextTable& InterfaceTexts() {
    // Made on first use, so that no use depends on the order in which the library's static
    // objects are initialised.
    static TextTable table;
    return table;
}

const std::u16string& Text(uint16_t number) {
    return InterfaceTexts()[number];
}

bool LanguageApplied() {
    const std::u16string& mark = Text(kLanguageMark);
    return !mark.empty() && mark[0] == u'+';
}

void EnterBuiltInTexts(TextTable& table) {
    for (const BuiltInText& t : kBuiltInTexts) table[t.number] = t.text;
    table[kLanguageMark] = u"-";
}

void ApplyLanguageFile(TextTable& table, const std::u16string& language,
                       const std::u16string& path) {
    std::string bytes;
    if (!ReadWholeFileAt(path, bytes)) return;

    CSimpleIniA ini(/*isUtf8=*/true, /*multiKey=*/false, /*multiLine=*/false);
    if (ini.LoadData(bytes.data(), bytes.size()) < 0) return;

    const std::string section = platform::WideToUtf8(language);
    const CSimpleIniA::TKeyVal* keys = ini.GetSection(section.c_str());
    if (!keys || keys->empty()) return;

    for (const BuiltInText& t : kBuiltInTexts) {
        const std::string key = std::to_string(t.number);
        const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
        if (value && *value) table[t.number] = platform::Utf8ToWide(value);
    }
    table[kLanguageMark] = u"+";
}

std::u16string LanguageNameFromFile(const std::u16string& languageIni) {
    const size_t dot = languageIni.find(u'.');
    if (dot != std::u16string::npos && dot > 0) {
        const size_t underscore = languageIni.rfind(u'_', dot - 1);
        if (underscore != std::u16string::npos && underscore > 0 && dot > underscore)
            return languageIni.substr(underscore + 1, dot - underscore - 1);
    }
    return languageIni;
}

} // namespace gleanery
