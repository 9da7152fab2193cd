// The real settings dialog, opened the way the file manager opens it: a host program loads the
// plug-in, hands it its default parameters, and calls ConfigurePacker with its main window as
// owner. A second thread finds the dialog and works it through Win32 calls: every control of the
// template with its ID, class, caption, style and geometry, the collapsed width, the lists; then
// it changes a few options, presses OK and reads the settings file. Then, with the language file
// beside the plug-in, the dialog opens in Russian and German as the file manager's language
// setting chooses them. In every language each caption must fit its control, measured in the
// control's own font.
//   dialog_ui_test <plug-in> <screenshot directory> <language file>
// The screenshots of the collapsed dialog are settings-dialog-<wcx64|wcx>.png in English and
// settings-dialog-<rus|deu>-<wcx64|wcx>.png.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>

#include "dialog/dialog_layout.h"
#include "settings/texts.h"
#include "ui_host.h"

namespace {

using namespace gleanery;
using namespace gleanery::dialog;
using namespace gleanery::ui_test;

std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

std::u16string Utf16(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// A language the dialog is shown in: its section name and the texts the plug-in should show.
struct Language {
    std::wstring Name;
    TextTable Texts;
};

// A caption as it is drawn: "&x" underlines x, "&&" shows one ampersand.
std::wstring WithoutPrefix(const std::wstring& caption) {
    std::wstring shown;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == L'&' && i + 1 < caption.size()) ++i;
        shown += caption[i];
    }
    return shown;
}

// The width in pixels of a caption drawn in the control's font on the control's DC.
int CaptionWidth(HWND control, const std::wstring& caption, bool prefix) {
    const std::wstring shown = prefix ? WithoutPrefix(caption) : caption;
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx;
}

// The pixels of its client width that a control leaves for its caption, or -1 for a control
// without one (an editor, a list, a static that elides its text): a static's whole width, a push
// button's inside its edge and focus rectangle, a check box's or radio button's right of the box
// (13 pixels at 96 dpi) and a gap of half a digit, a group box's inside the frame's corners (7
// pixels each side at 96 dpi).
int CaptionRoom(HWND control) {
    RECT client{};
    GetClientRect(control, &client);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
    const std::wstring name = ClassName(control);
    HDC dc = GetDC(control);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
    INT digit = 0;
    GetCharWidth32W(dc, L'0', L'0', &digit);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (lstrcmpiW(name.c_str(), L"Static") == 0) {
        const DWORD kind = style & SS_TYPEMASK;
        const bool text = kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT ||
                          kind == SS_SIMPLE || kind == SS_LEFTNOWORDWRAP;
        return text && (style & SS_ELLIPSISMASK) == 0 ? client.right : -1;
    }
    if (lstrcmpiW(name.c_str(), L"Button") != 0) return -1;
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        return client.right - 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return client.right - MulDiv(13, dpi, 96) - digit / 2;
    case BS_GROUPBOX:
        return client.right - 2 * MulDiv(7, dpi, 96);
    default:
        return -1;
    }
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

// Every caption of the dialog fits its control: the captions shown now, and the texts that the
// buttons and the replace label take later (hide the help, a running test, a preset to save, a
// group's test string).
void CheckCaptionsFit(HWND dlg, const Language& language) {
    const std::string name = Narrow(language.Name);
    const auto fits = [&](HWND control, const std::wstring& caption, const std::string& what) {
        const int room = CaptionRoom(control);
        if (room < 0 || caption.empty()) return;
        const bool prefix = ClassName(control) != L"Static" ||
                            (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) == 0;
        const int width = CaptionWidth(control, caption, prefix);
        Expect(width <= room, name + ": control " + std::to_string(GetDlgCtrlID(control)) + " " +
                                  what + "\"" + Narrow(caption) + "\" is " + std::to_string(width) +
                                  " pixels wide, room for " + std::to_string(room));
    };
    std::vector<HWND> children;
    EnumChildWindows(dlg, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children)
        if (GetParent(child) == dlg) fits(child, WindowText(child), "");

    const auto text = [&](uint16_t number) { return Wide(language.Texts.at(number)); };
    const std::pair<int, std::wstring> later[] = {
        {kRegexHelp, text(kTextRegexHelpHide)},
        {kReplaceHelp, text(kTextReplaceHelpHide)},
        {kPresetAdd, text(kTextSave)},
        {kTestStart, text(kTextStop)},
        {kTestToggle, text(kTextPrevious)},
        {kReplaceLabel, text(kTextTestString)},
        {kReplaceLabel, text(kTextGroup) + L" 0 " + text(kTextEntirePattern)},
    };
    for (const auto& [id, caption] : later) fits(GetDlgItem(dlg, id), caption, "later ");
}

BOOL CALLBACK PrintOwnWindow(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId())
        std::printf("  window \"%s\" class %s\n", Narrow(WindowText(window)).c_str(),
                    Narrow(ClassName(window)).c_str());
    return TRUE;
}

BOOL CALLBACK CountNonEditChild(HWND child, LPARAM counter) {
    if (ClassName(child) != L"Edit") ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

void CheckControls(HWND dlg) {
    Expect(WindowText(dlg) == L"Gleanery Settings", "dialog caption");
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE));
    const DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    Expect((style & dialogStyle) == dialogStyle, "dialog style");

    int count = 0;
    for (const ControlLayout& layout : DialogControls()) {
        const std::string name = "control " + std::to_string(layout.Id);
        HWND item = GetDlgItem(dlg, layout.Id);
        Expect(item != nullptr, name + " exists");
        if (!item) continue;
        ++count;
        Expect(lstrcmpiW(ClassName(item).c_str(), Wide(layout.Class).c_str()) == 0,
               name + " class " + Narrow(ClassName(item)));
        const bool captioned =
            layout.Class == u"Button" || (layout.Class == u"Static" && layout.Id != kStatusLine);
        if (captioned)
            Expect(WindowText(item) == Wide(layout.Caption),
                   name + " caption \"" + Narrow(WindowText(item)) + "\"");
        const DWORD actual = static_cast<DWORD>(GetWindowLongW(item, GWL_STYLE));
        // Edits show WS_BORDER as a client edge; a combo box gives its scroll bar to its list.
        DWORD expected = layout.Style & ~static_cast<DWORD>(WS_BORDER);
        if (layout.Class == u"ComboBox") expected &= ~static_cast<DWORD>(WS_VSCROLL);
        Expect((actual & expected) == expected && (actual & 0xFFFF) == (expected & 0xFFFF),
               name + " style " + std::to_string(actual) + " for " + std::to_string(expected));
        Expect((actual & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE),
               name + " child and visible");
        const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(item, GWL_EXSTYLE));
        Expect((exStyle & layout.ExStyle) == layout.ExStyle, name + " extended style");
        // Geometry in dialog units: the dialog manager converts position and size separately.
        RECT want{layout.X, layout.Y, layout.Width, layout.Height};
        MapDialogRect(dlg, &want);
        RECT got{};
        GetWindowRect(item, &got);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
        const bool combo = layout.Class == u"ComboBox"; // its window is the closed field
        Expect(got.left == want.left && got.top == want.top && got.right - got.left == want.right &&
                   (combo || got.bottom - got.top == want.bottom),
               name + " geometry " + std::to_string(got.left) + "," + std::to_string(got.top) +
                   "," + std::to_string(got.right - got.left) + "," +
                   std::to_string(got.bottom - got.top));
    }
    Expect(count == 54, "54 controls");

    // Collapsed: the right border 8 pixels right of the replace editor; the help pane disabled.
    RECT window{};
    GetWindowRect(dlg, &window);
    RECT replace{};
    GetWindowRect(GetDlgItem(dlg, kReplaceEdit), &replace);
    Expect(window.right == replace.right + 8, "collapsed width");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kHelpPane)), "help pane disabled");
    Expect(!IsWindowEnabled(GetDlgItem(dlg, kTestStart)), "Start disabled");
    Language english{L"ENG", {}};
    EnterBuiltInTexts(english.Texts);
    CheckCaptionsFit(dlg, english);

    auto entries = [dlg](int id) {
        return static_cast<int>(SendDlgItemMessageW(dlg, id, CB_GETCOUNT, 0, 0));
    };
    Expect(entries(kMemoryList) == 17, "read memory list");
    Expect(entries(kDefaultCharacterList) == 96, "replacement character list");
    Expect(entries(kEncodingCheckList) == 8, "encoding check list");
    Expect(entries(kOutfileExtensionList) == 3, "outfile extension list");
    Expect(entries(kCodePageList) >= 2, "code page list");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)) == L"OK!", "status line");

    // Tooltips: one tool per child that is not an edit field, texts asked of the dialog by ID.
    HWND tooltip = nullptr;
    while ((tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr)))
        if (GetWindow(tooltip, GW_OWNER) == dlg) break;
    Expect(tooltip != nullptr, "tooltip window owned by the dialog");
    if (!tooltip) return;
    int tools = 0;
    EnumChildWindows(dlg, CountNonEditChild, reinterpret_cast<LPARAM>(&tools));
    Expect(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0) == tools, "one tool per non-edit child");
    auto tipOf = [dlg, tooltip](int id) {
        wchar_t text[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = dlg;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dlg, id));
        tool.lpszText = text;
        SendMessageW(tooltip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return std::wstring(text);
    };
    Expect(tipOf(kGroupButton) == L"Assign selection or complete text to a group",
           "tooltip of 1001: " + Narrow(tipOf(kGroupButton)));
    Expect(tipOf(kRegexHelp) == L"PCRE Syntax", "tooltip of 1042");
    Expect(tipOf(kIdOk).empty(), "no tooltip text for OK");
}

DWORD WINAPI WorkDialog(void* parameter) {
    const Run& run = *static_cast<const Run*>(parameter);
    HWND dlg = WaitForWindow(L"Gleanery Settings");
    Expect(dlg != nullptr, "dialog window found");
    if (!dlg) {
        EnumWindows(PrintOwnWindow, 0);
        return 1;
    }
    Expect(GetWindow(dlg, GW_OWNER) == run.Host, "owned by the host window");
    CheckControls(dlg);
    Sleep(300); // let it paint
    Screenshot(run, L"settings-dialog");

    // A faulty expression shows its error; a good one is accepted.
    Type(dlg, kRegexEdit, L"(\\d+");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)).find(L"missing )") == 0,
           "error in the status line: " + Narrow(WindowText(GetDlgItem(dlg, kStatusLine))));
    Type(dlg, kRegexEdit, L"(\\d+)");
    Expect(WindowText(GetDlgItem(dlg, kStatusLine)) == L"OK!", "status after the fix");

    Click(dlg, kLineMode);
    Click(dlg, kCaseSensitive);
    Click(dlg, kCopyClip);
    Expect(IsWindowEnabled(GetDlgItem(dlg, kDeleteCopied)) != FALSE, "Delete enabled by Copy");
    Click(dlg, kSearchAndReplace);
    Expect(IsDlgButtonChecked(dlg, kLineMode) == BST_UNCHECKED, "Search and Replace clears Line");
    Click(dlg, kSearchAndReplace);
    Click(dlg, kLineMode);
    SendDlgItemMessageW(dlg, kOutfileExtensionList, CB_SETCURSEL, 1, 0);
    Click(dlg, kIdOk);
    return 0;
}

void CheckSettingsFile(const std::string& ini) {
    for (const char* key :
         {"regex=(\\d+)\r\n", "LineMode=true\r\n", "CaseSensitive=true\r\n", "CopyClip=1\r\n",
          "OutfileExtension=1\r\n", "SearchAndReplace=false\r\n"})
        Expect(ini.find(key) != std::string::npos, std::string("settings file holds ") + key);
}

Language* g_language = nullptr; // the language the next dialog opens in

// The dialog in a language of the language file: titled and labelled in it, every caption
// fitting; a screenshot, then Cancel.
DWORD WINAPI WorkTranslatedDialog(void* parameter) {
    const Run& run = *static_cast<const Run*>(parameter);
    const Language& language = *g_language;
    const std::string name = Narrow(language.Name);
    HWND dlg = WaitForWindow(run.Title.c_str());
    Expect(dlg != nullptr, name + ": dialog titled \"" + Narrow(run.Title) + "\" found");
    if (!dlg) return 1;
    for (const ControlLayout& layout : DialogControls())
        if (layout.RelabelText != 0)
            Expect(ItemText(dlg, layout.Id) == Wide(language.Texts.at(layout.RelabelText)),
                   name + ": control " + std::to_string(layout.Id) + " labelled \"" +
                       Narrow(ItemText(dlg, layout.Id)) + "\"");
    CheckCaptionsFit(dlg, language);
    Sleep(300); // let it paint
    std::wstring lower = language.Name;
    CharLowerW(lower.data());
    Screenshot(run, L"settings-dialog-" + lower);
    Click(dlg, kIdCancel);
    return 0;
}

// Opens the dialog in each language with the language file beside the plug-in, chosen through the
// host's ini file (COMMANDER_INI, languageini in [Configuration]) as the file manager sets them.
void OpenTranslated(Run& run) {
    Expect(!run.Arguments.empty(), "a language file given");
    if (run.Arguments.empty()) return;
    std::wstring source = run.Arguments[0];
    for (wchar_t& c : source)
        if (c == L'/') c = L'\\';
    const std::wstring copy = run.Directory + L"\\Gleanery.lng";
    Expect(CopyFileW(source.c_str(), copy.c_str(), FALSE) != FALSE,
           "language file " + Narrow(source) + " copied");
    SetEnvironmentVariableW(L"COMMANDER_INI", run.HostIni.c_str());
    for (const wchar_t* name : {L"RUS", L"DEU"}) {
        Language language{name, {}};
        EnterBuiltInTexts(language.Texts);
        ApplyLanguageFile(language.Texts, Utf16(name), Utf16(copy));
        Expect(language.Texts[kLanguageMark] == u"+",
               Narrow(name) + ": section in the language file");
        const std::wstring languageIni = std::wstring(L"WCMD_") + name + L".LNG";
        WritePrivateProfileStringW(L"Configuration", L"languageini", languageIni.c_str(),
                                   run.HostIni.c_str());
        run.Title = Wide(language.Texts[kTextDialogTitle]);
        g_language = &language;
        run.Reopen(WorkTranslatedDialog);
        g_language = nullptr;
    }
    run.Title = L"Gleanery Settings";
    SetEnvironmentVariableW(L"COMMANDER_INI", nullptr);
    DeleteFileW(copy.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return RunHostedDialog(argc, argv, "dialog_ui_test", WorkDialog, CheckSettingsFile,
                           OpenTranslated);
}
