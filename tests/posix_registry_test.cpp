// The registry's POSIX stand-in (platform/posix/registry): one file a key in
// a store folder, values that come back exactly, key files that never leave
// their store, and damaged key files read as far as they parse.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::kRegistryBinary;
using platform::kRegistryNumber;
using platform::kRegistryText;
using platform::RegistryRoot;
using test::Number;
using test::RawValue;
using test::Text;

// A key of the user's store, open for the life of the object.
class Key {
public:
    explicit Key(const std::string& subkey, RegistryRoot root = RegistryRoot::CurrentUser)
        : key_(platform::CreateRegistryKey(root, subkey.c_str())) {}
    ~Key() { platform::CloseRegistryKey(key_); }
    bool open() const { return key_ != platform::kNoRegistryKey; }
    bool Set(const std::string& name, const RawValue& value) {
        return platform::SetRegistryValue(key_, name.c_str(), value.type, value.bytes.data(),
                                          uint32_t(value.bytes.size()));
    }
    // The value read with a buffer of `capacity` bytes; nullopt when the
    // read fails. The type and size the query told are kept.
    std::optional<RawValue> Get(const std::string& name, uint32_t capacity = 4096) {
        std::vector<char> buffer(capacity);
        type = 0, size = capacity;
        if (!platform::QueryRegistryValue(key_, name.c_str(), buffer.data(), &type, &size)) return std::nullopt;
        return RawValue{type, std::string(buffer.data(), size)};
    }
    uint32_t type = 0, size = 0;

private:
    platform::RegistryKey key_;
};

class PosixRegistryTest : public ::testing::Test {
protected:
    // The user's key files.
    std::vector<std::string> KeyFiles() { return test::NamesIn(stores.userStore()); }
    test::ScopedSettingsStores stores;
};

// Every type, also unknown ones, and names with the file's special
// characters, come back exactly; the neighbouring values stay.
TEST_F(PosixRegistryTest, TypeAndBytesComeBackExactlyAndTheNeighboursStay) {
    const std::pair<std::string, RawValue> cases[] = {
        {"ParamDirectory", Text("/home/me/key sets")},
        {"v", Text("100% = line\nbreak\r\ttab #hash \x7f\xc3\xa9")},
        {"v", {kRegistryText, std::string("a\0b\0", 4)}},
        {"v", Text("")},
        {"v", {kRegistryText, ""}},
        {"v", {kRegistryText, "abc"}},
        {"v", {kRegistryNumber, std::string("\x01\x02\x03", 3)}},
        {"v", {kRegistryBinary, std::string("\x00\xff\n=%", 5)}},
        {"v", {0xFFFFFFFFu, "x"}},
        {"#a=b%c", Number(9)},
        {"two\nlines", Number(9)},
        {"", Text("default")}};
    Key key("k");
    for (const auto& [name, stored] : cases) {
        SCOPED_TRACE(name + ": " + stored.bytes);
        ASSERT_TRUE(key.Set("Before", Number(1)));
        ASSERT_TRUE(key.Set(name, stored));
        ASSERT_TRUE(key.Set("After", Text("after")));
        EXPECT_EQ(key.Get(name), stored);
        EXPECT_EQ(key.Get("Before"), Number(1));
        EXPECT_EQ(key.Get("After"), Text("after"));
    }
}

TEST_F(PosixRegistryTest, KeyAndValueNamesIgnoreLetterCase) {
    ASSERT_TRUE(Key("Software\\BRACKWATER works").Set("posx", Number(12)));
    Key key("software\\Brackwater Works");
    EXPECT_EQ(key.Get("PosX"), Number(12));
    ASSERT_TRUE(key.Set("POSX", Number(13)));
    EXPECT_EQ(key.Get("posX"), Number(13));
    EXPECT_EQ(KeyFiles().size(), 1u);
}

TEST_F(PosixRegistryTest, QueryOfAValueLargerThanTheBufferFailsAndTellsItsSize) {
    Key key("k");
    ASSERT_TRUE(key.Set("Blob", {kRegistryBinary, std::string(17, 'x')}));
    EXPECT_EQ(key.Get("Blob", 16), std::nullopt);
    EXPECT_EQ(key.size, 17u);
    EXPECT_EQ(key.type, kRegistryBinary);
    EXPECT_EQ(key.Get("Blob", 17), (RawValue{kRegistryBinary, std::string(17, 'x')}));
}

// Every key that opens can be written, whatever the length of its file's
// name: the temporary file a write goes through has a valid name too. The
// lengths are those of the key file's name without ".key"; an escaped byte
// takes three of them.
TEST_F(PosixRegistryTest, KeyOfAnyNameThatOpensIsWrittenAndReadBack) {
    for (const std::string& subkey : {"k"s, std::string(200, 'k'), std::string(225, 'k'), std::string(240, 'k'),
                                      std::string("k").append(79, '%')}) {
        test::ScopedSettingsStores fresh;
        Key key(subkey);
        ASSERT_TRUE(key.open()) << subkey.size();
        EXPECT_TRUE(key.Set("v", Text("long"))) << subkey.size();
        EXPECT_EQ(key.Get("v"), Text("long")) << subkey.size();
        EXPECT_EQ(test::NamesIn(fresh.userStore()).size(), 1u) << subkey.size();
    }
}

TEST_F(PosixRegistryTest, SubkeysNeverLeaveTheStore) {
    const char* subkeys[] = {"..",          ".",          "..\\..\\escape",   "../../escape",
                             "/etc/passwd", "a/b\\..\\c", "SOFTWARE\\x\x01y", ".hidden"};
    for (uint32_t i = 0; i < std::size(subkeys); ++i) ASSERT_TRUE(Key(subkeys[i]).Set("PosX", Number(i))) << subkeys[i];
    for (uint32_t i = 0; i < std::size(subkeys); ++i) EXPECT_EQ(Key(subkeys[i]).Get("PosX"), Number(i)) << subkeys[i];
    EXPECT_EQ(test::NamesIn(stores.root()), (std::vector<std::string>{"user"}));
    const std::vector<std::string> files = KeyFiles();
    EXPECT_EQ(files.size(), std::size(subkeys));
    for (const std::string& file : files) {
        EXPECT_NE(file[0], '.') << file;
        EXPECT_TRUE(fs::is_regular_file(stores.userStore() + "/" + file)) << file;
    }
}

// A damaged key file is read as far as it parses, and a later write keeps
// what was read and replaces the rest.
TEST_F(PosixRegistryTest, DamagedKeyFilesAreReadAsFarAsTheyParseAndWrittenAgain) {
    const std::pair<std::string, std::optional<RawValue>> cases[] = {  // the file, PosX in it
        {test::Junk(65536), std::nullopt},
        {"PosX dword:00000005\n", std::nullopt},
        {"PosX=qword:5\n", std::nullopt},
        {"PosX=dword:0005\n", std::nullopt},
        {"PosX=dword:0000000g\n", std::nullopt},
        {"PosX=sz:1%4\n", std::nullopt},
        {"Pos%5=sz:1\n", std::nullopt},
        {"PosX=hex(1):31,3\n", std::nullopt},
        {"PosX=hex(1):31,\n", std::nullopt},
        {"PosX=hex(99999999999):31\n", std::nullopt},
        {"# PosX=dword:00000001\n", std::nullopt},
        {"PosX=sz:"s + std::string(1 << 20, '1') + "\n", std::nullopt},  // longer than one value may be
        {"\x01\x02\xff garbage\nPosX=dword:0000000c\n", Number(12)},
        {"PosX=dword:0000000c", Number(12)},
        {"PosX=sz:-7\r\nPosY=sz:1\r\n", Text("-7")},
        {"PosX=sz:a%25b%0Ac\n", Text("a%b\nc")},
        {"PosX=dword:00000001\nposx=dword:00000002\n", Number(1)},  // the first of duplicates
        {std::string(3 << 20, 'x') + "\nPosX=dword:00000003\n", Number(3)},
        {"PosX=dword:00000003\n"s + std::string(9 << 20, '#'), std::nullopt}};  // too large a file
    Key key("k");
    ASSERT_TRUE(key.Set("Seed", Number(0)));  // the first write makes the key's file
    ASSERT_EQ(KeyFiles().size(), 1u);
    for (const auto& [content, posX] : cases) {
        SCOPED_TRACE(content.substr(0, 40));
        test::WriteFile(stores.userStore() + "/" + KeyFiles()[0], content);
        EXPECT_EQ(key.Get("PosX"), posX);
        ASSERT_TRUE(key.Set("PosY", Number(7)));
        EXPECT_EQ(key.Get("PosY"), Number(7));
        EXPECT_EQ(key.Get("PosX"), posX);
        EXPECT_EQ(KeyFiles().size(), 1u);
    }
}

// A key file that is a folder, or a store that is a file, is no key, even
// to the superuser.
TEST_F(PosixRegistryTest, KeyFileOrStoreOfTheWrongKindIsNoKey) {
    ASSERT_TRUE(Key("k").Set("Seed", Number(0)));
    const std::string file = stores.userStore() + "/" + KeyFiles().at(0);
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_FALSE(Key("k").open());
    test::WriteFile(stores.machineStore(), "");
    EXPECT_FALSE(Key("k", RegistryRoot::LocalMachine).open());
}

TEST_F(PosixRegistryTest, UserStoreDefaultsToTheConfigurationFolder) {
    test::ScopedEnvironment noStore("TAVRISK_USER_STORE", std::nullopt);
    {
        test::ScopedEnvironment config("XDG_CONFIG_HOME", stores.root() + "/config");
        ASSERT_TRUE(Key("k").Set("PosX", Number(1)));
        EXPECT_EQ(test::NamesIn(stores.root() + "/config/tavrisk").size(), 1u);
    }
    test::ScopedEnvironment noConfig("XDG_CONFIG_HOME", std::nullopt);
    test::ScopedEnvironment home("HOME", stores.root() + "/home");
    ASSERT_TRUE(Key("k").Set("PosX", Number(2)));
    EXPECT_EQ(test::NamesIn(stores.root() + "/home/.config/tavrisk").size(), 1u);
}

}  // namespace
}  // namespace tav
