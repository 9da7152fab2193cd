// Parsing the replacement template: escapes, group references, the caret escape, counters and
// file-name items, the literal forms and the display form.
#include <gtest/gtest.h>

#include <string>

#include "engine/replacement_template.h"

namespace gleanery {
namespace {

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

struct Parsed {
    ReplacementTemplate tmpl;
    std::u16string missing;
};

Parsed Parse(const std::u16string& replace, int captures = 25, int32_t codePage = 1252,
             int8_t defaultChar = -1) {
    Settings s;
    s.replace = replace;
    s.CodePage = codePage;
    s.DefaultCharacter = defaultChar;
    CompiledExpression compiled;
    compiled.CaptureCount = captures;
    Parsed p;
    p.missing = ParseReplacement(s, p.tmpl, compiled);
    return p;
}

// Items as a readable list: the display form of each item, literals in brackets.
std::string Items(const ReplacementTemplate& t) {
    std::string out;
    for (size_t k = 0; k < t.ItemCodes.size(); ++k) {
        if (!out.empty()) out += ", ";
        if (t.ItemCodes[k] == kItemLiteral) {
            out += "literal " + Narrow(t.LiteralWide[k]);
        } else {
            ReplacementTemplate one;
            one.ItemCodes = {t.ItemCodes[k]};
            one.LiteralWide = {u""};
            out += Narrow(DisplayForm(one));
        }
    }
    return out;
}

TEST(ReplacementTest, EdgeCaseTable) {
    const struct {
        std::u16string replace;
        const char* items;
    } table[] = {
        {u"$8", "{Group8}"},
        {u"$08", "{Group8}"},
        {u"$18", "{Group18}"},
        {u"$1^8", "{Group1}, literal 8"},
        {u"$1^^8", "{Group1}, literal ^8"},
        {u"$218", "{Group21}, literal 8"},
        {u"^$1", "literal $1"},
        {u"^^$1", "literal ^$1"},
        {u"a$", "literal a$"},
        {u"$", "literal $"},
        {u"$x1", "literal $x1"},
        {u"\\x0a", "{Byte0x0A}"},
        {u"\\X0A", "{Byte0x0A}"},
        {u"\\xaF", "{Byte0xAF}"},
        {u"\\xa", "literal \\xa"},
        {u"\\xg1", "literal \\xg1"},
        {u"^\\x7f", "literal \\x7f"},
        {u"^^\\x7f", "literal ^\\x7f"},
        {u"\\xM0", "{Number-Scheme:M0}"},
        {u"\\XM3", "{Number-Scheme:M3}"},
        {u"\\xm9", "{Number-Scheme:m9}"},
        {u"\\xMa", "literal \\xMa"},
        {u"\\xNN", "{Path+Filename}"},
        {u"\\xNn", "{Filename}"},
        {u"\\XNn", "{Filename}"},
        {u"\\xnN", "literal \\xnN"},
        {u"^\\xNn", "literal \\xNn"},
        {u"^\\xM1", "literal \\xM1"},
        {u"$1^", "{Group1}"},
        {u"\\y00", "literal \\y00"},
        {u"a\\x41b$2c", "literal a, {Byte0x41}, literal b, {Group2}, literal c"},
        {u"$1$2", "{Group1}, {Group2}"},
        {u"$1^$2", "{Group1}, {Group2}"},
        {u"", ""},
    };
    for (const auto& row : table) {
        Parsed p = Parse(row.replace);
        EXPECT_EQ(Items(p.tmpl), row.items) << Narrow(row.replace);
        EXPECT_EQ(p.tmpl.ItemCount, p.tmpl.ItemCodes.size());
        EXPECT_EQ(p.tmpl.MissingGroupCount, 0) << Narrow(row.replace);
        EXPECT_TRUE(p.missing.empty());
    }

    Parsed p = Parse(u"$0$5$5", 3);
    EXPECT_EQ(Items(p.tmpl), "{Group0}, {Group5}, {Group5}");
    EXPECT_EQ(p.tmpl.MissingGroupCount, 2);
    EXPECT_EQ(p.missing, u"5, 5");

    p = Parse(u"$12 $4 $99", 3);
    EXPECT_EQ(p.tmpl.MissingGroupCount, 3);
    EXPECT_EQ(p.missing, u"12, 4, 99");
    EXPECT_EQ(p.tmpl.ItemCodes[0], GroupItem(12));
    EXPECT_EQ(p.tmpl.ItemCodes[0], -13);
}

TEST(ReplacementTest, ItemCodesAndLiteralForms) {
    Parsed p = Parse(u"\\x00\\xFF\\xM0\\xm9\\xNn\\xNN\u00e4\u0416");
    ASSERT_EQ(p.tmpl.ItemCodes.size(), 7u);
    EXPECT_EQ(p.tmpl.ItemCodes[0], 0);
    EXPECT_EQ(p.tmpl.ItemCodes[1], 255);
    EXPECT_EQ(p.tmpl.ItemCodes[2], 0x4FFFF);
    EXPECT_EQ(p.tmpl.ItemCodes[3], 0x5FFFF + 9);
    EXPECT_EQ(p.tmpl.ItemCodes[4], 0x2FFFF);
    EXPECT_EQ(p.tmpl.ItemCodes[5], 0x3FFFF);
    EXPECT_EQ(p.tmpl.ItemCodes[6], 0x1FFFF);
    // A character the code page lacks: the system's default character in the code-page form,
    // exact in UTF-8.
    EXPECT_EQ(p.tmpl.LiteralWide[6], u"\u00e4\u0416");
    EXPECT_EQ(p.tmpl.LiteralCodePage[6], "\xE4?");
    EXPECT_EQ(p.tmpl.LiteralUtf8[6], "\xC3\xA4\xD0\x96");
    EXPECT_EQ(p.tmpl.LiteralCodePage.size(), 7u);
    EXPECT_TRUE(p.tmpl.LiteralUtf8[0].empty());

    p = Parse(u"\u0416", 25, 1252, '#');
    EXPECT_EQ(p.tmpl.LiteralCodePage[0], "#");

    EXPECT_EQ(DisplayForm(Parse(u"<$1>\\x0a\\xM3\\xm0\\xNn|\\xNN").tmpl),
              u"<{Group1}>{Byte0x0A}{Number-Scheme:M3}{Number-Scheme:m0}{Filename}|"
              u"{Path+Filename}");
    EXPECT_EQ(DisplayForm(Parse(u"\\x05").tmpl), u"{Byte0x05}");
}

} // namespace
} // namespace gleanery
