// The match loop on arbitrary text, with expressions from a fixed set (or a short one taken from
// the input), every option combination and all three shapes of text.
#include <fstream>
#include <iterator>

#include <utf8.h>

#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "fuzz_support.h"
#include "platform/files.h"

using namespace gleanery;

namespace {

platform::File& Output() {
    static platform::File output = [] {
        uint32_t lastError = 0;
        return platform::OpenOrCreateForWriting(
            fuzz::Wide(fuzz::ScratchDirectory() + "match-out.txt"), lastError);
    }();
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    Settings settings;
    fuzz::FillSettings(in, settings);
    static const char16_t* const kExpressions[] = {u".*",
                                                   u"\\w+",
                                                   u"(\\d+)-(\\d+)",
                                                   u"(?m)^(.*)$",
                                                   u"\\R",
                                                   u"(a|b)*c",
                                                   u"(?<n>x)\\k<n>",
                                                   u"\\p{L}+",
                                                   u"[\\x{100}-\\x{10FFFF}]",
                                                   u"(?s).{0,3}",
                                                   u"\\b",
                                                   u"",
                                                   u"(a+)+$",
                                                   u"\\Q.*\\E",
                                                   u"(?i)stra\\x{DF}e",
                                                   u"\\x{D800}"};
    const uint8_t pick = in.Byte();
    if (pick >= 240)
        settings.regex = fuzz::Wide(in.Bytes(pick - 240 + 1));
    else
        settings.regex = kExpressions[pick % (sizeof kExpressions / sizeof *kExpressions)];
    static const char16_t* const kTemplates[] = {u"$0", u"$1$2", u"\\xNn:\\xm3:$0", u"",
                                                 u"${n}\\xPp\\x41"};
    settings.replace = in.Pick(kTemplates);
    const uint8_t shape = in.Byte();

    // A job in search-and-replace mode never writes a BOM or line mode's lines and never
    // filters duplicates (the loop itself clears WriteBom once it has written the BOM).
    const bool replaceAlone = settings.SearchAndReplace && !settings.LineMode &&
                              !settings.WriteBom && !settings.NoDuplicates;

    CompiledExpression compiled;
    CompileExpression(settings, compiled);
    ResultState result;
    ParseReplacement(settings, result.Template, compiled);
    FileState file;
    file.FileName = u"/fuzz/input.txt";
    file.CheckUtfOnFirstSearch = shape & 4;
    bool abort = false;
    bool ok;
    std::string searched; // the text's bytes as the file would hold them
    if ((shape & 3) == 2) {
        file.IsUtf16 = true;
        const std::u16string text = in.RestAsWide();
        searched.assign(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        // Unchecked searches are only ever given valid text (the readers make sure of that).
        if (!fuzz::IsValidUtf16(text)) file.CheckUtfOnFirstSearch = true;
        ok = SearchUnits(text.data(), text.size(), Output(), compiled, file, settings, result,
                         abort);
    } else {
        file.IsUtf8 = (shape & 3) == 1;
        const std::string text = in.Rest();
        searched = text;
        if (file.IsUtf8 && !utf8::is_valid(text.begin(), text.end()))
            file.CheckUtfOnFirstSearch = true;
        ok = SearchBytes(text.data(), text.size(), Output(), compiled, file, settings, result,
                         abort);
    }
    if (ok) ok = FlushOutput(Output(), result, ok, true);
    if (!ok) std::abort();
    ReleaseCompiledExpression(compiled);

    // Search and replace with the whole match as the replacement copies the text unchanged,
    // whatever matched where (empty matches, \K, retries, searches ended by an error).
    if (replaceAlone && settings.replace == u"$0" && !file.BadEncoding &&
        (!file.IsUtf8 || utf8::is_valid(searched.begin(), searched.end()))) {
        std::ifstream written(fuzz::ScratchDirectory() + "match-out.txt", std::ios::binary);
        const std::string copy{std::istreambuf_iterator<char>(written), {}};
        if (copy != searched) std::abort();
    }
    return 0;
}
