#include "host_form.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <sstream>

namespace gleanery::test {

HostForm* g_hostForm = nullptr;

namespace {

// The SDK's message and event numbers (extension.h).
constexpr intptr_t kDmClose = 1, kDmEnable = 2, kDmGetDlgBounds = 4, kDmGetItemBounds = 5,
                   kDmGetText = 6, kDmSetFocus = 10, kDmSetText = 12, kDmSetMaxTextLength = 13,
                   kDmShowItem = 15, kDmGetCheck = 16, kDmSetCheck = 17, kDmListGetItem = 18,
                   kDmListGetItemIndex = 19, kDmListSetItemIndex = 20, kDmListDelete = 21,
                   kDmListAdd = 22, kDmListGetCount = 27, kDmSetDlgBounds = 30;
constexpr intptr_t kDnClick = 0x1001, kDnChange = 0x1003, kDnInitDialog = 0x1005,
                   kDnKillFocus = 0x1006, kDnKeyUp = 8;

// Properties the form may set per class, and the event handlers of Double Commander 1.0.10's
// dialog class each class may name: it has no handler for the form's closing, and its
// EditChange casts the sender to TEdit, so a memo must not use it.
const std::map<std::string, std::set<std::string>> kProperties = {
    {"TDialogBox",
     {"BorderStyle", "Caption", "ClientHeight", "ClientWidth", "Position", "ShowHint", "OnShow",
      "Left", "Top"}},
    {"TButton", {"Default", "Cancel", "OnClick"}},
    {"TCheckBox", {"Checked", "OnChange", "OnClick"}},
    {"TLabel", {"Alignment", "Layout", "AutoSize", "OnClick"}},
    {"TMemo",
     {"ScrollBars", "WordWrap", "ReadOnly", "MaxLength", "OnExit", "OnKeyUp", "Font.Name"}},
    {"TComboBox", {"Style", "DropDownCount", "OnChange", "MaxLength"}},
    {"TGroupBox", {}},
};
const std::set<std::string> kCommon = {"Left", "Top",      "Width",   "Height", "Caption",
                                       "Hint", "TabOrder", "Visible", "Enabled"};
const std::map<std::string, std::set<std::string>> kHandlers = {
    {"ButtonClick", {"TButton", "TLabel", "TCheckBox"}},
    {"CheckBoxChange", {"TCheckBox"}},
    {"ComboBoxChange", {"TComboBox"}},
    {"EditKeyUp", {"TMemo"}},
    {"EditExit", {"TMemo"}},
    {"DialogBoxShow", {"TDialogBox"}},
};

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// A Pascal string expression: 'quoted' parts ('' for a quote) and #n characters.
bool ParseString(const std::string& value, std::string& out) {
    out.clear();
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] == '\'') {
            ++i;
            for (;;) {
                if (i >= value.size()) return false;
                if (value[i] == '\'') {
                    if (i + 1 < value.size() && value[i + 1] == '\'') {
                        out += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += value[i++];
            }
        } else if (value[i] == '#') {
            size_t j = ++i;
            while (j < value.size() && std::isdigit(static_cast<unsigned char>(value[j]))) ++j;
            if (j == i) return false;
            const int code = std::stoi(value.substr(i, j - i));
            if (code > 127) return false;
            out += static_cast<char>(code);
            i = j;
        } else {
            return false;
        }
    }
    return true;
}

int Number(const std::map<std::string, std::string>& props, const char* name, int fallback) {
    auto it = props.find(name);
    return it == props.end() ? fallback : std::stoi(it->second);
}

std::string Handler(const FormControl& c, const char* event) {
    auto it = c.Props.find(event);
    return it == c.Props.end() ? std::string() : it->second;
}

// Raises an LCL event of a control: the host's handler calls the plug-in's procedure.
void Raise(HostForm& form, FormControl& c, const char* event) {
    const std::string handler = Handler(c, event);
    if (handler.empty() || !form.Proc) return;
    std::string name = c.Name;
    intptr_t msg = 0, wParam = 0;
    uint16_t key = 0;
    if (handler == "ButtonClick")
        msg = kDnClick;
    else if (handler == "CheckBoxChange")
        msg = kDnChange, wParam = c.Checked ? 1 : 0;
    else if (handler == "ComboBoxChange")
        msg = kDnChange, wParam = c.ItemIndex;
    else if (handler == "EditKeyUp")
        msg = kDnKeyUp, wParam = reinterpret_cast<intptr_t>(&key);
    else if (handler == "EditExit")
        msg = kDnKillFocus;
    else
        return;
    form.Proc(reinterpret_cast<uintptr_t>(&form), name.data(), msg, wParam, 0);
}

void MoveFocus(HostForm& form, const std::string& to) {
    if (form.Focused == to) return;
    const std::string from = form.Focused;
    form.Focused = to;
    if (FormControl* old = Find(form, from)) Raise(form, *old, "OnExit");
}

bool Usable(const FormControl* c) {
    return c && c->Enabled && c->Visible;
}

void CloseForm(HostForm& form, int result) {
    if (!form.Open) return;
    form.Open = false;
    form.ModalResult = result;
}

intptr_t Text(HostForm& form, const std::string& text) {
    form.TextResult = text;
    return reinterpret_cast<intptr_t>(form.TextResult.c_str());
}

intptr_t RectOf(HostForm& form, int left, int top, int width, int height) {
    form.RectResult[0] = left;
    form.RectResult[1] = top;
    form.RectResult[2] = left + width;
    form.RectResult[3] = top + height;
    return reinterpret_cast<intptr_t>(form.RectResult);
}

} // namespace

bool ParseForm(const std::string& lfm, HostForm& form, std::string& error) {
    std::istringstream in(lfm);
    std::string line;
    std::vector<std::string> stack; // object names; "" for the form
    form.Controls.clear();
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        const std::string text = Trim(line);
        if (text.empty()) continue;
        if (text.rfind("object ", 0) == 0) {
            const size_t colon = text.find(':');
            if (colon == std::string::npos) return fail("object without a class");
            const std::string name = Trim(text.substr(7, colon - 7));
            const std::string cls = Trim(text.substr(colon + 1));
            if (stack.empty()) {
                if (cls != "TDialogBox") return fail("the form is not a TDialogBox");
                form.Name = name;
                stack.push_back("");
                continue;
            }
            if (!kProperties.count(cls) || cls == "TDialogBox") return fail("class " + cls);
            if (Find(form, name)) return fail("a second " + name);
            FormControl c;
            c.Name = name;
            c.Class = cls;
            c.Parent = stack.back();
            form.Controls.push_back(c);
            stack.push_back(name);
            continue;
        }
        if (text == "end") {
            if (stack.empty()) return fail("end without object");
            stack.pop_back();
            continue;
        }
        const size_t eq = text.find(" = ");
        if (eq == std::string::npos || stack.empty()) return fail("not a property: " + text);
        const std::string prop = text.substr(0, eq);
        const std::string value = text.substr(eq + 3);
        const bool onForm = stack.back().empty();
        const std::string cls = onForm ? "TDialogBox" : Find(form, stack.back())->Class;
        if (!kProperties.at(cls).count(prop) && !(kCommon.count(prop) && !onForm))
            return fail(cls + " has no property " + prop);
        if (prop.rfind("On", 0) == 0) {
            auto handler = kHandlers.find(value);
            if (handler == kHandlers.end() || !handler->second.count(cls))
                return fail(cls + "." + prop + " = " + value + " is no handler the host has");
        }
        std::string stored = value;
        if (!value.empty() && (value[0] == '\'' || value[0] == '#') && !ParseString(value, stored))
            return fail("bad string " + value);
        (onForm ? form.Props : Find(form, stack.back())->Props)[prop] = stored;
    }
    if (!stack.empty()) return fail("unterminated object");
    form.Caption = form.Props["Caption"];
    form.Width = Number(form.Props, "ClientWidth", 0);
    form.Height = Number(form.Props, "ClientHeight", 0);
    for (FormControl& c : form.Controls) {
        c.Text = c.Props.count("Caption") ? c.Props["Caption"] : "";
        c.Left = Number(c.Props, "Left", 0);
        c.Top = Number(c.Props, "Top", 0);
        c.Width = Number(c.Props, "Width", 0);
        c.Height = Number(c.Props, "Height", 0);
        c.Visible = c.Props["Visible"] != "False";
        c.Enabled = c.Props["Enabled"] != "False";
        c.ReadOnly = c.Props["ReadOnly"] == "True";
        c.MaxLength = Number(c.Props, "MaxLength", 0);
    }
    return true;
}

FormControl* Find(HostForm& form, const std::string& name) {
    for (FormControl& c : form.Controls)
        if (c.Name == name) return &c;
    return nullptr;
}

FormControl& Item(HostForm& form, const std::string& name) {
    FormControl* c = Find(form, name);
    if (!c) throw std::runtime_error("no control " + name);
    return *c;
}

int32_t StandInDialogBoxLfm(intptr_t lfmData, unsigned long dataSize, HostForm::DlgProc proc) {
    HostForm& form = *g_hostForm;
    form.Lfm.assign(reinterpret_cast<const char*>(lfmData), dataSize);
    std::string error;
    if (!ParseForm(form.Lfm, form, error)) {
        form.Faults.push_back("form: " + error);
        return 0;
    }
    ++form.Openings;
    form.Proc = proc;
    form.Open = true;
    form.ModalResult = 0;
    form.Focused.clear();
    if (form.Props.count("OnShow")) {
        std::string name = form.Name;
        proc(reinterpret_cast<uintptr_t>(&form), name.data(), kDnInitDialog, 0, 0);
    }
    if (form.Open && form.User) form.User(form);
    if (form.Open) CloseBox(form);
    form.Proc = nullptr;
    return form.ModalResult == 1 ? 1 : 0;
}

intptr_t StandInSendDlgMsg(uintptr_t dlg, char* itemName, intptr_t msg, intptr_t wParam,
                           intptr_t lParam) {
    HostForm& form = *reinterpret_cast<HostForm*>(dlg);
    (void)lParam;
    if (!form.Open) {
        form.Faults.push_back("message " + std::to_string(msg) + " to a closed form");
        return 0;
    }
    FormControl* c = nullptr;
    if (itemName) {
        c = Find(form, itemName);
        if (!c && form.Name != itemName) return -1;
    }
    const char* wText = reinterpret_cast<const char*>(wParam);
    auto is = [c](const char* cls) { return c && c->Class == cls; };
    auto indexFault = [&](int index, size_t size) {
        if (index >= 0 && static_cast<size_t>(index) < size) return false;
        form.Faults.push_back("list index " + std::to_string(index) + " of " + c->Name);
        return true;
    };
    switch (msg) {
    case kDmClose:
        CloseForm(form, wParam == -1 ? 2 : static_cast<int>(wParam));
        return 0;
    case kDmEnable: {
        if (!c) return 0;
        const intptr_t was = c->Enabled ? 1 : 0;
        if (wParam != -1) c->Enabled = wParam != 0;
        return was;
    }
    case kDmShowItem: {
        if (!c) return 0;
        const intptr_t was = c->Visible ? 1 : 0;
        if (wParam != -1) c->Visible = wParam != 0;
        return was;
    }
    case kDmGetDlgBounds:
        return RectOf(form, form.Left, form.Top, form.Width, form.Height);
    case kDmSetDlgBounds: {
        int32_t rect[4];
        std::memcpy(rect, reinterpret_cast<const void*>(wParam), sizeof rect);
        form.Left = rect[0];
        form.Top = rect[1];
        form.Width = rect[2] - rect[0];
        form.Height = rect[3] - rect[1];
        return 0;
    }
    case kDmGetItemBounds:
        if (!c) return 0;
        return RectOf(form, c->Left, c->Top, c->Width, c->Height);
    case kDmGetText:
        if (!c) return Text(form, form.Caption);
        return Text(form, c->Text);
    case kDmSetText:
        if (!c) {
            form.Caption = wText;
        } else {
            c->Text = wText;
            if (is("TComboBox")) {
                c->ItemIndex = -1;
                for (size_t i = 0; i < c->Items.size(); ++i)
                    if (c->Items[i] == c->Text) c->ItemIndex = static_cast<int>(i);
                Raise(form, *c, "OnChange");
            }
        }
        return 0;
    case kDmSetMaxTextLength: {
        if (!is("TComboBox") && !is("TEdit")) return -1;
        const intptr_t was = c->MaxLength;
        c->MaxLength = static_cast<int>(wParam);
        return was;
    }
    case kDmSetFocus:
        if (c && c->Visible) MoveFocus(form, c->Name);
        return 0;
    case kDmGetCheck:
        return is("TCheckBox") && c->Checked ? 1 : 0;
    case kDmSetCheck: {
        if (!is("TCheckBox")) return 0;
        const intptr_t was = c->Checked ? 1 : 0;
        c->Checked = wParam == 1;
        if (was != (c->Checked ? 1 : 0)) {
            Raise(form, *c, "OnChange");
            Raise(form, *c, "OnClick");
        }
        return was;
    }
    case kDmListAdd:
        if (!is("TComboBox")) return 0;
        c->Items.push_back(wText);
        return static_cast<intptr_t>(c->Items.size()) - 1;
    case kDmListDelete:
        if (!is("TComboBox") || indexFault(static_cast<int>(wParam), c->Items.size())) return 0;
        c->Items.erase(c->Items.begin() + wParam);
        if (c->ItemIndex == wParam)
            c->ItemIndex = -1;
        else if (c->ItemIndex > wParam)
            --c->ItemIndex;
        return 0;
    case kDmListGetCount:
        return is("TComboBox") ? static_cast<intptr_t>(c->Items.size()) : 0;
    case kDmListGetItem:
        if (!is("TComboBox") || indexFault(static_cast<int>(wParam), c->Items.size())) return 0;
        return Text(form, c->Items[static_cast<size_t>(wParam)]);
    case kDmListGetItemIndex:
        return is("TComboBox") ? c->ItemIndex : -1;
    case kDmListSetItemIndex:
        if (!is("TComboBox")) return 0;
        if (wParam != -1 && indexFault(static_cast<int>(wParam), c->Items.size())) return 0;
        c->ItemIndex = static_cast<int>(wParam);
        c->Text = wParam < 0 ? std::string() : c->Items[static_cast<size_t>(wParam)];
        Raise(form, *c, "OnChange");
        return 0;
    default:
        form.Faults.push_back("message " + std::to_string(msg) + " the stand-in does not know");
        return 0;
    }
}

bool Click(HostForm& form, const std::string& name) {
    FormControl* c = Find(form, name);
    if (!form.Open || !Usable(c)) return false;
    if (c->Class != "TLabel") MoveFocus(form, name);
    if (!form.Open) return true;
    if (c->Class == "TCheckBox") {
        c->Checked = !c->Checked;
        Raise(form, *c, "OnChange");
    }
    Raise(form, *c, "OnClick");
    return true;
}

bool Type(HostForm& form, const std::string& name, const std::string& utf8) {
    FormControl* c = Find(form, name);
    if (!form.Open || !Usable(c) || c->ReadOnly) return false;
    MoveFocus(form, name);
    c->Text = utf8;
    if (c->MaxLength > 0 && c->Text.size() > static_cast<size_t>(c->MaxLength))
        c->Text.resize(static_cast<size_t>(c->MaxLength));
    if (c->Class == "TComboBox") {
        c->ItemIndex = -1;
        Raise(form, *c, "OnChange");
    }
    Raise(form, *c, "OnKeyUp");
    return true;
}

bool Pick(HostForm& form, const std::string& name, int index) {
    FormControl* c = Find(form, name);
    if (!form.Open || !Usable(c) || c->Class != "TComboBox") return false;
    if (index < 0 || static_cast<size_t>(index) >= c->Items.size()) return false;
    MoveFocus(form, name);
    c->ItemIndex = index;
    c->Text = c->Items[static_cast<size_t>(index)];
    Raise(form, *c, "OnChange");
    return true;
}

void CloseBox(HostForm& form) {
    CloseForm(form, 2);
}

} // namespace gleanery::test
