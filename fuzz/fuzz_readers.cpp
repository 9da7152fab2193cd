// DetectEncoding and the three readers on arbitrary file contents, with small parts and blocks
// so that cuts, carries and split surrogates and CR LF pairs come up in short inputs.
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
        u".*", u"\\w+", u"(a)|(b)", u"$", u"\\R", u"[^\\x00-\\x7f]+", u"(?m)^.", u"x*"};
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
    ResultState result;
    ParseReplacement(settings, result.Template, compiled);
    std::string written;
    SearchContext context{settings, compiled, State().System, result, StringSink(written)};
    platform::File input = platform::OpenForReading(inputName);
    if (!input.IsOpen()) std::abort();

    FileState file;
    file.FileName = inputName;
    const int64_t fileSize = platform::SizeOf(inputName);
    uint32_t bom = 0;
    SearchStatus status = SearchStatus::GoOn;
    if (DetectEncoding(fileSize, bom, input, file, settings)) {
        if (bom > fileSize) std::abort();
        // The job cuts text into parts and over-long lines only in files large enough to have
        // their UTF checked on the first search of every part; tiny parts stand in for those.
        if (reader % 3 != 0 && (file.IsUtf8 || file.IsUtf16)) file.CheckUtfOnFirstSearch = true;
        const int64_t dataSize = fileSize - bom;
        switch (reader % 3) {
        case 0:
            status = ReadWholeFile(FileSource(input), dataSize, context, file);
            break;
        case 1:
            status =
                detail::ReadFileInPartsOfSize(FileSource(input), dataSize, context, file, unit);
            break;
        default:
            status =
                detail::ReadLinesInBlocks(FileSource(input), dataSize, context, file, unit, carry);
            break;
        }
    }
    // The output is in memory: nothing can fail to be written.
    if (status == SearchStatus::WriteFailed || !FlushOutput(context.Output, result)) std::abort();
    // Valid UTF is never reported as badly encoded, wherever parts and pieces were cut, as long
    // as they can hold a whole character (real parts and pieces are a megabyte at least).
    const bool roomForCharacters = unit >= 4 && carry >= 4;
    if (file.BadEncoding && roomForCharacters &&
        IsValidText(std::string_view(content).substr(bom), file))
        std::abort();
    ReleaseCompiledExpression(compiled);
    return 0;
}
