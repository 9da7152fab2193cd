#include "expression_check.h"

#include <algorithm>

#include "columns.h"
#include "engine/compiled_expression.h"
#include "engine/replacement_template.h"
#include "platform/codepage.h"
#include "platform/unicode.h"
#include "printable.h"
#include "terminal.h"

namespace gleanery::cli {

namespace {

// The form whose compile failed first, which counts the error offset in its own units.
enum class FailedForm { Utf8, CodePage, Utf16 };

FailedForm FailedFormOf(const CompiledExpression& compiled) {
    if (!compiled.Utf8Code) return FailedForm::Utf8;
    return compiled.AnsiCode ? FailedForm::Utf16 : FailedForm::CodePage;
}

// The UTF-16 index of the character that holds unit `offset` of the form that failed.
size_t ErrorIndex(const Settings& settings, FailedForm form, int32_t offset) {
    const std::u16string& expression = settings.regex;
    if (form == FailedForm::Utf16)
        return std::min(static_cast<size_t>(std::max(offset, 0)), expression.size());
    const bool codePageForm = form == FailedForm::CodePage;
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

// The expression with a caret under the character that holds the error offset.
std::string Pointed(const Settings& settings, FailedForm form, int32_t offset) {
    const size_t at = ErrorIndex(settings, form, offset);
    const std::string before = Printable(ToUtf8(settings.regex.substr(0, at)));
    return "\n  " + before + Printable(ToUtf8(settings.regex.substr(at))) + "\n  " +
           std::string(TerminalColumns(before), ' ') + "^";
}

// Which files a form that did not compile keeps from being searched, when another form still
// searches the rest; empty when none is missing. Binary mode searches every file with the
// code-page form.
std::string Unsearchable(const Settings& settings, const CompiledExpression& compiled) {
    std::string kinds;
    if (settings.BinaryMode) return kinds;
    if (!compiled.AnsiCode)
        kinds = "files in code page " + std::to_string(settings.CodePage) +
                " (neither UTF-8 nor UTF-16)";
    if (!compiled.Utf16Code) kinds += std::string(kinds.empty() ? "" : " and ") + "UTF-16 files";
    return kinds;
}

} // namespace

bool CheckSearch(const Settings& stored, std::string& error, std::vector<std::string>& warnings) {
    // As the job compiles it: a concrete code page, and ".*" for an empty expression.
    Settings settings = stored;
    if (settings.CodePage == 0)
        settings.CodePage = static_cast<int32_t>(platform::SystemAnsiCodePage());
    if (settings.CodePage == 1)
        settings.CodePage = static_cast<int32_t>(platform::SystemOemCodePage());
    if (settings.regex.empty()) settings.regex = u".*";

    CompiledExpression compiled;
    const int32_t offset = CompileExpression(settings, platform::SystemFacts{}, compiled);
    const std::string message = Printable(ToUtf8(compiled.ErrorText));
    // The UTF-8 form is compiled first: without it no form is made. Binary mode searches every
    // file with the code-page form alone.
    const bool searchable = compiled.Utf8Code && (compiled.AnsiCode || !settings.BinaryMode);
    if (!searchable) {
        error = "the expression does not compile: " + message +
                Pointed(settings, FailedFormOf(compiled), offset);
    } else if (!compiled.ErrorText.empty()) {
        const std::string kinds = Unsearchable(settings, compiled);
        if (compiled.AnsiCode && compiled.Utf16Code)
            warnings.push_back("the expression was compiled but not studied: " + message);
        else if (!kinds.empty())
            warnings.push_back("the expression does not compile for " + kinds +
                               ", which are therefore not searched: " + message +
                               Pointed(settings, FailedFormOf(compiled), offset));
    }
    if (searchable && !settings.replace.empty()) {
        ReplacementTemplate tmpl;
        const std::u16string missing = ParseReplacement(settings, tmpl, compiled);
        if (tmpl.MissingGroupCount > 0)
            warnings.push_back("the replacement refers to groups the expression does not have (" +
                               ToUtf8(missing) + "); they write nothing");
    }
    ReleaseCompiledExpression(compiled);
    return searchable;
}

} // namespace gleanery::cli
