// The settings file: what a save writes byte for byte, what a load takes back, and how presets,
// bad values and unreadable files are handled.
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "engine/compiled_expression.h"
#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "session_records.h"
#include "settings/presets.h"
#include "settings/sample_test_text.h"
#include "support/temp_dir.h"

namespace gleanery {
namespace {

namespace fs = std::filesystem;
using test::Changed;
using test::Kept;
using test::ReadAll;
using test::WriteAll;

constexpr char kBom[] = "\xEF\xBB\xBF";

// Lines joined by CR LF, each line ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

// The switch keys a save writes for a record with the defaults.
std::string DefaultSwitchKeys() {
    return Lines({"BinaryMode=false", "SearchAndReplace=false", "LineMode=false",
                  "NoDuplicates=false", "WriteBom=false", "WriteStats=false", "CaseSensitive=false",
                  "Dotall=false", "Multiline=false", "UnicodeProperties=true", "EmptyValid=false"});
}

// The keys a save writes for a record with the defaults, after `replace`.
std::string DefaultKeysAfterReplace() {
    return Lines({"teststring="}) + DefaultSwitchKeys() +
           Lines({"CopyClip=0", "Memory=10", "EncodingCheck=2", "CodePage=0", "DefaultCharacter=-1",
                  "OutfileExtension=0"});
}

// The keys a save writes for a record with the defaults, after `regex`.
std::string DefaultKeysAfterRegex() {
    return Lines({"replace=$0"}) + DefaultKeysAfterReplace();
}

std::string DefaultSection(const std::string& header, const std::string& name = "") {
    std::string out = Lines({"[" + header + "]"});
    if (!name.empty()) out += Lines({"name=" + name});
    return out + Lines({"regex=.*"}) + DefaultKeysAfterRegex();
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

TextBoxFont CourierNew() {
    TextBoxFont font;
    font.Height = -11;
    font.Weight = 400;
    font.CharSet = 1;
    const std::u16string face = u"Courier New";
    std::copy(face.begin(), face.end(), font.FaceName.begin());
    return font;
}

std::string EveryFieldLastSection() {
    return Lines({"[gleanery_last]",
                  "regex=<<<END_OF_TEXT",
                  "(\\w+)",
                  "\\s*=",
                  "END_OF_TEXT",
                  "replace=<<<END_OF_TEXT",
                  "",
                  "line $1 ",
                  "END_OF_TEXT",
                  "teststring=<<<END_OF_TEXT",
                  "  indented",
                  "\tsecond",
                  "",
                  "END_OF_TEXT",
                  "BinaryMode=false",
                  "SearchAndReplace=false",
                  "LineMode=true",
                  "NoDuplicates=true",
                  "WriteBom=true",
                  "WriteStats=true",
                  "CaseSensitive=true",
                  "Dotall=true",
                  "Multiline=true",
                  "UnicodeProperties=false",
                  "EmptyValid=true",
                  "Jit=false",
                  "CopyClip=2",
                  "Memory=500",
                  "EncodingCheck=8",
                  "CodePage=1252",
                  "DefaultCharacter=63",
                  "OutfileExtension=2",
                  "Threads=3"});
}

// The file a save writes for the presets "E-mail" and "\u00dcnicode" and the last settings of
// EveryFieldIsWrittenInItsTextFormAndReadBack. New sections follow the name order ("E-mail" <
// "___last___option___", under which the last settings take their turn, < "\u00dc..."); the font
// section comes last.
std::string EveryFieldFile() {
    return std::string(kBom) + Lines({"[gleanery1]",         "name=E-mail",
                                      "regex=\\S+@\\S+",     "replace=",
                                      "teststring=", // the built-in sample text is not stored
                                      "BinaryMode=true",     "SearchAndReplace=true",
                                      "LineMode=false",      "NoDuplicates=false",
                                      "WriteBom=false",      "WriteStats=false",
                                      "CaseSensitive=false", "Dotall=false",
                                      "Multiline=false",     "UnicodeProperties=true",
                                      "EmptyValid=false",    "CopyClip=0",
                                      "Memory=10",           "EncodingCheck=1",
                                      "CodePage=850",        "DefaultCharacter=-1",
                                      "OutfileExtension=0",  ""}) +
           EveryFieldLastSection() +
           Lines({"", "[gleanery2]", "name=\xC3\x9Cnicode", "regex=\xCF\x80\xF0\x9F\x98\x80",
                  "replace=$0", "teststring=tab\tinside"}) +
           DefaultSwitchKeys() +
           Lines({"CopyClip=1", "Memory=5", "EncodingCheck=2", "CodePage=0", "DefaultCharacter=32",
                  "OutfileExtension=1", "", "[gleanery]",
                  "font=-11,0,0,0,400,0,0,0,1,0,0,0,0,Courier New"});
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        records_.PluginDirectory = Wide(dir_ + "/");
        records_.UsableCodePages = {850, 1252};
    }
    void TearDown() override { platform::ClearFaults(); }

    std::string IniPath() const { return dir_ + "/Gleanery.ini"; }
    std::string SamplePath() const { return dir_ + "/Gleanery.Sample.ini"; }

    // Loads `bytes` as the settings file; true when the load succeeded.
    bool LoadFrom(const std::string& bytes, bool* lastAvailable = nullptr,
                  TextBoxFont* font = nullptr) {
        WriteAll(IniPath(), bytes);
        return LoadSettingsAndPresets(records_.Session, lastAvailable, font);
    }

    test::TempDir temp_{"gleanery_settings"};
    const std::string dir_ = temp_.path.string();
    test::SessionRecords records_;
};

TEST_F(SettingsFileTest, EveryFieldIsWrittenInItsTextFormAndReadBack) {
    test::SessionRecords& st = records_;
    Settings last;
    last.WriteBom = true;
    last.LineMode = true;
    last.NoDuplicates = true;
    last.WriteStats = true;
    last.CaseSensitive = true;
    last.Dotall = true;
    last.Multiline = true;
    last.UnicodeProperties = false;
    last.EmptyValid = true;
    last.Jit = false; // written only where it is off (or already present)
    last.CopyClip = 2;
    last.Memory = 500;
    last.EncodingCheck = 16777216;
    last.CodePage = 1252;
    last.DefaultCharacter = '?';
    last.OutfileExtension = 2;
    last.Threads = 3; // written only where it is not the default (or already present)
    last.regex = u"(\\w+)\r\n\\s*=";
    last.replace = u"\r\nline $1 ";
    last.teststring = u"  indented\r\n\tsecond\r\n";
    st.CurrentSettings = last;

    Settings mail;
    mail.BinaryMode = true;
    mail.SearchAndReplace = true;
    mail.EncodingCheck = 131072;
    mail.CodePage = 850;
    mail.regex = u"\\S+@\\S+";
    mail.replace = u"";
    mail.teststring = std::u16string(kSampleTestText);
    Settings unicode;
    unicode.regex = u"\u03c0\U0001F600";
    unicode.Memory = 5;
    unicode.CopyClip = 1;
    unicode.OutfileExtension = 1;
    unicode.DefaultCharacter = ' ';
    unicode.teststring = u"tab\tinside";
    st.Presets[u"E-mail"] = mail;
    MarkPresetAdded(st.Changes, u"E-mail");
    st.Presets[u"\u00dcnicode"] = unicode;
    MarkPresetAdded(st.Changes, u"\u00dcnicode");

    const TextBoxFont font = CourierNew();
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, &font));

    const std::string expected = EveryFieldFile();
    EXPECT_EQ(ReadAll(IniPath()), expected);

    DiscardSettingsAndPresets(records_.Session);
    st.CurrentSettings = Settings{};
    TextBoxFont loadedFont;
    bool lastAvailable = true;
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, &lastAvailable, &loadedFont));
    EXPECT_TRUE(lastAvailable);
    EXPECT_EQ(st.CurrentSettings, last);
    EXPECT_EQ(loadedFont, font);
    mail.teststring.clear();
    ASSERT_EQ(st.Presets.size(), 2u);
    EXPECT_EQ(st.Presets[u"E-mail"], mail);
    EXPECT_EQ(st.Presets[u"\u00dcnicode"], unicode);
    EXPECT_EQ(st.Changes, (ChangeRecords{{u"E-mail", Kept(1)}, {u"\u00dcnicode", Kept(2)}}));

    // Nothing changed: a second save writes the same bytes.
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, &loadedFont));
    EXPECT_EQ(ReadAll(IniPath()), expected);
}

TEST_F(SettingsFileTest, ValuesSimpleIniCouldNotReadBackSurviveARoundTrip) {
    test::SessionRecords& st = records_;
    st.CurrentSettings.regex = u"<<<<<<< HEAD";            // would open a block
    st.CurrentSettings.replace = u"a\r\nEND_OF_TEXT\r\nb"; // would close the block early
    st.CurrentSettings.teststring = u"x\r\nend_of_text  \r\nEND_OF_TEXT_1\r\ny";
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string bytes = ReadAll(IniPath());
    EXPECT_NE(bytes.find(Lines({"regex=<<<END_OF_TEXT", "<<<<<<< HEAD", "END_OF_TEXT"})),
              std::string::npos);
    EXPECT_NE(
        bytes.find(Lines({"replace=<<<END_OF_TEXT_1", "a", "END_OF_TEXT", "b", "END_OF_TEXT_1"})),
        std::string::npos);
    EXPECT_NE(bytes.find("teststring=<<<END_OF_TEXT_2\r\n"), std::string::npos);

    const Settings saved = st.CurrentSettings;
    DiscardSettingsAndPresets(records_.Session);
    st.CurrentSettings = Settings{};
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(st.CurrentSettings, saved);
}

TEST_F(SettingsFileTest, LineBreaksBecomeCrLfInMemory) {
    // A block with bare LF lines, one beginning with a line break, a lone LF in a hand-written
    // value: every LF not after a CR gets one.
    ASSERT_TRUE(LoadFrom(std::string(kBom) + "[gleanery_last]\n" + "regex=<<<END_OF_TEXT\n" + "\n" +
                         "first\n" + "END_OF_TEXT\n" + "teststring=<<<END_OF_TEXT\r\n" + "a\r\n" +
                         "b\r\n" + "END_OF_TEXT\r\n"));
    EXPECT_EQ(records_.CurrentSettings.regex, u"\r\nfirst");
    EXPECT_EQ(records_.CurrentSettings.teststring, u"a\r\nb");

    // A lone CR is a line break to the reader too: it is written as one and comes back as
    // CR LF rather than ending the line early.
    records_.CurrentSettings.regex = u"a\rb";
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_NE(ReadAll(IniPath()).find(Lines({"regex=<<<END_OF_TEXT", "a", "b", "END_OF_TEXT"})),
              std::string::npos);
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(records_.CurrentSettings.regex, u"a\r\nb");
    // ... also right before a CR LF: two line breaks, not one.
    records_.CurrentSettings.replace = u"a\r\r\nb\r\r";
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(records_.CurrentSettings.replace, u"a\r\n\r\nb\r\n\r\n");

    // A lone CR that SimpleIni leaves inside a value is a line break already at the first load,
    // so the value does not change between one load and the next.
    ASSERT_TRUE(LoadFrom("[gleanery_last]\r\nteststring=<<<END_OF_TEXT\rEND_OF_TEXT\rJ=x\r\n"));
    const std::u16string first = records_.CurrentSettings.teststring;
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(records_.CurrentSettings.teststring, first);
}

TEST_F(SettingsFileTest, PresetNamesFollowTheSectionRules) {
    test::SessionRecords& st = records_;
    const std::string file =
        std::string(kBom) +
        Lines({"[gleanery1]", "name=Same", "regex=one",      "",
               "[gleanery2]", "name=Same", "regex=two",      "",
               "[gleanery3]", "",          "[gleanery12]",   "regex=",
               "replace=",    "",          "[gleanery4]",    "name=___last___option___",
               "regex=user",  "",          "[gleanery2049]", "name=Too far",
               "regex=far",   "",          "[gleanery05]",   "name=Leading zero"});
    bool lastAvailable = true;
    ASSERT_TRUE(LoadFrom(file, &lastAvailable));
    EXPECT_FALSE(lastAvailable); // no gleanery_last
    EXPECT_EQ(st.Changes, (ChangeRecords{{u"Same", Kept(1)},
                                         {u"gleanery2", Kept(2)},
                                         {u"gleanery3", Kept(3)},
                                         {u"gleanery12", Kept(12)},
                                         {u"___last___option___", Kept(4)}}));
    EXPECT_EQ(st.Presets[u"Same"].regex, u"one");
    EXPECT_EQ(st.Presets[u"gleanery2"].regex, u"two");
    // A section without keys: the defaults, except that a missing template is empty.
    Settings empty;
    empty.replace.clear();
    EXPECT_EQ(st.Presets[u"gleanery3"], empty);
    // An empty regex loads as ".*", an empty template as empty.
    EXPECT_EQ(st.Presets[u"gleanery12"].regex, u".*");
    EXPECT_EQ(st.Presets[u"gleanery12"].replace, u"");

    // The user's "___last___option___" keeps its section; the last settings go to
    // gleanery_last; gleanery2049 and gleanery05 stay as they were.
    st.CurrentSettings.regex = u"last";
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string expected = std::string(kBom) +
                                 Lines({"[gleanery1]",
                                        "name=Same",
                                        "regex=one",
                                        "",
                                        "[gleanery2]",
                                        "name=Same",
                                        "regex=two",
                                        "",
                                        "[gleanery3]",
                                        "",
                                        "[gleanery12]",
                                        "regex=",
                                        "replace=",
                                        "",
                                        "[gleanery4]",
                                        "name=___last___option___",
                                        "regex=user",
                                        "",
                                        "[gleanery2049]",
                                        "name=Too far",
                                        "regex=far",
                                        "",
                                        "[gleanery05]",
                                        "name=Leading zero",
                                        "",
                                        "[gleanery_last]",
                                        "regex=last"}) +
                                 DefaultKeysAfterRegex();
    EXPECT_EQ(ReadAll(IniPath()), expected);
}

TEST_F(SettingsFileTest, ChangedPresetIsRewrittenInPlaceAndNewOneTakesTheNextSection) {
    test::SessionRecords& st = records_;
    ASSERT_TRUE(LoadFrom(std::string(kBom) +
                         Lines({"[gleanery1]", "name=A", "regex=a", "", "[gleanery2]", "name=B",
                                "regex=b", "Extra=kept", "", "[gleanery_last]", "regex=x"})));
    st.Presets[u"B"].regex = u"b2";
    st.Presets[u"B"].Memory = 20;
    MarkPresetSaved(st.Changes, u"B");
    st.Presets[u"C"] = Settings{};
    MarkPresetAdded(st.Changes, u"C");
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));

    // Missing templates were read as empty and are written back so.
    const std::string expected =
        std::string(kBom) +
        Lines({"[gleanery1]",
               "name=A",
               "regex=a",
               "",
               "[gleanery2]",
               "name=B",
               "regex=b2",
               "Extra=kept",
               "replace=",
               "teststring=",
               "BinaryMode=false",
               "SearchAndReplace=false",
               "LineMode=false",
               "NoDuplicates=false",
               "WriteBom=false",
               "WriteStats=false",
               "CaseSensitive=false",
               "Dotall=false",
               "Multiline=false",
               "UnicodeProperties=true",
               "EmptyValid=false",
               "CopyClip=0",
               "Memory=20",
               "EncodingCheck=2",
               "CodePage=0",
               "DefaultCharacter=-1",
               "OutfileExtension=0",
               "",
               "[gleanery_last]",
               "regex=x",
               "replace="}) +
        // The last settings of the file were taken at the load and are written back in place.
        DefaultKeysAfterReplace() + "\r\n" + DefaultSection("gleanery3", "C");
    EXPECT_EQ(ReadAll(IniPath()), expected);
}

TEST_F(SettingsFileTest, DeletedSectionIsRemovedAndItsNumberReusedAtTheEnd) {
    test::SessionRecords& st = records_;
    ASSERT_TRUE(LoadFrom(std::string(kBom) + Lines({"[gleanery1]", "name=Old", "regex=old", "",
                                                    "[gleanery2]", "name=Keep", "regex=keep"})));
    st.Presets.erase(u"Old");
    MarkPresetDeleted(st.Changes, u"Old");
    st.Presets[u"New"] = Settings{};
    MarkPresetAdded(st.Changes, u"New");
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    // Name order: "Keep" (unchanged), "New" -> gleanery1, then the last settings, which take
    // their turn as "___last___option___".
    const std::string expected =
        std::string(kBom) + Lines({"[gleanery2]", "name=Keep", "regex=keep", ""}) +
        DefaultSection("gleanery1", "New") + "\r\n" + DefaultSection("gleanery_last");
    EXPECT_EQ(ReadAll(IniPath()), expected);
}

TEST_F(SettingsFileTest, SaveChangesNeitherTheSettingsNorTheStoreNorTheChangeRecords) {
    test::SessionRecords& st = records_;
    ASSERT_TRUE(LoadFrom(Lines({"[gleanery1]", "name=Kept", "regex=k"})));
    st.Presets[u"Added"].regex = u"a";
    MarkPresetAdded(st.Changes, u"Added");
    st.CurrentSettings.regex = u"last";
    const PresetStore presets = st.Presets;
    const ChangeRecords changes = st.Changes;
    const Settings current = st.CurrentSettings;
    ASSERT_TRUE(SaveSettingsAndPresets(st.Session, nullptr));
    EXPECT_EQ(st.Presets, presets);
    EXPECT_EQ(st.Changes, changes);
    EXPECT_EQ(st.CurrentSettings, current);
    // Only the document is used up.
    EXPECT_TRUE(SettingsDocumentIsEmpty(*st.Document));
}

TEST_F(SettingsFileTest, PresetDeletedAndAddedAgainIsRewrittenInItsSection) {
    test::SessionRecords& st = records_;
    ASSERT_TRUE(LoadFrom(std::string(kBom) + Lines({"[gleanery1]", "name=P", "regex=p"})));
    st.Presets.erase(u"P");
    MarkPresetDeleted(st.Changes, u"P");
    st.Presets[u"P"].regex = u"q";
    MarkPresetAdded(st.Changes, u"P");
    EXPECT_EQ(st.Changes[u"P"], Changed(1));
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    DiscardSettingsAndPresets(records_.Session);
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(st.Changes, (ChangeRecords{{u"P", Kept(1)}}));
    EXPECT_EQ(st.Presets[u"P"].regex, u"q");
}

TEST_F(SettingsFileTest, BadValuesLeaveTheDefaults) {
    const std::string tooLong = std::string(62, '0') + "20"; // 64 characters
    const std::string longest = std::string(61, '0') + "20"; // 63 characters
    ASSERT_TRUE(LoadFrom(std::string(kBom) + Lines({"[gleanery1]",
                                                    "EncodingCheck=9",
                                                    "Memory=4",
                                                    "Threads=65",
                                                    "OutfileExtension=7",
                                                    "DefaultCharacter=127",
                                                    "CopyClip=3",
                                                    "CodePage=1253",
                                                    "WriteBom=yes",
                                                    "LineMode=On",
                                                    "UnicodeProperties=oFf",
                                                    "Dotall=maybe",
                                                    "Multiline=",
                                                    "CaseSensitive=o",
                                                    "",
                                                    "[gleanery2]",
                                                    "EncodingCheck=0",
                                                    "Memory=0x1F4",
                                                    "Threads=0x40",
                                                    "OutfileExtension=1",
                                                    "DefaultCharacter=126",
                                                    "CopyClip=0X2",
                                                    "CodePage=850",
                                                    "BinaryMode=T",
                                                    "UnicodeProperties=N",
                                                    "",
                                                    "[gleanery3]",
                                                    "Memory=" + tooLong,
                                                    "CodePage=" + longest,
                                                    "CopyClip=1x",
                                                    "Threads=-1",
                                                    "DefaultCharacter=-2",
                                                    "OutfileExtension=-1",
                                                    "",
                                                    "[gleanery4]",
                                                    "Memory=" + longest,
                                                    "CodePage=1",
                                                    "DefaultCharacter=32",
                                                    "EncodingCheck=8",
                                                    "CopyClip=",
                                                    "Threads=1",
                                                    "",
                                                    "[gleanery5]",
                                                    "Memory=99999999999999999999",
                                                    "EncodingCheck=0x3",
                                                    "CodePage=0"})));

    Settings one;
    one.replace.clear();
    one.WriteBom = true;
    one.LineMode = true;
    one.UnicodeProperties = false;
    EXPECT_EQ(records_.Presets[u"gleanery1"], one);

    const Settings& two = records_.Presets[u"gleanery2"];
    EXPECT_EQ(two.EncodingCheck, 262144);
    EXPECT_EQ(two.Memory, 500);
    EXPECT_EQ(two.OutfileExtension, 1);
    EXPECT_EQ(two.DefaultCharacter, 126);
    EXPECT_EQ(two.CopyClip, 2);
    EXPECT_EQ(two.CodePage, 850);
    EXPECT_EQ(two.Threads, 64);
    EXPECT_TRUE(two.BinaryMode);
    EXPECT_FALSE(two.UnicodeProperties);

    const Settings& three = records_.Presets[u"gleanery3"];
    EXPECT_EQ(three.Memory, 10);
    EXPECT_EQ(three.CodePage, 0); // 20 is not a usable code page
    EXPECT_EQ(three.CopyClip, 0);
    EXPECT_EQ(three.DefaultCharacter, -1);
    EXPECT_EQ(three.OutfileExtension, 0);
    EXPECT_EQ(three.Threads, 0);

    const Settings& four = records_.Presets[u"gleanery4"];
    EXPECT_EQ(four.Memory, 20);
    EXPECT_EQ(four.CodePage, 1);
    EXPECT_EQ(four.DefaultCharacter, 32);
    EXPECT_EQ(four.EncodingCheck, 16777216);
    EXPECT_EQ(four.Threads, 1);

    const Settings& five = records_.Presets[u"gleanery5"];
    EXPECT_EQ(five.Memory, 10);
    EXPECT_EQ(five.EncodingCheck, 524288);
}

TEST_F(SettingsFileTest, FontRecordRules) {
    const std::string face40 = std::string(40, 'F');
    TextBoxFont font;
    ASSERT_TRUE(
        LoadFrom(std::string(kBom) +
                     Lines({"[gleanery]", "font= -12,1,2,3,700,1,0,1,0x2,300,4,5,6," + face40}),
                 nullptr, &font));
    EXPECT_EQ(font.Height, -12);
    EXPECT_EQ(font.Width, 1);
    EXPECT_EQ(font.Weight, 700);
    EXPECT_EQ(font.Italic, 1);
    EXPECT_EQ(font.StrikeOut, 1);
    EXPECT_EQ(font.CharSet, 0);       // "0x2": decimal digits only, trailing text ignored
    EXPECT_EQ(font.OutPrecision, 44); // 300 cut to 8 bits
    EXPECT_EQ(font.PitchAndFamily, 6);
    EXPECT_EQ(std::u16string(font.FaceName.data()), Wide(std::string(31, 'F')));
    EXPECT_EQ(font.FaceName[31], 0);
    DiscardSettingsAndPresets(records_.Session);

    // A face name with a comma makes fifteen fields: the font stays as it was.
    const TextBoxFont before = font;
    ASSERT_TRUE(LoadFrom(std::string(kBom) + Lines({"[gleanery]", "font=1,2,3,4,5,6,7,8,9,10,11,"
                                                                  "12,13,Face,Name"}),
                         nullptr, &font));
    EXPECT_EQ(font, before);

    // A save without a font deletes the key; the empty section stays.
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()),
              std::string(kBom) + Lines({"[gleanery]", ""}) + DefaultSection("gleanery_last"));
    // An empty face name counts as no font.
    TextBoxFont noFace = CourierNew();
    noFace.FaceName.fill(0);
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, &noFace));
    EXPECT_EQ(ReadAll(IniPath()).find("font="), std::string::npos);
}

TEST_F(SettingsFileTest, HandWrittenFileIsNormalisedWithItsCommentsKept) {
    test::SessionRecords& st = records_;
    const std::string file = "; My presets\n"
                             "# kept too\n"
                             "\n"
                             "[Other]\n"
                             "key = some value   \n"
                             "; about the word preset\n"
                             "[GLEANERY1]\n"
                             "  name   =  Words\n"
                             "regex = \\w+\n"
                             "; a key comment\n"
                             "LineMode = yes\n";
    ASSERT_TRUE(LoadFrom(file));
    ASSERT_EQ(st.Presets.count(u"Words"), 1u);
    EXPECT_EQ(st.Presets[u"Words"].regex, u"\\w+");
    EXPECT_TRUE(st.Presets[u"Words"].LineMode);
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string expected =
        std::string(kBom) +
        Lines({"; My presets", "# kept too", "", "[Other]", "key=some value", "",
               "; about the word preset", "[GLEANERY1]", "name=Words", "regex=\\w+",
               "; a key comment", "LineMode=yes", ""}) +
        DefaultSection("gleanery_last");
    EXPECT_EQ(ReadAll(IniPath()), expected);

    // The normalised form is stable.
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()), expected);
}

TEST_F(SettingsFileTest, Utf16FileIsReadWholeAndANulByteRefusesTheLoad) {
    test::SessionRecords& st = records_;
    // Text beyond the Basic Multilingual Plane too, and a foreign section after the presets.
    const std::u16string text = u"; notes\r\n[gleanery1]\r\nname=Gr\u00FC\u00DFe\r\n"
                                u"regex=\U0001F600+\r\n\r\n[gleanery2]\r\nname=Second\r\n\r\n"
                                u"[Other]\r\nkey=value\r\n";
    auto utf16 = [](const std::u16string& units, bool bigEndian) {
        std::string bytes;
        for (char16_t c : units) {
            const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        return bytes;
    };
    // What a save writes for the same text in UTF-8.
    ASSERT_TRUE(LoadFrom(kBom + platform::WideToUtf8(text)));
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string expected = ReadAll(IniPath());
    DiscardSettingsAndPresets(records_.Session);

    for (bool bigEndian : {false, true}) {
        ASSERT_TRUE(LoadFrom(utf16(u"\uFEFF" + text, bigEndian))) << bigEndian;
        EXPECT_EQ(st.Presets[u"Gr\u00FC\u00DFe"].regex, u"\U0001F600+");
        EXPECT_EQ(st.Presets.count(u"Second"), 1u);
        ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
        EXPECT_EQ(ReadAll(IniPath()), expected) << bigEndian;
        DiscardSettingsAndPresets(records_.Session);
    }

    // A zero byte, bytes that are no UTF-16 text: the load fails, and no save replaces a file
    // that was not read whole.
    const std::string head = Lines({"[gleanery1]", "name=A"});
    const std::string refused[] = {
        head + std::string(1, '\0') + Lines({"[gleanery2]", "name=Lost"}),
        std::string(1, '\0') + head,
        utf16(u"\uFEFF[gleanery1]\r\nname=A" + std::u16string(1, u'\0') + u"B\r\n", false),
        utf16(u"\uFEFF[gleanery1]\r\nname=\xD800"
              u"A\r\n",
              true),
        utf16(u"\uFEFF[gleanery1]\r\nname=A\r\n", false) + "x",
    };
    for (const std::string& bytes : refused) {
        bool lastAvailable = true;
        EXPECT_FALSE(LoadFrom(bytes, &lastAvailable)) << bytes;
        EXPECT_FALSE(lastAvailable);
        EXPECT_TRUE(st.Presets.empty());
        st.Presets[u"New"] = Settings{};
        MarkPresetAdded(st.Changes, u"New");
        EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
        EXPECT_EQ(ReadAll(IniPath()), bytes);
        DiscardSettingsAndPresets(records_.Session);
    }
}

TEST_F(SettingsFileTest, MalformedHeadersAreSavedInAFormThatReadsBackTheSame) {
    test::SessionRecords& st = records_;
    const std::string words = Lines({"[GLEANERY2]", "name=Words", "regex=\\w+", ""});
    const struct {
        std::string file;
        std::string saved; // after the BOM, before the last settings
    } cases[] = {
        // SimpleIni takes the text from a header without its "]" up to the next key as a
        // section name, line breaks and all; written as it is, it would come back as other
        // sections and keys.
        {"[GLEANERY1\nregex=x\n[GLEANERY2]\nname=Words\nregex=\\w+\n", words},
        // The comment after a dropped line belongs to the next section, not to the file.
        {"[broken\n; about words\n[GLEANERY2]\nname=Words\nregex=\\w+\n",
         Lines({"", "; about words"}) + words},
        // An empty header holds nothing and takes no blank line.
        {"[ ]\n[GLEANERY2]\nname=Words\nregex=\\w+\n", words},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(LoadFrom(c.file));
        ASSERT_EQ(st.Presets.size(), 1u);
        EXPECT_EQ(st.Presets[u"Words"].regex, u"\\w+");
        ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
        const std::string expected = std::string(kBom) + c.saved + DefaultSection("gleanery_last");
        EXPECT_EQ(ReadAll(IniPath()), expected);
        ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
        ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
        EXPECT_EQ(ReadAll(IniPath()), expected);
        std::filesystem::remove(IniPath());
        DiscardSettingsAndPresets(records_.Session);
    }
}

TEST_F(SettingsFileTest, SampleIsLoadedAndCopiedOnFirstRun) {
    test::SessionRecords& st = records_;
    const std::string sample =
        std::string(kBom) +
        Lines({"[gleanery_last]", "regex=seed", "", "[gleanery1]", "name=Seeded", "regex=\\d+"});
    WriteAll(SamplePath(), sample);
    bool lastAvailable = true;
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, &lastAvailable, nullptr));
    EXPECT_TRUE(lastAvailable);
    EXPECT_EQ(st.CurrentSettings.regex, u"seed");
    EXPECT_EQ(st.Presets.count(u"Seeded"), 1u);
    EXPECT_EQ(ReadAll(IniPath()), sample);
    EXPECT_EQ(ReadAll(SamplePath()), sample);

    // With the ini directory set, the settings file goes there; the sample stays in the
    // plug-in directory.
    DiscardSettingsAndPresets(records_.Session);
    fs::create_directory(dir_ + "/ini");
    st.IniDirectory = Wide(dir_ + "/ini/");
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(ReadAll(dir_ + "/ini/Gleanery.ini"), sample);
    st.IniDirectory.clear();
}

TEST_F(SettingsFileTest, MissingFilesAndADirectoryInPlaceOfTheFile) {
    test::SessionRecords& st = records_;
    st.CurrentSettings.regex = u"unchanged";
    bool lastAvailable = true;
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, &lastAvailable, nullptr));
    EXPECT_FALSE(lastAvailable);
    EXPECT_EQ(st.CurrentSettings.regex, u"unchanged");
    EXPECT_TRUE(st.Presets.empty());
    DiscardSettingsAndPresets(records_.Session);

    // A directory named Gleanery.ini is no settings file: the sample is read, its copy fails
    // quietly, and a save cannot write.
    fs::create_directory(IniPath());
    WriteAll(SamplePath(), std::string(kBom) + Lines({"[gleanery1]", "name=S"}));
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(st.Presets.count(u"S"), 1u);
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_TRUE(fs::is_directory(IniPath()));
}

TEST_F(SettingsFileTest, UnreadableOrOversizedFileIsNeitherLoadedNorOverwritten) {
    test::SessionRecords& st = records_;
    const std::string file = std::string(kBom) + Lines({"[gleanery1]", "name=Precious"});
    WriteAll(IniPath(), file);

    // Read failure.
    platform::InjectFault(platform::FaultKind::Read, 1);
    bool lastAvailable = true;
    EXPECT_FALSE(LoadSettingsAndPresets(records_.Session, &lastAvailable, nullptr));
    EXPECT_FALSE(lastAvailable);
    EXPECT_TRUE(st.Presets.empty());
    // The dialog goes on without presets and saves at its end: the file must survive.
    st.Presets[u"New"] = Settings{};
    MarkPresetAdded(st.Changes, u"New");
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()), file);
    DiscardSettingsAndPresets(records_.Session);

    // Open failure.
    platform::InjectFault(platform::FaultKind::Open, 1);
    EXPECT_FALSE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()), file);
    DiscardSettingsAndPresets(records_.Session);

    // Over 5 MiB; exactly 5 MiB still loads.
    std::string big = file + "; " + std::string(5242880 - file.size() - 2, 'x');
    ASSERT_EQ(big.size(), 5242880u);
    ASSERT_TRUE(LoadFrom(big));
    EXPECT_EQ(st.Presets.count(u"Precious"), 1u);
    DiscardSettingsAndPresets(records_.Session);
    big += "x";
    EXPECT_FALSE(LoadFrom(big));
    EXPECT_TRUE(st.Presets.empty());
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()), big);
    DiscardSettingsAndPresets(records_.Session);

    // The next cycle with a readable file saves again.
    ASSERT_TRUE(LoadFrom(file));
    EXPECT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
}

TEST_F(SettingsFileTest, SaveReportsOpenAndWriteFailures) {
    records_.IniDirectory = Wide(dir_ + "/missing/");
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    DiscardSettingsAndPresets(records_.Session);
    records_.IniDirectory.clear();

    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    platform::InjectFault(platform::FaultKind::Write, 1);
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    // The document is emptied by a save either way.
    EXPECT_TRUE(SettingsDocumentIsEmpty(*records_.Document));
}

TEST_F(SettingsFileTest, NoPresetIsWrittenBeyondTheLastSectionALoadReads) {
    test::SessionRecords& st = records_;
    std::string file = kBom;
    for (int n = 1; n <= kMaxPresetSection; ++n)
        file += Lines({"[gleanery" + std::to_string(n) + "]", "name=P" + std::to_string(n), ""});
    ASSERT_TRUE(LoadFrom(file));
    ASSERT_EQ(st.Presets.size(), static_cast<size_t>(kMaxPresetSection));
    EXPECT_EQ(PresetCapacityLeft(records_.Session), 0);

    // A new preset finds no section: the save writes everything else and reports the loss.
    st.Presets[u"Overflow"] = Settings{};
    MarkPresetAdded(st.Changes, u"Overflow");
    st.Presets[u"P7"].regex = u"seven";
    MarkPresetSaved(st.Changes, u"P7");
    EXPECT_FALSE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string written = ReadAll(IniPath());
    EXPECT_EQ(written.find("[gleanery2049]"), std::string::npos);
    EXPECT_EQ(written.find("Overflow"), std::string::npos);
    EXPECT_NE(written.find("[gleanery_last]"), std::string::npos);
    EXPECT_NE(written.find("[gleanery2048]\r\nname=P2048\r\n"), std::string::npos);
    DiscardSettingsAndPresets(records_.Session);

    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(st.Presets[u"P7"].regex, u"seven");
    st.Presets.erase(u"P1");
    MarkPresetDeleted(st.Changes, u"P1");
    EXPECT_EQ(PresetCapacityLeft(records_.Session), 1);
    st.Presets[u"Fits"] = Settings{};
    MarkPresetAdded(st.Changes, u"Fits");
    EXPECT_EQ(PresetCapacityLeft(records_.Session), 0);
    EXPECT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    DiscardSettingsAndPresets(records_.Session);
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    EXPECT_EQ(st.Changes[u"Fits"], Kept(1));
}

TEST_F(SettingsFileTest, SectionHiddenBehindAnotherPresetsNameIsNotOverwritten) {
    // gleanery3 calls itself "gleanery5", so the unnamed gleanery5 takes that name over and
    // gleanery3 is not offered. A new preset must not be written into it.
    test::SessionRecords& st = records_;
    ASSERT_TRUE(LoadFrom(std::string(kBom) + Lines({"[gleanery3]", "name=gleanery5", "regex=three",
                                                    "", "[gleanery5]", "regex=five"})));
    EXPECT_EQ(st.Changes, (ChangeRecords{{u"gleanery5", Kept(5)}}));
    st.Presets[u"New"] = Settings{};
    MarkPresetAdded(st.Changes, u"New");
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    const std::string written = ReadAll(IniPath());
    EXPECT_NE(written.find(Lines({"[gleanery3]", "name=gleanery5", "regex=three", ""})),
              std::string::npos);
    EXPECT_NE(written.find("[gleanery1]\r\nname=New\r\n"), std::string::npos);
}

// ---- the shipped sample settings file ----------------------------------------------------------

struct PresetCase {
    std::u16string name;
    std::string text;                  // searched as UTF-8
    std::vector<std::string> expected; // whole matches, or with `group` the groups 1..n joined
    bool groups = false;               // compare groups 1..n joined by "|" instead
};

std::vector<std::string> AllMatches(const CompiledExpression& compiled, const std::string& text,
                                    bool groups) {
    std::vector<std::string> found;
    int offsets[30];
    int start = 0;
    while (start <= static_cast<int>(text.size())) {
        int rc = pcre_exec(compiled.Utf8Code.get(), compiled.Utf8Extra.get(), text.data(),
                           static_cast<int>(text.size()), start, 0, offsets, 30);
        if (rc < 0) break;
        if (!groups) {
            found.push_back(text.substr(offsets[0], offsets[1] - offsets[0]));
        } else {
            std::string joined;
            for (int g = 1; g < rc; ++g) {
                if (g > 1) joined += "|";
                joined += text.substr(offsets[2 * g], offsets[2 * g + 1] - offsets[2 * g]);
            }
            found.push_back(joined);
        }
        start = offsets[1] > offsets[0] ? offsets[1] : offsets[1] + 1;
    }
    return found;
}

std::string SampleSourcePath() {
    fs::path here = fs::path(__FILE__).parent_path();
    return (here / ".." / ".." / "dist" / "Gleanery.Sample.ini").string();
}

TEST_F(SettingsFileTest, ShippedSampleIsInTheSavedFormAndItsPresetsWork) {
    test::SessionRecords& st = records_;
    const std::string sample = ReadAll(SampleSourcePath());
    ASSERT_FALSE(sample.empty()) << SampleSourcePath();
    WriteAll(SamplePath(), sample);
    st.CurrentSettings.regex = u"before";
    bool lastAvailable = true;
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, &lastAvailable, nullptr));
    EXPECT_TRUE(lastAvailable);
    EXPECT_EQ(st.CurrentSettings, Settings{}); // the seed's last settings are the defaults
    ASSERT_EQ(ReadAll(IniPath()), sample);

    const std::vector<PresetCase> cases = {
        {u"E-mail addresses",
         "Mail info@example.com, j.doe+news@mail.example.org. Not: user@localhost, @x.org",
         {"info@example.com", "j.doe+news@mail.example.org"}},
        {u"URLs (http, https, ftp)",
         "See https://example.com/docs/a.html, ftp://files.example.org/pub. "
         "<a href=\"http://example.net/a?b=1&c=2\">x</a> (https://example.com/x) mailto:a@b.c",
         {"https://example.com/docs/a.html", "ftp://files.example.org/pub",
          "http://example.net/a?b=1&c=2", "https://example.com/x"}},
        {u"IPv4 addresses",
         "gw 192.168.0.1, dns 8.8.8.8. bad: 256.1.1.1 1.2.3.4.5 10.0.0.256 ok 255.255.255.0",
         {"192.168.0.1", "8.8.8.8", "255.255.255.0"}},
        {u"Lines containing a word (line mode)", "10:02 Error: disk full", {"Error"}},
        {u"Dates YYYY-MM-DD to DD.MM.YYYY (search and replace)",
         "Released 2024-03-15, updated 1999-12-31. Not: 2024-13-01, 2024-02-32, 12024-01-01",
         {"2024|03|15", "1999|12|31"},
         true},
        {u"Windows paths",
         "Run C:\\Program Files\\Tool\\tool.exe now, open d:\\Data\\report.txt; root E:\\ x",
         {"C:\\Program Files\\Tool\\tool.exe", "d:\\Data\\report.txt", "E:\\"}},
        {u"Quoted strings",
         "a = \"Gleanery\", b = \"say \\\"hi\\\"\", c = \"\" d = \"open",
         {"\"Gleanery\"", "\"say \\\"hi\\\"\"", "\"\""}},
        {u"Hexadecimal numbers",
         "mov ax, 0FFh ; mask 0x7fff, 0X1A. Not: each, 0xZZ, 42, 1Fh2",
         {"0FFh", "0x7fff", "0X1A"}},
        {u"Unique words (no duplicates)", "the cat, the dog", {"the", "cat", "the", "dog"}},
        {u"HTML page titles",
         "<head><title>First page</title></head><title>Second</title>",
         {"First page", "Second"},
         true},
        {u"Trailing blanks removed (search and replace)",
         "keep\r\nblanks   \r\ntab\t\r\nend \t",
         {"   ", "\t", " \t"}},
    };
    EXPECT_EQ(st.Presets.size(), cases.size());
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        auto it = st.Presets.find(c.name);
        ASSERT_NE(it, st.Presets.end());
        Settings settings = it->second;
        settings.CodePage = 1252;
        CompiledExpression compiled;
        CompileExpression(settings, platform::SystemFacts{}, compiled);
        ASSERT_TRUE(compiled.ErrorText.empty());
        ASSERT_TRUE(compiled.Utf8Code);
        EXPECT_EQ(AllMatches(compiled, c.text, c.groups), c.expected);
        ReleaseCompiledExpression(compiled);
    }

    // The few options the presets depend on.
    EXPECT_TRUE(st.Presets[u"Lines containing a word (line mode)"].LineMode);
    EXPECT_TRUE(
        st.Presets[u"Dates YYYY-MM-DD to DD.MM.YYYY (search and replace)"].SearchAndReplace);
    EXPECT_EQ(st.Presets[u"Dates YYYY-MM-DD to DD.MM.YYYY (search and replace)"].replace,
              u"$3.$2.$1");
    EXPECT_TRUE(st.Presets[u"Unique words (no duplicates)"].NoDuplicates);
    EXPECT_EQ(st.Presets[u"HTML page titles"].replace, u"$1");
    EXPECT_EQ(st.Presets[u"Trailing blanks removed (search and replace)"].replace, u"");

    // Saved without changes, the sample comes out byte for byte as shipped.
    ASSERT_TRUE(SaveSettingsAndPresets(records_.Session, nullptr));
    EXPECT_EQ(ReadAll(IniPath()), sample);
}

TEST_F(SettingsFileTest, LineModePresetMatchesOnlyLinesWithTheWord) {
    WriteAll(SamplePath(), ReadAll(SampleSourcePath()));
    ASSERT_TRUE(LoadSettingsAndPresets(records_.Session, nullptr, nullptr));
    Settings settings = records_.Presets[u"Lines containing a word (line mode)"];
    settings.CodePage = 1252;
    CompiledExpression compiled;
    CompileExpression(settings, platform::SystemFacts{}, compiled);
    ASSERT_TRUE(compiled.Utf8Code);
    const std::vector<std::string> lines = {"10:01 start", "10:02 Error: disk full",
                                            "10:03 no errors found", "10:04 error again", "terror"};
    std::vector<std::string> hits;
    for (const std::string& line : lines)
        if (!AllMatches(compiled, line, false).empty()) hits.push_back(line);
    EXPECT_EQ(hits, (std::vector<std::string>{"10:02 Error: disk full", "10:04 error again"}));
}

} // namespace
} // namespace gleanery
