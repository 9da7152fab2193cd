// The replacement template: the parsed `replace` string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/compiled_expression.h"
#include "settings/settings.h"

namespace gleanery {

// Item codes.
inline constexpr int32_t kItemLiteral = 0x1FFFF;
inline constexpr int32_t kItemFileName = 0x2FFFF;
inline constexpr int32_t kItemPathAndFileName = 0x3FFFF;
inline constexpr int32_t kItemCounterFromZero = 0x4FFFF; // + digit count d (0..9)
inline constexpr int32_t kItemCounterFromOne = 0x5FFFF;  // + digit count d (0..9)
// A group reference n is ~n (-1 - n); bytes are 0..255.
inline constexpr int32_t GroupItem(int n) {
    return -1 - n;
}
inline constexpr bool IsGroupItem(int32_t code) {
    return code < 0;
}
inline constexpr int GroupOf(int32_t code) {
    return -1 - code;
}
inline constexpr bool IsCounterItem(int32_t code) {
    return (code >= kItemCounterFromZero && code <= kItemCounterFromZero + 9) ||
           (code >= kItemCounterFromOne && code <= kItemCounterFromOne + 9);
}
// The digits of a counter item after `matchesBefore` results: counted from zero or one, with
// leading zeros up to the item's digit count plus one when it has one. Writes them into `text`
// (room for 32) and returns how many.
size_t CounterText(uint64_t matchesBefore, int32_t code, char* text);

struct ReplacementTemplate {
    // Indexed by item index 0 .. ItemCount - 1; the literal texts are empty for other items.
    std::vector<int32_t> ItemCodes;
    std::vector<std::u16string> LiteralWide;
    std::vector<std::string> LiteralCodePage;
    std::vector<std::string> LiteralUtf8;
    uint16_t ItemCount = 0;
    int16_t MissingGroupCount = 0;
};

// Parses `settings.replace` into `tmpl` (which must be empty). Returns the numbers of references
// to groups beyond `compiled.CaptureCount`, in order, separated by ", ".
std::u16string ParseReplacement(const Settings& settings, ReplacementTemplate& tmpl,
                                const CompiledExpression& compiled);
// The display form shown in the statistics block, e.g. "{Group1}-{Filename}".
std::u16string DisplayForm(const ReplacementTemplate& tmpl);

} // namespace gleanery
