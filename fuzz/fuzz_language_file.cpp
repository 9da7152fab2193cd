// The language-file loader on arbitrary files.
#include <fstream>

#include "fuzz_support.h"
#include "settings/texts.h"

using namespace gleanery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    static const char16_t* const kLanguages[] = {u"DEU", u"deu", u"FRA", u"", u"x y"};
    const std::u16string language = in.Pick(kLanguages);
    const std::string path = fuzz::ScratchDirectory() + "Gleanery.lng";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << in.Rest();

    TextTable table;
    EnterBuiltInTexts(table);
    const size_t builtIn = table.size();
    ApplyLanguageFile(table, language, fuzz::Wide(path));
    // A language file replaces texts; it never adds numbers and never writes the mark itself.
    if (table.size() != builtIn) std::abort();
    const std::u16string& mark = table[kLanguageMark];
    if (mark != u"-" && mark != u"+") std::abort();
    return 0;
}
