// The registry settings store (ui/registry): key paths, integers in either
// stored form, and the ParamDirectory and HelpFile look-ups. The POSIX store
// underneath is tested in posix_registry_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "tests/support.h"
#include "ui/registry.h"

namespace tav {
namespace {

using platform::kRegistryBinary;
using platform::kRegistryNumber;
using platform::kRegistryText;
using test::Number;
using test::RawValue;
using test::Text;

constexpr char kSubkey[] = "SOFTWARE\\Brackwater Works\\Tavrisk";

bool Store(const char* path, const char* name, const RawValue& value) {
    return WriteSettingsValue(path, name, value.bytes.data(), value.type, uint32_t(value.bytes.size())) == 1;
}

class RegistryTest : public ::testing::Test {
protected:
    test::ScopedSettingsStores stores;
};

enum class Branch { None, User, Machine };

struct RootCase {
    const char* name;
    const char* path;
    Branch branch;
};

class RegistryRootTest : public RegistryTest, public ::testing::WithParamInterface<RootCase> {};

TEST_P(RegistryRootTest, RootNameChoosesTheStoreOrNoKey) {
    const RootCase& c = GetParam();
    const bool key = c.branch != Branch::None;
    platform::RegistryKey opened = OpenSettingsKey(c.path);
    EXPECT_EQ(opened != platform::kNoRegistryKey, key);
    platform::CloseRegistryKey(opened);

    EXPECT_EQ(WriteSettingsInt(c.path, "PosY", 5), key ? 1 : 0);
    EXPECT_EQ(ReadSettingsInt(c.path, "PosY", kNoStoredPosition), key ? 5 : kNoStoredPosition);
    char buffer[16];
    uint32_t type = 0, size = sizeof buffer;
    EXPECT_EQ(QuerySettingsValue(c.path, "PosY", buffer, &type, &size), key ? 1 : 0);
    EXPECT_EQ(test::NamesIn(stores.userStore()).size(), c.branch == Branch::User ? 1u : 0u);
    EXPECT_EQ(test::NamesIn(stores.machineStore()).size(), c.branch == Branch::Machine ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistryRootTest,
    ::testing::Values(RootCase{"UserKey", kUserSettingsKey, Branch::User},
                      RootCase{"MachineKey", kMachineSettingsKey, Branch::Machine},
                      RootCase{"ClassesRoot", "HKEY_CLASSES_ROOT\\SOFTWARE\\Brackwater Works\\Tavrisk", Branch::None},
                      RootCase{"UsersRoot", "HKEY_USERS\\SOFTWARE", Branch::None},
                      RootCase{"RootNameInLowerCase", "hkey_current_user\\SOFTWARE", Branch::None},
                      RootCase{"RootNameCut", "HKEY_CURRENT_USE", Branch::None}, RootCase{"Empty", "", Branch::None},
                      RootCase{"UserRootAlone", "HKEY_CURRENT_USER", Branch::User},
                      RootCase{"MachineRootWithSlash", "HKEY_LOCAL_MACHINE/SOFTWARE", Branch::Machine},
                      RootCase{"MachineRootLongerName", "HKEY_LOCAL_MACHINE_SOFTWARE", Branch::Machine}),
    test::kCaseName);

TEST_F(RegistryTest, NullPathGivesNoKeyDefaultsAndFailedWrites) {
    EXPECT_EQ(OpenSettingsKey(nullptr), platform::kNoRegistryKey);
    EXPECT_EQ(ReadSettingsInt(nullptr, "PosX", 17), 17);
    EXPECT_EQ(WriteSettingsInt(nullptr, "PosX", 1), 0);
    char buffer[4];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(QuerySettingsValue(nullptr, "PosX", buffer, nullptr, &size), 0);
}

// The character after the root name is skipped whatever it is.
TEST_F(RegistryTest, AnySeparatorAfterTheRootReachesTheSameKey) {
    ASSERT_EQ(WriteSettingsInt("HKEY_LOCAL_MACHINE/SOFTWARE\\Brackwater Works\\Tavrisk", "PosX", 31), 1);
    EXPECT_EQ(ReadSettingsInt(kMachineSettingsKey, "PosX", 0), 31);
}

// ---- Integers -----------------------------------------------------------------------

struct IntReadCase {
    const char* name;
    RawValue stored;
    int32_t expected;
};

class RegistryIntReadTest : public RegistryTest, public ::testing::WithParamInterface<IntReadCase> {};

// ReadSettingsInt, and the dialog's own read of PosX (a query into 16 bytes
// and the same conversion), agree on every kind of value.
TEST_P(RegistryIntReadTest, ReadsThroughReadSettingsIntAndThroughTheQuery) {
    const IntReadCase& c = GetParam();
    ASSERT_TRUE(Store(kUserSettingsKey, "PosX", c.stored));
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", kNoStoredPosition), c.expected);
    char buffer[16] = {};
    uint32_t type = 0, size = sizeof buffer;
    int read = QuerySettingsValue(kUserSettingsKey, "PosX", buffer, &type, &size);
    EXPECT_EQ(ConvertSettingsInt(read != 0, type, buffer, read ? size : 0, kNoStoredPosition), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryIntReadTest,
    ::testing::Values(
        IntReadCase{"BlanksMinusDigits", Text("  -12"), -12}, IntReadCase{"TextWithoutDigits", Text("left"), 0},
        IntReadCase{"EmptyText", Text(""), 0}, IntReadCase{"SignWithoutDigits", Text("-"), 0},
        IntReadCase{"PlusSign", Text("+7px"), 7}, IntReadCase{"OtherWhiteSpace", Text("\t\n\r 42"), 42},
        IntReadCase{"DigitsEndAtOtherCharacter", Text("15 20"), 15},
        IntReadCase{"TooLargeSaturates", Text("2147483648"), 2147483647},
        IntReadCase{"TooSmallSaturates", Text("-99999999999"), -2147483647 - 1},
        // 16 bytes without a NUL: the conversion stops at the buffer's end.
        IntReadCase{"SixteenBytesUnterminated", {kRegistryText, "   0000000000042"}, 42},
        IntReadCase{"SeventeenBytesDoNotFit", Text("   00000000000042"), kNoStoredPosition},
        IntReadCase{"Number", Number(30), 30}, IntReadCase{"NumberAllOnesIsMinusOne", Number(0xFFFFFFFFu), -1},
        IntReadCase{"Binary", {kRegistryBinary, std::string("\x05\x00\x00\x00", 4)}, kNoStoredPosition},
        IntReadCase{"ExpandableText", {platform::kRegistryExpandableText, std::string("5\0", 2)}, kNoStoredPosition},
        IntReadCase{"TextList", {platform::kRegistryTextList, std::string("5\0\0", 3)}, kNoStoredPosition},
        IntReadCase{"Number64", {platform::kRegistryNumber64, std::string(8, '\x01')}, kNoStoredPosition}),
    test::kCaseName);

TEST_F(RegistryTest, MissingValueOrFailedQueryGivesTheDefault) {
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), kNoStoredPosition);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "debug", 0), 0);
    EXPECT_EQ(ConvertSettingsInt(false, kRegistryNumber, "\x01\0\0\0", 4, -3), -3);
}

// Negative values as text with its NUL, the others as 4-byte numbers.
TEST_F(RegistryTest, WrittenIntegersAreStoredInTheirFormAndReadBack) {
    const std::pair<int32_t, RawValue> cases[] = {
        {-1, Text("-1")},         {0, Number(0)},  {1, Number(1)}, {-40, Text("-40")}, {2147483647, Number(0x7FFFFFFF)},
        {-2147483647 - 1, Text("-2147483648")}};
    for (const auto& [value, stored] : cases) {
        ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosY", value), 1);
        char buffer[64];
        uint32_t type = 0, size = sizeof buffer;
        ASSERT_EQ(QuerySettingsValue(kUserSettingsKey, "PosY", buffer, &type, &size), 1);
        EXPECT_EQ((RawValue{type, std::string(buffer, size)}), stored) << value;
        EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), value);
    }
}

// ---- ParamDirectory and HelpFile ------------------------------------------------------

struct DirectoryCase {
    const char* name;
    std::optional<RawValue> user;
    std::optional<RawValue> machine;
    std::optional<std::string> expected;  // nullopt: no folder
};

class RegistryParamDirectoryTest : public RegistryTest, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(RegistryParamDirectoryTest, UserKeyThenMachineKeyOnlyNonEmptyTextCounts) {
    const DirectoryCase& c = GetParam();
    ASSERT_TRUE(!c.user || Store(kUserSettingsKey, kParamDirectoryValue, *c.user));
    ASSERT_TRUE(!c.machine || Store(kMachineSettingsKey, kParamDirectoryValue, *c.machine));
    char folder[kSettingsTextSize];
    std::memset(folder, 'Z', sizeof folder);
    EXPECT_EQ(LookUpParamDirectory(folder), c.expected.has_value());
    EXPECT_EQ(std::string(folder, strnlen(folder, sizeof folder)), c.expected.value_or(""));
}

const std::string kLongestFolder(kSettingsTextSize - 1, 'd');

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryParamDirectoryTest,
    ::testing::Values(
        DirectoryCase{"UserWins", Text("/user/sets"), Text("/machine/sets"), "/user/sets"},
        DirectoryCase{"EmptyUserTextFallsBack", Text(""), Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"MissingUserFallsBack", std::nullopt, Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"UserNumberFallsBack", Number(5), Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"UserBinaryFallsBack", RawValue{kRegistryBinary, std::string("/u\0", 3)}, Text("/m"), "/m"},
        DirectoryCase{"UnterminatedUserText", RawValue{kRegistryText, "/user/x"}, std::nullopt, "/user/x"},
        DirectoryCase{"LongestFittingText", Text(kLongestFolder), std::nullopt, kLongestFolder},
        DirectoryCase{"TooLongUserFallsBack", Text(kLongestFolder + 'd'), Text("/m"), "/m"},
        DirectoryCase{"UnterminatedFullBufferFallsBack", RawValue{kRegistryText, kLongestFolder + 'd'}, Text("/m"),
                      "/m"},
        DirectoryCase{"BothEmpty", Text(""), Text(""), std::nullopt},
        DirectoryCase{"BothMissing", std::nullopt, std::nullopt, std::nullopt}),
    test::kCaseName);

// Reading settings leaves no trace: a keyer run must not make the stores.
TEST_F(RegistryTest, ReadingMakesNoStoreOrKey) {
    char help[kSettingsTextSize], folder[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, kDefaultHelpFile);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, kDebugValue, 7), 7);
    EXPECT_FALSE(LookUpParamDirectory(folder));
    EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, kSubkey));
    EXPECT_TRUE(test::NamesIn(stores.root()).empty());
    EXPECT_EQ(WriteSettingsInt(kUserSettingsKey, kDebugValue, 1), 1);  // a write makes them
    EXPECT_EQ(test::NamesIn(stores.root()), (std::vector<std::string>{"user"}));
}

TEST_F(RegistryTest, HelpFileDefaultWithoutRightsToCreateTheMachineKey) {
    // The store's folder would have to live inside a plain file.
    test::WriteFile(stores.root() + "/plain", "x");
    test::ScopedEnvironment machine("TAVRISK_MACHINE_STORE", stores.root() + "/plain/machine");
    char help[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, kDefaultHelpFile);
    EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, kSubkey));
    EXPECT_EQ(WriteSettingsInt(kMachineSettingsKey, "PosX", 1), 0);
}

struct HelpCase {
    const char* name;
    RawValue stored;
    const char* expected;
};

class RegistryHelpFileTest : public RegistryTest, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(RegistryHelpFileTest, OnlyTextOfTheMachineKeyCounts) {
    const HelpCase& c = GetParam();
    ASSERT_TRUE(Store(kMachineSettingsKey, kHelpFileValue, c.stored));
    ASSERT_TRUE(Store(kUserSettingsKey, kHelpFileValue, Text("/user/ignored.hlp")));
    char help[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryHelpFileTest,
    ::testing::Values(HelpCase{"Text", Text("C:\\Help\\tavrsk.hlp"), "C:\\Help\\tavrsk.hlp"},
                      HelpCase{"UnterminatedText", {kRegistryText, "/opt/tav.hlp"}, "/opt/tav.hlp"},
                      HelpCase{"TextEndsAtItsFirstNul", {kRegistryText, std::string("a.hlp\0b", 7)}, "a.hlp"},
                      HelpCase{"Number", Number(1), kDefaultHelpFile},
                      HelpCase{"TooLong", Text(std::string(300, 'h')), kDefaultHelpFile}),
    test::kCaseName);

}  // namespace
}  // namespace tav
