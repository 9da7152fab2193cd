// The settings dialog under random use: a sequence of clicks, typing, list picks, selections,
// message-box answers and font choices, taken from the input, run through the same command
// dispatcher as the real window (the headless control layer). Whatever the sequence, the dialog
// closes with every font and brush released, and what OK saved loads back.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "dialog/dialog_layout.h"
#include "dialog/headless/headless_dialog.h"
#include "fuzz_support.h"
#include "platform/message_box.h"
#include "settings/sample_test_text.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

using namespace gleanery;
using namespace gleanery::dialog;

namespace {

// Pieces that reach the dialog's interesting states quickly: groups and references the status
// line and the test panel look at, a line break, surrogates (paired and not), an error.
const char16_t* const kFragments[] = {u"(",      u")",  u"(a)",  u"(?<n>b)", u"$1",
                                      u"${n}",   u"\\", u"\\w+", u"\r\n",    u"\xD83D\xDE00",
                                      u"\xDC00", u"x*", u"[",    u"\\xNn",   u"\\xm2",
                                      u"(?m)^",  u"|",  u".",    u"\u00E9",  u"preset"};

const char16_t* const kFaces[] = {u"Courier New", u"", u"Missing Face", u"Consolas",
                                  u"A face name that is much longer than thirty-one characters"};

std::u16string TextFrom(fuzz::Input& in) {
    std::u16string text;
    for (int pieces = in.Byte() % 8; pieces > 0; --pieces) {
        const uint8_t b = in.Byte();
        if (b < 200) {
            text += kFragments[b % (sizeof kFragments / sizeof *kFragments)];
        } else {
            const uint8_t lo = in.Byte();
            const auto unit = static_cast<char16_t>(lo | (in.Byte() << 8));
            if (unit != 0) text.push_back(unit); // a window's text ends at a zero unit
        }
    }
    return text;
}

// The text with every line break (CR LF, or a lone CR or LF) as CR LF: the form a settings file
// gives text back in.
std::u16string CrLfLines(const std::u16string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u"\r\n";
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Says which setting came back different from a settings file, for the crash report.
void ReportDifference(const Settings& saved, const Settings& loaded) {
    auto text = [](const std::u16string& t) {
        std::string out;
        for (char16_t c : t) out += std::to_string(static_cast<unsigned>(c)) + ' ';
        return out;
    };
    const std::pair<const char*, const std::u16string Settings::*> texts[] = {
        {"regex", &Settings::regex},
        {"replace", &Settings::replace},
        {"teststring", &Settings::teststring}};
    for (const auto& [name, member] : texts)
        if (saved.*member != loaded.*member)
            std::fprintf(stderr, "%s saved:  %s\n%s loaded: %s\n", name,
                         text(saved.*member).c_str(), name, text(loaded.*member).c_str());
    Settings a = saved, b = loaded;
    a.regex = b.regex = a.replace = b.replace = a.teststring = b.teststring = u"";
    if (!(a == b)) std::fprintf(stderr, "a switch or number differs\n");
}

// The controls a user can act on, in template order.
int ControlFrom(fuzz::Input& in) {
    const auto controls = DialogControls();
    return controls[in.Byte() % controls.size()].Id;
}

const char* StartingFile(uint8_t pick) {
    switch (pick % 3) {
    case 0:
        return nullptr; // first use: no settings file at all
    case 1:
        return "[gleanery_last]\r\nregex=(\\d+)-(\\d+)\r\nreplace=$2$1\r\nteststring=12-34\r\n"
               "[gleanery1]\r\nname=Numbers\r\nregex=\\d+\r\n"
               "[gleanery2]\r\nname=Words\r\nregex=\\w+\r\nLineMode=true\r\n";
    default:
        return "[gleanery]\r\nfont=-13,0,0,0,400,0,0,0,0,3,2,1,49,Courier New\r\n";
    }
}

// One step of the user: a click, typing, a pick from a list, a selection, an answer for the next
// question, or what the font chooser will answer.
void Step(HeadlessDialog& dlg, fuzz::Input& in, TextBoxFont& chosen, bool& chooserAnswers) {
    static const int kAnswers[] = {platform::kIdYes, platform::kIdNo, platform::kIdOk,
                                   platform::kIdCancel};
    switch (in.Byte() % 6) {
    case 0:
        Click(dlg, ControlFrom(in));
        break;
    case 1: {
        // Typing reaches editors and the one combo box with an edit field.
        static const int kTyped[] = {kRegexEdit, kReplaceEdit, kPresetsList};
        const int id = in.Pick(kTyped);
        Type(dlg, id, TextFrom(in));
        break;
    }
    case 2: {
        const int id = ControlFrom(in);
        const uint8_t index = in.Byte();
        auto it = dlg.Controls.find(id);
        if (it != dlg.Controls.end() && !it->second.Entries.empty())
            Pick(dlg, id, index % static_cast<int>(it->second.Entries.size()));
        break;
    }
    case 3: {
        // A window keeps a selection inside the text, start before end.
        static const int kEditors[] = {kRegexEdit, kReplaceEdit};
        const int id = in.Pick(kEditors);
        const int length = static_cast<int>(Control(dlg, id).Text.size());
        int start = in.Byte() % (length + 1);
        int end = in.Byte() % (length + 1);
        if (start > end) std::swap(start, end);
        SelectText(dlg, id, start, end);
        break;
    }
    case 4:
        dlg.Answers.push_back(in.Pick(kAnswers));
        break;
    default: {
        const uint8_t b = in.Byte();
        chooserAnswers = b & 1;
        chosen = TextBoxFont{};
        chosen.Height = -static_cast<int32_t>(8 + in.Byte() % 40);
        chosen.Weight = (b & 2) ? 700 : 400;
        chosen.Italic = (b >> 2) & 1;
        const std::u16string face = in.Pick(kFaces);
        std::copy_n(face.begin(), std::min<size_t>(face.size(), chosen.FaceName.size() - 1),
                    chosen.FaceName.begin());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    static const bool ready = [] {
        ProcessState& st = State();
        EnterBuiltInTexts(InterfaceTexts());
        st.System.AnsiCodePage = 1252;
        st.System.OemCodePage = 437;
        st.System.UsableCodePages = {850, 1252, 28591, 65001};
        return true;
    }();
    (void)ready;
    fuzz::Input in{data, size};
    ProcessState& st = State();
    st.CurrentSettings = Settings{};
    st.Font = TextBoxFont{};
    st.DialogX = st.DialogY = kNoDialogPosition;
    SettingsSession session = SettingsSessionOf(st);
    DiscardSettingsAndPresets(session);
    const std::string iniPath = fuzz::ScratchDirectory() + "Gleanery.ini";
    std::remove(iniPath.c_str());
    if (const char* file = StartingFile(in.Byte()))
        std::ofstream(iniPath, std::ios::binary | std::ios::trunc) << file;

    HeadlessDialog dlg;
    const uint8_t setup = in.Byte();
    dlg.TooltipsFail = setup & 1;
    dlg.DpiY = (setup & 2) ? 144 : 96;
    dlg.MissingFaces = {u"Missing Face"};
    TextBoxFont chosen;
    bool chooserAnswers = false;
    dlg.FontChooser = [&](TextBoxFont& font) {
        if (!chooserAnswers) return false;
        font = chosen;
        return true;
    };
    OpenHeadless(dlg);

    for (int step = 0; step < 64 && dlg.Open && in.size > 0; ++step)
        Step(dlg, in, chosen, chooserAnswers);
    if (dlg.Open) Click(dlg, (in.Byte() & 1) ? kIdOk : kIdCancel);
    // OK can be held open by a question answered No; Cancel always closes.
    if (dlg.Open) Click(dlg, kIdCancel);

    if (dlg.Open || dlg.LiveFonts != 0 || dlg.LiveBrushes != 0 || dlg.TooltipsCreated) std::abort();
    if (dlg.Result == kIdOk) {
        // What OK wrote is a settings file that loads, with the settings OK took: a test text
        // equal to the built-in sample is stored as an empty one, an unpaired surrogate (which
        // UTF-8 cannot hold) comes back as U+FFFD, and a lone CR or LF as a CR LF line break.
        Settings saved = st.CurrentSettings;
        if (saved.teststring == kSampleTestText) saved.teststring.clear();
        for (std::u16string* text : {&saved.regex, &saved.replace, &saved.teststring})
            *text = CrLfLines(platform::Utf8ToWide(platform::WideToUtf8(*text)));
        bool lastAvailable = true;
        if (!LoadSettingsAndPresets(session, &lastAvailable, nullptr)) std::abort();
        if (lastAvailable && !(st.CurrentSettings == saved)) {
            ReportDifference(saved, st.CurrentSettings);
            std::abort();
        }
        DiscardSettingsAndPresets(session);
    }
    return 0;
}
