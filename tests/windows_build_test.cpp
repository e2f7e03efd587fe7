// Checks of the built Windows plug-ins: the property list hosts read to find
// the entry point. The cross builds live beside this one (build/win32,
// build/win64); TAVRISK_REQUIRE_WINDOWS_BUILDS=1 turns a missing build into
// a failure instead of a skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "interface/host_interface.h"
#include "hosts/inprocess/pe_file.h"
#include "hosts/inprocess/pipl.h"

namespace tav::inprocess {
namespace {

struct BuildCase {
    const char* folder;  // the build's folder
    bool x64;
};

class WindowsPluginTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(WindowsPluginTest, PropertyListIsWhatHostsAccept) {
    const BuildCase& c = GetParam();
    std::string path = std::string(c.folder) + "/tavrsk.8bf";
    std::string error;
    auto pe = ReadPeFile(path, &error);
    if (!pe) {
        const char* require = std::getenv("TAVRISK_REQUIRE_WINDOWS_BUILDS");
        if (require != nullptr && std::strcmp(require, "1") == 0) FAIL() << error;
        GTEST_SKIP() << error;
    }
    EXPECT_EQ(pe->x64, c.x64);
    auto bytes = FindPeResource(*pe, "PiPL", 16000, &error);
    ASSERT_TRUE(bytes.has_value()) << error;
    auto pipl = ParsePiPL(*bytes, &error);
    ASSERT_TRUE(pipl.has_value()) << error;
    EXPECT_EQ(pipl->properties.size(), 7u);
    for (const std::string& problem : CheckFilterPiPL(*pipl, c.x64)) ADD_FAILURE() << problem;
    // The codes are little-endian integers in the file: "8BIM" reads "MIB8".
    EXPECT_EQ(std::memcmp(bytes->data() + 10, "MIB8", 4), 0);
    EXPECT_EQ(std::memcmp(bytes->data() + 14, "dnik", 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, WindowsPluginTest,
                         ::testing::Values(BuildCase{TAVRISK_WIN32_BUILD_DIR, false}, BuildCase{TAVRISK_WIN64_BUILD_DIR, true}),
                         [](const auto& info) { return std::string(info.param.x64 ? "win64" : "win32"); });

// Builds a property list from (key, data) pairs.
std::vector<uint8_t> MakePiPL(const std::vector<std::pair<const char*, std::vector<uint8_t>>>& props,
                              int32_t lengthAdjust = 0) {
    std::vector<uint8_t> out;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    out.push_back(1);
    out.push_back(0);
    put32(0);
    put32(uint32_t(props.size()));
    for (const auto& [key, data] : props) {
        put32(FourCC("8BIM"));
        put32(FourCC(*reinterpret_cast<const char(*)[5]>(key)));
        put32(0);
        put32(uint32_t(int32_t(data.size()) + lengthAdjust));
        for (uint8_t b : data) out.push_back(b);
    }
    return out;
}

std::vector<uint8_t> Code(const char* code) {
    uint32_t v = FourCC(*reinterpret_cast<const char(*)[5]>(code));
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<std::pair<const char*, std::vector<uint8_t>>> GoodProperties(const char* entryKey) {
    std::vector<uint8_t> fici(28, 1);
    for (int i = 0; i < 7; ++i) fici[size_t(i) * 4 + 3] = 0;
    return {{"kind", Code("8BFM")},
            {"name", {10, 'T', 'a', 'v', 'r', 'i', 's', 'k', '.', '.', '.', 0}},
            {"catg", {10, 'B', 'r', 'a', 'c', 'k', 'w', 'a', 't', 'e', 'r', 0}},
            {"vers", {0, 0, 4, 0}},
            {entryKey, {'E', 'N', 'T', 'R', 'Y', 'P', 'O', 'I', 'N', 'T', 0, 0}},
            {"mode", {0x10, 0, 0, 0}},
            {"fici", fici}};
}

TEST(PiPLReaderTest, AcceptsAWellFormedListOnlyForItsArchitectureAndWithLengthsOfFourBytes) {
    auto pipl = ParsePiPL(MakePiPL(GoodProperties("8664")), nullptr);
    ASSERT_TRUE(pipl.has_value());
    EXPECT_TRUE(CheckFilterPiPL(*pipl, true).empty());
    EXPECT_FALSE(CheckFilterPiPL(*pipl, false).empty());

    auto props = GoodProperties("wx86");
    props[1].second.pop_back();  // name: 11 bytes, unpadded
    pipl = ParsePiPL(MakePiPL(props), nullptr);
    ASSERT_TRUE(pipl.has_value());
    EXPECT_FALSE(CheckFilterPiPL(*pipl, false).empty()) << "a length that is not a multiple of four";
}

TEST(PiPLReaderTest, RefusesDataThatRunsPastTheEnd) {
    std::string error;
    EXPECT_FALSE(ParsePiPL(MakePiPL(GoodProperties("wx86"), 400), &error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ParsePiPL(std::vector<uint8_t>{1, 0, 0}, &error).has_value());
}

}  // namespace
}  // namespace tav::inprocess
