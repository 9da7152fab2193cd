// The help pane: the dialog opens collapsed with the pane outside its visible width; 1042 and 1043
// widen it to show the expression or the replacement help, switch between the two, and collapse
// it again. The text is set anew every time, so the pane always starts at the top.
#include <array>

#include "dialog/dialog_layout.h"
#include "dialog/help_texts.h"
#include "dialog/panels.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

constexpr std::array<std::u16string_view, 4> kReplacementHelp = {
    u"SUBGROUPS\r\r\n"
    u"\r\r\n"
    u"  $0         whole Expression\r\r\n"
    u"  $1...$99   subgroup 1 to 99\r\r\n"
    u"Special cases and variations:\r\r\n"
    u"  $8         subgroup 8\r\r\n"
    u"  $08        subgroup 8\r\r\n"
    u"  $18        subgroup 18\r\r\n"
    u"  $1^8       subgroup 1 followed by literal digit eight (caret not(!) in output)\r\r\n"
    u"  $1^^8      subgroup 1 followed by ^8 (first caret removed for output)\r\r\n"
    u"  $218       subgroup 21 followed by literal digit eight (max. 99 subgroups)\r\n"
    u"  ^$8        $8 taken literal (caret removed for output)\r\n"
    u"  ^^$8       ^$8 taken literal (first caret removed for output)\r\n"
    u"\r\n"
    u"Single Dollar signs and digits treated literal\r\n"
    u"Groups not found in the Regular Expression\r\n"
    u"will be ignored and won't produce any output.\r\n"
    u"\r\n"
    u"\r\n"
    u"\r\n"
    u"BYTES\r\n"
    u"\r\n"
    u"  \\x00...\\xff  Byte 0x00 to 0xFF (Hexadecimal)\r\n"
    u"Special cases and variations:\r\n",

    u"  \\X00...\\Xff  Byte 0x00 to 0xFF (upper case X also valid)\r\n"
    u"  \\x0a         Byte 0x0A (line feed)\r\n"
    u"  \\Xaf         Byte 0xAF\r\n"
    u"  \\xaf         Byte 0xAF\r\n"
    u"  \\xAf         Byte 0xAF\r\n"
    u"  \\xAF         Byte 0xAF\r\n"
    u"  \\xa          \\xa taken literal (no single hex numbers allowed)\r\n"
    u"  \\x...        literal if no valid hex number follows \\x\r\n"
    u"  ^\\x7f        \\x7f taken literal (caret removed for output)\r\n"
    u"  ^^\\x7f       ^\\x7f taken literal (first caret removed for output)\r\n"
    u"\r\n"
    u"Values above 0x7F (> 127) not recommended for standard UTF-8 output\r\n"
    u"and UTF-8 Search and Replace, it may generate invalid encoding.\r\n"
    u"\r\n"
    u"\r\n"
    u"\r\n"
    u"SPECIAL REFERENCES\r\n"
    u"\r\n"
    u"RESULT COUNTER\r\n"
    u"  \\xM0...\\xM9  global result number starting with zero and 0 to 9 leading zeros\r\n"
    u"  \\XM3         global result number starting with zero and 3 leading zeros\r\n",

    u"               (upper case X also valid)\r\n"
    u"  \\xm0...\\xm9  global result number starting with one and 0 to 9 leading zeros\r\n"
    u"Special cases and variations:\r\n"
    u"  ^\\xM0        \\xM0 taken literal (caret removed for output)\r\n"
    u"  ^^\\xM0       ^\\xM0 taken literal (first caret removed for output)\r\n"
    u"  \\xM...       literal if no digit follows \\xM\r\n"
    u"\r\n"
    u"FILENAMES\r\n"
    u"  \\xNN         filename including full path\r\n"
    u"  \\xNn         filename only\r\n"
    u"  \\XNn         filename only (upper case X also valid)\r\n"
    u"Special cases and variations:\r\n"
    u"  ^\\xNn        \\xNn taken literal (caret removed for output)\r\n"
    u"  ^^\\xNn       ^\\xNn taken literal (first caret removed for output)\r\n"
    u"  \\xN...       literal if no n or N follows \\xN\r\n"
    u"\r\n"
    u"\r\n"
    u"\r\n"
    u"EXAMPLES\r\n"
    u"  -->start:$1 -- middle:$2 -- end:$3<--\r\n",

    u"    results in\r\n"
    u"  -->start:{Group1} -- middle:{Group2} -- end:{Group3}<--\r\n"
    u"\r\n"
    u"  -->start:^$1 -- middle:$2 -- end:$3^5<--\r\n"
    u"    results in\r\n"
    u"  -->start:^$1 -- middle:{Group2} -- end:{Group3}5<--\r\n"
    u"\r\n"
    u"  -->start:$1\\x7F--end:$2\\xa0<--\r\n"
    u"    results in\r\n"
    u"  -->start:{Group1}{Byte0x7F}--end:{Group2}{Byte0xA0}<--\r\n"
    u"\r\n"
    u"  -->start:$1^^\\x7F--end:$2^\\xa0<--\r\n"
    u"    results in\r\n"
    u"  -->start:{Group1}^\\x7F--end:{Group2}\\xa0<--\r\n"
    u"\r\n"
    u"  -->$1\\xM0--$0\\Xm4<--\r\n"
    u"    results in\r\n"
    u"  -->{Group1}0--{Group0}00001<--\r\n"
    u"    for FIRST result\r\n"
    u"\r\n"
    u"  -->$1\\xM6--$0\\xm1<--\r\n"
    u"    results in\r\n"
    u"  -->{Group1}0000008--{Group0}09<--\r\n"
    u"    for NINTH result\r\n"
    u"\r\n"
    u"  -->$1\\xNn--$0\\XNN<--\r\n"
    u"    results in\r\n"
    u"  -->{Group1}testfile.txt--{Group0}c:\\dir1\\testfile.txt<--\r\n"
    u"    for each result that originates from c:\\dir1\\testfile.txt\r\n",
};

void Widen(DialogState& state, int by) {
    const Rect window = WindowRect(state.Handle);
    ResizeWindow(state.Handle, window.Width() + by, window.Height());
}

// One help text with its button: `own` is the button pressed, `other` the one for the other text;
// each has its "show" (>) and "hide" (<) caption.
struct HelpButton {
    int Id;
    uint16_t ShowCaption;
    uint16_t HideCaption;
    HelpPane PaneState;
    std::span<const std::u16string_view> (*Pieces)();
};

constexpr HelpButton kExpressionButton{kRegexHelp, kTextRegexHelpShow, kTextRegexHelpHide,
                                       HelpPane::ExpressionHelp, ExpressionHelpPieces};
constexpr HelpButton kReplacementButton{kReplaceHelp, kTextReplaceHelpShow, kTextReplaceHelpHide,
                                        HelpPane::ReplacementHelp, ReplacementHelpPieces};

void Press(DialogState& state, const HelpButton& own, const HelpButton& other) {
    DialogHandle dlg = state.Handle;
    if (state.HelpPaneState == own.PaneState) {
        Widen(state, -state.HelpWidth);
        Enable(dlg, kHelpPane, false);
        SetText(dlg, own.Id, Text(own.ShowCaption));
        state.HelpPaneState = HelpPane::Collapsed;
        return;
    }
    if (state.HelpPaneState == HelpPane::Collapsed) {
        Widen(state, state.HelpWidth);
        Enable(dlg, kHelpPane, true);
    } else {
        SetText(dlg, other.Id, Text(other.ShowCaption));
    }
    SetText(dlg, kHelpPane, JoinHelpPieces(own.Pieces()));
    SetText(dlg, own.Id, Text(own.HideCaption));
    state.HelpPaneState = own.PaneState;
}

} // namespace

std::span<const std::u16string_view> ReplacementHelpPieces() {
    return kReplacementHelp;
}

std::u16string JoinHelpPieces(std::span<const std::u16string_view> pieces) {
    std::u16string text;
    for (std::u16string_view piece : pieces) text += piece;
    return text;
}

void HelpPaneCommand(DialogState& state, int id) {
    if (id == kRegexHelp)
        Press(state, kExpressionButton, kReplacementButton);
    else if (id == kReplaceHelp)
        Press(state, kReplacementButton, kExpressionButton);
}

} // namespace gleanery::dialog
