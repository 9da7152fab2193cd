// The panels of the real settings dialog, opened as the file manager opens it: a second thread
// runs a test-panel session (test mode, Start, a subgroup, Next, Stop), adds, loads and deletes a
// preset (answering the question box), opens both help texts, and presses OK. Screenshots: the
// running test with its selected match, and the widened dialog with the expression help.
//   dialog_panels_ui_test <plug-in> <screenshot directory>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "dialog/dialog_layout.h"
#include "ui_host.h"

namespace {

using namespace gleanery::dialog;
using namespace gleanery::ui_test;

// The combo box notifies its parent as typing and picking would.
void Notify(HWND dlg, int id, int code) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    auto& text = *reinterpret_cast<std::wstring*>(found);
    if (lstrcmpiW(name, L"Static") == 0 && WindowText(child).size() > text.size())
        text = WindowText(child);
    return TRUE;
}

// A click whose command asks a question: posted, so that this thread can answer the box.
std::wstring AnswerQuestion(HWND dlg, int id, int answer) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    HWND box = WaitForWindow(L"Gleanery");
    Expect(box != nullptr, "question box shown");
    if (!box) return {};
    Expect(GetWindow(box, GW_OWNER) == dlg, "question box owned by the dialog");
    std::wstring text;
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
    PostMessageW(box, WM_COMMAND, answer, 0);
    for (int tries = 0; tries < 200 && IsWindow(box); ++tries) Sleep(50);
    Sleep(100); // the command finishes after the box has gone
    return text;
}

void TestPanelSession(const Run& run, HWND dlg) {
    Type(dlg, kRegexEdit, L"(\\w+)@(\\w+)");
    Click(dlg, kTestToggle);
    Expect(ItemText(dlg, kReplaceEdit).size() == 214, "the sample text in test mode");
    Expect(ItemText(dlg, kReplaceLabel) == L"Test String", "label in test mode");
    Expect(ItemText(dlg, kTestToggle) == L"<", "1031 in test mode");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kPresetsList)), "presets locked in test mode");

    Type(dlg, kReplaceEdit, L"mail a@b and c@d now");
    Click(dlg, kTestStart);
    Expect(ItemText(dlg, kTestStart) == L"Stop", "Start turns into Stop");
    Expect(ItemText(dlg, kTestToggle) == L"Prev", "1031 turns into Prev");
    Expect(ItemText(dlg, kReplaceLabel) == L"Group 0 (entire pattern)", "group line");
    Expect(Selection(dlg, kReplaceEdit) == std::pair<DWORD, DWORD>(5, 8), "first match selected");
    Expect((GetWindowLongW(GetDlgItem(dlg, kReplaceEdit), GWL_STYLE) & ES_READONLY) != 0,
           "test string read-only while running");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kCaseSensitive)), "options locked while running");
    Click(dlg, kSubgroupUp);
    Expect(ItemText(dlg, kReplaceLabel) == L"Group 1", "group line of subgroup 1");
    Click(dlg, kTestNext);
    Expect(Selection(dlg, kReplaceEdit) == std::pair<DWORD, DWORD>(13, 14),
           "subgroup 1 of the second match selected");
    SetFocus(GetDlgItem(dlg, kReplaceEdit));
    Sleep(300);
    Screenshot(run, L"test-panel-running");

    Click(dlg, kTestStart); // Stop
    Expect(ItemText(dlg, kTestStart) == L"Start", "Stop turns back into Start");
    Expect(IsWindowEnabled(GetDlgItem(dlg, kCaseSensitive)) != FALSE, "options unlocked");
    Click(dlg, kTestToggle);
    Expect(ItemText(dlg, kReplaceEdit) == L"$0", "replace string back after test mode");
    Expect(ItemText(dlg, kReplaceLabel) == L"Replace String", "label back");
}

void PresetsSession(HWND dlg) {
    HWND list = GetDlgItem(dlg, kPresetsList);
    SetWindowTextW(list, L"ui preset");
    Notify(dlg, kPresetsList, CBN_EDITCHANGE);
    Expect(IsWindowEnabled(GetDlgItem(dlg, kPresetAdd)) != FALSE, "Add enabled by a name");
    Click(dlg, kPresetAdd);
    Expect(SendMessageW(list, CB_GETCOUNT, 0, 0) == 1, "preset listed after Add");

    Type(dlg, kRegexEdit, L"x+");
    SendMessageW(list, CB_SETCURSEL, 0, 0);
    Notify(dlg, kPresetsList, CBN_SELCHANGE);
    Expect(ItemText(dlg, kPresetAdd) == L"Save", "third button shows Save");
    Click(dlg, kPresetLoad);
    Expect(ItemText(dlg, kRegexEdit) == L"(\\w+)@(\\w+)", "Load puts the preset back");
    Expect(ItemText(dlg, kStatusLine) == L"OK!", "status after Load");

    const std::wstring question = AnswerQuestion(dlg, kPresetDelete, IDYES);
    Expect(question == L"Delete\r\n\"ui preset\" ?", "delete question: " + Narrow(question));
    Expect(SendMessageW(list, CB_GETCOUNT, 0, 0) == 0, "preset gone after Del");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kPresetDelete)), "Del disabled after Del");
}

void HelpSession(const Run& run, HWND dlg) {
    RECT collapsed{};
    GetWindowRect(dlg, &collapsed);
    Click(dlg, kRegexHelp);
    RECT wide{};
    GetWindowRect(dlg, &wide);
    RECT pane{};
    GetWindowRect(GetDlgItem(dlg, kHelpPane), &pane);
    Expect(wide.right > pane.right && wide.left == collapsed.left, "widened over the help pane");
    Expect(IsWindowEnabled(GetDlgItem(dlg, kHelpPane)) != FALSE, "help pane enabled");
    Expect(ItemText(dlg, kHelpPane).rfind(L"QUOTING\r\n", 0) == 0, "expression help shown");
    Expect(ItemText(dlg, kRegexHelp) == L"RegEx Help<", "1042 caption when open");
    Sleep(300);
    Screenshot(run, L"help-expression");

    Click(dlg, kReplaceHelp);
    RECT same{};
    GetWindowRect(dlg, &same);
    Expect(same.right == wide.right, "the width stays when switching");
    Expect(ItemText(dlg, kHelpPane).rfind(L"SUBGROUPS\r\r\n", 0) == 0, "replacement help shown");
    Expect(ItemText(dlg, kHelpPane).size() == 3089, "replacement help length");
    Expect(ItemText(dlg, kRegexHelp) == L"RegEx Help>" &&
               ItemText(dlg, kReplaceHelp) == L"Replace Help<",
           "captions swapped");
    Click(dlg, kReplaceHelp);
    RECT back{};
    GetWindowRect(dlg, &back);
    Expect(back.right == collapsed.right, "collapsed again");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kHelpPane)), "help pane disabled again");
}

DWORD WINAPI WorkDialog(void* parameter) {
    const Run& run = *static_cast<const Run*>(parameter);
    HWND dlg = WaitForWindow(L"Gleanery Settings");
    Expect(dlg != nullptr, "dialog window found");
    if (!dlg) return 1;
    TestPanelSession(run, dlg);
    PresetsSession(dlg);
    HelpSession(run, dlg);
    Click(dlg, kIdOk);
    return 0;
}

void CheckSettingsFile(const std::string& ini) {
    // The deleted preset never reached the file; the test string and options did.
    Expect(ini.find("ui preset") == std::string::npos, "deleted preset not written");
    Expect(ini.find("teststring=mail a@b and c@d now\r\n") != std::string::npos,
           "test string stored by OK");
    Expect(ini.find("regex=(\\w+)@(\\w+)\r\n") != std::string::npos, "loaded expression stored");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return RunHostedDialog(argc, argv, "dialog_panels_ui_test", WorkDialog, CheckSettingsFile);
}
