#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "runtime/allocator.h"
#include "output/preview_matte.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

// The passes take their scratch memory from new (std::nothrow) []; while this
// is set, every such request fails.
bool g_failNothrowArrays = false;

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

using test::Matte;

enum class Pass { Blur, Choke };

uint8_t* RunPass(Pass pass, uint8_t* block, int width, int height, int amount, bool scratch = true) {
    g_failNothrowArrays = !scratch;
    uint8_t* result = pass == Pass::Blur ? BlurMatteBuffer(block, width, height, amount)
                                         : ChokeMatteBuffer(block, width, height, amount);
    g_failNothrowArrays = false;
    return result;
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

// A new block holds the pass's result and the input is released; without
// scratch memory the choke is computed pixel by pixel, with the same result.
// At a zoomed-in scale the blur's radius can exceed a byte.
TEST(PreviewMatteTest, ReturnsANewBlockWithThePassAndReleasesTheInput) {
    const struct {
        Pass pass;
        int width, height, amount;
        bool scratch;
    } cases[] = {{Pass::Blur, 33, 21, 9, true}, {Pass::Blur, 30, 20, 1000, true},
                 {Pass::Blur, kFileSide, kFileSide, 3, true}, {Pass::Choke, 23, 13, -2, true},
                 {Pass::Choke, 40, 9, 5, true}, {Pass::Choke, kFileSide, kFileSide, 2, true},
                 {Pass::Choke, 61, 47, -7, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.pass == Pass::Blur ? "blur " : "choke ") << c.amount << " of "
                                          << c.width << " x " << c.height << (c.scratch ? "" : " without scratch"));
        const Matte input = test::MakeMatte(c.width, c.height, test::Pattern::SoftEdges, 3);
        uint8_t* block = BlockOf(input);
        ASSERT_NE(block, nullptr);
        const bool fileBacked = FindBufferSlot(block) != nullptr;
        uint8_t* result = RunPass(c.pass, block, c.width, c.height, c.amount, c.scratch);
        ASSERT_NE(result, block);
        EXPECT_FALSE(fileBacked && FindBufferSlot(block) != nullptr) << "the input block is still held";
        const Matte got(result, result + input.size());
        FreeLargeBuffer(result);
        EXPECT_TRUE(got == (c.pass == Pass::Blur ? reference::Blur(input, c.width, c.height, c.amount)
                                                 : reference::Choke(input, c.width, c.height, c.amount)));
    }
}

// Without a block for the result, or (the blur) without scratch memory, the
// input comes back unchanged and still held; so does no block or an empty area.
TEST(PreviewMatteMemoryTest, WithoutMemoryTheInputComesBackUnchangedAndHeld) {
    const Matte input = test::MakeMatte(kFileSide, kFileSide, test::Pattern::Sparse, 4);
    struct Held {
        std::vector<void*> blocks;
        ~Held() {
            for (void* b : blocks) FreeLargeBuffer(b);
        }
    } held;
    held.blocks.push_back(BlockOf(input));
    auto* block = static_cast<uint8_t*>(held.blocks[0]);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(RunPass(Pass::Blur, block, kFileSide, kFileSide, 6, false), block);
    for (int i = 0; i < kBufferSlotCount; ++i) held.blocks.push_back(AllocLargeBuffer(input.size()));
    ASSERT_EQ(held.blocks.back(), nullptr) << "a slot is still free";
    for (const auto& [pass, amount] : {std::pair{Pass::Blur, 4}, std::pair{Pass::Choke, -3}})
        EXPECT_EQ(RunPass(pass, block, kFileSide, kFileSide, amount), block);
    EXPECT_NE(FindBufferSlot(block), nullptr) << "the input block was released";
    EXPECT_TRUE(Matte(block, block + input.size()) == input);

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
