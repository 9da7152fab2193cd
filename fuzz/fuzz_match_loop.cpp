// The match loop on arbitrary text, with expressions from a fixed set (or a short one taken from
// the input), every option combination and all three shapes of text; the JIT, the interpreter
// trying every start (no scan for a literal start) and searches cut into tiny slices must write
// the same output.

#include <cstdio>
#include <cstdlib>

#include <utf8.h>

#include "engine/compiled_expression.h"
#include "engine/match_loop.h"
#include "fuzz_support.h"

using namespace gleanery;

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
                                                   u"\\x{D800}",
                                                   u"a\\Kb|(?<=a)",
                                                   u"\\Ga|b",
                                                   u"(*COMMIT)b|a",
                                                   u"\\Z|$",
                                                   u"(*ANY)(?m)$",
                                                   u"x*x*y",
                                                   u"ERROR \\w+",
                                                   u"(?i)er\\w"};
    const uint8_t pick = in.Byte();
    if (pick >= 240)
        settings.regex = fuzz::Wide(in.Bytes(pick - 240 + 1));
    else
        settings.regex = kExpressions[pick % (sizeof kExpressions / sizeof *kExpressions)];
    static const char16_t* const kTemplates[] = {u"$0", u"$1$2", u"\\xNn:\\xm3:$0", u"",
                                                 u"${n}\\xPp\\x41"};
    settings.replace = in.Pick(kTemplates);
    const uint8_t shape = in.Byte();
    const uint8_t cutAt = in.Byte();

    // A job in search-and-replace mode never writes a BOM or line mode's lines and never
    // filters duplicates (the loop itself clears WriteBom once it has written the BOM).
    const bool replaceAlone = settings.SearchAndReplace && !settings.LineMode &&
                              !settings.WriteBom && !settings.NoDuplicates;

    std::string searched; // the text's bytes as the file would hold them
    std::u16string wideText;
    std::string byteText;
    bool checkFirst = shape & 4;
    if ((shape & 3) == 2) {
        wideText = in.RestAsWide();
        searched.assign(reinterpret_cast<const char*>(wideText.data()), wideText.size() * 2);
        // Unchecked searches are only ever given valid text (the readers make sure of that).
        if (!fuzz::IsValidUtf16(wideText)) checkFirst = true;
    } else {
        byteText = in.Rest();
        searched = byteText;
        if ((shape & 3) == 1 && !utf8::is_valid(byteText.begin(), byteText.end()))
            checkFirst = true;
    }

    // One run of the loop over the text with the JIT on or off and slices of the given bounds;
    // returns what it wrote.
    struct Run {
        std::string written;
        FileState file;
    };
    // With a cut, the text is searched in two pieces as a reader cuts a file: the first knowing
    // that more follows, the second made of what the first left open and the rest.
    // `plain`: with no scan for a literal start, the library tried at every start.
    auto run = [&](bool jit, SearchSlices slices, size_t cut = SIZE_MAX, bool plain = false) {
        Settings s = settings;
        s.Jit = jit;
        detail::Slices() = slices;
        CompiledExpression compiled;
        CompileExpression(s, State().System, compiled);
        if (plain) compiled.AnsiLiteral = compiled.Utf8Literal = {};
        if (plain) compiled.Utf16Literal = {};
        ResultState result;
        ParseReplacement(s, result.Template, compiled);
        Run r;
        r.file.FileName = u"/fuzz/input.txt";
        r.file.CheckUtfOnFirstSearch = checkFirst;
        r.file.IsUtf16 = (shape & 3) == 2;
        r.file.IsUtf8 = (shape & 3) == 1;
        SearchContext context{s, compiled, State().System, result, StringSink(r.written)};
        auto searchOnce = [&](const auto& text) {
            if constexpr (sizeof(text[0]) == 2)
                return SearchUnits(text.data(), text.size(), context, r.file);
            else
                return SearchBytes(text.data(), text.size(), context, r.file);
        };
        auto search = [&](auto text, const auto& whole) {
            const size_t first = std::min(cut, whole.size());
            text = whole.substr(0, first);
            if (first < whole.size()) {
                r.file.MoreFollows = true;
                const SearchStatus status = searchOnce(text);
                r.file.MoreFollows = false;
                if (!GoesOn(status)) return status;
                text = text.substr(r.file.ResumeAt) + whole.substr(first);
                // (Line mode's pieces are pieces of one line.)
                r.file.ContinuesLine = true;
            }
            return searchOnce(text);
        };
        const SearchStatus status =
            r.file.IsUtf16 ? search(std::u16string(), wideText) : search(std::string(), byteText);
        if (status == SearchStatus::WriteFailed || !FlushOutput(context.Output, result))
            std::abort();
        ReleaseCompiledExpression(compiled);
        return r;
    };
    // The usual search (line by line where it may be) against one in tiny slices of the whole.
    const SearchSlices whole{SIZE_MAX / 4, SIZE_MAX / 4, SIZE_MAX / 4, 0};
    const SearchSlices tiny{1, size_t{1} + (shape >> 4 & 3), size_t{2} + (shape >> 6), SIZE_MAX};
    const Run jit = run(true, whole);
    const Run interpreter = run(false, tiny, SIZE_MAX, true);
    const Run jitSliced = run(true, tiny);
    // A cut where a reader could make one: on a character's start (the readers cut whole
    // characters), anywhere else.
    size_t cut = (shape >> 3 & 1) ? size_t{cutAt} * 3 : SIZE_MAX;
    if ((shape & 3) == 1)
        while (cut < byteText.size() && (static_cast<unsigned char>(byteText[cut]) & 0xC0) == 0x80)
            ++cut;
    if ((shape & 3) == 2 && cut < wideText.size() && (wideText[cut] & 0xFC00) == 0xDC00) ++cut;
    const Run jitCut = run(true, whole, cut);
    detail::Slices() = SearchSlices{};
    // The engines and the slicing agree, unless a limit ended a search (the two engines' limits
    // are not the same).
    if (!jit.file.EndedEarly && !interpreter.file.EndedEarly && jit.written != interpreter.written)
        std::abort();
    if (!jit.file.EndedEarly && !jitSliced.file.EndedEarly && jit.written != jitSliced.written)
        std::abort();
    if (jit.file.BadEncoding != jitSliced.file.BadEncoding) std::abort();
    // (Jobs never combine search and replace with a BOM, line mode or the duplicate filter, nor
    // binary mode with a BOM: the BOM would go before the first match, wherever the cut put it.)
    const bool jobSettings = !(settings.SearchAndReplace &&
                               (settings.WriteBom || settings.LineMode || settings.NoDuplicates)) &&
                             !(settings.BinaryMode && settings.WriteBom);
    if (jobSettings && !jit.file.EndedEarly && !jitCut.file.EndedEarly &&
        !jitCut.file.CutMatchLost && !jit.file.BadEncoding && !jitCut.file.BadEncoding &&
        jit.written != jitCut.written) {
        if (std::getenv("FUZZ_EXPLAIN") != nullptr)
            std::fprintf(stderr, "cut at %zu\nwhole: %s\ncut:   %s\n", cut,
                         fuzz::Escaped(jit.written).c_str(), fuzz::Escaped(jitCut.written).c_str());
        std::abort();
    }

    // Search and replace with the whole match as the replacement copies the text unchanged,
    // whatever matched where (empty matches, \K, retries, searches ended by an error).
    if (replaceAlone && settings.replace == u"$0" && !jit.file.BadEncoding &&
        ((shape & 3) != 1 || utf8::is_valid(searched.begin(), searched.end()))) {
        if (jit.written != searched) std::abort();
    }
    return 0;
}
