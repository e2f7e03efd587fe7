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
using platform::kRegistryText;
using test::Number;
using test::RawValue;
using test::StoreSetting;
using test::Text;

constexpr char kSubkey[] = "SOFTWARE\\Brackwater Works\\Tavrisk";

class RegistryTest : public ::testing::Test {
protected:
    test::ScopedSettingsStores stores;
};

enum class Branch { None, User, Machine };

// The root name chooses the store; any other start, and a null path, names
// no key: reads give their defaults and writes fail.
TEST(RegistryRootTest, RootNameChoosesTheStoreOrNoKey) {
    const struct {
        const char* path;
        Branch branch;
    } cases[] = {{kUserSettingsKey, Branch::User},
                 {kMachineSettingsKey, Branch::Machine},
                 {"HKEY_CLASSES_ROOT\\SOFTWARE\\Brackwater Works\\Tavrisk", Branch::None},
                 {"HKEY_USERS\\SOFTWARE", Branch::None},
                 {"hkey_current_user\\SOFTWARE", Branch::None},
                 {"HKEY_CURRENT_USE", Branch::None},
                 {"", Branch::None},
                 {nullptr, Branch::None},
                 {"HKEY_CURRENT_USER", Branch::User},
                 {"HKEY_LOCAL_MACHINE/SOFTWARE", Branch::Machine},
                 {"HKEY_LOCAL_MACHINE_SOFTWARE", Branch::Machine}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path != nullptr ? c.path : "(null)");
        test::ScopedSettingsStores stores;
        const bool key = c.branch != Branch::None;
        platform::RegistryKey opened = OpenSettingsKey(c.path);
        EXPECT_EQ(opened != platform::kNoRegistryKey, key);
        platform::CloseRegistryKey(opened);
        EXPECT_EQ(WriteSettingsInt(c.path, "PosY", 5), key ? 1 : 0);
        EXPECT_EQ(ReadSettingsInt(c.path, "PosY", kNoStoredPosition), key ? 5 : kNoStoredPosition);
        EXPECT_EQ(test::StoredSetting(c.path, "PosY").has_value(), key);
        EXPECT_EQ(test::NamesIn(stores.userStore()).size(), c.branch == Branch::User ? 1u : 0u);
        EXPECT_EQ(test::NamesIn(stores.machineStore()).size(), c.branch == Branch::Machine ? 1u : 0u);
    }
}

// The character after the root name is skipped whatever it is.
TEST_F(RegistryTest, AnySeparatorAfterTheRootReachesTheSameKey) {
    ASSERT_EQ(WriteSettingsInt("HKEY_LOCAL_MACHINE/SOFTWARE\\Brackwater Works\\Tavrisk", "PosX", 31), 1);
    EXPECT_EQ(ReadSettingsInt(kMachineSettingsKey, "PosX", 0), 31);
}

// ---- Integers -----------------------------------------------------------------------

// ReadSettingsInt, and the dialog's own read of PosX (a query into 16 bytes
// and the same conversion), agree on every kind of value.
TEST_F(RegistryTest, IntegersReadAlikeThroughReadSettingsIntAndThroughTheQuery) {
    const struct {
        RawValue stored;
        int32_t expected;
    } cases[] = {
        {Text("  -12"), -12}, {Text("left"), 0}, {Text(""), 0}, {Text("-"), 0}, {Text("+7px"), 7},
        {Text("\t\n\r 42"), 42}, {Text("15 20"), 15}, {Text("2147483648"), 2147483647},
        {Text("-99999999999"), -2147483647 - 1},
        // 16 bytes without a NUL: the conversion stops at the buffer's end;
        // 17 bytes do not fit.
        {{kRegistryText, "   0000000000042"}, 42}, {Text("   00000000000042"), kNoStoredPosition},
        {Number(30), 30}, {Number(0xFFFFFFFFu), -1},
        {{kRegistryBinary, std::string("\x05\x00\x00\x00", 4)}, kNoStoredPosition},
        {{platform::kRegistryExpandableText, std::string("5\0", 2)}, kNoStoredPosition},
        {{platform::kRegistryTextList, std::string("5\0\0", 3)}, kNoStoredPosition},
        {{platform::kRegistryNumber64, std::string(8, '\x01')}, kNoStoredPosition}};
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.stored.type) + " \"" + c.stored.bytes + "\"");
        ASSERT_TRUE(StoreSetting(kUserSettingsKey, "PosX", c.stored));
        EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", kNoStoredPosition), c.expected);
        char buffer[16] = {};
        uint32_t type = 0, size = sizeof buffer;
        int read = QuerySettingsValue(kUserSettingsKey, "PosX", buffer, &type, &size);
        EXPECT_EQ(ConvertSettingsInt(read != 0, type, buffer, read ? size : 0, kNoStoredPosition), c.expected);
    }
}

TEST_F(RegistryTest, MissingValueOrFailedQueryGivesTheDefault) {
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), kNoStoredPosition);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "debug", 0), 0);
    EXPECT_EQ(ConvertSettingsInt(false, platform::kRegistryNumber, "\x01\0\0\0", 4, -3), -3);
}

// Negative values as text with its NUL, the others as 4-byte numbers.
TEST_F(RegistryTest, WrittenIntegersAreStoredInTheirFormAndReadBack) {
    const std::pair<int32_t, RawValue> cases[] = {
        {-1, Text("-1")},         {0, Number(0)},  {1, Number(1)}, {-40, Text("-40")}, {2147483647, Number(0x7FFFFFFF)},
        {-2147483647 - 1, Text("-2147483648")}};
    for (const auto& [value, stored] : cases) {
        ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosY", value), 1);
        EXPECT_EQ(test::StoredSetting(kUserSettingsKey, "PosY"), stored) << value;
        EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), value);
    }
}

// ---- ParamDirectory and HelpFile ------------------------------------------------------

// The user's key, then the machine's; only text that is not empty and fits
// counts.
TEST(RegistryParamDirectoryTest, UserKeyThenMachineKeyOnlyNonEmptyTextCounts) {
    const std::string longest(kSettingsTextSize - 1, 'd');
    const struct {
        std::optional<RawValue> user, machine;
        std::optional<std::string> expected;  // nullopt: no folder
    } cases[] = {
        {Text("/user/sets"), Text("/machine/sets"), "/user/sets"},
        {Text(""), Text("/machine/sets"), "/machine/sets"},
        {std::nullopt, Text("/machine/sets"), "/machine/sets"},
        {Number(5), Text("/machine/sets"), "/machine/sets"},
        {RawValue{kRegistryBinary, std::string("/u\0", 3)}, Text("/m"), "/m"},
        {RawValue{kRegistryText, "/user/x"}, std::nullopt, "/user/x"},  // unterminated
        {Text(longest), std::nullopt, longest},
        {Text(longest + 'd'), Text("/m"), "/m"},
        {RawValue{kRegistryText, longest + 'd'}, Text("/m"), "/m"},  // unterminated, filling the buffer
        {Text(""), Text(""), std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user ? c.user->bytes : "(none)");
        test::ScopedSettingsStores stores;
        ASSERT_TRUE(!c.user || StoreSetting(kUserSettingsKey, kParamDirectoryValue, *c.user));
        ASSERT_TRUE(!c.machine || StoreSetting(kMachineSettingsKey, kParamDirectoryValue, *c.machine));
        char folder[kSettingsTextSize];
        std::memset(folder, 'Z', sizeof folder);
        EXPECT_EQ(LookUpParamDirectory(folder), c.expected.has_value());
        EXPECT_EQ(std::string(folder, strnlen(folder, sizeof folder)), c.expected.value_or(""));
    }
}

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

// Only text of the machine's key counts, up to its first NUL.
TEST_F(RegistryTest, HelpFileIsTheTextOfTheMachineKey) {
    const struct {
        RawValue stored;
        const char* expected;
    } cases[] = {{Text("C:\\Help\\tavrsk.hlp"), "C:\\Help\\tavrsk.hlp"},
                 {{kRegistryText, "/opt/tav.hlp"}, "/opt/tav.hlp"},
                 {{kRegistryText, std::string("a.hlp\0b", 7)}, "a.hlp"},
                 {Number(1), kDefaultHelpFile},
                 {Text(std::string(300, 'h')), kDefaultHelpFile}};
    ASSERT_TRUE(StoreSetting(kUserSettingsKey, kHelpFileValue, Text("/user/ignored.hlp")));
    for (const auto& c : cases) {
        ASSERT_TRUE(StoreSetting(kMachineSettingsKey, kHelpFileValue, c.stored));
        char help[kSettingsTextSize];
        LookUpHelpFile(help);
        EXPECT_STREQ(help, c.expected);
    }
}

}  // namespace
}  // namespace tav
