#include "dialog/dialog_layout.h"

#include <algorithm>
#include <array>
#include <string>

#include "host/process_state.h"
#include "platform/unicode.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

constexpr uint32_t kPush = kBsPushButton | kWsTabStop;
constexpr uint32_t kCheck = kBsAutoCheckBox | kWsTabStop;
constexpr uint32_t kLabel = kSsLeft | kWsGroup;
constexpr uint32_t kCentredLabel = kSsCenter | kWsGroup;
constexpr uint32_t kDropList = kCbsDropDownList;
constexpr uint32_t kEditor =
    kEsMultiline | kEsWantReturn | kEsNoHideSel | kWsVScroll | kWsBorder | kWsTabStop;

constexpr std::array<ControlLayout, 54> kControls{{
    {1, u"Button", u"OK", 3, 225, 50, 14, kBsDefPushButton | kWsTabStop, 0, 1},
    {2, u"Button", u"Cancel", 56, 225, 50, 14, kPush, 0, 2},
    {1000, u"Static", u"Regular Expression", 98, 2, 144, 8, kLabel, 0, 3},
    {1001, u"Button", u"( ... )", 268, 1, 37, 11, kPush, 0, 46},
    {1002, u"Button", u".* ... .*", 306, 1, 37, 11, kPush, 0, 47},
    {1003, u"Button", u"\\Q...\\E", 344, 1, 37, 11, kPush, 0, 4},
    {1004, u"Edit", u"", 96, 12, 286, 38, kEditor, 0, 0},
    {1005, u"Static", u"Expression Status", 95, 54, 286, 18,
     kSsCenter | kSsCenterImage | kSsEndEllipsis | kSsNotify | kWsBorder | kWsGroup,
     kWsExDlgModalFrame, 0},
    {1006, u"Button", u"AaBbYyZz", 336, 73, 45, 11, kPush, 0, 0},
    {1007, u"Static", u"Replace String", 98, 74, 144, 8, kLabel, 0, 7},
    {1008, u"Edit", u"", 96, 84, 286, 73, kEditor | kWsHScroll, 0, 0},
    {1045, u"Button", u"Modes", 3, 1, 88, 54, kBsGroupBox, 0, 8},
    {1009, u"Button", u"No duplicates", 5, 11, 83, 10, kCheck, 0, 9},
    {1010, u"Button", u"Binary mode", 5, 21, 83, 10, kCheck, 0, 10},
    {1011, u"Button", u"Search and Replace", 5, 31, 83, 10, kCheck, 0, 11},
    {1012, u"Button", u"Line mode", 5, 41, 83, 10, kCheck, 0, 12},
    {1046, u"Button", u"PCRE options", 3, 56, 88, 64, kBsGroupBox, 0, 13},
    {1013, u"Button", u"Case sensitive", 5, 66, 83, 10, kCheck, 0, 14},
    {1014, u"Button", u"Dotall (?s)", 5, 76, 83, 10, kCheck, 0, 15},
    {1015, u"Button", u"Line anchors (?m)", 5, 86, 83, 10, kCheck, 0, 16},
    {1016, u"Button", u"Unicode properties", 5, 96, 83, 10, kCheck, 0, 17},
    {1017, u"Button", u"Empty match is valid", 5, 106, 83, 10, kCheck, 0, 18},
    {1047, u"Button", u"Misc options", 3, 121, 88, 101, kBsGroupBox | kBsLeft, 0, 19},
    {1018, u"Static", u"Read memory (MiB)", 5, 130, 84, 8, kCentredLabel, 0, 20},
    {1019, u"ComboBox", u"", 22, 140, 48, 200,
     kCbsDropDownList | kCbsHasStrings | kWsVScroll | kWsTabStop, 0, 0},
    {1020, u"Static", u"Encoding check buffer", 5, 155, 84, 8, kCentredLabel, 0, 21},
    {1021, u"ComboBox", u"", 22, 165, 48, 200, kDropList, 0, 0},
    {1022, u"Button", u"Write stats to file", 5, 179, 83, 10, kCheck, 0, 22},
    {1023, u"Button", u"Copy to Clipboard", 5, 189, 83, 10, kCheck, 0, 23},
    {1024, u"Button", u"Delete file if copied", 5, 199, 83, 10, kCheck, 0, 24},
    {1025, u"Button", u"Write UTF-8-BOM", 5, 209, 83, 10, kCheck, 0, 25},
    {1048, u"Button", u"Recoding", 95, 160, 92, 62, kBsGroupBox | kBsLeft, 0, 26},
    {1026, u"Static", u"Replacement character", 97, 169, 88, 8, kCentredLabel, 0, 27},
    {1027, u"ComboBox", u"", 111, 179, 58, 200, kDropList, 0, 0},
    {1028, u"Static", u"Code page to use", 97, 193, 88, 8, kCentredLabel, 0, 28},
    {1029, u"ComboBox", u"", 98, 203, 87, 200, kDropList, 0, 0},
    {1050, u"Button", u"Outfile extension", 192, 190, 72, 32, kBsGroupBox, 0, 29},
    {1030, u"ComboBox", u"", 194, 203, 67, 200, kDropList, 0, 0},
    {1049, u"Button", u"Expression test", 192, 160, 132, 29, kBsGroupBox, 0, 30},
    {1031, u"Button", u">", 194, 170, 30, 14, kPush, 0, 0},
    {1032, u"Button", u"Start", 226, 170, 30, 14, kPush, 0, 32},
    {1033, u"Button", u"Next", 258, 170, 30, 14, kPush, 0, 33},
    {1034, u"Button", u"(-)", 289, 170, 16, 14, kPush, 0, 0},
    {1035, u"Button", u"(+)", 306, 170, 16, 14, kPush, 0, 0},
    {1051, u"Button", u"Presets", 269, 190, 112, 50, kBsGroupBox, 0, 36},
    {1036, u"ComboBox", u"", 272, 203, 107, 200,
     kCbsDropDown | kCbsAutoHScroll | kWsVScroll | kWsTabStop, 0, 0},
    {1037, u"Button", u"Load", 272, 220, 35, 14, kPush, 0, 37},
    {1038, u"Button", u"Del", 308, 220, 35, 14, kPush, 0, 38},
    {1039, u"Button", u"Add", 344, 220, 35, 14, kPush, 0, 39},
    {1040, u"Button", u"About", 137, 225, 50, 14, kPush, 0, 40},
    {1041, u"Button", u"Load defaults", 208, 225, 56, 14, kPush, 0, 41},
    {1042, u"Button", u"RegEx Help>", 328, 161, 53, 14, kPush, 0, 42},
    {1043, u"Button", u"Replace Help>", 328, 176, 53, 14, kPush, 0, 43},
    {1044, u"Edit", u"", 390, 4, 289, 236,
     kEsMultiline | kEsReadOnly | kEsAutoHScroll | kEsNoHideSel | kWsVScroll | kWsHScroll |
         kWsTabStop,
     kWsExClientEdge, 0},
}};

struct CodePageName {
    uint32_t CodePage;
    std::u16string_view Name;
};

constexpr std::array<CodePageName, 99> kCodePageNames{{
    {437, u"437 OEM US"},
    {708, u"708 Arabic ASMO 708"},
    {709, u"709 Arabic ASMO 449"},
    {710, u"710 Arabic Transparent"},
    {720, u"720 Arabic (DOS)"},
    {737, u"737 OEM Greek"},
    {775, u"775 OEM Baltic"},
    {850, u"850 OEM Latin 1"},
    {852, u"852 OEM Latin 2"},
    {855, u"855 OEM Cyrillic"},
    {857, u"857 OEM Turkish"},
    {858, u"858 OEM Latin 1 + Euro"},
    {860, u"860 OEM Portuguese"},
    {861, u"861 OEM Icelandic"},
    {862, u"862 OEM Hebrew"},
    {863, u"863 OEM French Canadian"},
    {864, u"864 OEM Arabic"},
    {865, u"865 OEM Nordic"},
    {866, u"866 OEM Russian"},
    {869, u"869 OEM Modern Greek"},
    {874, u"874 ANSI/OEM Thai"},
    {932, u"932 ANSI/OEM Japanese"},
    {936, u"936 ANSI/OEM Simplified Chinese"},
    {949, u"949 ANSI/OEM Korean"},
    {950, u"950 ANSI/OEM Traditional Chinese"},
    {1250, u"1250 ANSI Central European"},
    {1251, u"1251 ANSI Cyrillic"},
    {1252, u"1252 ANSI Latin 1"},
    {1253, u"1253 ANSI Greek"},
    {1254, u"1254 ANSI Turkish"},
    {1255, u"1255 ANSI Hebrew"},
    {1256, u"1256 ANSI Arabic"},
    {1257, u"1257 ANSI Baltic"},
    {1258, u"1258 ANSI/OEM Vietnamese"},
    {1361, u"1361 Korean (Johab)"},
    {10000, u"10000 Mac Roman"},
    {10001, u"10001 Mac Japanese"},
    {10002, u"10002 Mac Traditional Chinese"},
    {10003, u"10003 Mac Korean"},
    {10004, u"10004 Mac Arabic"},
    {10005, u"10005 Mac Hebrew"},
    {10006, u"10006 Mac Greek"},
    {10007, u"10007 Mac Cyrillic"},
    {10008, u"10008 Mac Chinese Simplified"},
    {10010, u"10010 Mac Romanian"},
    {10017, u"10017 Mac Ukrainian"},
    {10021, u"10021 Mac Thai"},
    {10029, u"10029 Mac Latin 2"},
    {10079, u"10079 Mac Icelandic"},
    {10081, u"10081 Mac Turkish"},
    {10082, u"10082 Mac Croatian"},
    {20000, u"20000 CNS Taiwan"},
    {20001, u"20001 TCA Taiwan"},
    {20002, u"20002 Eten Taiwan"},
    {20003, u"20003 IBM5550 Taiwan"},
    {20004, u"20004 TeleText Taiwan"},
    {20005, u"20005 Wang Taiwan"},
    {20127, u"20127 US-ASCII"},
    {20269, u"20269 ISO 6937"},
    {20866, u"20866 KOI8-R"},
    {20932, u"20932 JIS X 0208"},
    {20936, u"20936 GB2312"},
    {20949, u"20949 Wansung"},
    {21866, u"21866 KOI8-U"},
    {28591, u"28591 ISO 8859-1 Latin 1"},
    {28592, u"28592 ISO 8859-2 Latin 2"},
    {28593, u"28593 ISO 8859-3 Latin 3"},
    {28594, u"28594 ISO 8859-4 Baltic"},
    {28595, u"28595 ISO 8859-5 Cyrillic"},
    {28596, u"28596 ISO 8859-6 Arabic"},
    {28597, u"28597 ISO 8859-7 Greek"},
    {28598, u"28598 ISO 8859-8 Hebrew (ISO-Visual)"},
    {28599, u"28599 ISO 8859-9 Turkish"},
    {28603, u"28603 ISO 8859-13 Estonian"},
    {28605, u"28605 ISO 8859-15 Latin 9"},
    {29001, u"29001 Europa 3"},
    {38598, u"38598 ISO 8859-8 Hebrew (ISO-Logical)"},
    {50220, u"50220 ISO-2022-JP"},
    {50221, u"50221 ISO-2022-JP"},
    {50222, u"50222 ISO-2022-JP SO/SI"},
    {50225, u"50225 ISO 2022 Korean"},
    {50227, u"50227 ISO 2022 Simplified Chinese"},
    {50229, u"50229 ISO 2022 Traditional Chinese"},
    {51932, u"51932 EUC Japanese"},
    {51936, u"51936 EUC Simplified Chinese"},
    {51949, u"51949 EUC Korean"},
    {51950, u"51950 EUC Traditional Chinese"},
    {52936, u"52936 HZ-GB2312"},
    {54936, u"54936 GB18030 Simplified Chinese"},
    {57002, u"57002 ISCII Devanagari"},
    {57003, u"57003 ISCII Bengali"},
    {57004, u"57004 ISCII Tamil"},
    {57005, u"57005 ISCII Telugu"},
    {57006, u"57006 ISCII Assamese"},
    {57007, u"57007 ISCII Oriya"},
    {57008, u"57008 ISCII Kannada"},
    {57009, u"57009 ISCII Malayalam"},
    {57010, u"57010 ISCII Gujarati"},
    {57011, u"57011 ISCII Punjabi"},
}};

using platform::Decimal;

} // namespace

std::span<const ControlLayout> DialogControls() {
    return kControls;
}

const ControlLayout* FindControl(int id) {
    for (const ControlLayout& control : kControls)
        if (control.Id == id) return &control;
    return nullptr;
}

uint16_t TooltipTextNumber(int id) {
    switch (id) {
    case kGroupButton:
        return 113;
    case kPlaceholderButton:
        return 114;
    case kQuoteButton:
        return 101;
    case kStatusLine:
        return 102;
    case kFontButton:
        return 100;
    case kNoDuplicates:
        return 109;
    case kLineMode:
        return 110;
    case kMemoryList:
        return 111;
    case kEncodingCheckList:
        return 112;
    case kCopyClip:
        return 103;
    case kDeleteCopied:
        return 104;
    case kCodePageList:
        return 108;
    case kSubgroupDown:
        return 105;
    case kSubgroupUp:
        return 106;
    case kRegexHelp:
        return 107;
    default:
        return 0;
    }
}

std::vector<int32_t> ReadMemoryValues() {
    std::vector<int32_t> values;
    for (int32_t value = 5; value <= 500;) {
        values.push_back(value);
        if (value <= 25)
            value += 5;
        else if (value < 100)
            value += 10;
        else
            value += 100;
    }
    return values;
}

std::vector<std::u16string> ReadMemoryEntries() {
    std::vector<std::u16string> entries;
    for (int32_t value : ReadMemoryValues()) entries.push_back(Decimal(value));
    return entries;
}

std::vector<std::u16string> ReplacementCharacterEntries() {
    std::vector<std::u16string> entries{Text(kTextDefaultCharacter), Text(kTextSpace)};
    for (char16_t code = 33; code <= 126; ++code) entries.push_back(std::u16string(1, code));
    return entries;
}

std::vector<std::u16string> EncodingCheckEntries() {
    return {u"128k", u"256k", u"512k", u"1M", u"2M", u"4M", u"8M", u"16M"};
}

std::u16string CodePageDisplayName(uint32_t codePage) {
    for (const CodePageName& entry : kCodePageNames)
        if (entry.CodePage == codePage) return std::u16string(entry.Name);
    return Decimal(codePage);
}

std::vector<std::u16string> CodePageEntries() {
    const ProcessState& state = State();
    std::vector<std::u16string> entries{
        Text(kTextSystemAnsiPage) + u" (" + Decimal(state.System.AnsiCodePage) + u")",
        Text(kTextSystemOemPage) + u" (" + Decimal(state.System.OemCodePage) + u")"};
    for (uint32_t codePage : state.System.UsableCodePages)
        entries.push_back(CodePageDisplayName(codePage));
    return entries;
}

std::vector<std::u16string> OutfileExtensionEntries() {
    return {u".txt", Text(kTextFirstFile), Text(kTextPackDialog)};
}

int LongestEntry(const std::vector<std::u16string>& entries) {
    int longest = -1;
    for (size_t i = 0; i < entries.size(); ++i)
        if (longest < 0 || entries[i].size() > entries[static_cast<size_t>(longest)].size())
            longest = static_cast<int>(i);
    return longest;
}

} // namespace gleanery::dialog
