// The settings and language files under failure and hostile content: a failed save keeps the
// old file, oversized and malformed files are refused or read field by field without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "session_records.h"
#include "settings/settings_file.h"
#include "settings/texts.h"
#include "support/temp_dir.h"

namespace gleanery {
namespace {

namespace fs = std::filesystem;
using platform::FaultKind;

using test::ReadAll;
using test::WriteAll;

// The names in a directory.
std::set<std::string> Names(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

class SettingsReliability : public ::testing::Test {
  protected:
    void SetUp() override {
        if (InterfaceTexts().empty()) EnterBuiltInTexts(InterfaceTexts());
        platform::ClearFaults();
        records.PluginDirectory = dir.u16string() + u"/";
    }
    void TearDown() override { platform::ClearFaults(); }
    test::TempDir temp{"gleanery-settings-rel"};
    const fs::path& dir = temp.path;
    test::SessionRecords records;
};

TEST_F(SettingsReliability, FailedSaveKeepsTheOldFileIntact) {
    const fs::path ini = dir / "Gleanery.ini";
    const std::string old =
        "[gleanery_last]\nregex=old\nreplace=$0\n[gleanery1]\nname=keep\nregex=k\n";
    for (FaultKind kind : {FaultKind::Open, FaultKind::Write}) {
        WriteAll(ini, old);
        bool last = true;
        ASSERT_TRUE(LoadSettingsAndPresets(records.Session, &last, nullptr));
        ASSERT_EQ(records.CurrentSettings.regex, u"old");
        records.CurrentSettings.regex = u"new";
        platform::InjectFault(kind, 1);
        EXPECT_FALSE(SaveSettingsAndPresets(records.Session, nullptr)) << static_cast<int>(kind);
        platform::ClearFaults();
        DiscardSettingsAndPresets(records.Session);
        EXPECT_EQ(ReadAll(ini), old) << static_cast<int>(kind);
        EXPECT_EQ(Names(dir), std::set<std::string>{"Gleanery.ini"}); // no temporary file left
    }
    // The message the dialog shows for it.
    EXPECT_EQ(Text(kTextPresetsNotSaved), u"Could not save the presets to the ini file!");

    // Without a fault the save replaces the file.
    bool last = true;
    ASSERT_TRUE(LoadSettingsAndPresets(records.Session, &last, nullptr));
    records.CurrentSettings.regex = u"new";
    EXPECT_TRUE(SaveSettingsAndPresets(records.Session, nullptr));
    DiscardSettingsAndPresets(records.Session);
    const std::string saved = ReadAll(ini);
    EXPECT_NE(saved.find("regex=new"), std::string::npos) << saved;
    EXPECT_NE(saved.find("name=keep"), std::string::npos) << saved;
    EXPECT_EQ(Names(dir), std::set<std::string>{"Gleanery.ini"});
}

// One load-change-save cycle as the dialog runs it; the save's result.
bool SaveWithLastRegex(test::SessionRecords& records, const std::u16string& regex) {
    bool last = true;
    const bool loaded = LoadSettingsAndPresets(records.Session, &last, nullptr);
    records.CurrentSettings.regex = regex;
    const bool saved = loaded && SaveSettingsAndPresets(records.Session, nullptr);
    DiscardSettingsAndPresets(records.Session);
    return saved;
}

TEST_F(SettingsReliability, SaveWritesThroughSymbolicLinksAndKeepsThePermissions) {
    // Gleanery.ini -> link2 -> real/Gleanery.ini, relative links as a dotfiles manager makes them.
    const fs::path real = dir / "real" / "Gleanery.ini";
    fs::create_directories(real.parent_path());
    WriteAll(real, "[gleanery1]\nname=keep\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real/Gleanery.ini", dir / "link2");
    fs::create_symlink("link2", dir / "Gleanery.ini");
    ASSERT_TRUE(SaveWithLastRegex(records, u"through"));
    EXPECT_TRUE(fs::is_symlink(dir / "Gleanery.ini"));
    EXPECT_TRUE(fs::is_symlink(dir / "link2"));
    EXPECT_NE(ReadAll(real).find("regex=through"), std::string::npos);
    EXPECT_NE(ReadAll(real).find("name=keep"), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(real.parent_path()), std::set<std::string>{"Gleanery.ini"});

    // Owner and group stay too, where the process may give a file away.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(real.c_str(), 4321, 4322), 0);
        ASSERT_TRUE(SaveWithLastRegex(records, u"owned"));
        struct stat info;
        ASSERT_EQ(::stat(real.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 4322u);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
    } else {
        // A file we may not write is not replaced either.
        fs::permissions(real, fs::perms::owner_read);
        EXPECT_FALSE(SaveWithLastRegex(records, u"refused"));
        EXPECT_EQ(ReadAll(real).find("regex=refused"), std::string::npos);
    }

    // A link whose target does not exist yet: the target is created, the link stays.
    fs::remove(real);
    ASSERT_TRUE(SaveWithLastRegex(records, u"created"));
    EXPECT_TRUE(fs::is_symlink(dir / "Gleanery.ini"));
    EXPECT_NE(ReadAll(real).find("regex=created"), std::string::npos);

    // Links in a loop lead to no file: nothing is written.
    fs::remove(dir / "link2");
    fs::create_symlink("Gleanery.ini", dir / "link2");
    EXPECT_FALSE(SaveWithLastRegex(records, u"loop"));
    EXPECT_TRUE(fs::is_symlink(dir / "Gleanery.ini"));

    // A second hard link keeps the old content: the new file takes the settings file's name
    // in one step, which a file shared by several names cannot do.
    fs::remove(dir / "Gleanery.ini");
    fs::remove(dir / "link2");
    WriteAll(dir / "Gleanery.ini", "[gleanery_last]\nregex=old\n");
    fs::create_hard_link(dir / "Gleanery.ini", dir / "hard");
    ASSERT_TRUE(SaveWithLastRegex(records, u"new"));
    EXPECT_NE(ReadAll(dir / "Gleanery.ini").find("regex=new"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "hard"), "[gleanery_last]\nregex=old\n");
}

TEST_F(SettingsReliability, NamesLikeTheTemporaryFileAreNeitherInTheWayNorTouched) {
    const fs::path ini = dir / "Gleanery.ini";
    WriteAll(dir / "Gleanery.ini.tmp", "someone else's");
    ASSERT_TRUE(SaveWithLastRegex(records, u"one"));
    EXPECT_NE(ReadAll(ini).find("regex=one"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "Gleanery.ini.tmp"), "someone else's");

    fs::remove(dir / "Gleanery.ini.tmp");
    fs::create_directories(dir / "Gleanery.ini.tmp" / "inside");
    ASSERT_TRUE(SaveWithLastRegex(records, u"two"));
    EXPECT_NE(ReadAll(ini).find("regex=two"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir / "Gleanery.ini.tmp" / "inside"));
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Gleanery.ini", "Gleanery.ini.tmp"}));
}

TEST_F(SettingsReliability, TwoSavesAtOnceLeaveOneCompleteSave) {
    // Two processes (two "gleanery set", or the dialog and a host) load and save at the same
    // moment, one short save and one long. Whichever comes last, the file is one of the two
    // complete saves, both report success, and a reader never sees anything else.
    const fs::path ini = dir / "Gleanery.ini";
    const std::u16string shortRegex = u"short";
    const std::u16string longRegex(50000, u'L');
    ASSERT_TRUE(SaveWithLastRegex(records, u"base"));
    const std::string base = ReadAll(ini);
    ASSERT_TRUE(SaveWithLastRegex(records, shortRegex));
    const std::string shortSave = ReadAll(ini);
    ASSERT_TRUE(SaveWithLastRegex(records, longRegex));
    const std::string longSave = ReadAll(ini);

    auto start = [this](const std::u16string& regex) {
        const pid_t child = ::fork();
        if (child == 0) ::_exit(SaveWithLastRegex(records, regex) ? 0 : 1);
        return child;
    };
    auto succeeded = [](pid_t child) {
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    };
    for (int round = 0; round < 100; ++round) {
        WriteAll(ini, base);
        const pid_t first = start(round % 2 ? longRegex : shortRegex);
        const pid_t second = start(round % 2 ? shortRegex : longRegex);
        for (int look = 0; look < 20; ++look) {
            const std::string seen = ReadAll(ini);
            ASSERT_TRUE(seen == base || seen == shortSave || seen == longSave)
                << "round " << round << ", " << seen.size() << " bytes";
        }
        EXPECT_TRUE(succeeded(first)) << round;
        EXPECT_TRUE(succeeded(second)) << round;
        const std::string result = ReadAll(ini);
        ASSERT_TRUE(result == shortSave || result == longSave)
            << "round " << round << ", " << result.size() << " bytes";
        ASSERT_EQ(Names(dir), std::set<std::string>{"Gleanery.ini"}) << round;
    }
}

TEST_F(SettingsReliability, OversizedAndMalformedSettingsFiles) {
    const fs::path ini = dir / "Gleanery.ini";
    // 5 MiB is read; one byte more is refused whole.
    std::string body = "[gleanery_last]\nregex=big\n";
    WriteAll(ini, body + std::string(5242880 - body.size(), '\n'));
    bool last = true;
    EXPECT_TRUE(LoadSettingsAndPresets(records.Session, &last, nullptr));
    EXPECT_TRUE(last);
    EXPECT_EQ(records.CurrentSettings.regex, u"big");
    DiscardSettingsAndPresets(records.Session);
    records.CurrentSettings = Settings{};
    WriteAll(ini, body + std::string(5242881 - body.size(), '\n'));
    EXPECT_FALSE(LoadSettingsAndPresets(records.Session, &last, nullptr));
    EXPECT_FALSE(last);
    EXPECT_EQ(records.CurrentSettings, Settings{});
    // A failed load never lets the next save overwrite the unread file.
    EXPECT_FALSE(SaveSettingsAndPresets(records.Session, nullptr));
    EXPECT_EQ(fs::file_size(ini), 5242881u);
    DiscardSettingsAndPresets(records.Session);

    // Invalid UTF-8 in keys and values, and values out of range: read without harm, bad
    // numbers keep their defaults.
    WriteAll(ini,
             "[gleanery_last]\nregex=\xC3(\xFF\xFE\xED\xA0\x80)\nreplace=\x80$0\xF4\x90\x80\x80\n"
             "Memory=99999999999999999999\nEncodingCheck=-1\nCodePage=\xE2\x82\n\xFF=1\n"
             "[gleanery1]\nname=\xC0\xAF\n");
    EXPECT_TRUE(LoadSettingsAndPresets(records.Session, &last, nullptr));
    EXPECT_EQ(records.CurrentSettings.Memory, Settings{}.Memory);
    EXPECT_EQ(records.CurrentSettings.EncodingCheck, Settings{}.EncodingCheck);
    EXPECT_FALSE(records.CurrentSettings.regex.empty());
    EXPECT_EQ(records.Presets.size(), 1u);
    DiscardSettingsAndPresets(records.Session);

    // A FIFO in the settings file's place is not read (it would wait for a writer).
    fs::remove(ini);
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    last = true;
    LoadSettingsAndPresets(records.Session, &last, nullptr);
    EXPECT_FALSE(last);
    DiscardSettingsAndPresets(records.Session);
}

TEST_F(SettingsReliability, LanguageFileWithTenThousandSectionsAndBadText) {
    const fs::path lng = dir / "Gleanery.lng";
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "[L" + std::to_string(i) + "]\n61=ok " + std::to_string(i) + "\n";
    text += "[DEU]\n61=Gut\n310=\xFF\xFE bad \xC3\n0=\xED\xA0\x80\n";
    WriteAll(lng, text);
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
