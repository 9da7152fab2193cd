// The replacement-template parser on arbitrary strings: every string is a valid template.
#include "engine/compiled_expression.h"
#include "engine/replacement_template.h"
#include "fuzz_support.h"

using namespace gleanery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    fuzz::Input in{data, size};
    Settings settings;
    fuzz::FillSettings(in, settings);
    CompiledExpression compiled;
    compiled.CaptureCount = in.Byte() % 100;
    settings.replace = in.RestAsWide();

    ReplacementTemplate tmpl;
    const std::u16string missing = ParseReplacement(settings, tmpl, compiled);
    const std::u16string shown = DisplayForm(tmpl);
    if (tmpl.ItemCodes.size() != tmpl.ItemCount || tmpl.LiteralWide.size() != tmpl.ItemCount ||
        tmpl.LiteralCodePage.size() != tmpl.ItemCount || tmpl.LiteralUtf8.size() != tmpl.ItemCount)
        std::abort();
    if ((tmpl.MissingGroupCount == 0) != missing.empty()) std::abort();
    return 0;
}
