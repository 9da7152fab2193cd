// The settings dialog's template as data: the 54 controls with their classes, captions, styles and
// dialog-unit geometry, the contents of the six lists, and the texts of the tooltips. The resource
// script builds the real dialog from the same values; the headless dialog builds its control table
// from this one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gleanery::dialog {

// Control identifiers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kRegexLabel = 1000;
inline constexpr int kGroupButton = 1001;
inline constexpr int kPlaceholderButton = 1002;
inline constexpr int kQuoteButton = 1003;
inline constexpr int kRegexEdit = 1004;
inline constexpr int kStatusLine = 1005;
inline constexpr int kFontButton = 1006;
inline constexpr int kReplaceLabel = 1007;
inline constexpr int kReplaceEdit = 1008;
inline constexpr int kNoDuplicates = 1009;
inline constexpr int kBinaryMode = 1010;
inline constexpr int kSearchAndReplace = 1011;
inline constexpr int kLineMode = 1012;
inline constexpr int kCaseSensitive = 1013;
inline constexpr int kDotall = 1014;
inline constexpr int kMultiline = 1015;
inline constexpr int kUnicodeProperties = 1016;
inline constexpr int kEmptyValid = 1017;
inline constexpr int kMemoryList = 1019;
inline constexpr int kEncodingCheckList = 1021;
inline constexpr int kWriteStats = 1022;
inline constexpr int kCopyClip = 1023;
inline constexpr int kDeleteCopied = 1024;
inline constexpr int kWriteBom = 1025;
inline constexpr int kDefaultCharacterList = 1027;
inline constexpr int kCodePageList = 1029;
inline constexpr int kOutfileExtensionList = 1030;
inline constexpr int kTestToggle = 1031;
inline constexpr int kTestStart = 1032;
inline constexpr int kTestNext = 1033;
inline constexpr int kSubgroupDown = 1034;
inline constexpr int kSubgroupUp = 1035;
inline constexpr int kPresetsList = 1036;
inline constexpr int kPresetLoad = 1037;
inline constexpr int kPresetDelete = 1038;
inline constexpr int kPresetAdd = 1039;
inline constexpr int kAbout = 1040;
inline constexpr int kLoadDefaults = 1041;
inline constexpr int kRegexHelp = 1042;
inline constexpr int kReplaceHelp = 1043;
inline constexpr int kHelpPane = 1044;

// Window style bits with their Win32 values.
inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsBorder = 0x00800000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsHScroll = 0x00100000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsTabStop = 0x00010000;
inline constexpr uint32_t kDsSetFont = 0x40;
inline constexpr uint32_t kDsModalFrame = 0x80;
inline constexpr uint32_t kDsFixedSys = 0x08;
inline constexpr uint32_t kBsPushButton = 0x0;
inline constexpr uint32_t kBsDefPushButton = 0x1;
inline constexpr uint32_t kBsAutoCheckBox = 0x3;
inline constexpr uint32_t kBsGroupBox = 0x7;
inline constexpr uint32_t kBsLeft = 0x100;
inline constexpr uint32_t kSsLeft = 0x0;
inline constexpr uint32_t kSsCenter = 0x1;
inline constexpr uint32_t kSsNotify = 0x100;
inline constexpr uint32_t kSsCenterImage = 0x200;
inline constexpr uint32_t kSsEndEllipsis = 0x4000;
inline constexpr uint32_t kEsMultiline = 0x4;
inline constexpr uint32_t kEsAutoHScroll = 0x80;
inline constexpr uint32_t kEsNoHideSel = 0x100;
inline constexpr uint32_t kEsReadOnly = 0x800;
inline constexpr uint32_t kEsWantReturn = 0x1000;
inline constexpr uint32_t kCbsDropDown = 0x2;
inline constexpr uint32_t kCbsDropDownList = 0x3;
inline constexpr uint32_t kCbsAutoHScroll = 0x40;
inline constexpr uint32_t kCbsHasStrings = 0x200;
inline constexpr uint32_t kWsExDlgModalFrame = 0x1;
inline constexpr uint32_t kWsExClientEdge = 0x200;

// The dialog template itself.
inline constexpr uint32_t kDialogStyle =
    kWsPopup | kWsVisible | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont | kDsFixedSys;
inline constexpr int kDialogWidthDu = 680;
inline constexpr int kDialogHeightDu = 242;
inline constexpr std::u16string_view kTemplateCaption = u"Gleanery Settings";
inline constexpr std::u16string_view kDialogFontFace = u"MS Shell Dlg";
inline constexpr int kDialogFontPoints = 8;

struct ControlLayout {
    int Id;
    std::u16string_view Class; // "Button", "Static", "Edit" or "ComboBox"
    std::u16string_view Caption;
    int X, Y, Width, Height; // dialog units
    uint32_t Style;          // class and window style bits, without WS_CHILD and WS_VISIBLE
    uint32_t ExStyle;
    uint16_t RelabelText; // interface text put on the control when a language is applied; 0 none
};

// The controls in template order.
std::span<const ControlLayout> DialogControls();
const ControlLayout* FindControl(int id);

// The interface text a tooltip shows for a control, or 0 when the control has none.
uint16_t TooltipTextNumber(int id);

// List contents.
std::vector<std::u16string> ReadMemoryEntries();           // 1019: "5" .. "500"
std::vector<int32_t> ReadMemoryValues();                   // the same as numbers
std::vector<std::u16string> ReplacementCharacterEntries(); // 1027: codes 31 .. 126
std::vector<std::u16string> EncodingCheckEntries();        // 1021: "128k" .. "16M"
std::vector<std::u16string> CodePageEntries();             // 1029: the two system entries, then
                                                           // the usable code pages
std::vector<std::u16string> OutfileExtensionEntries();     // 1030
// The display name of a code page of the candidate table ("1252 ANSI Latin 1"), or the bare
// number for one outside it.
std::u16string CodePageDisplayName(uint32_t codePage);

// Index of the longest entry (most characters, the first of equals), or -1 for an empty list.
int LongestEntry(const std::vector<std::u16string>& entries);

} // namespace gleanery::dialog
