// The settings and language files under failure and hostile content: a failed save keeps the
// old file, oversized and malformed files are refused or read field by field without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "settings/process_state.h"
#include "settings/settings_file.h"
#include "settings/texts.h"

namespace gleanery {
namespace {

namespace fs = std::filesystem;
using platform::FaultKind;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class SettingsReliability : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateProcessState();
        if (State().Texts.empty()) EnterBuiltInTexts(State().Texts);
        platform::ClearFaults();
        std::random_device random;
        dir = fs::temp_directory_path() / ("gleanery-settings-rel-" + std::to_string(random()));
        fs::create_directories(dir);
        State().PluginDirectory = dir.u16string() + u"/";
        State().IniDirectory.clear();
        State().CurrentSettings = Settings{};
    }
    void TearDown() override {
        platform::ClearFaults();
        DiscardSettingsAndPresets();
        State().PluginDirectory.clear();
        State().CurrentSettings = Settings{};
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
};

TEST_F(SettingsReliability, FailedSaveKeepsTheOldFileIntact) {
    const fs::path ini = dir / "Gleanery.ini";
    const std::string old =
        "[gleanery_last]\nregex=old\nreplace=$0\n[gleanery1]\nname=keep\nregex=k\n";
    for (FaultKind kind : {FaultKind::Open, FaultKind::Truncate, FaultKind::Write}) {
        Spit(ini, old);
        bool last = true;
        ASSERT_TRUE(LoadSettingsAndPresets(&last, nullptr));
        ASSERT_EQ(State().CurrentSettings.regex, u"old");
        State().CurrentSettings.regex = u"new";
        platform::InjectFault(kind, 1);
        EXPECT_FALSE(SaveSettingsAndPresets(nullptr)) << static_cast<int>(kind);
        platform::ClearFaults();
        DiscardSettingsAndPresets();
        EXPECT_EQ(Slurp(ini), old) << static_cast<int>(kind);
        EXPECT_FALSE(fs::exists(dir / "Gleanery.ini.tmp"));
    }
    // The message the dialog shows for it.
    EXPECT_EQ(Text(202), u"Could not save the presets to the ini file!");

    // Without a fault the save replaces the file.
    bool last = true;
    ASSERT_TRUE(LoadSettingsAndPresets(&last, nullptr));
    State().CurrentSettings.regex = u"new";
    EXPECT_TRUE(SaveSettingsAndPresets(nullptr));
    DiscardSettingsAndPresets();
    const std::string saved = Slurp(ini);
    EXPECT_NE(saved.find("regex=new"), std::string::npos) << saved;
    EXPECT_NE(saved.find("name=keep"), std::string::npos) << saved;
    EXPECT_FALSE(fs::exists(dir / "Gleanery.ini.tmp"));
}

TEST_F(SettingsReliability, OversizedAndMalformedSettingsFiles) {
    const fs::path ini = dir / "Gleanery.ini";
    // 5 MiB is read; one byte more is refused whole.
    std::string body = "[gleanery_last]\nregex=big\n";
    Spit(ini, body + std::string(5242880 - body.size(), '\n'));
    bool last = true;
    EXPECT_TRUE(LoadSettingsAndPresets(&last, nullptr));
    EXPECT_TRUE(last);
    EXPECT_EQ(State().CurrentSettings.regex, u"big");
    DiscardSettingsAndPresets();
    State().CurrentSettings = Settings{};
    Spit(ini, body + std::string(5242881 - body.size(), '\n'));
    EXPECT_FALSE(LoadSettingsAndPresets(&last, nullptr));
    EXPECT_FALSE(last);
    EXPECT_EQ(State().CurrentSettings, Settings{});
    // A failed load never lets the next save overwrite the unread file.
    EXPECT_FALSE(SaveSettingsAndPresets(nullptr));
    EXPECT_EQ(fs::file_size(ini), 5242881u);
    DiscardSettingsAndPresets();

    // Invalid UTF-8 in keys and values, and values out of range: read without harm, bad
    // numbers keep their defaults.
    Spit(ini, "[gleanery_last]\nregex=\xC3(\xFF\xFE\xED\xA0\x80)\nreplace=\x80$0\xF4\x90\x80\x80\n"
              "Memory=99999999999999999999\nEncodingCheck=-1\nCodePage=\xE2\x82\n\xFF=1\n"
              "[gleanery1]\nname=\xC0\xAF\n");
    EXPECT_TRUE(LoadSettingsAndPresets(&last, nullptr));
    EXPECT_EQ(State().CurrentSettings.Memory, Settings{}.Memory);
    EXPECT_EQ(State().CurrentSettings.EncodingCheck, Settings{}.EncodingCheck);
    EXPECT_FALSE(State().CurrentSettings.regex.empty());
    EXPECT_EQ(State().Presets.size(), 1u);
    DiscardSettingsAndPresets();

    // A FIFO in the settings file's place is not read (it would wait for a writer).
    fs::remove(ini);
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    last = true;
    LoadSettingsAndPresets(&last, nullptr);
    EXPECT_FALSE(last);
    DiscardSettingsAndPresets();
}

TEST_F(SettingsReliability, LanguageFileWithTenThousandSectionsAndBadText) {
    const fs::path lng = dir / "Gleanery.lng";
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "[L" + std::to_string(i) + "]\n61=ok " + std::to_string(i) + "\n";
    text += "[DEU]\n61=Gut\n310=\xFF\xFE bad \xC3\n0=\xED\xA0\x80\n";
    Spit(lng, text);
    TextTable table;
    EnterBuiltInTexts(table);
    const size_t builtIn = table.size();
    ApplyLanguageFile(table, u"L9999", lng.u16string());
    EXPECT_EQ(table[61], u"ok 9999");
    EXPECT_EQ(table[kLanguageMark], u"+");
    EXPECT_EQ(table.size(), builtIn);

    TextTable german;
    EnterBuiltInTexts(german);
    ApplyLanguageFile(german, u"DEU", lng.u16string());
    EXPECT_EQ(german[61], u"Gut");
    EXPECT_FALSE(german[310].empty()); // invalid UTF-8 becomes replacement characters
    EXPECT_EQ(german.size(), builtIn);

    // A language file that is a FIFO is not waited on.
    fs::remove(lng);
    ASSERT_EQ(::mkfifo(lng.c_str(), 0600), 0);
    TextTable none;
    EnterBuiltInTexts(none);
    ApplyLanguageFile(none, u"DEU", lng.u16string());
    EXPECT_EQ(none[kLanguageMark], u"-");
}

} // namespace
} // namespace gleanery
