// Initialisation files on POSIX (platform/posix/ini_file): reading damaged
// files, writes that change only their own line, atomic replacement, and
// entries refused because they would not read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini_file.h"
#include "tests/support.h"

namespace tav {
namespace {

using namespace std::string_literals;
using test::ReadFile;
using test::WriteFile;

// "-" stands for a missing key.
std::string Value(const std::string& path, const char* section, const char* key) {
    char value[64];
    platform::ReadIniString(path.c_str(), section, key, "-", value, sizeof value);
    return value;
}

// A file, the values of keys k and b of section S in it, and then the same
// after k=v is written into it: k reads v, b as before.
TEST(IniFileTest, ReadsWhatParsesAndWritesOverIt) {
    const struct {
        std::string content;
        const char* k;
        const char* b;
    } cases[] = {
        {"", "-", "-"},
        {"[S]\nk\nb=9\n", "-", "9"},
        {"[S]\r\nk=40\r\nb=9\r\n", "40", "9"},
        {"[S]\nk=40\nb=9", "40", "9"},
        {"[S]\nk=40\nK=50\nb=9\n", "40", "9"},                   // the first of duplicate keys
        {"[S]\nk=40\n[T]\nb=1\n[S]\nk=50\nb=9\n", "40", "-"},  // the first of duplicate sections
        {"  [ s ]  \n\t K \t=\t 40 \t\nB=9\n", "40", "9"},
        {"[S]\nk=\"40\"\nb='9'\n", "40", "9"},
        {"[S]\nk=\"40'\nb='\n", "\"40'", "'"},
        {"k=50\n[S]\nb=9\n", "-", "9"},
        {"[S]\n;k=50\nb=9\n", "-", "9"},
        {"[T]\nk=50\n", "-", "-"},
        {"[S\nk=50\n", "-", "-"},
        {"[S]\n=50\nb=9\n", "-", "9"},
        {"[S]\nk\0k=50\nb=9\n"s, "-", "9"},
        {test::Junk(65536) + "\n[S]\nk=40\nb=9\n", "40", "9"},
        {std::string(4 << 20, 'x') + "\n[S]\nk=40\nb=9\n", "40", "9"},
        {"["s + std::string(100000, 'S') + "]\nk=50\n[S]\nk=40\nb=9\n", "40", "9"}};
    test::TempFolder folder;
    const std::string path = folder.Path("f.ini");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 40));
        WriteFile(path, c.content);
        EXPECT_EQ(Value(path, "S", "k"), c.k);
        EXPECT_EQ(Value(path, "S", "b"), c.b);
        ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "v"));
        EXPECT_EQ(Value(path, "S", "k"), "v");
        EXPECT_EQ(Value(path, "S", "b"), c.b);
    }
}

TEST(IniFileTest, OnlyFilesOfUpToSixteenMebibytesAreReadOrWritten) {
    test::TempFolder folder;
    const std::string path = folder.Path("f.ini");
    std::string content = "[S]\nk=1\n" + std::string((16 << 20) - 8, ';');
    WriteFile(path, content);
    EXPECT_TRUE(platform::CanReadIniFile(path.c_str()));
    EXPECT_EQ(Value(path, "S", "k"), "1");
    WriteFile(path, content += ';');
    EXPECT_FALSE(platform::CanReadIniFile(path.c_str()));
    EXPECT_EQ(Value(path, "S", "k"), "-");
    EXPECT_FALSE(platform::WriteIniString(path.c_str(), "S", "k", "v"));
    EXPECT_EQ(ReadFile(path), content);
}

TEST(IniFileTest, MissingFileSectionOrKeyGivesTheFallback) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    char value[16];
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", "fb", value, sizeof value), 2u);
    EXPECT_STREQ(value, "fb");
    WriteFile(path, "[S]\nk=\n[T]\n");
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", "fb", value, sizeof value), 0u);
    EXPECT_STREQ(value, "");
    platform::ReadIniString(path.c_str(), "S", "other", nullptr, value, sizeof value);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(Value(path, "Missing", "k"), "-");
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "T", "k", -77), -77);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "k", -77), 0);
}

// A text value is cut to the caller's buffer and terminated; integers are
// read from the first kIniIntegerTextSize - 1 characters.
TEST(IniFileTest, ValuesAreCutToTheirBuffers) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    WriteFile(path, "[S]\nk="s + std::string(1000, 'a') + "\na=40" + std::string(300, ' ') + "junk\nb=" +
                        std::string(300, '9') + "\nc=" + std::string(1 << 20, '7') + "\nd=-" + std::string(62, '0') +
                        "5\n");
    char value[12];
    std::memset(value, 'Z', sizeof value);
    EXPECT_EQ(platform::ReadIniString(path.c_str(), "S", "k", nullptr, value, 8), 7u);
    EXPECT_EQ(std::string(value, 12), "aaaaaaa\0ZZZZ"s);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "a", 0), 40);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "b", 0), INT64_MAX);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "c", 0), INT64_MAX);
    EXPECT_EQ(platform::ReadIniInteger(path.c_str(), "S", "d", 7), 0);  // the 5 is cut off
}

TEST(IniFileTest, ParseIntegerIsDecimalWithOptionalMinusAndSaturates) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {{"42", 42},     {"-42", -42}, {"  7", 7},  {"\t7", 7},   {"12abc", 12}, {"abc", 0},
                 {"", 0},        {"-", 0},     {"+5", 0},   {"0x10", 0},  {"007", 7},    {"-0", 0},
                 {"- 5", 0},     {"9223372036854775807", INT64_MAX},      {"9223372036854775808", INT64_MAX},
                 {"-9223372036854775808", INT64_MIN}, {"-99999999999999999999", INT64_MIN}};
    for (const auto& c : cases) EXPECT_EQ(platform::ParseIniInteger(c.text), c.value) << c.text;
}

// Writing k=v into section S replaces or adds the key and keeps every other
// byte of the file, through a temporary file that does not stay behind.
TEST(IniFileTest, WriteReplacesOrAddsTheKeyAndKeepsEveryOtherByte) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {  // before (nullopt: no file), after
        {std::nullopt, "[S]\nk=v\n"},
        {"", "[S]\nk=v\n"},
        {"[S]\nk=1\nx=2\n", "[S]\nk=v\nx=2\n"},
        {"[s]\n  K = 1 \n", "[s]\nk=v\n"},
        {"[S]\na=1\n\n[T]\nb=2\n", "[S]\na=1\nk=v\n\n[T]\nb=2\n"},
        {"[S]\n[T]\n", "[S]\nk=v\n[T]\n"},
        {"[T]\nb=2", "[T]\nb=2\n[S]\nk=v\n"},
        {"[S]\na=1", "[S]\na=1\nk=v\n"},
        {"[S]", "[S]\nk=v\n"},
        {"[S]\r\na=1\r\n", "[S]\r\na=1\r\nk=v\r\n"},
        {"[S]\r\nk=1\r\nz=0\r\n", "[S]\r\nk=v\r\nz=0\r\n"},
        {"[T]\r\nb=2\r\n", "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
        // A last line ending in a bare CR reads without it: the write adds
        // only the missing LF, so that line reads as before.
        {"[S]\r\na=1\r", "[S]\r\na=1\r\nk=v\r\n"},
        {"[T]\r\nb=2\r", "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
        {"[S]\na=1\r", "[S]\na=1\r\nk=v\n"},
        {"; c\n[S]\n; note\na=1\n", "; c\n[S]\n; note\na=1\nk=v\n"},
        {"[S]\na=1\n[S]\nk=1\n", "[S]\na=1\nk=v\n[S]\nk=1\n"},
        {"[S]\nk=1\nk=2\n", "[S]\nk=v\nk=2\n"},
        {"\x01\0junk\n[S]\n\xff\xfe no equals\n"s, "\x01\0junk\n[S]\nk=v\n\xff\xfe no equals\n"s}};
    test::TempFolder folder;
    const std::string path = folder.Path("f.ini");
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before.value_or("(no file)"));
        std::filesystem::remove(path);
        if (before) WriteFile(path, *before);
        ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "v"));
        EXPECT_EQ(ReadFile(path), after);
        EXPECT_EQ(Value(path, "S", "k"), "v");
        EXPECT_EQ(test::NamesIn(folder.path()), std::vector<std::string>{"f.ini"});
    }
}

TEST(IniFileTest, EntryThatWouldNotReadBackIsRefusedAndTheFileKept) {
    const struct {
        const char *section, *key, *value;
    } cases[] = {{"S", "k", "1\n[X]"}, {"S", "k", "1\r"}, {"S", "a=b", "1"}, {"S", "[k", "1"}, {"S", ";k", "1"},
                 {"S", "", "1"},       {"S", " k", "1"},  {"S", "k ", "1"},  {"S]", "k", "1"}, {"", "k", "1"},
                 {" S", "k", "1"},     {"S", "k", nullptr}};
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    WriteFile(path, "[S]\nk=1\n");
    for (const auto& c : cases) {
        EXPECT_FALSE(platform::WriteIniString(path.c_str(), c.section, c.key, c.value))
            << "[" << c.section << "] " << c.key << "=" << (c.value ? c.value : "(null)");
    }
    EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
}

TEST(IniFileTest, SeveralKeysGoInOneUpdateOrNoneAtAll) {
    test::TempFolder folder;
    std::string path = folder.Path("f.ini");
    WriteFile(path, "[S]\nb=0\n");
    const char* keys[] = {"a", "b", "c"};
    const char* values[] = {"1", "2", "3"};
    ASSERT_TRUE(platform::WriteIniStrings(path.c_str(), "S", keys, values, 3));
    EXPECT_EQ(ReadFile(path), "[S]\nb=2\na=1\nc=3\n");
    const char* bad[] = {"d", "e\n"};
    EXPECT_FALSE(platform::WriteIniStrings(path.c_str(), "S", bad, values, 2));
    EXPECT_EQ(ReadFile(path), "[S]\nb=2\na=1\nc=3\n");
}

TEST(IniFileTest, WriteKeepsPermissionsAndSymbolicLinks) {
    test::TempFolder folder;
    std::string target = folder.Path("target.ini"), link = folder.Path("link.ini");
    WriteFile(target, "[S]\na=1\n");
    chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(platform::WriteIniString(link.c_str(), "S", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\na=1\nk=v\n");
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    std::filesystem::create_symlink("made.ini", folder.Path("new.ini"));  // leads to no file yet
    ASSERT_TRUE(platform::WriteIniString(folder.Path("new.ini").c_str(), "S", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("new.ini")));
    EXPECT_EQ(ReadFile(folder.Path("made.ini")), "[S]\nk=v\n");
    EXPECT_EQ(test::NamesIn(folder.path()),
              (std::vector<std::string>{"link.ini", "made.ini", "new.ini", "target.ini"}));
}

// A file of any valid name is created and replaced: the temporary file a
// write goes through has a valid name too.
TEST(IniFileTest, FileOfAnyNameLengthIsCreatedAndReplaced) {
    for (size_t length : {1, 200, 230, 255}) {
        test::TempFolder folder;
        const std::string name(length, 'f'), path = folder.Path(name);
        ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "v")) << length;
        ASSERT_TRUE(platform::WriteIniString(path.c_str(), "S", "k", "w")) << length;
        EXPECT_EQ(ReadFile(path), "[S]\nk=w\n");
        EXPECT_EQ(test::NamesIn(folder.path()), std::vector<std::string>{name});
    }
}

TEST(IniFileTest, WriteFailsWhereNoFileCanBe) {
    test::TempFolder folder;
    EXPECT_FALSE(platform::WriteIniString(folder.Path("no/such/folder/x.ini").c_str(), "S", "k", "v"));
    EXPECT_FALSE(platform::WriteIniString(folder.path().c_str(), "S", "k", "v"));
    ASSERT_EQ(mkfifo(folder.Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(platform::WriteIniString(folder.Path("fifo").c_str(), "S", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder.Path("fifo")));
    EXPECT_EQ(test::NamesIn(folder.path()), std::vector<std::string>{"fifo"});
}

}  // namespace
}  // namespace tav
