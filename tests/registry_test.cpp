#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support.h"
#include "ui/registry.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::kRegistryBinary;
using platform::kRegistryNumber;
using platform::kRegistryText;

constexpr char kSubkey[] = "SOFTWARE\\Brackwater Works\\Tavrisk";

// A value as the registry holds it.
struct RawValue {
    uint32_t type;
    std::string bytes;
};

RawValue Text(const std::string& text) { return {kRegistryText, text + std::string(1, '\0')}; }
RawValue Number(uint32_t value) {
    return {kRegistryNumber,
            std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)}};
}

std::vector<fs::path> FilesIn(const std::string& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class RegistryTest : public ::testing::Test {
protected:
    bool Store(const char* path, const char* name, const RawValue& value) {
        return WriteSettingsValue(path, name, value.bytes.data(), value.type, uint32_t(value.bytes.size())) ==
               1;
    }
    // The value as stored, read with a buffer of 4096 bytes.
    std::optional<RawValue> Fetch(const char* path, const char* name) {
        std::vector<char> buffer(4096);
        uint32_t type = 0;
        uint32_t size = uint32_t(buffer.size());
        if (QuerySettingsValue(path, name, buffer.data(), &type, &size) != 1) return std::nullopt;
        return RawValue{type, std::string(buffer.data(), size)};
    }
    // The user's key file, made by opening the key.
    fs::path UserKeyFile() {
        platform::CloseRegistryKey(OpenSettingsKey(kUserSettingsKey));
        std::vector<fs::path> files = FilesIn(stores.userStore());
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? fs::path() : files[0];
    }

    test::ScopedSettingsStores stores;
};

// ---- Key paths ----------------------------------------------------------------

enum class Branch { None, User, Machine };

struct RootCase {
    const char* name;
    const char* path;
    Branch branch;
};

class RegistryRootTest : public RegistryTest, public ::testing::WithParamInterface<RootCase> {};

TEST_P(RegistryRootTest, RootNameChoosesTheStoreOrNoKey) {
    const RootCase& c = GetParam();
    platform::RegistryKey key = OpenSettingsKey(c.path);
    EXPECT_EQ(key != platform::kNoRegistryKey, c.branch != Branch::None);
    platform::CloseRegistryKey(key);

    EXPECT_EQ(WriteSettingsInt(c.path, "PosY", 5), c.branch != Branch::None ? 1 : 0);
    EXPECT_EQ(ReadSettingsInt(c.path, "PosY", kNoStoredPosition),
              c.branch != Branch::None ? 5 : kNoStoredPosition);
    uint32_t type = 0;
    uint32_t size = 16;
    char buffer[16];
    EXPECT_EQ(QuerySettingsValue(c.path, "PosY", buffer, &type, &size), c.branch != Branch::None ? 1 : 0);

    EXPECT_EQ(FilesIn(stores.userStore()).size(), c.branch == Branch::User ? 1u : 0u);
    EXPECT_EQ(FilesIn(stores.machineStore()).size(), c.branch == Branch::Machine ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RegistryRootTest,
    ::testing::Values(RootCase{"UserKey", kUserSettingsKey, Branch::User},
                      RootCase{"MachineKey", kMachineSettingsKey, Branch::Machine},
                      RootCase{"ClassesRoot", "HKEY_CLASSES_ROOT\\SOFTWARE\\Brackwater Works\\Tavrisk",
                               Branch::None},
                      RootCase{"UsersRoot", "HKEY_USERS\\SOFTWARE", Branch::None},
                      RootCase{"RootNameInLowerCase", "hkey_current_user\\SOFTWARE", Branch::None},
                      RootCase{"RootNameCut", "HKEY_CURRENT_USE", Branch::None},
                      RootCase{"Empty", "", Branch::None},
                      RootCase{"UserRootAlone", "HKEY_CURRENT_USER", Branch::User},
                      RootCase{"MachineRootWithSlash", "HKEY_LOCAL_MACHINE/SOFTWARE", Branch::Machine},
                      // The character after the root name is skipped whatever it is.
                      RootCase{"MachineRootLongerName", "HKEY_LOCAL_MACHINE_SOFTWARE", Branch::Machine}),
    [](const ::testing::TestParamInfo<RootCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, NullPathGivesNoKeyDefaultsAndFailedWrites) {
    EXPECT_EQ(OpenSettingsKey(nullptr), platform::kNoRegistryKey);
    EXPECT_EQ(ReadSettingsInt(nullptr, "PosX", 17), 17);
    EXPECT_EQ(WriteSettingsInt(nullptr, "PosX", 1), 0);
    char buffer[4];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(QuerySettingsValue(nullptr, "PosX", buffer, nullptr, &size), 0);
}

TEST_F(RegistryTest, SeparatorAfterTheRootIsSkippedWhateverItIs) {
    ASSERT_EQ(WriteSettingsInt("HKEY_LOCAL_MACHINE/SOFTWARE\\Brackwater Works\\Tavrisk", "PosX", 31), 1);
    EXPECT_EQ(ReadSettingsInt(kMachineSettingsKey, "PosX", 0), 31);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreLetterCase) {
    ASSERT_EQ(WriteSettingsInt("HKEY_CURRENT_USER\\software\\BRACKWATER works\\tavrisk", "posx", 12), 1);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", 0), 12);
    ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "POSX", 13), 1);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "posX", 0), 13);
    EXPECT_EQ(FilesIn(stores.userStore()).size(), 1u);
}

// ---- Integer reads --------------------------------------------------------------

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
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    int read = QuerySettingsValue(kUserSettingsKey, "PosX", buffer, &type, &size);
    EXPECT_EQ(ConvertSettingsInt(read != 0, type, buffer, read ? size : 0, kNoStoredPosition), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryIntReadTest,
    ::testing::Values(
        IntReadCase{"BlanksMinusDigits", Text("  -12"), -12},
        IntReadCase{"TextWithoutDigits", Text("left"), 0}, IntReadCase{"EmptyText", Text(""), 0},
        IntReadCase{"SignWithoutDigits", Text("-"), 0}, IntReadCase{"PlusSign", Text("+7px"), 7},
        IntReadCase{"OtherWhiteSpace", Text("\t\n\r 42"), 42},
        IntReadCase{"DigitsEndAtOtherCharacter", Text("15 20"), 15},
        IntReadCase{"TooLargeSaturates", Text("2147483648"), 2147483647},
        IntReadCase{"TooSmallSaturates", Text("-99999999999"), -2147483647 - 1},
        // 16 bytes without a NUL: the conversion stops at the buffer's end.
        IntReadCase{"SixteenBytesUnterminated", {kRegistryText, "   0000000000042"}, 42},
        IntReadCase{"SeventeenBytesDoNotFit",
                    {kRegistryText, std::string("   00000000000042") + '\0'},
                    kNoStoredPosition},
        IntReadCase{"Number", Number(30), 30},
        IntReadCase{"NumberAllOnesIsMinusOne", Number(0xFFFFFFFFu), -1},
        IntReadCase{"Binary", {kRegistryBinary, std::string("\x05\x00\x00\x00", 4)}, kNoStoredPosition},
        IntReadCase{
            "ExpandableText", {platform::kRegistryExpandableText, std::string("5\0", 2)}, kNoStoredPosition},
        IntReadCase{"TextList", {platform::kRegistryTextList, std::string("5\0\0", 3)}, kNoStoredPosition},
        IntReadCase{"Number64", {platform::kRegistryNumber64, std::string(8, '\x01')}, kNoStoredPosition}),
    [](const ::testing::TestParamInfo<IntReadCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, MissingValueOrKeyGivesTheDefault) {
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), kNoStoredPosition);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "debug", 0), 0);
    EXPECT_EQ(ConvertSettingsInt(false, kRegistryNumber, "\x01\0\0\0", 4, -3), -3);
}

// ---- Integer writes ---------------------------------------------------------------

struct IntWriteCase {
    int32_t value;
    RawValue stored;
};

class RegistryIntWriteTest : public RegistryTest, public ::testing::WithParamInterface<IntWriteCase> {};

TEST_P(RegistryIntWriteTest, NegativeAsTextWithItsNulOthersAsFourByteNumber) {
    const IntWriteCase& c = GetParam();
    ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosY", c.value), 1);
    std::optional<RawValue> stored = Fetch(kUserSettingsKey, "PosY");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, c.stored.type);
    EXPECT_EQ(stored->bytes, c.stored.bytes);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), c.value);
}

INSTANTIATE_TEST_SUITE_P(Values, RegistryIntWriteTest,
                         ::testing::Values(IntWriteCase{-1, {kRegistryText, std::string("-1\0", 3)}},
                                           IntWriteCase{0, {kRegistryNumber, std::string(4, '\0')}},
                                           IntWriteCase{1, Number(1)},
                                           IntWriteCase{-40, {kRegistryText, std::string("-40\0", 4)}},
                                           IntWriteCase{2147483647, Number(0x7FFFFFFF)},
                                           IntWriteCase{-2147483647 - 1, Text("-2147483648")}));

TEST_F(RegistryTest, QueryFailsWhenTheValueIsLargerThanTheBuffer) {
    ASSERT_TRUE(Store(kUserSettingsKey, "Blob", {kRegistryBinary, std::string(17, 'x')}));
    char buffer[17];
    uint32_t type = 0;
    uint32_t size = 16;
    EXPECT_EQ(QuerySettingsValue(kUserSettingsKey, "Blob", buffer, &type, &size), 0);
    EXPECT_EQ(size, 17u);
    size = 17;
    EXPECT_EQ(QuerySettingsValue(kUserSettingsKey, "Blob", buffer, &type, &size), 1);
    EXPECT_EQ(type, kRegistryBinary);
}

// ---- ParamDirectory and HelpFile ----------------------------------------------------

struct DirectoryCase {
    const char* name;
    std::optional<RawValue> user;
    std::optional<RawValue> machine;
    const char* expected;  // null: no folder
};

class RegistryParamDirectoryTest : public RegistryTest,
                                   public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(RegistryParamDirectoryTest, UserKeyThenMachineKeyOnlyNonEmptyTextCounts) {
    const DirectoryCase& c = GetParam();
    if (c.user) {
        ASSERT_TRUE(Store(kUserSettingsKey, kParamDirectoryValue, *c.user));
    }
    if (c.machine) {
        ASSERT_TRUE(Store(kMachineSettingsKey, kParamDirectoryValue, *c.machine));
    }
    char folder[kSettingsTextSize];
    std::memset(folder, 'Z', sizeof folder);
    bool found = LookUpParamDirectory(folder);
    EXPECT_EQ(found, c.expected != nullptr);
    EXPECT_STREQ(folder, c.expected != nullptr ? c.expected : "");
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryParamDirectoryTest,
    ::testing::Values(
        DirectoryCase{"UserWins", Text("/user/sets"), Text("/machine/sets"), "/user/sets"},
        DirectoryCase{"EmptyUserTextFallsBack", Text(""), Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"MissingUserFallsBack", std::nullopt, Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"UserNumberFallsBack", Number(5), Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"UserBinaryFallsBack", RawValue{kRegistryBinary, std::string("/u\0", 3)},
                      Text("/machine/sets"), "/machine/sets"},
        DirectoryCase{"UnterminatedUserText", RawValue{kRegistryText, "/user/x"}, std::nullopt, "/user/x"},
        DirectoryCase{"TooLongUserFallsBack", Text(std::string(256, 'd')), Text("/m"), "/m"},
        DirectoryCase{"UnterminatedFullBufferFallsBack", RawValue{kRegistryText, std::string(256, 'd')},
                      Text("/m"), "/m"},
        DirectoryCase{"BothEmpty", Text(""), Text(""), nullptr},
        DirectoryCase{"BothMissing", std::nullopt, std::nullopt, nullptr}),
    [](const ::testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.name); });

// Separate from the table: the expected text is built at run time.
TEST_F(RegistryTest, ParamDirectoryOfTheLongestFittingTextIsReadWhole) {
    std::string longest(kSettingsTextSize - 1, 'd');
    ASSERT_TRUE(Store(kUserSettingsKey, kParamDirectoryValue, Text(longest)));
    char folder[kSettingsTextSize];
    ASSERT_TRUE(LookUpParamDirectory(folder));
    EXPECT_EQ(std::string(folder), longest);
}

TEST_F(RegistryTest, HelpFileDefaultCreatesTheMissingMachineKey) {
    ASSERT_FALSE(platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, kSubkey));
    char help[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, "TAVRSK.HLP");
    EXPECT_TRUE(platform::RegistryKeyExists(platform::RegistryRoot::LocalMachine, kSubkey));
}

TEST_F(RegistryTest, HelpFileDefaultWithoutRightsToCreateTheMachineKey) {
    // The store's folder would have to live inside a plain file.
    WriteBytes(stores.root() + "/plain", "x");
    test::ScopedEnvironment machine("TAVRISK_MACHINE_STORE", stores.root() + "/plain/machine");
    char help[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, "TAVRSK.HLP");
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
                      HelpCase{"Number", Number(1), "TAVRSK.HLP"},
                      HelpCase{"TooLong", Text(std::string(300, 'h')), "TAVRSK.HLP"}),
    [](const ::testing::TestParamInfo<HelpCase>& info) { return std::string(info.param.name); });

// ---- The store's files ------------------------------------------------------------------

struct ValueCase {
    const char* name;
    std::string valueName;
    RawValue stored;
};

class RegistryValueRoundTripTest : public RegistryTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValueRoundTripTest, TypeAndBytesComeBackExactly) {
    const ValueCase& c = GetParam();
    ASSERT_TRUE(Store(kUserSettingsKey, "Before", Number(1)));
    ASSERT_TRUE(Store(kUserSettingsKey, c.valueName.c_str(), c.stored));
    ASSERT_TRUE(Store(kUserSettingsKey, "After", Text("after")));
    std::optional<RawValue> read = Fetch(kUserSettingsKey, c.valueName.c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->type, c.stored.type);
    EXPECT_EQ(read->bytes, c.stored.bytes);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "Before", 0), 1);
    EXPECT_EQ(Fetch(kUserSettingsKey, "After")->bytes, std::string("after\0", 6));
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryValueRoundTripTest,
    ::testing::Values(ValueCase{"PlainText", "ParamDirectory", Text("/home/me/key sets")},
                      ValueCase{"TextWithEscapes", "v", Text("100% = line\nbreak\r\ttab #hash \x7f\xc3\xa9")},
                      ValueCase{"TextWithInnerNul", "v", {kRegistryText, std::string("a\0b\0", 4)}},
                      ValueCase{"EmptyText", "v", Text("")}, ValueCase{"ZeroBytes", "v", {kRegistryText, ""}},
                      ValueCase{"UnterminatedText", "v", {kRegistryText, "abc"}},
                      ValueCase{"ShortNumber", "v", {kRegistryNumber, std::string("\x01\x02\x03", 3)}},
                      ValueCase{"Binary", "v", {kRegistryBinary, std::string("\x00\xff\n=%", 5)}},
                      ValueCase{"UnknownType", "v", {0xFFFFFFFFu, "x"}},
                      ValueCase{"NameWithEqualsAndHash", "#a=b%c", Number(9)},
                      ValueCase{"NameWithLineBreak", "two\nlines", Number(9)},
                      ValueCase{"DefaultValue", "", Text("default")}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, WritesReplaceTheFileAndLeaveNoTemporaryFiles) {
    for (int i = 0; i < 5; ++i) ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosX", -i), 1);
    ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosY", 8), 1);
    EXPECT_EQ(FilesIn(stores.userStore()).size(), 1u);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", 0), -4);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", 0), 8);
}

// Every key that opens can be written, whatever the length of its file's
// name: the temporary file a write goes through has a valid name too. The
// lengths are those of the key file's name without ".key"; an escaped
// byte takes three of them.
struct LongKeyCase {
    const char* name;
    std::string subkey;
};

class RegistryLongKeyTest : public RegistryTest, public ::testing::WithParamInterface<LongKeyCase> {};

TEST_P(RegistryLongKeyTest, KeyThatOpensIsWrittenAndReadBack) {
    platform::RegistryKey key =
        platform::CreateRegistryKey(platform::RegistryRoot::CurrentUser, GetParam().subkey.c_str());
    ASSERT_NE(key, platform::kNoRegistryKey);
    const RawValue value = Text("long");
    EXPECT_TRUE(platform::SetRegistryValue(key, "v", value.type, value.bytes.data(), uint32_t(value.bytes.size())));
    char buffer[16];
    uint32_t type = 0, size = sizeof buffer;
    EXPECT_TRUE(platform::QueryRegistryValue(key, "v", buffer, &type, &size));
    EXPECT_EQ(type, value.type);
    EXPECT_EQ(std::string(buffer, size), value.bytes);
    platform::CloseRegistryKey(key);
    EXPECT_EQ(FilesIn(stores.userStore()).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RegistryLongKeyTest,
    ::testing::Values(LongKeyCase{"Short", "k"}, LongKeyCase{"Bytes200", std::string(200, 'k')},
                      LongKeyCase{"Bytes225", std::string(225, 'k')},
                      LongKeyCase{"Bytes240", std::string(240, 'k')},
                      LongKeyCase{"EscapedBytes238", std::string("k").append(79, '%')}),
    [](const ::testing::TestParamInfo<LongKeyCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, SubkeysNeverLeaveTheStore) {
    const char* subkeys[] = {"..",          ".",          "..\\..\\escape",   "../../escape",
                             "/etc/passwd", "a/b\\..\\c", "SOFTWARE\\x\x01y", ".hidden"};
    int32_t value = 100;
    for (const char* subkey : subkeys) {
        std::string path = std::string("HKEY_CURRENT_USER\\") + subkey;
        ASSERT_EQ(WriteSettingsInt(path.c_str(), "PosX", value++), 1) << subkey;
    }
    value = 100;
    for (const char* subkey : subkeys) {
        std::string path = std::string("HKEY_CURRENT_USER\\") + subkey;
        EXPECT_EQ(ReadSettingsInt(path.c_str(), "PosX", 0), value++) << subkey;
    }
    std::vector<fs::path> files = FilesIn(stores.root());
    EXPECT_EQ(files.size(), std::size(subkeys));
    for (const fs::path& file : files) {
        EXPECT_EQ(file.parent_path(), fs::path(stores.userStore())) << file;
        EXPECT_NE(file.filename().string()[0], '.') << file;
    }
}

struct CorruptCase {
    const char* name;
    std::string content;
    int32_t posX;  // as read before and after a later write
};

class RegistryCorruptStoreTest : public RegistryTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(RegistryCorruptStoreTest, ReadsWhatParsesAndWritesAgain) {
    const CorruptCase& c = GetParam();
    fs::path file = UserKeyFile();
    WriteBytes(file, c.content);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", kNoStoredPosition), c.posX);
    char folder[kSettingsTextSize];
    EXPECT_FALSE(LookUpParamDirectory(folder));

    ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosY", 7), 1);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosY", kNoStoredPosition), 7);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", kNoStoredPosition), c.posX);
    EXPECT_EQ(FilesIn(stores.userStore()).size(), 1u);
}

std::string BinaryJunk() {
    std::string junk;
    uint32_t seed = 12345;
    for (int i = 0; i < 65536; ++i) {
        seed = seed * 1664525u + 1013904223u;
        junk += char(seed >> 24);
    }
    return junk;
}

INSTANTIATE_TEST_SUITE_P(
    Contents, RegistryCorruptStoreTest,
    ::testing::Values(CorruptCase{"BinaryJunk", BinaryJunk(), kNoStoredPosition},
                      CorruptCase{"MissingEquals", "PosX dword:00000005\n", kNoStoredPosition},
                      CorruptCase{"UnknownTypeTag", "PosX=qword:5\n", kNoStoredPosition},
                      CorruptCase{"ShortNumber", "PosX=dword:0005\n", kNoStoredPosition},
                      CorruptCase{"BadHexDigit", "PosX=dword:0000000g\n", kNoStoredPosition},
                      CorruptCase{"CutEscape", "PosX=sz:1%4\n", kNoStoredPosition},
                      CorruptCase{"CutEscapeInName", "Pos%5=sz:1\n", kNoStoredPosition},
                      CorruptCase{"BadByteList", "PosX=hex(1):31,3\n", kNoStoredPosition},
                      CorruptCase{"TrailingComma", "PosX=hex(1):31,\n", kNoStoredPosition},
                      CorruptCase{"HugeTypeCode", "PosX=hex(99999999999):31\n", kNoStoredPosition},
                      CorruptCase{"Comment", "# PosX=dword:00000001\n", kNoStoredPosition},
                      CorruptCase{"TextTooLongForTheBuffer", "PosX=sz:"s + std::string(100, '1') + "\n",
                                  kNoStoredPosition},
                      CorruptCase{"GoodLineAfterJunk", "\x01\x02\xff garbage\nPosX=dword:0000000c\n", 12},
                      CorruptCase{"NoTrailingNewline", "PosX=dword:0000000c", 12},
                      CorruptCase{"CrLf", "PosX=sz:-7\r\nPosY=sz:1\r\n", -7},
                      CorruptCase{"DuplicateNamesFirstWins", "PosX=dword:00000001\nposx=dword:00000002\n", 1},
                      CorruptCase{"HugeLine", std::string(3 << 20, 'x') + "\nPosX=dword:00000003\n", 3},
                      CorruptCase{"OversizedFile", "PosX=dword:00000003\n"s + std::string(9 << 20, '#'),
                                  kNoStoredPosition}),
    [](const ::testing::TestParamInfo<CorruptCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, KeyFileThatIsNotAFileIsNoKey) {
    fs::path file = UserKeyFile();
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(OpenSettingsKey(kUserSettingsKey), platform::kNoRegistryKey);
    EXPECT_EQ(ReadSettingsInt(kUserSettingsKey, "PosX", kNoStoredPosition), kNoStoredPosition);
    EXPECT_EQ(WriteSettingsInt(kUserSettingsKey, "PosX", 3), 0);
}

TEST_F(RegistryTest, ReadOnlyStoreIsNoKey) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    fs::create_directories(stores.machineStore());
    chmod(stores.machineStore().c_str(), 0555);
    EXPECT_EQ(OpenSettingsKey(kMachineSettingsKey), platform::kNoRegistryKey);
    char help[kSettingsTextSize];
    LookUpHelpFile(help);
    EXPECT_STREQ(help, "TAVRSK.HLP");
}

TEST_F(RegistryTest, UserStoreDefaultsToTheConfigurationFolder) {
    test::ScopedEnvironment noStore("TAVRISK_USER_STORE", std::nullopt);
    {
        test::ScopedEnvironment config("XDG_CONFIG_HOME", stores.root() + "/config");
        ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosX", 1), 1);
        EXPECT_EQ(FilesIn(stores.root() + "/config/tavrisk").size(), 1u);
    }
    test::ScopedEnvironment noConfig("XDG_CONFIG_HOME", std::nullopt);
    test::ScopedEnvironment home("HOME", stores.root() + "/home");
    ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, "PosX", 2), 1);
    EXPECT_EQ(FilesIn(stores.root() + "/home/.config/tavrisk").size(), 1u);
}

}  // namespace
}  // namespace tav
