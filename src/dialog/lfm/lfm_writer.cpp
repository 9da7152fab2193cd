#include "dialog/lfm/lfm_writer.h"

#include <cmath>
#include <map>
#include <stdexcept>
#include <vector>

#include "dialog/dialog_layout.h"
#include "dialog/form_names.h"
#include "platform/codepage.h"
#include "settings/texts.h"

namespace gleanery::dialog {

namespace {

// Pixels per dialog unit. GTK's default "Sans 10" is about a third wider and taller than
// "MS Shell Dlg" 8 pt, for which one dialog unit is 1.5 by 1.6 pixels.
constexpr double kScaleX = 2.0;
constexpr double kScaleY = 2.3;
// Where a group box's client area starts inside it: below the caption, inside the frame.
constexpr int kGroupInsetX = 2;
constexpr int kGroupInsetY = 18;
// The visible height of a combo box in dialog units (the template's height includes its list).
constexpr int kComboHeightDu = 14;
constexpr int kMinLabelHeight = 18;

int Px(int du) {
    return static_cast<int>(std::lround(du * kScaleX));
}
int Py(int du) {
    return static_cast<int>(std::lround(du * kScaleY));
}

enum class Kind { Button, CheckBox, GroupBox, Label, Memo, ComboBox };

Kind KindOf(const ControlLayout& c) {
    if (c.Class == u"Button") {
        const uint32_t type = c.Style & 0xF;
        if (type == kBsGroupBox) return Kind::GroupBox;
        if (type == kBsAutoCheckBox) return Kind::CheckBox;
        return Kind::Button;
    }
    if (c.Class == u"Static") return Kind::Label;
    if (c.Class == u"Edit") return Kind::Memo;
    if (c.Class == u"ComboBox") return Kind::ComboBox;
    throw std::runtime_error("control class without an LCL counterpart");
}

const char* LclClass(Kind kind) {
    switch (kind) {
    case Kind::Button:
        return "TButton";
    case Kind::CheckBox:
        return "TCheckBox";
    case Kind::GroupBox:
        return "TGroupBox";
    case Kind::Label:
        return "TLabel";
    case Kind::Memo:
        return "TMemo";
    case Kind::ComboBox:
        return "TComboBox";
    }
    return "";
}

int VisibleHeightDu(const ControlLayout& c) {
    return KindOf(c) == Kind::ComboBox ? kComboHeightDu : c.Height;
}

bool Contains(const ControlLayout& box, const ControlLayout& c) {
    return c.X >= box.X && c.Y >= box.Y && c.X + c.Width <= box.X + box.Width &&
           c.Y + VisibleHeightDu(c) <= box.Y + box.Height;
}

// A Pascal string literal: quotes doubled, control characters as #n, the rest as UTF-8.
std::string Quoted(std::u16string_view text) {
    std::string out;
    bool open = false;
    for (char16_t unit : text) {
        if (unit < 0x20) {
            if (open) out += '\'';
            open = false;
            out += '#' + std::to_string(static_cast<int>(unit));
            continue;
        }
        if (!open) out += '\'';
        open = true;
        if (unit == u'\'')
            out += "''";
        else
            out += platform::WideToUtf8(std::u16string(1, unit));
    }
    if (open) out += '\'';
    return out.empty() ? "''" : out;
}

struct Node {
    const ControlLayout* Control = nullptr;
    std::vector<Node> Children;
};

class Writer {
  public:
    explicit Writer(const TextTable& texts) : texts_(texts) {}

    std::string Form(const std::vector<Node>& top) {
        out_ += "object DialogBox: TDialogBox\n";
        Property(1, "BorderStyle", "bsDialog");
        Property(1, "Caption", Quoted(kTemplateCaption));
        Property(1, "ClientHeight", std::to_string(Py(kDialogHeightDu)));
        Property(1, "ClientWidth", std::to_string(Px(kDialogWidthDu)));
        Property(1, "Position", "poScreenCenter");
        Property(1, "ShowHint", "True");
        Property(1, "OnShow", "DialogBoxShow");
        Children(1, top, nullptr);
        out_ += "end\n";
        return out_;
    }

  private:
    void Property(int depth, const std::string& name, const std::string& value) {
        out_ += std::string(static_cast<size_t>(depth) * 2, ' ') + name + " = " + value + "\n";
    }

    void Children(int depth, const std::vector<Node>& nodes, const ControlLayout* parent) {
        int tabOrder = 0;
        for (const Node& node : nodes) Object(depth, node, parent, tabOrder);
    }

    void Object(int depth, const Node& node, const ControlLayout* parent, int& tabOrder) {
        const ControlLayout& c = *node.Control;
        const Kind kind = KindOf(c);
        const std::string_view name = FormNameOf(c.Id);
        if (name.empty()) throw std::runtime_error("control without a form name");
        const std::string pad(static_cast<size_t>(depth) * 2, ' ');
        out_ += pad + "object " + std::string(name) + ": " + LclClass(kind) + "\n";
        const int left = parent ? Px(c.X) - Px(parent->X) - kGroupInsetX : Px(c.X);
        const int top = parent ? Py(c.Y) - Py(parent->Y) - kGroupInsetY : Py(c.Y);
        const int d = depth + 1;
        Property(d, "Left", std::to_string(left));
        Property(d, "Top", std::to_string(top));
        Property(d, "Width", std::to_string(Px(c.Width)));
        if (kind == Kind::Label) {
            const bool centred = (c.Style & 0x3) == kSsCenter;
            if (centred) {
                Property(d, "Height", std::to_string(std::max(Py(c.Height), kMinLabelHeight)));
                Property(d, "Alignment", "taCenter");
                Property(d, "AutoSize", "False");
            }
            if (c.Style & kSsCenterImage) Property(d, "Layout", "tlCenter");
        } else if (kind != Kind::ComboBox && kind != Kind::CheckBox) {
            Property(d, "Height", std::to_string(Py(c.Height)));
        }
        if (kind != Kind::Memo && kind != Kind::ComboBox) Property(d, "Caption", Quoted(c.Caption));
        switch (kind) {
        case Kind::Button:
            if ((c.Style & 0xF) == kBsDefPushButton) Property(d, "Default", "True");
            if (c.Id == kIdCancel) Property(d, "Cancel", "True");
            // The host offers no font chooser: the font button has nothing to open.
            if (c.Id == kFontButton) Property(d, "Visible", "False");
            Property(d, "OnClick", "ButtonClick");
            break;
        case Kind::CheckBox:
            Property(d, "OnChange", "CheckBoxChange");
            break;
        case Kind::Label:
            if (c.Style & kSsNotify) Property(d, "OnClick", "ButtonClick");
            break;
        case Kind::Memo:
            MemoProperties(d, c);
            break;
        case Kind::ComboBox:
            Property(d, "Style",
                     (c.Style & 0x3) == kCbsDropDownList ? "csDropDownList" : "csDropDown");
            Property(d, "DropDownCount", "16");
            Property(d, "OnChange", "ComboBoxChange");
            break;
        case Kind::GroupBox:
            break;
        }
        if (const uint16_t hint = TooltipTextNumber(c.Id)) {
            auto it = texts_.find(hint);
            if (it != texts_.end()) Property(d, "Hint", Quoted(it->second));
        }
        if (kind != Kind::Label) Property(d, "TabOrder", std::to_string(tabOrder++));
        Children(d, node.Children, &c);
        out_ += pad + "end\n";
    }

    void MemoProperties(int d, const ControlLayout& c) {
        const bool readOnly = c.Style & kEsReadOnly;
        const bool both = c.Style & kWsHScroll;
        Property(d, "ScrollBars", both ? "ssAutoBoth" : "ssAutoVertical");
        if (both) Property(d, "WordWrap", "False");
        if (readOnly) {
            Property(d, "ReadOnly", "True");
            // The help's columns line up only in a fixed-pitch font.
            Property(d, "Font.Name", "'Monospace'");
        } else {
            Property(d, "MaxLength", "65534");
        }
        // The expression editor reports its edits by key and when it loses the focus: the host's
        // change event for edit fields takes only single-line edits.
        if (c.Id == kRegexEdit) {
            Property(d, "OnExit", "EditExit");
            Property(d, "OnKeyUp", "EditKeyUp");
        }
    }

    const TextTable& texts_;
    std::string out_;
};

} // namespace

std::string SettingsFormLfm() {
    // Each control goes into the group box that encloses it, the group boxes onto the form.
    std::vector<Node> top;
    std::map<int, size_t> boxes;
    for (const ControlLayout& c : DialogControls()) {
        Node node{&c, {}};
        bool placed = false;
        for (const auto& [id, index] : boxes) {
            if (Contains(*top[index].Control, c)) {
                top[index].Children.push_back(node);
                placed = true;
                break;
            }
        }
        if (placed) continue;
        if (KindOf(c) == Kind::GroupBox) boxes[c.Id] = top.size();
        top.push_back(node);
    }
    TextTable texts;
    EnterBuiltInTexts(texts);
    return Writer(texts).Form(top);
}

} // namespace gleanery::dialog
