// The settings dialog inside Double Commander on Linux: ConfigurePacker hands the generated form
// to the host's DialogBoxLFM (here the in-memory stand-in of host_form.h, which loads the form
// text) and the dialog's behaviour runs through SendDlgMsg. The user stories are those of the
// Windows dialog; what the host's API cannot do is checked in its place.
#if !defined(_WIN32)

#include <algorithm>
#include <numeric>

#include "host_form.h"
#include "plugin_fixture.h"

namespace gleanery::test {
namespace {

class DoubleCmdDialog : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        g_hostForm = &form;
        hostDialogBoxLfm = reinterpret_cast<void*>(&StandInDialogBoxLfm);
        hostSendDlgMsg = reinterpret_cast<void*>(&StandInSendDlgMsg);
    }
    void TearDown() override {
        PluginTest::TearDown();
        g_hostForm = nullptr;
    }

    // Presses Configure; `user` acts while the form is open.
    void Configure(std::function<void(HostForm&)> user) {
        ASSERT_NE(lib.ConfigurePacker, nullptr);
        form.User = std::move(user);
        lib.ConfigurePacker(nullptr, nullptr);
        EXPECT_FALSE(form.Open);
        std::string faults;
        for (const std::string& f : form.Faults) faults += f + "\n";
        EXPECT_TRUE(form.Faults.empty()) << faults;
    }
    std::string Ini() { return ReadAll(pluginDir / "Gleanery.ini"); }
    bool BoxShown(const std::string& text) {
        return std::any_of(host.boxes.begin(), host.boxes.end(), [&](const std::string& box) {
            return box.find("|" + text + "|") != std::string::npos;
        });
    }

    HostForm form;
};

TEST_F(DoubleCmdDialog, WithoutTheHostsDialogApiConfigureKeepsItsMessage) {
    hostDialogBoxLfm = nullptr;
    Load();
    lib.ConfigurePacker(nullptr, nullptr);
    EXPECT_EQ(form.Openings, 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0], "Gleanery|No support for Windows 9x or non-Unicode!|48");
}

TEST_F(DoubleCmdDialog, TheGeneratedFormOpensWithTheStoredSettings) {
    WriteLastSettings("regex=\\d+\r\nLineMode=1\r\nMemory=200\r\nCopyClip=2\r\nBinaryMode=1\r\n");
    const std::string before = Ini();
    Load();
    Configure([](HostForm& f) {
        // Every control of the template, under its form name, as its LCL counterpart; the
        // controls inside a group box are its children.
        EXPECT_EQ(f.Controls.size(), 54u);
        const std::pair<const char*, const char*> classes[] = {
            {"btnOK", "TButton"},         {"memRegex", "TMemo"},      {"lblStatus", "TLabel"},
            {"chkLineMode", "TCheckBox"}, {"cbPresets", "TComboBox"}, {"gbModes", "TGroupBox"},
            {"memHelp", "TMemo"},         {"cbCodePage", "TComboBox"}};
        for (const auto& [name, cls] : classes) EXPECT_EQ(Item(f, name).Class, cls) << name;
        EXPECT_EQ(Item(f, "chkNoDuplicates").Parent, "gbModes");
        EXPECT_EQ(Item(f, "btnTestStart").Parent, "gbTest");
        EXPECT_EQ(Item(f, "memReplace").Parent, "");
        EXPECT_EQ(Item(f, "cbPresets").Props["Style"], "csDropDown");
        EXPECT_EQ(Item(f, "cbMemory").Props["Style"], "csDropDownList");
        EXPECT_EQ(Item(f, "btnOK").Props["Default"], "True");
        EXPECT_EQ(Item(f, "btnQuote").Text, "\\Q...\\E");
        EXPECT_EQ(Item(f, "chkMultiline").Props["Hint"], "");
        EXPECT_EQ(Item(f, "chkLineMode").Props["Hint"], "Returns line numbers");

        EXPECT_EQ(f.Caption, "Gleanery Settings");
        EXPECT_EQ(Item(f, "memRegex").Text, "\\d+");
        EXPECT_EQ(Item(f, "lblStatus").Text, "OK!");
        EXPECT_TRUE(Item(f, "chkLineMode").Checked);
        EXPECT_TRUE(Item(f, "chkBinaryMode").Checked);
        EXPECT_FALSE(Item(f, "chkWriteBom").Enabled);
        EXPECT_FALSE(Item(f, "cbEncodingCheck").Enabled);
        EXPECT_TRUE(Item(f, "chkDeleteCopied").Checked);
        EXPECT_EQ(Item(f, "cbMemory").Items.size(), 17u);
        EXPECT_EQ(Item(f, "cbMemory").Text, "200");
        EXPECT_EQ(Item(f, "cbDefaultCharacter").Items.size(), 96u);
        EXPECT_EQ(Item(f, "cbOutfileExtension").Items[0], ".txt");
        EXPECT_EQ(Item(f, "cbPresets").MaxLength, 255);
        // Collapsed: the form ends 8 pixels right of the replace editor; the help pane is off.
        const FormControl& replace = Item(f, "memReplace");
        EXPECT_EQ(f.Width, replace.Left + replace.Width + 8);
        EXPECT_FALSE(Item(f, "memHelp").Enabled);
        EXPECT_FALSE(Item(f, "btnPresetAdd").Enabled);
        // No font chooser in the host: its button is not shown.
        EXPECT_FALSE(Click(f, "btnFont"));
    });
    EXPECT_EQ(form.Openings, 1);
    EXPECT_EQ(form.ModalResult, 2);
    EXPECT_EQ(Ini(), before); // closed with the close box, nothing changed: nothing written
}

TEST_F(DoubleCmdDialog, CaptionsFollowTheLanguageFile) {
    WriteFile(hostIni, "[Configuration]\r\nlanguageini=HOST_DEU.LNG\r\n");
    WriteFile(pluginDir / "Gleanery.lng", "[deu]\r\n0=Einstellungen\r\n1=Gut\r\n"
                                          "9=Keine Duplikate\r\n42=Hilfe>\r\n44=Hilfe<\r\n");
    Load();
    Configure([](HostForm& f) {
        EXPECT_EQ(f.Caption, "Einstellungen");
        EXPECT_EQ(Item(f, "btnOK").Text, "Gut");
        EXPECT_EQ(Item(f, "chkNoDuplicates").Text, "Keine Duplikate");
        EXPECT_EQ(Item(f, "btnCancel").Text, "Cancel");
        ASSERT_TRUE(Click(f, "btnRegexHelp"));
        EXPECT_EQ(Item(f, "btnRegexHelp").Text, "Hilfe<");
    });
}

// The host's story: Configure, change the expression and a check box, OK, then pack.
TEST_F(DoubleCmdDialog, ExpressionAndCheckBoxChangedThenOkAndPack) {
    WriteLastSettings("regex=a+\r\n");
    Load();
    Configure([](HostForm& f) {
        ASSERT_TRUE(Type(f, "memRegex", "b(\xC3\xA4"));
        EXPECT_EQ(Item(f, "lblStatus").Text, "missing ) at pos 5");
        // A click on the status line cannot select the character: it quotes it.
        ASSERT_TRUE(Click(f, "lblStatus"));
        EXPECT_EQ(Item(f, "lblStatus").Text, "missing ) at pos 5: \"\xC3\xA4\"");
        EXPECT_EQ(f.Focused, "memRegex");
        ASSERT_TRUE(Click(f, "btnOK"));
        EXPECT_TRUE(f.Open); // an expression with an error blocks OK
        ASSERT_TRUE(Type(f, "memRegex", "b+"));
        EXPECT_EQ(Item(f, "lblStatus").Text, "OK!");
        ASSERT_TRUE(Type(f, "memRegex", "b+\r\n"));
        EXPECT_EQ(Item(f, "lblStatus").Text, "OK, but newlines / line breaks in expression!");
        ASSERT_TRUE(Type(f, "memRegex", "b+"));
        ASSERT_TRUE(Click(f, "chkNoDuplicates"));
        ASSERT_TRUE(Click(f, "btnOK"));
    });
    EXPECT_EQ(form.ModalResult, 1);
    EXPECT_TRUE(BoxShown("Incorrect Expression!"));
    const std::string ini = Ini();
    EXPECT_NE(ini.find("regex=b+"), std::string::npos) << ini;
    EXPECT_NE(ini.find("NoDuplicates=true"), std::string::npos) << ini;

    WriteFile(work / "a.txt", "abba bb abbba\n");
    EXPECT_EQ(Pack(root / "found.zip", {"a.txt"}), 0);
    const std::string out = ReadAll(root / "found.txt");
    EXPECT_NE(out.find("bb"), std::string::npos);
    EXPECT_NE(out.find("bbb"), std::string::npos);
    EXPECT_EQ(out.find("bb\r\nbb\r\n"), std::string::npos) << out; // no duplicates
}

TEST_F(DoubleCmdDialog, InterlocksAndChangesMadeByTheDialogItself) {
    Load();
    Configure([](HostForm& f) {
        ASSERT_TRUE(Click(f, "chkLineMode"));
        ASSERT_TRUE(Click(f, "chkSearchAndReplace"));
        for (const char* name :
             {"chkLineMode", "chkNoDuplicates", "chkWriteStats", "chkWriteBom"}) {
            EXPECT_FALSE(Item(f, name).Checked) << name;
            EXPECT_FALSE(Item(f, name).Enabled) << name;
        }
        ASSERT_TRUE(Click(f, "chkSearchAndReplace"));
        EXPECT_TRUE(Item(f, "chkLineMode").Enabled);
        EXPECT_FALSE(Item(f, "chkLineMode").Checked);
        ASSERT_TRUE(Click(f, "chkCopyClip"));
        ASSERT_TRUE(Click(f, "chkDeleteCopied"));
        ASSERT_TRUE(Click(f, "chkCopyClip"));
        EXPECT_FALSE(Item(f, "chkDeleteCopied").Checked);
        EXPECT_FALSE(Item(f, "chkDeleteCopied").Enabled);
        // A pasted expression (no keys) counts when the editor loses the focus.
        ASSERT_TRUE(Click(f, "memRegex"));
        Item(f, "memRegex").Text = "(";
        ASSERT_TRUE(Click(f, "btnAbout"));
        EXPECT_NE(Item(f, "lblStatus").Text, "OK!");
        // The surround buttons wrap the whole expression: the host reports no selection.
        ASSERT_TRUE(Click(f, "btnGroup"));
        EXPECT_EQ(Item(f, "memRegex").Text, "(()");
        ASSERT_TRUE(Click(f, "btnQuote"));
        EXPECT_EQ(Item(f, "memRegex").Text, "\\Q(()\\E");
        EXPECT_EQ(Item(f, "lblStatus").Text, "OK!");
        ASSERT_TRUE(Click(f, "btnLoadDefaults"));
        EXPECT_EQ(Item(f, "memRegex").Text, ".*");
        ASSERT_TRUE(Click(f, "btnCancel"));
    });
    EXPECT_EQ(form.ModalResult, 2);
    EXPECT_TRUE(BoxShown("String-Extractor and Replacer\r\nbased on Regular Expressions\r\n\r\n"
                         "Using \"Perl Compatible Regular\r\nExpressions\" (PCRE) library 8.39\r\n"
                         "https://www.pcre.org/"));
    EXPECT_FALSE(fs::exists(pluginDir / "Gleanery.ini"));
}

TEST_F(DoubleCmdDialog, ExpressionTestPanel) {
    WriteLastSettings("regex=(o)(x)?\r\nreplace=[$1]\r\n");
    Load();
    Configure([](HostForm& f) {
        ASSERT_TRUE(Click(f, "btnTestToggle"));
        EXPECT_EQ(
            Item(f, "memReplace").Text.rfind("The quick brown fox jumps over the lazy dog!\na", 0),
            0u); // the sample, with the memo's own line ends
        EXPECT_EQ(Item(f, "lblReplace").Text, "Test String");
        EXPECT_FALSE(Item(f, "cbPresets").Enabled);
        ASSERT_TRUE(Type(f, "memReplace", "foxes\r\nbo!"));
        ASSERT_TRUE(Click(f, "btnTestStart"));
        EXPECT_EQ(Item(f, "btnTestStart").Text, "Stop");
        EXPECT_EQ(Item(f, "btnTestToggle").Text, "Prev");
        EXPECT_FALSE(Item(f, "memRegex").Enabled); // read-only while running
        EXPECT_FALSE(Item(f, "memReplace").Enabled);
        EXPECT_FALSE(Item(f, "chkCaseSensitive").Enabled);
        // The memo shows no selection: the label quotes the match.
        EXPECT_EQ(Item(f, "lblReplace").Text, "Group 0 (entire pattern): \"ox\"");
        ASSERT_TRUE(Click(f, "btnSubgroupUp"));
        EXPECT_EQ(Item(f, "lblReplace").Text, "Group 1: \"o\"");
        ASSERT_TRUE(Click(f, "btnSubgroupUp"));
        EXPECT_FALSE(Item(f, "btnSubgroupUp").Enabled);
        EXPECT_EQ(Item(f, "lblReplace").Text, "Group 2: \"x\"");
        ASSERT_TRUE(Click(f, "btnTestNext"));
        EXPECT_EQ(Item(f, "lblReplace").Text, "Group 2: \"\""); // "o" of "bo!": no x
        ASSERT_TRUE(Click(f, "btnTestToggle"));                 // Prev
        EXPECT_EQ(Item(f, "lblReplace").Text, "Group 2: \"x\"");
        ASSERT_TRUE(Click(f, "btnTestNext"));
        ASSERT_TRUE(Click(f, "btnTestNext")); // no third match: the run stops
        EXPECT_EQ(Item(f, "btnTestStart").Text, "Start");
        EXPECT_TRUE(Item(f, "memReplace").Enabled);
        ASSERT_TRUE(Click(f, "btnTestToggle"));
        EXPECT_EQ(Item(f, "memReplace").Text, "[$1]");
        EXPECT_EQ(Item(f, "lblReplace").Text, "Replace String");
        ASSERT_TRUE(Click(f, "btnOK"));
    });
    const std::string ini = Ini();
    EXPECT_NE(ini.find("teststring=<<<END_OF_TEXT"), std::string::npos) << ini;
    EXPECT_NE(ini.find("foxes"), std::string::npos) << ini;
}

TEST_F(DoubleCmdDialog, PresetsPanel) {
    Load();
    host.answers = {6}; // Yes to the deletion
    Configure([](HostForm& f) {
        ASSERT_TRUE(Type(f, "memRegex", "\\w+@\\w+"));
        ASSERT_TRUE(Type(f, "cbPresets", "Mails"));
        EXPECT_TRUE(Item(f, "btnPresetAdd").Enabled);
        ASSERT_TRUE(Click(f, "btnPresetAdd"));
        EXPECT_EQ(Item(f, "cbPresets").Items, std::vector<std::string>{"Mails"});
        ASSERT_TRUE(Type(f, "cbPresets", "Gone"));
        ASSERT_TRUE(Click(f, "btnPresetAdd"));
        ASSERT_TRUE(Click(f, "btnLoadDefaults"));
        ASSERT_TRUE(Pick(f, "cbPresets", 0));
        EXPECT_EQ(Item(f, "btnPresetAdd").Text, "Save");
        ASSERT_TRUE(Click(f, "btnPresetLoad"));
        EXPECT_EQ(Item(f, "memRegex").Text, "\\w+@\\w+");
        ASSERT_TRUE(Pick(f, "cbPresets", 1));
        ASSERT_TRUE(Click(f, "btnPresetDelete"));
        EXPECT_EQ(Item(f, "cbPresets").Items, std::vector<std::string>{"Mails"});
        EXPECT_FALSE(Item(f, "btnPresetLoad").Enabled);
        // Left with the close box, which the host does not report: the plug-in ends the dialog
        // as Cancel once DialogBoxLFM has returned.
    });
    EXPECT_EQ(form.ModalResult, 2);
    const std::string ini = Ini(); // presets are saved even on Cancel
    EXPECT_NE(ini.find("name=Mails"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("name=Gone"), std::string::npos) << ini;
    EXPECT_TRUE(BoxShown("Delete\r\n\"Gone\" ?"));
}

TEST_F(DoubleCmdDialog, HelpPaneWidensSwapsAndCollapses) {
    Load();
    Configure([](HostForm& f) {
        const int collapsed = f.Width;
        ASSERT_TRUE(Click(f, "btnRegexHelp"));
        EXPECT_GT(f.Width, collapsed);
        EXPECT_LE(Item(f, "memHelp").Left + Item(f, "memHelp").Width, f.Width);
        EXPECT_TRUE(Item(f, "memHelp").Enabled);
        EXPECT_EQ(Item(f, "memHelp").Text.rfind("QUOTING\n", 0), 0u);
        EXPECT_EQ(Item(f, "memHelp").Text.find('\r'), std::string::npos);
        EXPECT_EQ(Item(f, "btnRegexHelp").Text, "RegEx Help<");
        ASSERT_TRUE(Click(f, "btnReplaceHelp"));
        EXPECT_EQ(Item(f, "memHelp").Text.rfind("SUBGROUPS\n\n  $0", 0), 0u);
        EXPECT_EQ(Item(f, "btnRegexHelp").Text, "RegEx Help>");
        EXPECT_EQ(Item(f, "btnReplaceHelp").Text, "Replace Help<");
        ASSERT_TRUE(Click(f, "btnReplaceHelp"));
        EXPECT_EQ(f.Width, collapsed);
        EXPECT_FALSE(Item(f, "memHelp").Enabled);
        ASSERT_TRUE(Click(f, "btnOK"));
    });
    // The next opening comes back where the form was closed.
    form.Left = 333;
    Configure([](HostForm& f) { EXPECT_EQ(f.Left, 120); });
}

} // namespace
} // namespace gleanery::test

#endif
