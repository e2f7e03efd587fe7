#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/allocator.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "platform/file_dialog.h"
#include "platform/ini_file.h"
#include "platform/module.h"
#include "resources/strings.h"
#include "tests/support.h"
#include "ui/registry.h"
#include "ui/settings_file.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr platform::WindowHandle kDialog = 0x4D2;
constexpr char kSubkey[] = "SOFTWARE\\Brackwater Works\\Tavrisk";

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// ParamDirectory of one key as stored, or nullopt.
std::optional<std::string> StoredParamDirectory(const char* key) {
    char buffer[512];
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    if (QuerySettingsValue(key, kParamDirectoryValue, buffer, &type, &size) != 1) return std::nullopt;
    if (type != platform::kRegistryText) return "<not text>";
    return std::string(buffer, size);
}

void StoreParamDirectory(const char* key, const std::string& folder) {
    ASSERT_EQ(WriteSettingsValue(key, kParamDirectoryValue, folder.c_str(), platform::kRegistryText,
                                 uint32_t(folder.size() + 1)),
              1);
}

// Every field that a settings file holds, set to values that differ from the
// defaults and from each other.
void SetDistinctSettings(ParameterRecord* r) {
    r->ScreenColor = 1;
    r->OutputMethod = 4;
    r->DynamicRange = 0;
    r->ForceBlack = 11;
    r->ForceWhite = 12;
    r->Gamma = 13;
    r->Protection = 14;
    r->RestoreR = 15;
    r->RestoreG = 16;
    r->RestoreB = 17;
    r->CorrectionR = -20;
    r->CorrectionG = 255;
    r->CorrectionB = -255;
    r->BlueRemoval = 18;
    r->MatteBlur = 19;
    r->MatteChoke = -128;
}

void ExpectSameSettings(const ParameterRecord& a, const ParameterRecord& b) {
    EXPECT_EQ(a.ScreenColor, b.ScreenColor);
    EXPECT_EQ(a.OutputMethod, b.OutputMethod);
    EXPECT_EQ(a.DynamicRange, b.DynamicRange);
    EXPECT_EQ(a.ForceBlack, b.ForceBlack);
    EXPECT_EQ(a.ForceWhite, b.ForceWhite);
    EXPECT_EQ(a.Gamma, b.Gamma);
    EXPECT_EQ(a.Protection, b.Protection);
    EXPECT_EQ(a.RestoreR, b.RestoreR);
    EXPECT_EQ(a.RestoreG, b.RestoreG);
    EXPECT_EQ(a.RestoreB, b.RestoreB);
    EXPECT_EQ(a.CorrectionR, b.CorrectionR);
    EXPECT_EQ(a.CorrectionG, b.CorrectionG);
    EXPECT_EQ(a.CorrectionB, b.CorrectionB);
    EXPECT_EQ(a.BlueRemoval, b.BlueRemoval);
    EXPECT_EQ(a.MatteBlur, b.MatteBlur);
    EXPECT_EQ(a.MatteChoke, b.MatteChoke);
}

// A state block whose host record holds a Parameter record with its
// defaults, temporary settings stores, a folder for settings files, and the
// message boxes and file dialogs taken over.
class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest() : hostRecord_(std::max<size_t>(2048, sizeof(FilterRecord)), 0) {
        state.workerHandle = kNoWorker;
        state.filterRecord = reinterpret_cast<FilterRecord*>(hostRecord_.data());
        state.filterRecord->parameters = NewMacHandle(sizeof(ParameterRecord));
        SetParameterDefaults(&record());
        platform::ClearFileDialogScript();
    }
    ~SettingsFileTest() override {
        platform::ClearFileDialogScript();
        DisposeMacHandle(state.filterRecord->parameters);
    }

    ParameterRecord& record() { return *GetParameters(state.filterRecord); }

    std::string File(const std::string& name, const std::string& content) {
        std::string path = files.Path(name);
        WriteBytes(path, content);
        return path;
    }

    int Load(std::optional<std::string> answer) {
        platform::SetFileDialogScript({std::move(answer)});
        return LoadSettingsFile(kDialog, &state);
    }
    void Save(std::optional<std::string> answer) {
        platform::SetFileDialogScript({std::move(answer)});
        SaveSettingsFile(kDialog, &state);
    }
    platform::FileDialogCall LastCall() {
        std::vector<platform::FileDialogCall> calls = platform::RecordedFileDialogCalls();
        EXPECT_FALSE(calls.empty());
        return calls.empty() ? platform::FileDialogCall{} : calls.back();
    }

    test::ScopedSettingsStores stores;
    test::TempFolder files;
    test::MessageCapture messages;
    PluginState state{};

private:
    std::vector<uint8_t> hostRecord_;
};

std::string NewerVersionText() {
    char text[256];
    platform::LoadStringResource(platform::ThisModule(), IDS_NEWER_VERSION, text, sizeof text);
    return text;
}

// ---- Loading --------------------------------------------------------------------------

TEST_F(SettingsFileTest, FileWithOnlyGammaChangesGammaAndNothingElse) {
    std::string path = File("gamma.tvk", "[TavRisk Settings]\nGamma=40\n");
    ParameterRecord before = record();
    ASSERT_EQ(Load(path), 1);

    ParameterRecord expected = before;
    expected.Gamma = 40;
    std::snprintf(expected.SettingsPath, sizeof expected.SettingsPath, "%s", path.c_str());
    EXPECT_EQ(std::memcmp(&record(), &expected, sizeof expected), 0);
    EXPECT_TRUE(messages.messages().empty());
}

struct VersionCase {
    const char* name;
    const char* versionLine;  // "" for none
    bool newer;
};

class SettingsVersionTest : public SettingsFileTest, public ::testing::WithParamInterface<VersionCase> {
protected:
    std::string VersionFile() {
        return File("v.tvk", std::string("[TavRisk Settings]\n") + GetParam().versionLine +
                                 "Gamma=40\nMatteChoke=-3\nCorrectionB=9\n");
    }
};

TEST_P(SettingsVersionTest, NewerVersionIsReportedOnceAndEveryKeyIsLoaded) {
    const VersionCase& c = GetParam();
    ASSERT_EQ(Load(VersionFile()), 1);
    EXPECT_EQ(record().Gamma, 40);
    EXPECT_EQ(record().MatteChoke, -3);
    EXPECT_EQ(record().CorrectionB, 9);
    if (!c.newer) {
        EXPECT_TRUE(messages.messages().empty());
        return;
    }
    ASSERT_EQ(messages.messages().size(), 1u);
    const test::CapturedMessage& message = messages.messages()[0];
    EXPECT_EQ(message.text, NewerVersionText());
    EXPECT_EQ(message.icon, platform::MessageIcon::Information);
    // No caption of our own: the platform's default one.
    EXPECT_EQ(message.caption, "Error");
}

TEST_P(SettingsVersionTest, ReadSettingsFileTellsTheVersionAndShowsNothing) {
    ParameterRecord loaded = record();
    bool newer = !GetParam().newer;
    ASSERT_TRUE(ReadSettingsFile(VersionFile().c_str(), &loaded, &newer));
    EXPECT_EQ(newer, GetParam().newer);
    EXPECT_EQ(loaded.Gamma, 40);
    EXPECT_TRUE(messages.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SettingsVersionTest,
    ::testing::Values(VersionCase{"Two", "Version=2\n", true}, VersionCase{"Zero", "Version=0\n", false},
                      VersionCase{"One", "Version=1\n", false}, VersionCase{"Missing", "", false},
                      VersionCase{"NegativeCountsAsNewer", "Version=-1\n", true},
                      VersionCase{"NotANumberReadsAsZero", "Version=new\n", false},
                      VersionCase{"Blanks", "Version =  3  \n", true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, NewerFileWithEveryKeyLoadsThemAll) {
    ParameterRecord saved = record();
    SetDistinctSettings(&saved);
    std::string path = files.Path("all.tvk");
    ASSERT_TRUE(WriteSettingsFile(path.c_str(), saved));
    ASSERT_TRUE(platform::WriteIniString(path.c_str(), "TavRisk Settings", "Version", "2"));
    ASSERT_EQ(Load(path), 1);
    ExpectSameSettings(record(), saved);
    EXPECT_EQ(messages.messages().size(), 1u);
}

// One key's value in a file, and the field it must give.
struct LoadRuleCase {
    const char* name;
    const char* key;
    const char* text;
    int64_t expected;
    int64_t (*field)(const ParameterRecord&);
};

class SettingsLoadRuleTest : public SettingsFileTest, public ::testing::WithParamInterface<LoadRuleCase> {};

TEST_P(SettingsLoadRuleTest, LoadClampsOrKeepsTheLowEightBits) {
    const LoadRuleCase& c = GetParam();
    std::string path = File("rule.tvk", std::string("[TavRisk Settings]\n") + c.key + "=" + c.text + "\n");
    ASSERT_EQ(Load(path), 1);
    EXPECT_EQ(c.field(record()), c.expected);
}

// The command line applies the same rule to the number it parsed.
TEST_P(SettingsLoadRuleTest, ApplySettingsValueStoresTheSameAndTellsAboutClamping) {
    const LoadRuleCase& c = GetParam();
    int64_t value = platform::ParseIniInteger(c.text);
    int64_t stored = -1;
    SettingsKeyResult result = ApplySettingsValue(&record(), c.key, value, &stored);
    EXPECT_EQ(stored, c.expected);
    EXPECT_EQ(c.field(record()), c.expected);
    EXPECT_EQ(result, stored == value ? SettingsKeyResult::Stored : SettingsKeyResult::Clamped);
}

#define TAV_FIELD(name) [](const ParameterRecord& r) -> int64_t { return r.name; }

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsLoadRuleTest,
    ::testing::Values(LoadRuleCase{"ForceBlackAbove", "ForceBlack", "300", 255, TAV_FIELD(ForceBlack)},
                      LoadRuleCase{"ForceBlackBelow", "ForceBlack", "-5", 0, TAV_FIELD(ForceBlack)},
                      LoadRuleCase{"ForceWhiteAbove", "ForceWhite", "256", 255, TAV_FIELD(ForceWhite)},
                      LoadRuleCase{"MatteChokeBelow", "MatteChoke", "-500", -128, TAV_FIELD(MatteChoke)},
                      LoadRuleCase{"MatteChokeAbove", "MatteChoke", "129", 128, TAV_FIELD(MatteChoke)},
                      LoadRuleCase{"MatteChokeLimit", "MatteChoke", "-128", -128, TAV_FIELD(MatteChoke)},
                      LoadRuleCase{"CorrectionGBelow", "CorrectionG", "-300", -255, TAV_FIELD(CorrectionG)},
                      LoadRuleCase{"CorrectionRAbove", "CorrectionR", "256", 255, TAV_FIELD(CorrectionR)},
                      LoadRuleCase{"CorrectionBInside", "CorrectionB", "-20", -20, TAV_FIELD(CorrectionB)},
                      LoadRuleCase{"ScreenColorSevenKept", "ScreenColor", "7", 7, TAV_FIELD(ScreenColor)},
                      LoadRuleCase{"ScreenColorLowBits", "ScreenColor", "257", 1, TAV_FIELD(ScreenColor)},
                      LoadRuleCase{"ScreenColorMinusOne", "ScreenColor", "-1", 255, TAV_FIELD(ScreenColor)},
                      LoadRuleCase{"OutputMethodNineKept", "OutputMethod", "9", 9, TAV_FIELD(OutputMethod)},
                      LoadRuleCase{"DynamicRangeLowBits", "DynamicRange", "256", 0, TAV_FIELD(DynamicRange)},
                      LoadRuleCase{"GammaNotANumber", "Gamma", "abc", 0, TAV_FIELD(Gamma)},
                      LoadRuleCase{"GammaEmpty", "Gamma", "", 0, TAV_FIELD(Gamma)},
                      LoadRuleCase{"GammaTrailingText", "Gamma", "12abc", 12, TAV_FIELD(Gamma)},
                      LoadRuleCase{"GammaBlanks", "Gamma", "  17  ", 17, TAV_FIELD(Gamma)},
                      LoadRuleCase{"GammaBlankAfterSign", "Gamma", "- 5", 0, TAV_FIELD(Gamma)},
                      LoadRuleCase{"ProtectionHex", "Protection", "0x20", 0, TAV_FIELD(Protection)},
                      LoadRuleCase{"RestoreRInside", "RestoreR", "200", 200, TAV_FIELD(RestoreR)},
                      LoadRuleCase{"RestoreGAbove", "RestoreG", "1000", 255, TAV_FIELD(RestoreG)},
                      LoadRuleCase{"RestoreBBelow", "RestoreB", "-1", 0, TAV_FIELD(RestoreB)},
                      LoadRuleCase{"BlueRemovalHuge", "BlueRemoval", "99999999999999999999999", 255,
                                   TAV_FIELD(BlueRemoval)},
                      LoadRuleCase{"MatteBlurHugeNegative", "MatteBlur", "-99999999999999999999", 0,
                                   TAV_FIELD(MatteBlur)},
                      LoadRuleCase{"KeyInOtherLetterCase", "mattechoke", "64", 64, TAV_FIELD(MatteChoke)}),
    [](const ::testing::TestParamInfo<LoadRuleCase>& info) { return std::string(info.param.name); });

#undef TAV_FIELD

class SettingsUnknownKeyTest : public SettingsFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsUnknownKeyTest, ApplySettingsValueLeavesTheRecordAlone) {
    ParameterRecord before = record();
    int64_t stored = 77;
    EXPECT_EQ(ApplySettingsValue(&record(), GetParam(), 5, &stored), SettingsKeyResult::Unknown);
    EXPECT_EQ(stored, 77);
    EXPECT_EQ(std::memcmp(&record(), &before, sizeof before), 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, SettingsUnknownKeyTest,
                         ::testing::Values("Version", "", "Gamm", "Gammas", "ShowDialog", "SettingsPath",
                                           "PreviewZoom", "Gamma "));

TEST_F(SettingsFileTest, KeyNamesListEveryFileKeyInFileOrder) {
    std::vector<std::string> names;
    for (const char* const* name = SettingsKeyNames(); *name != nullptr; ++name) names.emplace_back(*name);
    const std::vector<std::string> expected = {"ScreenColor", "OutputMethod", "DynamicRange", "ForceBlack",
                                               "ForceWhite",  "Gamma",        "Protection",   "RestoreR",
                                               "RestoreG",    "RestoreB",     "CorrectionR",  "CorrectionG",
                                               "CorrectionB", "BlueRemoval",  "MatteBlur",    "MatteChoke"};
    EXPECT_EQ(names, expected);
    for (const std::string& name : names)
        EXPECT_NE(ApplySettingsValue(&record(), name, 0, nullptr), SettingsKeyResult::Unknown) << name;
}

// ---- Saving -----------------------------------------------------------------------------

TEST_F(SettingsFileTest, SaveWritesVersionAndEveryKeyInOrder) {
    SetDistinctSettings(&record());
    std::string path = files.Path("out.tvk");
    Save(path);
    EXPECT_EQ(ReadBytes(path),
              "[TavRisk Settings]\nVersion=1\nScreenColor=1\nOutputMethod=4\nDynamicRange=0\n"
              "ForceBlack=11\nForceWhite=12\nGamma=13\nProtection=14\nRestoreR=15\nRestoreG=16\n"
              "RestoreB=17\nCorrectionR=-20\nCorrectionG=255\nCorrectionB=-255\nBlueRemoval=18\n"
              "MatteBlur=19\nMatteChoke=-128\n");
    EXPECT_STREQ(record().SettingsPath, path.c_str());
}

TEST_F(SettingsFileTest, SavedSettingsLoadBackIntoADefaultRecord) {
    SetDistinctSettings(&record());
    ParameterRecord saved = record();
    std::string path = files.Path("round.tvk");
    Save(path);

    SetParameterDefaults(&record());
    record().CorrectionR = 0;
    ASSERT_EQ(Load(path), 1);
    ExpectSameSettings(record(), saved);
    EXPECT_EQ(record().CorrectionR, -20);

    ParameterRecord direct{};
    SetParameterDefaults(&direct);
    ASSERT_TRUE(ReadSettingsFile(path.c_str(), &direct, nullptr));
    ExpectSameSettings(direct, saved);
}

TEST_F(SettingsFileTest, SaveKeepsOtherSectionsAndKeysAndAsksNoOverwriteQuestion) {
    std::string path = File("shared.tvk",
                            "; kept comment\n[Other]\nGamma=3\n\n[TavRisk Settings]\nExtra=keep me\n"
                            "gamma=99\n\n[Third]\nB=2\n");
    record().Gamma = 40;
    Save(path);
    std::string text = ReadBytes(path);
    EXPECT_EQ(text.substr(0, text.find("[TavRisk Settings]")), "; kept comment\n[Other]\nGamma=3\n\n");
    EXPECT_NE(text.find("[TavRisk Settings]\nExtra=keep me\nGamma=40\nVersion=1\nScreenColor=0\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.find("MatteChoke=")), "MatteChoke=0\n\n[Third]\nB=2\n");
    EXPECT_EQ(platform::RecordedFileDialogCalls().at(0).flags & platform::kFileDialogOverwritePrompt, 0u);
}

TEST_F(SettingsFileTest, SaveRemembersTheFolderAndTheNextLoadStartsThere) {
    fs::create_directory(files.Path("sets"));
    std::string folder = files.Path("sets");
    Save(folder + "/blue.tvk");
    EXPECT_EQ(StoredParamDirectory(kUserSettingsKey), folder + std::string(1, '\0'));

    ASSERT_EQ(Load(std::nullopt), 0);
    EXPECT_EQ(LastCall().initialFolder, folder);
}

TEST_F(SettingsFileTest, SaveAppendsTheDefaultExtensionToANameWithoutOne) {
    Save(files.Path("plain"));
    EXPECT_TRUE(fs::exists(files.Path("plain.tvk")));
    EXPECT_EQ(std::string(record().SettingsPath), files.Path("plain.tvk"));
    Save(files.Path("other.ini"));
    EXPECT_TRUE(fs::exists(files.Path("other.ini")));
}

TEST_F(SettingsFileTest, FirstSaveStartsInTheMachineFolderWhenTheUserHasNone) {
    StoreParamDirectory(kMachineSettingsKey, "/srv/key sets");
    Save(std::nullopt);
    platform::FileDialogCall call = LastCall();
    EXPECT_EQ(call.initialFolder, "/srv/key sets");
    EXPECT_EQ(call.initialName, "");
}

TEST_F(SettingsFileTest, SecondSaveProposesThePreviousFileWithoutLookingUpTheFolder) {
    std::string first = files.Path("first.tvk");
    Save(first);
    StoreParamDirectory(kUserSettingsKey, "/elsewhere");
    std::string second = files.Path("second.tvk");
    Save(second);
    platform::FileDialogCall call = LastCall();
    EXPECT_EQ(call.initialName, first);
    EXPECT_FALSE(call.initialFolder.has_value());
    EXPECT_EQ(std::string(record().SettingsPath), second);
}

TEST_F(SettingsFileTest, SaveWithAPathDoesNotTouchTheMachineKey) {
    // Looking ParamDirectory up would create the machine's key.
    std::string path = files.Path("known.tvk");
    std::snprintf(record().SettingsPath, kSettingsPathSize, "%s", path.c_str());
    Save(path);
    EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, kSubkey));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(SettingsFileTest, SaveAfterALoadProposesTheLoadedFile) {
    std::string path = File("loaded.tvk", "[TavRisk Settings]\nGamma=5\n");
    ASSERT_EQ(Load(path), 1);
    Save(std::nullopt);
    platform::FileDialogCall call = LastCall();
    EXPECT_EQ(call.initialName, path);
    EXPECT_FALSE(call.initialFolder.has_value());
}

TEST_F(SettingsFileTest, LoadLeavesParamDirectoryAsItWas) {
    std::string path = File("a.tvk", "[TavRisk Settings]\nGamma=5\n");
    ASSERT_EQ(Load(path), 1);
    EXPECT_EQ(StoredParamDirectory(kUserSettingsKey), std::nullopt);

    StoreParamDirectory(kUserSettingsKey, "/kept");
    ASSERT_EQ(Load(path), 1);
    EXPECT_EQ(StoredParamDirectory(kUserSettingsKey), std::string("/kept", 6));
}

TEST_F(SettingsFileTest, LoadAsksWithItsTitleFiltersAndFlags) {
    StoreParamDirectory(kUserSettingsKey, "/home/me/sets");
    std::snprintf(record().SettingsPath, kSettingsPathSize, "/last/used.tvk");
    ASSERT_EQ(Load(std::nullopt), 0);
    platform::FileDialogCall call = LastCall();
    EXPECT_FALSE(call.save);
    EXPECT_EQ(call.owner, kDialog);
    EXPECT_EQ(call.title, "Load Settings From File");
    EXPECT_EQ(call.filters, (std::vector<std::string>{"TavRisk Files", "*.tvk", "All Files", "*.*"}));
    EXPECT_FALSE(call.defaultExtension.has_value());
    EXPECT_EQ(call.initialFolder, "/home/me/sets");
    EXPECT_EQ(call.initialName, "/last/used.tvk");
    EXPECT_EQ(call.flags, platform::kFileDialogHideReadOnly | platform::kFileDialogNoChangeDir |
                              platform::kFileDialogFileMustExist);
}

TEST_F(SettingsFileTest, SaveAsksWithItsTitleFiltersAndFlags) {
    Save(std::nullopt);
    platform::FileDialogCall call = LastCall();
    EXPECT_TRUE(call.save);
    EXPECT_EQ(call.owner, kDialog);
    EXPECT_EQ(call.title, "Save Settings To File");
    EXPECT_EQ(call.filters, (std::vector<std::string>{"TavRisk Files", "*.tvk", "All Files", "*.*"}));
    EXPECT_EQ(call.defaultExtension, "tvk");
    EXPECT_FALSE(call.initialFolder.has_value());
    EXPECT_EQ(call.flags, platform::kFileDialogHideReadOnly | platform::kFileDialogNoChangeDir |
                              platform::kFileDialogPathMustExist);
}

TEST_F(SettingsFileTest, LoadOfAFileThatDoesNotExistIsRefusedByTheDialog) {
    ParameterRecord before = record();
    EXPECT_EQ(Load(files.Path("missing.tvk")), 0);
    EXPECT_EQ(std::memcmp(&record(), &before, sizeof before), 0);
}

struct CancelCase {
    const char* name;
    bool save;
    bool scripted;  // a scripted cancel, or no script at all
};

class SettingsCancelTest : public SettingsFileTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(SettingsCancelTest, CancelChangesNothing) {
    const CancelCase& c = GetParam();
    SetDistinctSettings(&record());
    std::snprintf(record().SettingsPath, kSettingsPathSize, "%s", files.Path("previous.tvk").c_str());
    StoreParamDirectory(kUserSettingsKey, "/before");
    ParameterRecord before = record();

    if (c.scripted)
        platform::SetFileDialogScript({std::nullopt});
    else
        platform::ClearFileDialogScript();
    if (c.save)
        SaveSettingsFile(kDialog, &state);
    else
        EXPECT_EQ(LoadSettingsFile(kDialog, &state), 0);

    EXPECT_EQ(std::memcmp(&record(), &before, sizeof before), 0);
    EXPECT_TRUE(NamesIn(files.path()).empty());
    EXPECT_EQ(StoredParamDirectory(kUserSettingsKey), std::string("/before", 8));
    EXPECT_TRUE(messages.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, SettingsCancelTest,
    ::testing::Values(CancelCase{"LoadScripted", false, true}, CancelCase{"LoadUnscripted", false, false},
                      CancelCase{"SaveScripted", true, true}, CancelCase{"SaveUnscripted", true, false}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, StateWithoutParametersIsLeftAlone) {
    DisposeMacHandle(state.filterRecord->parameters);
    state.filterRecord->parameters = nullptr;
    platform::SetFileDialogScript({files.Path("x.tvk"), files.Path("y.tvk")});
    EXPECT_EQ(LoadSettingsFile(kDialog, &state), 0);
    SaveSettingsFile(kDialog, &state);
    EXPECT_TRUE(platform::RecordedFileDialogCalls().empty());
    state.filterRecord->parameters = NewMacHandle(sizeof(ParameterRecord));
}

// ---- The remembered folder -------------------------------------------------------------

struct FolderCase {
    const char* path;
    const char* folder;
};

class SettingsFolderTest : public ::testing::TestWithParam<FolderCase> {};

// On POSIX systems both '/' and '\' end the folder part.
TEST_P(SettingsFolderTest, FolderIsCutAtTheLastSeparator) {
    const FolderCase& c = GetParam();
    const char* separator = platform::LastFolderSeparator(c.path);
    std::string folder = separator != nullptr ? std::string(c.path, separator) : std::string();
    EXPECT_EQ(folder, c.folder);
}

INSTANTIATE_TEST_SUITE_P(Paths, SettingsFolderTest,
                         ::testing::Values(FolderCase{"/home/me/sets/blue.tvk", "/home/me/sets"},
                                           FolderCase{"C:\\Keys\\blue.tvk", "C:\\Keys"},
                                           FolderCase{"/mixed\\win/blue.tvk", "/mixed\\win"},
                                           FolderCase{"/top.tvk", ""}, FolderCase{"blue.tvk", ""},
                                           FolderCase{"", ""}));

TEST_F(SettingsFileTest, SavedPathWithoutFolderStoresEmptyParamDirectory) {
    // The stand-in dialog gives back what it was told; a bare name has no folder.
    fs::path previous = fs::current_path();
    fs::current_path(files.path());
    Save("bare.tvk");
    fs::current_path(previous);
    EXPECT_EQ(StoredParamDirectory(kUserSettingsKey), std::string(1, '\0'));
    EXPECT_TRUE(fs::exists(files.Path("bare.tvk")));
}

// ---- Malformed files ---------------------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::string content;
    int gamma;
    int forceBlack;
};

class SettingsMalformedFileTest : public SettingsFileTest,
                                  public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(SettingsMalformedFileTest, ReadsWhatItCanAndWritesOverIt) {
    const MalformedCase& c = GetParam();
    std::string path = File("bad.tvk", c.content);
    ParameterRecord loaded{};
    SetParameterDefaults(&loaded);
    bool newer = true;
    ASSERT_TRUE(ReadSettingsFile(path.c_str(), &loaded, &newer));
    EXPECT_EQ(loaded.Gamma, c.gamma);
    EXPECT_EQ(loaded.ForceBlack, c.forceBlack);
    EXPECT_FALSE(newer);

    // A save over it reads back as written.
    SetDistinctSettings(&loaded);
    ASSERT_TRUE(WriteSettingsFile(path.c_str(), loaded));
    ParameterRecord again{};
    ASSERT_TRUE(ReadSettingsFile(path.c_str(), &again, nullptr));
    ExpectSameSettings(again, loaded);
}

std::string Junk(size_t size) {
    std::string junk;
    uint32_t seed = 7;
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        junk += char(seed >> 16);
    }
    return junk;
}

INSTANTIATE_TEST_SUITE_P(
    Contents, SettingsMalformedFileTest,
    ::testing::Values(
        MalformedCase{"Empty", "", 0, 0},
        MalformedCase{"MissingEquals", "[TavRisk Settings]\nGamma\nForceBlack=9\n", 0, 9},
        MalformedCase{"CrLf", "[TavRisk Settings]\r\nGamma=40\r\nForceBlack=9\r\n", 40, 9},
        MalformedCase{"NoTrailingNewline", "[TavRisk Settings]\nGamma=40\nForceBlack=9", 40, 9},
        MalformedCase{"DuplicateKeysFirstWins", "[TavRisk Settings]\nGamma=40\nGAMMA=50\nForceBlack=9\n", 40,
                      9},
        MalformedCase{"DuplicateSectionsFirstWins",
                      "[TavRisk Settings]\nGamma=40\n[Other]\nForceBlack=1\n[TavRisk Settings]\nGamma=50\n"
                      "ForceBlack=9\n",
                      40, 0},
        MalformedCase{"LetterCaseAndBlanks", "  [ tavrisk SETTINGS ]  \n\t gamma \t=\t 40 \t\nFORCEBLACK=9\n",
                      40, 9},
        MalformedCase{"QuotedValue", "[TavRisk Settings]\nGamma=\"40\"\nForceBlack='9'\n", 40, 9},
        MalformedCase{"KeysBeforeAnySection", "Gamma=50\n[TavRisk Settings]\nForceBlack=9\n", 0, 9},
        MalformedCase{"CommentedKey", "[TavRisk Settings]\n;Gamma=50\nForceBlack=9\n", 0, 9},
        MalformedCase{"OtherSectionOnly", "[Other]\nGamma=50\n", 0, 0},
        MalformedCase{"UnclosedHeader", "[TavRisk Settings\nGamma=50\n", 0, 0},
        MalformedCase{"EmptyKeyName", "[TavRisk Settings]\n=50\nForceBlack=9\n", 0, 9},
        MalformedCase{"NulInKeyName", "[TavRisk Settings]\nGam\0ma=50\nForceBlack=9\n"s, 0, 9},
        MalformedCase{"BinaryJunkThenSection", Junk(65536) + "\n[TavRisk Settings]\nGamma=40\nForceBlack=9\n",
                      40, 9},
        MalformedCase{"HugeLine",
                      std::string(4 << 20, 'x') + "\n[TavRisk Settings]\nGamma=40\nForceBlack=9\n", 40, 9},
        MalformedCase{
            "HugeSectionName",
            "["s + std::string(100000, 'S') + "]\nGamma=50\n[TavRisk Settings]\nGamma=40\nForceBlack=9\n", 40,
            9},
        MalformedCase{"ValueLongerThanTheBuffer",
                      "[TavRisk Settings]\nGamma=40"s + std::string(300, ' ') + "junk\nForceBlack="s +
                          std::string(300, '9') + "\n",
                      40, 255},
        MalformedCase{"HugeValue",
                      "[TavRisk Settings]\nGamma="s + std::string(1 << 20, '7') + "\nForceBlack=9", 255, 9}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, BinaryJunkAloneLoadsWithinRanges) {
    std::string path = File("junk.tvk", "[TavRisk Settings]\n"s + Junk(1 << 16));
    ParameterRecord loaded{};
    SetParameterDefaults(&loaded);
    ASSERT_TRUE(ReadSettingsFile(path.c_str(), &loaded, nullptr));
    EXPECT_GE(loaded.CorrectionR, -255);
    EXPECT_LE(loaded.CorrectionR, 255);
    EXPECT_GE(loaded.MatteChoke, -128);
    EXPECT_LE(loaded.MatteChoke, 128);
    EXPECT_EQ(loaded.SettingsPath[0], '\0');
}

struct UnreadableCase {
    const char* name;
    std::string (*path)(const test::TempFolder&);
};

class SettingsUnreadableFileTest : public SettingsFileTest,
                                   public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(SettingsUnreadableFileTest, ReadFailsAndLeavesTheRecord) {
    std::string path = GetParam().path(files);
    ParameterRecord loaded = record();
    bool newer = true;
    EXPECT_FALSE(ReadSettingsFile(path.c_str(), &loaded, &newer));
    EXPECT_FALSE(newer);
    EXPECT_EQ(std::memcmp(&loaded, &record(), sizeof loaded), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SettingsUnreadableFileTest,
    ::testing::Values(UnreadableCase{"Missing",
                                     [](const test::TempFolder& f) { return f.Path("missing.tvk"); }},
                      UnreadableCase{"Folder", [](const test::TempFolder& f) { return f.path(); }},
                      UnreadableCase{"Oversized",
                                     [](const test::TempFolder& f) {
                                         std::string path = f.Path("big.tvk");
                                         WriteBytes(path, "[TavRisk Settings]\nGamma=40\n"s +
                                                              std::string(17 << 20, ';'));
                                         return path;
                                     }}),
    [](const ::testing::TestParamInfo<UnreadableCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, WriteFailsWhereNoFileCanBe) {
    ParameterRecord r = record();
    EXPECT_FALSE(WriteSettingsFile(files.Path("no/such/folder/x.tvk").c_str(), r));
    EXPECT_FALSE(WriteSettingsFile(files.path().c_str(), r));
}

// ---- Initialisation files ------------------------------------------------------------------

struct IniWriteCase {
    const char* name;
    std::string before;
    std::string after;  // after writing k=v into section S
};

class IniFileWriteTest : public ::testing::TestWithParam<IniWriteCase> {
protected:
    test::TempFolder folder;
};

TEST_P(IniFileWriteTest, ReplacesOrAddsTheKeyAndKeepsEveryOtherByte) {
    const IniWriteCase& c = GetParam();
    std::string path = folder.Path("f.ini");
    if (c.name != std::string("NewFile")) WriteBytes(path, c.before);
    ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "v"));
    EXPECT_EQ(ReadBytes(path), c.after);
    char value[8];
    platform::ReadIniString(path.c_str(), "S", "k", "fallback", value, sizeof value);
    EXPECT_STREQ(value, "v");
    EXPECT_EQ(NamesIn(folder.path()), std::vector<std::string>{"f.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniFileWriteTest,
    ::testing::Values(
        IniWriteCase{"NewFile", "", "[S]\nk=v\n"}, IniWriteCase{"EmptyFile", "", "[S]\nk=v\n"},
        IniWriteCase{"Replace", "[S]\nk=1\nx=2\n", "[S]\nk=v\nx=2\n"},
        IniWriteCase{"ReplaceWhateverTheCase", "[s]\n  K = 1 \n", "[s]\nk=v\n"},
        IniWriteCase{"AddAfterTheLastKey", "[S]\na=1\n\n[T]\nb=2\n", "[S]\na=1\nk=v\n\n[T]\nb=2\n"},
        IniWriteCase{"AddToSectionWithoutKeys", "[S]\n[T]\n", "[S]\nk=v\n[T]\n"},
        IniWriteCase{"AddSectionAfterUnterminatedLine", "[T]\nb=2", "[T]\nb=2\n[S]\nk=v\n"},
        IniWriteCase{"AddAfterUnterminatedKey", "[S]\na=1", "[S]\na=1\nk=v\n"},
        IniWriteCase{"AddAfterUnterminatedHeader", "[S]", "[S]\nk=v\n"},
        IniWriteCase{"CrLfAdd", "[S]\r\na=1\r\n", "[S]\r\na=1\r\nk=v\r\n"},
        IniWriteCase{"CrLfReplace", "[S]\r\nk=1\r\nz=0\r\n", "[S]\r\nk=v\r\nz=0\r\n"},
        IniWriteCase{"CrLfNewSection", "[T]\r\nb=2\r\n", "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
        // A last line ending in a bare CR reads without it: the write adds
        // only the missing LF, so that line reads as before.
        IniWriteCase{"CrLfAddAfterKeyEndingInCr", "[S]\r\na=1\r", "[S]\r\na=1\r\nk=v\r\n"},
        IniWriteCase{"CrLfNewSectionAfterLineEndingInCr", "[T]\r\nb=2\r", "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
        IniWriteCase{"LfAddAfterKeyEndingInCr", "[S]\na=1\r", "[S]\na=1\r\nk=v\n"},
        IniWriteCase{"CommentsKept", "; c\n[S]\n; note\na=1\n", "; c\n[S]\n; note\na=1\nk=v\n"},
        IniWriteCase{"FirstOfDuplicateSections", "[S]\na=1\n[S]\nk=1\n", "[S]\na=1\nk=v\n[S]\nk=1\n"},
        IniWriteCase{"FirstOfDuplicateKeys", "[S]\nk=1\nk=2\n", "[S]\nk=v\nk=2\n"},
        IniWriteCase{"JunkKept", "\x01\0junk\n[S]\n\xff\xfe no equals\n"s,
                     "\x01\0junk\n[S]\nk=v\n\xff\xfe no equals\n"s}),
    [](const ::testing::TestParamInfo<IniWriteCase>& info) { return std::string(info.param.name); });

struct IniRejectCase {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
};

class IniFileRejectTest : public ::testing::TestWithParam<IniRejectCase> {
protected:
    test::TempFolder folder;
};

TEST_P(IniFileRejectTest, EntryThatWouldNotReadBackIsRefused) {
    const IniRejectCase& c = GetParam();
    std::string path = folder.Path("f.ini");
    WriteBytes(path, "[S]\nk=1\n");
    EXPECT_FALSE(platform::WriteIniString(path.c_str(), c.section, c.key, c.value));
    EXPECT_EQ(ReadBytes(path), "[S]\nk=1\n");
}

INSTANTIATE_TEST_SUITE_P(Entries, IniFileRejectTest,
                         ::testing::Values(IniRejectCase{"LineBreakInValue", "S", "k", "1\n[X]"},
                                           IniRejectCase{"CarriageReturnInValue", "S", "k", "1\r"},
                                           IniRejectCase{"EqualsInKey", "S", "a=b", "1"},
                                           IniRejectCase{"KeyLikeAHeader", "S", "[k", "1"},
                                           IniRejectCase{"KeyLikeAComment", "S", ";k", "1"},
                                           IniRejectCase{"EmptyKey", "S", "", "1"},
                                           IniRejectCase{"BlankAroundKey", "S", " k", "1"},
                                           IniRejectCase{"BracketInSection", "S]", "k", "1"},
                                           IniRejectCase{"EmptySection", "", "k", "1"},
                                           IniRejectCase{"NullValue", "S", "k", nullptr}),
                         [](const ::testing::TestParamInfo<IniRejectCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(IniFileTest, MissingFileSectionOrKeyGivesTheFallback) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    char value[16];
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", "fb", value, sizeof value), 2u);
    EXPECT_STREQ(value, "fb");
    WriteBytes(path, "[S]\nk=\n[T]\n");
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", "fb", value, sizeof value), 0u);
    EXPECT_STREQ(value, "");
    platform::ReadIniString(path.c_str(), "S", "other", nullptr, value, sizeof value);
    EXPECT_STREQ(value, "");
    platform::ReadIniString(path.c_str(), "Missing", "k", "fb", value, sizeof value);
    EXPECT_STREQ(value, "fb");
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "T", "k", -77), -77);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "k", -77), 0);
}

TEST(IniFileTest, LongValueIsCutToTheBufferAndTerminated) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    WriteBytes(path, "[S]\nk="s + std::string(1000, 'a') + "\n");
    char value[12];
    std::memset(value, 'Z', sizeof value);
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", nullptr, value, 8), 7u);
    EXPECT_EQ(std::string(value, 8), std::string("aaaaaaa\0", 8));
    EXPECT_EQ(std::string(value + 8, 4), "ZZZZ");
}

TEST(IniFileTest, WriteKeepsPermissionsAndSymbolicLinks) {
    test::TempFolder folder;
    std::string target = folder.Path("target.ini");
    std::string link = folder.Path("link.ini");
    WriteBytes(target, "[S]\na=1\n");
    chmod(target.c_str(), 0640);
    fs::create_symlink(target, link);
    ASSERT_TRUE(platform::WriteIniString(link.c_str(), "S", "k", "v"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), "[S]\na=1\nk=v\n");
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(NamesIn(folder.path()), (std::vector<std::string>{"link.ini", "target.ini"}));
}

// A file of any valid name is created and replaced: the temporary file a
// write goes through has a valid name too.
class IniLongFileNameTest : public ::testing::TestWithParam<size_t> {
protected:
    test::TempFolder folder;
};

TEST_P(IniLongFileNameTest, FileIsCreatedAndReplaced) {
    const std::string name(GetParam(), 'f');
    const std::string path = folder.Path(name);
    ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "v"));
    ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "w"));
    EXPECT_EQ(ReadBytes(path), "[S]\nk=w\n");
    EXPECT_EQ(NamesIn(folder.path()), std::vector<std::string>{name});
}

INSTANTIATE_TEST_SUITE_P(NameLengths, IniLongFileNameTest, ::testing::Values(1, 200, 230, 255));

TEST(IniFileTest, SeveralKeysGoInOneUpdate) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    WriteBytes(path, "[S]\nb=0\n");
    const char* keys[] = {"a", "b", "c"};
    const char* values[] = {"1", "2", "3"};
    ASSERT_TRUE(platform::WriteIniStrings(path.c_str(), "S", keys, values, 3));
    EXPECT_EQ(ReadBytes(path), "[S]\nb=2\na=1\nc=3\n");
    const char* bad[] = {"d", "e\n"};
    EXPECT_FALSE(platform::WriteIniStrings(path.c_str(), "S", bad, values, 2));
    EXPECT_EQ(ReadBytes(path), "[S]\nb=2\na=1\nc=3\n");
}

struct IntegerCase {
    const char* text;
    int64_t value;
};

class IniIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IniIntegerTest, DecimalWithOptionalMinusOthersAreZero) {
    EXPECT_EQ(platform::ParseIniInteger(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, IniIntegerTest,
                         ::testing::Values(IntegerCase{"42", 42}, IntegerCase{"-42", -42},
                                           IntegerCase{"  7", 7}, IntegerCase{"12abc", 12},
                                           IntegerCase{"abc", 0}, IntegerCase{"", 0}, IntegerCase{"-", 0},
                                           IntegerCase{"+5", 0}, IntegerCase{"0x10", 0},
                                           IntegerCase{"007", 7}, IntegerCase{"-0", 0},
                                           IntegerCase{"9223372036854775807", INT64_MAX},
                                           IntegerCase{"9223372036854775808", INT64_MAX},
                                           IntegerCase{"-9223372036854775808", INT64_MIN},
                                           IntegerCase{"-99999999999999999999", INT64_MIN}));

}  // namespace
}  // namespace tav
