// Settings files (ui/settings_file): the load rules, the file the save
// writes, the dialogs' starting folder and proposed name, and cancelling.
// The initialisation-file format itself is tested in ini_file_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "platform/file_dialog.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/module.h"
#include "resources/strings.h"
#include "tests/support.h"
#include "ui/registry.h"
#include "ui/settings_file.h"
#include "hosts/inprocess/inprocess_host.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;

constexpr platform::WindowHandle kDialog = 0x4D2;

// The user's ParamDirectory as stored, and a folder stored in a key.
std::optional<test::RawValue> StoredFolder() { return test::StoredSetting(kUserSettingsKey, kParamDirectoryValue); }
void StoreFolder(const char* key, const std::string& folder) {
    ASSERT_TRUE(test::StoreSetting(key, kParamDirectoryValue, test::Text(folder)));
}

// Every field that a settings file holds, set to values that differ from the
// defaults and from each other.
void SetDistinctSettings(ParameterRecord* r) {
    r->ScreenColor = 1, r->OutputMethod = 4, r->DynamicRange = 0, r->ForceBlack = 11, r->ForceWhite = 12;
    r->Gamma = 13, r->Protection = 14, r->RestoreR = 15, r->RestoreG = 16, r->RestoreB = 17;
    r->CorrectionR = -20, r->CorrectionG = 255, r->CorrectionB = -255, r->BlueRemoval = 18, r->MatteBlur = 19;
    r->MatteChoke = -128;
}

// A state block whose host record holds a Parameter record with its
// defaults, temporary settings stores, a folder for settings files, and the
// message boxes and file dialogs taken over.
class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest() : hostRecord_(std::max<size_t>(2048, sizeof(FilterRecord)), 0) {
        ResetRunStartValues(&state);
        state.filterRecord = reinterpret_cast<FilterRecord*>(hostRecord_.data());
        state.filterRecord->parameters = NewMacHandle(sizeof(ParameterRecord));
        SetParameterDefaults(&record());
        test::ClearFileDialogScript();
    }
    ~SettingsFileTest() override {
        test::ClearFileDialogScript();
        inprocess::DisposeSystemHandle(state.filterRecord->parameters);
    }

    ParameterRecord& record() { return *GetParameters(state.filterRecord); }

    std::string File(const std::string& name, const std::string& content) {
        test::WriteFile(files.Path(name), content);
        return files.Path(name);
    }
    int Load(std::optional<std::string> answer) {
        test::SetFileDialogScript({std::move(answer)});
        return LoadSettingsFile(kDialog, &state);
    }
    void Save(std::optional<std::string> answer) {
        test::SetFileDialogScript({std::move(answer)});
        SaveSettingsFile(kDialog, &state);
    }
    test::FileDialogCall LastCall() {
        std::vector<test::FileDialogCall> calls = test::RecordedFileDialogCalls();
        EXPECT_FALSE(calls.empty());
        return calls.empty() ? test::FileDialogCall{} : calls.back();
    }

    test::ScopedSettingsStores stores;
    test::TempFolder files;
    test::MessageCapture messages;
    PluginState state{};

private:
    std::vector<uint8_t> hostRecord_;
};

// ---- Loading ----------------------------------------------------------------------------

// ReadSettingsFile tells the version and shows nothing; the dialog's load
// reports a newer one once and takes the file's path. Both read every key
// whatever the version, and change only the fields of the keys in the file.
TEST_F(SettingsFileTest, NewerVersionIsReportedOnceAndOnlyTheFilesKeysAreLoaded) {
    const std::pair<const char*, bool> cases[] = {  // the version line, and whether it is newer
        {"Version=2\n", true}, {"Version=1\n", false}, {"", false}, {"Version=-1\n", true},
        {"Version=new\n", false}, {"Version =  3  \n", true}};
    char newerText[256];
    platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, newerText, sizeof newerText);
    const ParameterRecord defaults = record();
    for (const auto& [versionLine, isNewer] : cases) {
        SCOPED_TRACE(versionLine);
        test::ClearMessages();
        record() = defaults;
        std::string path =
            File("v.tvk", "[TavRisk Settings]\n"s + versionLine + "Gamma=40\nMatteChoke=-3\nCorrectionB=9\n");
        ParameterRecord expected = defaults, read = defaults;
        expected.Gamma = 40, expected.MatteChoke = -3, expected.CorrectionB = 9;
        bool newer = !isNewer;
        ASSERT_TRUE(ReadSettingsFile(path.c_str(), &read, &newer));
        EXPECT_EQ(newer, isNewer);
        EXPECT_EQ(std::memcmp(&read, &expected, sizeof expected), 0);
        EXPECT_TRUE(messages.messages().empty());

        ASSERT_EQ(Load(path), 1);
        std::snprintf(expected.SettingsPath, sizeof expected.SettingsPath, "%s", path.c_str());
        EXPECT_EQ(std::memcmp(&record(), &expected, sizeof expected), 0);
        const std::vector<test::CapturedMessage> shown = messages.messages();
        EXPECT_EQ(shown.size(), isNewer ? 1u : 0u);
        EXPECT_TRUE(shown.empty() || shown[0].text == newerText) << shown[0].text;
    }
}

#define TAV_FIELD(name) [](const ParameterRecord& r) -> int64_t { return r.name; }
#define TAV_RULE(key, text, expected) {#key, text, expected, TAV_FIELD(key)}

// One key's value in a file, and the field it must give: clamped to the
// field's range, or the low eight bits kept. The command line applies the
// same rule to the number it parsed, and tells when the value was clamped.
TEST_F(SettingsFileTest, LoadAndApplySettingsValueClampOrKeepTheLowEightBits) {
    const struct {
        const char* key;
        const char* text;
        int64_t expected;
        int64_t (*field)(const ParameterRecord&);
    } cases[] = {
        TAV_RULE(ForceBlack, "300", 255), TAV_RULE(ForceBlack, "-5", 0), TAV_RULE(ForceWhite, "256", 255),
        TAV_RULE(MatteChoke, "-500", -128), TAV_RULE(MatteChoke, "129", 128), TAV_RULE(MatteChoke, "-128", -128),
        TAV_RULE(CorrectionG, "-300", -255), TAV_RULE(CorrectionR, "256", 255), TAV_RULE(CorrectionB, "-20", -20),
        TAV_RULE(ScreenColor, "7", 7), TAV_RULE(ScreenColor, "257", 1), TAV_RULE(ScreenColor, "-1", 255),
        TAV_RULE(OutputMethod, "9", 9), TAV_RULE(DynamicRange, "256", 0), TAV_RULE(Gamma, "12abc", 12),
        TAV_RULE(Protection, "0x20", 0), TAV_RULE(RestoreR, "200", 200), TAV_RULE(RestoreG, "1000", 255),
        TAV_RULE(RestoreB, "-1", 0), TAV_RULE(BlueRemoval, "99999999999999999999999", 255),
        TAV_RULE(MatteBlur, "-99999999999999999999", 0),
        {"mattechoke", "64", 64, TAV_FIELD(MatteChoke)}};  // a key in another letter case
    const ParameterRecord defaults = record();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.text);
        record() = defaults;
        ASSERT_EQ(Load(File("rule.tvk", "[TavRisk Settings]\n"s + c.key + "=" + c.text + "\n")), 1);
        EXPECT_EQ(c.field(record()), c.expected);

        record() = defaults;
        const int64_t value = platform::ParseIniInteger(c.text);
        int64_t stored = -1;
        SettingsKeyResult result = ApplySettingsValue(&record(), c.key, value, &stored);
        EXPECT_EQ(stored, c.expected);
        EXPECT_EQ(c.field(record()), c.expected);
        EXPECT_EQ(result, stored == value ? SettingsKeyResult::Stored : SettingsKeyResult::Clamped);
    }
}

#undef TAV_RULE
#undef TAV_FIELD

TEST_F(SettingsFileTest, ApplySettingsValueOfAnUnknownKeyLeavesTheRecordAlone) {
    const ParameterRecord before = record();
    for (const char* key : {"Version", "", "Gamm", "Gammas", "ShowDialog", "SettingsPath", "PreviewZoom", "Gamma "}) {
        int64_t stored = 77;
        EXPECT_EQ(ApplySettingsValue(&record(), key, 5, &stored), SettingsKeyResult::Unknown) << key;
        EXPECT_EQ(stored, 77) << key;
    }
    EXPECT_EQ(std::memcmp(&record(), &before, sizeof before), 0);
}

TEST_F(SettingsFileTest, ReadAndWriteFailWhereNoSettingsFileCanBe) {
    const std::string oversized = File("big.tvk", "[TavRisk Settings]\nGamma=40\n"s + std::string(17 << 20, ';'));
    for (const std::string& path : {files.Path("missing.tvk"), files.path(), oversized}) {
        ParameterRecord loaded = record();
        bool newer = true;
        EXPECT_FALSE(ReadSettingsFile(path.c_str(), &loaded, &newer)) << path;
        EXPECT_FALSE(newer);
        EXPECT_EQ(std::memcmp(&loaded, &record(), sizeof loaded), 0);
    }
    EXPECT_FALSE(WriteSettingsFile(files.Path("no/such/folder/x.tvk").c_str(), record()));
    EXPECT_FALSE(WriteSettingsFile(files.path().c_str(), record()));
}

// ---- Saving -------------------------------------------------------------------------------

TEST_F(SettingsFileTest, SaveWritesVersionAndEveryKeyAndRemembersThePath) {
    SetDistinctSettings(&record());
    std::string path = files.Path("out.tvk");
    Save(path);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text,
              "[TavRisk Settings]\nVersion=1\nScreenColor=1\nOutputMethod=4\nDynamicRange=0\n"
              "ForceBlack=11\nForceWhite=12\nGamma=13\nProtection=14\nRestoreR=15\nRestoreG=16\n"
              "RestoreB=17\nCorrectionR=-20\nCorrectionG=255\nCorrectionB=-255\nBlueRemoval=18\n"
              "MatteBlur=19\nMatteChoke=-128\n");
    EXPECT_STREQ(record().SettingsPath, path.c_str());
}

TEST_F(SettingsFileTest, SaveKeepsOtherSectionsAndKeys) {
    std::string path = File("shared.tvk",
                            "; kept comment\n[Other]\nGamma=3\n\n[TavRisk Settings]\nExtra=keep me\n"
                            "gamma=99\n\n[Third]\nB=2\n");
    record().Gamma = 40;
    Save(path);
    std::string text = ReadFile(path);
    EXPECT_EQ(text.substr(0, text.find("[TavRisk Settings]")), "; kept comment\n[Other]\nGamma=3\n\n");
    EXPECT_NE(text.find("[TavRisk Settings]\nExtra=keep me\nGamma=40\nVersion=1\nScreenColor=0\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.find("MatteChoke=")), "MatteChoke=0\n\n[Third]\nB=2\n");
}

// ---- The dialogs' starting folder and name ---------------------------------------------

// A save proposes the record's last saved or loaded file, without looking up
// a folder; without one it starts in the user's ParamDirectory, else the
// machine's. A load starts in ParamDirectory with the last file's name.
TEST_F(SettingsFileTest, DialogsStartInTheRememberedFolderWithTheLastFile) {
    const struct {
        bool save;
        const char* user;     // the ParamDirectory stored, or nullptr
        const char* machine;  // the same of the machine's key
        const char* settingsPath;
        std::optional<std::string> folder;  // where the dialog starts
        std::string fileName;               // the name it proposes
    } cases[] = {{true, nullptr, "/srv/key sets", "", "/srv/key sets", ""},
                 {true, "/home/me", "/srv", "", "/home/me", ""},
                 {true, "/elsewhere", nullptr, "/x/a.tvk", std::nullopt, "/x/a.tvk"},
                 {false, "/u", "/srv", "/x/a.tvk", "/u", "/x/a.tvk"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.save ? "save, " : "load, ") + c.settingsPath);
        test::ScopedSettingsStores fresh;
        if (c.user) StoreFolder(kUserSettingsKey, c.user);
        if (c.machine) StoreFolder(kMachineSettingsKey, c.machine);
        std::snprintf(record().SettingsPath, kSettingsPathSize, "%s", c.settingsPath);
        if (c.save)
            Save(std::nullopt);
        else
            EXPECT_EQ(Load(std::nullopt), 0);
        EXPECT_EQ(LastCall().initialFolder, c.folder);
        EXPECT_EQ(LastCall().initialName, c.fileName);
    }
}

// A save stores its file's folder as the user's ParamDirectory (empty for a
// bare file name, which has none: the stand-in dialog gives back what it was
// told); a load leaves ParamDirectory as it was.
TEST_F(SettingsFileTest, ASaveRemembersTheFolderALoadDoesNot) {
    fs::create_directory(files.Path("sets"));
    Save(files.Path("sets/blue.tvk"));
    EXPECT_EQ(StoredFolder(), test::Text(files.Path("sets")));
    StoreFolder(kUserSettingsKey, "/kept");
    ASSERT_EQ(Load(files.Path("sets/blue.tvk")), 1);
    EXPECT_EQ(StoredFolder(), test::Text("/kept"));
    const fs::path previous = fs::current_path();
    fs::current_path(files.path());
    Save("bare.tvk");
    fs::current_path(previous);
    EXPECT_EQ(StoredFolder(), test::Text(""));
    EXPECT_TRUE(fs::exists(files.Path("bare.tvk")));
}

// On POSIX systems both '/' and '\' end the folder part.
TEST(SettingsFolderTest, FolderIsCutAtTheLastSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/me/sets/blue.tvk", "/home/me/sets"}, {"C:\\Keys\\blue.tvk", "C:\\Keys"},
        {"/mixed\\win/blue.tvk", "/mixed\\win"},     {"/top.tvk", ""},
        {"blue.tvk", nullptr},                       {"", nullptr}};
    for (const auto& [path, folder] : cases) {
        const char* separator = platform::LastFolderSeparator(path);
        EXPECT_EQ(separator != nullptr ? std::string(path, separator) : "(none)", folder ? folder : "(none)");
    }
}

// ---- Cancelling -----------------------------------------------------------------------------

// A cancel answered by the script, a dialog that cannot be shown at all,
// and a file to load that does not exist, which the dialog refuses.
TEST_F(SettingsFileTest, CancelledLoadOrSaveChangesNothing) {
    SetDistinctSettings(&record());
    std::snprintf(record().SettingsPath, kSettingsPathSize, "%s", files.Path("previous.tvk").c_str());
    StoreFolder(kUserSettingsKey, "/before");
    const ParameterRecord before = record();
    for (bool save : {false, true}) {
        for (int answer : {0, 1, 2}) {  // cancel, no script, a missing file
            SCOPED_TRACE(std::string(save ? "save" : "load") + ", answer " + std::to_string(answer));
            if (answer == 1)
                test::ClearFileDialogScript();
            else
                test::SetFileDialogScript({answer == 0 ? std::nullopt : std::optional(files.Path("none/x.tvk"))});
            if (save)
                SaveSettingsFile(kDialog, &state);
            else
                EXPECT_EQ(LoadSettingsFile(kDialog, &state), 0);
            EXPECT_EQ(std::memcmp(&record(), &before, sizeof before), 0);
            EXPECT_TRUE(test::NamesIn(files.path()).empty());
            EXPECT_EQ(StoredFolder(), test::Text("/before"));
            EXPECT_TRUE(messages.messages().empty());
        }
    }
}

TEST_F(SettingsFileTest, StateWithoutParametersIsLeftAlone) {
    inprocess::DisposeSystemHandle(state.filterRecord->parameters);
    state.filterRecord->parameters = nullptr;
    test::SetFileDialogScript({files.Path("x.tvk"), files.Path("y.tvk")});
    EXPECT_EQ(LoadSettingsFile(kDialog, &state), 0);
    SaveSettingsFile(kDialog, &state);
    EXPECT_TRUE(test::RecordedFileDialogCalls().empty());
    state.filterRecord->parameters = NewMacHandle(sizeof(ParameterRecord));
}

}  // namespace
}  // namespace tav
