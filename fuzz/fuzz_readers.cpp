// DetectEncoding and the three readers on arbitrary file contents, with small parts and blocks
// so that cuts, carries and split surrogates and CR LF pairs come up in short inputs.
#include <cstdio>
#include <fstream>
#include <string_view>

#include <utf8.h>

#include "engine/compiled_expression.h"
#include "engine/detect_encoding.h"
#include "engine/match_loop.h"
#include "engine/readers.h"
#include "fuzz_support.h"
#include "platform/files.h"

using namespace gleanery;

namespace {

bool IsValidText(std::string_view data, const FileState& file) {
    if (file.IsUtf8) return utf8::is_valid(data.begin(), data.end());
    if (!file.IsUtf16) return false;
    std::u16string units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto a = static_cast<unsigned char>(data[i]);
        const auto b = static_cast<unsigned char>(data[i + 1]);
        units.push_back(static_cast<char16_t>(file.IsBigEndian ? (a << 8) | b : (b << 8) | a));
    }
    return fuzz::IsValidUtf16(units);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    Settings settings;
    fuzz::FillSettings(in, settings);
    static const char16_t* const kExpressions[] = {
        u".*", u"\\w+", u"(a)|(b)", u"$", u"\\R", u"[^\\x00-\\x7f]+", u"(?m)^.", u"x*",
        // A literal start, a character every match holds (line mode passes over other lines).
        u"ab\\w*", u"\\w*q\\w?", u"\u00e9a"};
    settings.regex = in.Pick(kExpressions);
    settings.replace = (in.Byte() & 1) ? u"$0" : u"[$1|\\xNn|\\xm0]";
    const uint8_t reader = in.Byte();
    const uint64_t unit = 2 * (1 + in.Byte() % 32); // even: whole UTF-16 units
    const uint64_t carry = 2 * (1 + in.Byte() % 64);

    const std::string inputPath = fuzz::ScratchDirectory() + "input.bin";
    const std::string content = in.Rest();
    std::ofstream(inputPath, std::ios::binary | std::ios::trunc) << content;
    const std::u16string inputName = fuzz::Wide(inputPath);

    CompiledExpression compiled;
    CompileExpression(settings, State().System, compiled);
    // One reading of the file with fresh results: what it wrote and how it ended.
    struct Run {
        std::string written;
        ResultState result;
        FileState file;
        SearchStatus status = SearchStatus::GoOn;
        uint32_t bom = 0;
        bool flushed = true;
        uint64_t block = 0; // a whole file read a block of this size at a time
    };
    auto read = [&](Run& run) {
        ParseReplacement(settings, run.result.Template, compiled);
        SearchContext context{settings, compiled, State().System, run.result,
                              StringSink(run.written)};
        platform::File input = platform::OpenForReading(inputName);
        if (!input.IsOpen()) std::abort();
        FileState& file = run.file;
        file.FileName = inputName;
        const int64_t fileSize = platform::SizeOf(inputName);
        if (DetectEncoding(fileSize, run.bom, input, file, settings)) {
            if (run.bom > fileSize) std::abort();
            // The job cuts text into parts and over-long lines only in files large enough to
            // have their UTF checked on the first search of every part; tiny parts stand in for
            // those.
            if (reader % 3 != 0 && (file.IsUtf8 || file.IsUtf16)) file.CheckUtfOnFirstSearch = true;
            const int64_t dataSize = fileSize - run.bom;
            switch (reader % 3) {
            case 0:
                run.status =
                    run.block == 0
                        ? ReadWholeFile(FileSource(input), dataSize, context, file)
                        : detail::ReadWholeFileInBlocks(FileSource(input), dataSize, context, file,
                                                        run.block, SIZE_MAX);
                break;
            case 1:
                run.status =
                    detail::ReadFileInPartsOfSize(FileSource(input), dataSize, context, file, unit);
                break;
            default:
                run.status = detail::ReadLinesInBlocks(FileSource(input), dataSize, context, file,
                                                       unit, carry);
                break;
            }
        }
        run.flushed = FlushOutput(context.Output, run.result);
    };
    Run run;
    read(run);
    const FileState& file = run.file;
    const uint32_t bom = run.bom;
    const SearchStatus status = run.status;
    if (!run.flushed) std::abort();
    // Line mode finds, counts and reports exactly the same when every line is searched as when
    // the lines before the next place a match could lie on are passed over.
    if (reader % 3 == 2) {
        Run every;
        detail::Slices().LinesPassedOver = false;
        read(every);
        detail::Slices().LinesPassedOver = true;
        if (every.written != run.written || every.result.PartsInFile != run.result.PartsInFile ||
            every.file.BadEncoding != file.BadEncoding || every.status != status) {
            std::fprintf(stderr, "line mode: passing over lines changed the result\n");
            std::abort();
        }
    }
    // A whole file read a block at a time finds what one search of all of it finds.
    if (reader % 3 == 0) {
        Run blocks;
        blocks.block = unit / 2 + reader % 2;
        read(blocks);
        if (blocks.written != run.written || blocks.file.BadEncoding != file.BadEncoding ||
            blocks.result.MatchCount != run.result.MatchCount || blocks.status != status) {
            std::fprintf(stderr, "whole file: reading in blocks changed the result\n");
            std::abort();
        }
    }
    // The output is in memory: nothing can fail to be written.
    if (status == SearchStatus::WriteFailed) std::abort();
    // Valid UTF is never reported as badly encoded, wherever parts and pieces were cut, as long
    // as they can hold a whole character (real parts and pieces are a megabyte at least).
    const bool roomForCharacters = unit >= 4 && carry >= 4;
    if (file.BadEncoding && roomForCharacters &&
        IsValidText(std::string_view(content).substr(bom), file))
        std::abort();
    ReleaseCompiledExpression(compiled);
    return 0;
}
