#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/allocator.h"
#include "output/preview_matte.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;

// The passes take their scratch memory from new (std::nothrow) []; while this
// is set, every such request fails.
bool g_failNothrowArrays = false;

struct NoScratchMemory {
    NoScratchMemory() { g_failNothrowArrays = true; }
    ~NoScratchMemory() { g_failNothrowArrays = false; }
};

}  // namespace
}  // namespace tav

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (tav::g_failNothrowArrays) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace tav {
namespace {

enum class Pass { Blur, Choke };

uint8_t* RunPass(Pass pass, uint8_t* block, int width, int height, int amount) {
    return pass == Pass::Blur ? BlurMatteBuffer(block, width, height, amount)
                              : ChokeMatteBuffer(block, width, height, amount);
}

Matte Want(Pass pass, const Matte& in, int width, int height, int amount) {
    return pass == Pass::Blur ? reference::Blur(in, width, height, amount)
                              : reference::Choke(in, width, height, amount);
}

Matte MakeMatte(int width, int height) {
    Matte matte(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            matte[size_t(y) * width + x] = (x * 7 + y * 13) % 251 < 5 ? 255 : uint8_t((x * y) % 97);
    return matte;
}

// A block of the Large-buffer allocator holding `matte`.
uint8_t* BlockOf(const Matte& matte) {
    auto* block = static_cast<uint8_t*>(AllocLargeBuffer(matte.size()));
    if (block != nullptr) std::memcpy(block, matte.data(), matte.size());
    return block;
}

// 1024 x 1024 bytes: the smallest matte kept in a temporary file, so that the
// slot table shows whether a block is still held.
constexpr int kFileSide = 1024;

struct Case {
    const char* name;
    Pass pass;
    int width, height, amount;
};

class PreviewMatteTest : public ::testing::TestWithParam<Case> {};

TEST_P(PreviewMatteTest, ReturnsANewBlockWithThePassAndReleasesTheInput) {
    const Case& c = GetParam();
    const Matte input = MakeMatte(c.width, c.height);
    uint8_t* block = BlockOf(input);
    ASSERT_NE(block, nullptr);
    const bool fileBacked = FindBufferSlot(block) != nullptr;
    uint8_t* result = RunPass(c.pass, block, c.width, c.height, c.amount);
    ASSERT_NE(result, block);
    if (fileBacked) {
        EXPECT_EQ(FindBufferSlot(block), nullptr) << "the input block is still held";
    }
    const Matte got(result, result + input.size());
    FreeLargeBuffer(result);
    const Matte want = Want(c.pass, input, c.width, c.height, c.amount);
    EXPECT_TRUE(got == want) << FirstDifference(got, want, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, PreviewMatteTest,
    ::testing::Values(Case{"blur", Pass::Blur, 33, 21, 9},
                      // At a zoomed-in scale the radius can exceed a byte.
                      Case{"blurZoomedIn", Pass::Blur, 30, 20, 1000},
                      Case{"blurFileSized", Pass::Blur, kFileSide, kFileSide, 3},
                      Case{"shrink", Pass::Choke, 23, 13, -2}, Case{"grow", Pass::Choke, 40, 9, 5},
                      Case{"chokeFileSized", Pass::Choke, kFileSide, kFileSide, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PreviewMatteMemoryTest, WithoutABlockForTheResultTheInputComesBackUnchangedAndHeld) {
    const Matte input = MakeMatte(kFileSide, kFileSide);
    struct Held {
        std::vector<void*> blocks;
        ~Held() {
            for (void* b : blocks) FreeLargeBuffer(b);
        }
    } held;
    for (int i = 0; i <= kBufferSlotCount; ++i) held.blocks.push_back(AllocLargeBuffer(input.size()));
    ASSERT_EQ(held.blocks.back(), nullptr) << "a slot is still free";
    auto* block = static_cast<uint8_t*>(held.blocks[kBufferSlotCount - 1]);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, input.data(), input.size());
    for (const auto& [pass, amount] : {std::pair{Pass::Blur, 4}, std::pair{Pass::Choke, -3}}) {
        EXPECT_EQ(RunPass(pass, block, kFileSide, kFileSide, amount), block);
        EXPECT_NE(FindBufferSlot(block), nullptr) << "the input block was released";
        EXPECT_TRUE(Matte(block, block + input.size()) == input);
    }
}

TEST(PreviewMatteMemoryTest, WithoutScratchTheBlurReturnsItsInputAndTheChokeWorksPixelByPixel) {
    const Matte input = MakeMatte(61, 47);
    uint8_t* block = BlockOf(input);
    ASSERT_NE(block, nullptr);
    uint8_t* blurred;
    {
        NoScratchMemory failing;
        blurred = BlurMatteBuffer(block, 61, 47, 6);
    }
    ASSERT_EQ(blurred, block);
    EXPECT_TRUE(Matte(block, block + input.size()) == input);
    uint8_t* choked;
    {
        NoScratchMemory failing;
        choked = ChokeMatteBuffer(block, 61, 47, -7);
    }
    ASSERT_NE(choked, block);
    const Matte got(choked, choked + input.size());
    FreeLargeBuffer(choked);
    EXPECT_TRUE(got == reference::Choke(input, 61, 47, -7));
}

TEST(PreviewMatteMemoryTest, NoBlockOrAnEmptyAreaComesBackUntouched) {
    for (Pass pass : {Pass::Blur, Pass::Choke}) {
        EXPECT_EQ(RunPass(pass, nullptr, 10, 10, 2), nullptr);
        uint8_t byte = 42;
        EXPECT_EQ(RunPass(pass, &byte, 0, 10, 2), &byte);
        EXPECT_EQ(RunPass(pass, &byte, 10, 0, 2), &byte);
        EXPECT_EQ(byte, 42);
    }
}

}  // namespace
}  // namespace tav
