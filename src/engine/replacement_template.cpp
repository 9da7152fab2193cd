#include "engine/replacement_template.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/codepage.h"
#include "platform/unicode.h"

namespace gleanery {

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

using platform::Decimal;

struct Parser {
    ReplacementTemplate& tmpl;
    std::u16string pending; // literal text not yet turned into an item

    void Flush() {
        if (pending.empty()) return;
        tmpl.ItemCodes.push_back(kItemLiteral);
        tmpl.LiteralWide.push_back(std::move(pending));
        pending.clear();
    }
    void Add(int32_t code) {
        Flush();
        tmpl.ItemCodes.push_back(code);
        tmpl.LiteralWide.emplace_back();
    }
    // A caret right before an escape makes the escape literal: the caret goes, the escape's
    // first character stays as ordinary text.
    bool CaretEscape(size_t i, char16_t c) {
        if (i == 0 || pending.empty() || pending.back() != u'^') return false;
        pending.back() = c;
        return true;
    }
};

// The literals in the forms the output takes (code page and UTF-8), and the narrow counts.
void FinishTemplate(const Settings& settings, int missingCount, ReplacementTemplate& tmpl) {
    const uint32_t codePage = static_cast<uint32_t>(settings.CodePage);
    const size_t count = tmpl.ItemCodes.size();
    tmpl.LiteralCodePage.assign(count, std::string());
    tmpl.LiteralUtf8.assign(count, std::string());
    for (size_t k = 0; k < count; ++k) {
        if (tmpl.ItemCodes[k] != kItemLiteral) continue;
        platform::AppendWideAsCodePage(codePage, tmpl.LiteralWide[k], settings.DefaultCharacter,
                                       tmpl.LiteralCodePage[k]);
        tmpl.LiteralUtf8[k] = platform::WideToUtf8(tmpl.LiteralWide[k]);
    }
    // The counts are narrow fields; a template too long for them saturates instead of wrapping.
    tmpl.ItemCount = static_cast<uint16_t>(count > std::numeric_limits<uint16_t>::max()
                                               ? std::numeric_limits<uint16_t>::max()
                                               : count);
    tmpl.MissingGroupCount = static_cast<int16_t>(missingCount > std::numeric_limits<int16_t>::max()
                                                      ? std::numeric_limits<int16_t>::max()
                                                      : missingCount);
}

} // namespace

std::u16string ParseReplacement(const Settings& settings, ReplacementTemplate& tmpl,
                                const CompiledExpression& compiled) {
    tmpl = ReplacementTemplate{}; // a template is always parsed from scratch
    const std::u16string& s = settings.replace;
    const size_t len = s.size();
    Parser parser{tmpl, {}};
    std::u16string missing;
    int missingCount = 0;

    size_t i = 0;
    while (i < len) {
        const char16_t c = s[i];
        if (c == u'$') {
            if (i + 1 >= len || !IsDigit(s[i + 1])) {
                parser.pending.push_back(c);
                ++i;
                continue;
            }
            if (parser.CaretEscape(i, c)) {
                ++i;
                continue;
            }
            int n = s[i + 1] - u'0';
            size_t next = i + 2;
            if (i + 2 < len && IsDigit(s[i + 2])) {
                n = n * 10 + (s[i + 2] - u'0');
                next = i + 3;
            } else if (i + 2 < len && s[i + 2] == u'^') {
                next = i + 3; // the caret only ends the reference
            }
            if (n > compiled.CaptureCount) {
                ++missingCount;
                if (!missing.empty()) missing += u", ";
                missing += Decimal(n);
            }
            parser.Add(GroupItem(n));
            i = next;
            continue;
        }
        if (c == u'\\' && i + 3 < len && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
            const char16_t a = s[i + 2];
            const char16_t b = s[i + 3];
            int32_t code = -1;
            if (HexValue(a) >= 0 && HexValue(b) >= 0)
                code = HexValue(a) * 16 + HexValue(b);
            else if ((a == u'M' || a == u'm') && IsDigit(b))
                code = (a == u'M' ? kItemCounterFromZero : kItemCounterFromOne) + (b - u'0');
            else if (a == u'N' && (b == u'N' || b == u'n'))
                code = b == u'N' ? kItemPathAndFileName : kItemFileName;
            if (code >= 0) {
                if (parser.CaretEscape(i, c)) {
                    ++i;
                    continue;
                }
                parser.Add(code);
                i += 4;
                continue;
            }
        }
        parser.pending.push_back(c);
        ++i;
    }
    parser.Flush();

    FinishTemplate(settings, missingCount, tmpl);
    return missing;
}

std::u16string DisplayForm(const ReplacementTemplate& tmpl) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string out;
    for (size_t k = 0; k < tmpl.ItemCodes.size(); ++k) {
        const int32_t code = tmpl.ItemCodes[k];
        if (IsGroupItem(code)) {
            out += u"{Group" + Decimal(GroupOf(code)) + u"}";
        } else if (code <= 0xFF) {
            out += u"{Byte0x";
            out.push_back(kHex[code >> 4]);
            out.push_back(kHex[code & 0xF]);
            out += u"}";
        } else if (code == kItemLiteral) {
            out += tmpl.LiteralWide[k];
        } else if (code == kItemFileName) {
            out += u"{Filename}";
        } else if (code == kItemPathAndFileName) {
            out += u"{Path+Filename}";
        } else if (code >= kItemCounterFromZero && code <= kItemCounterFromZero + 9) {
            out += u"{Number-Scheme:M" + Decimal(code - kItemCounterFromZero) + u"}";
        } else if (code >= kItemCounterFromOne && code <= kItemCounterFromOne + 9) {
            out += u"{Number-Scheme:m" + Decimal(code - kItemCounterFromOne) + u"}";
        }
    }
    return out;
}

size_t CounterText(uint64_t matchesBefore, int32_t code, char* text) {
    const bool fromOne = code >= kItemCounterFromOne;
    const int digits = code - (fromOne ? kItemCounterFromOne : kItemCounterFromZero);
    char buffer[24];
    char* end =
        std::to_chars(buffer, buffer + sizeof buffer, matchesBefore + (fromOne ? 1 : 0)).ptr;
    const auto n = static_cast<size_t>(end - buffer);
    const size_t width = digits > 0 ? static_cast<size_t>(digits) + 1 : 0;
    size_t k = 0;
    for (; n + k < width; ++k) text[k] = '0';
    std::copy(buffer, end, text + k);
    return k + n;
}

} // namespace gleanery
