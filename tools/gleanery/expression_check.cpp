#include "expression_check.h"

#include <algorithm>

#include "engine/compiled_expression.h"
#include "engine/replacement_template.h"
#include "platform/codepage.h"
#include "platform/unicode.h"
#include "printable.h"
#include "terminal.h"

namespace gleanery::cli {

namespace {

// The UTF-16 index of the character that holds unit `offset` of the form that failed: bytes of
// the code-page form for an "ANSI: " message, else bytes of the UTF-8 form.
size_t ErrorIndex(const Settings& settings, const std::u16string& message, int32_t offset) {
    const bool codePageForm = message.starts_with(u"ANSI: ");
    const std::u16string& expression = settings.regex;
    int64_t units = 0;
    size_t i = 0;
    while (i < expression.size()) {
        const char16_t unit = expression[i];
        const size_t width = platform::IsSurrogatePairAt(expression, i) ? 2 : 1;
        int64_t length;
        if (codePageForm) {
            std::string bytes;
            platform::AppendWideAsCodePage(static_cast<uint32_t>(settings.CodePage),
                                           std::u16string_view(expression).substr(i, width),
                                           settings.DefaultCharacter, bytes);
            length = static_cast<int64_t>(std::max<size_t>(bytes.size(), 1));
        } else {
            length = width == 2 ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        }
        if (units + length > offset) break;
        units += length;
        i += width;
    }
    return i;
}

size_t CodePoints(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

bool CheckSearch(const Settings& stored, std::string& error, std::string& warning) {
    // As the job compiles it: a concrete code page, and ".*" for an empty expression.
    Settings settings = stored;
    if (settings.CodePage == 0)
        settings.CodePage = static_cast<int32_t>(platform::SystemAnsiCodePage());
    if (settings.CodePage == 1)
        settings.CodePage = static_cast<int32_t>(platform::SystemOemCodePage());
    if (settings.regex.empty()) settings.regex = u".*";

    CompiledExpression compiled;
    const int32_t offset = CompileExpression(settings, platform::SystemFacts{}, compiled);
    const bool ok = compiled.ErrorText.empty();
    if (!ok) {
        const size_t at = ErrorIndex(settings, compiled.ErrorText, offset);
        const std::string before = Printable(ToUtf8(settings.regex.substr(0, at)));
        error = "the expression does not compile: " + Printable(ToUtf8(compiled.ErrorText)) +
                "\n  " + before + Printable(ToUtf8(settings.regex.substr(at))) + "\n  " +
                std::string(CodePoints(before), ' ') + "^";
    } else if (!settings.replace.empty()) {
        ReplacementTemplate tmpl;
        const std::u16string missing = ParseReplacement(settings, tmpl, compiled);
        if (tmpl.MissingGroupCount > 0)
            warning = "the replacement refers to groups the expression does not have (" +
                      ToUtf8(missing) + "); they write nothing";
    }
    ReleaseCompiledExpression(compiled);
    return ok;
}

} // namespace gleanery::cli
