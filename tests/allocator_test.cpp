// Large working buffers (runtime/allocator): where the threshold puts a block,
// the file-backed slots and their files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/allocator.h"

namespace tav {
namespace {

class LargeBufferTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (void* block : blocks_) FreeLargeBuffer(block);
    }
    uint8_t* Alloc(uint64_t size) {
        void* block = AllocLargeBuffer(size);
        if (block != nullptr) blocks_.push_back(block);
        return static_cast<uint8_t*>(block);
    }
    void Free(void* block) {
        std::erase(blocks_, block);
        FreeLargeBuffer(block);
    }
    std::vector<void*> blocks_;
};

// Blocks of 2 MiB and more start on a 2 MiB boundary, so the kernel can map
// them with large pages. Every block is writable to its end and keeps its
// own bytes.
TEST_F(LargeBufferTest, ThresholdDecidesTheKindAndEveryBlockIsWholeAndItsOwn) {
    constexpr uint64_t kTwoMiB = uint64_t(2) << 20;
    const struct {
        uint64_t size;
        bool fileBacked;
    } cases[] = {{1, false}, {1048575, false}, {1048576, true}, {3 * 1048576 + 7, true}, {kTwoMiB, true},
                 {5 * kTwoMiB + 4097, true}};
    std::vector<uint8_t*> blocks;
    for (const auto& c : cases) {
        uint8_t* block = Alloc(c.size);
        ASSERT_NE(block, nullptr) << c.size;
        EXPECT_EQ(FindBufferSlot(block) != nullptr, c.fileBacked) << c.size;
        EXPECT_TRUE(c.size < kTwoMiB || reinterpret_cast<uintptr_t>(block) % kTwoMiB == 0) << c.size;
        std::memset(block, int(0x30 + blocks.size()), size_t(c.size));
        blocks.push_back(block);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i][0], 0x30 + i) << cases[i].size;
        EXPECT_EQ(blocks[i][cases[i].size - 1], 0x30 + i) << cases[i].size;
    }
}

TEST_F(LargeBufferTest, SeventeenthFileBackedBlockIsRefusedAndAFreedSlotIsReusedWithItsName) {
    std::vector<void*> held;
    for (int i = 0; i < kBufferSlotCount; ++i) {
        held.push_back(Alloc(kFileBackedThreshold));
        ASSERT_NE(held.back(), nullptr) << "block " << i;
        EXPECT_EQ(BufferSlotIndex(FindBufferSlot(held.back())), i);
    }
    EXPECT_EQ(AllocLargeBuffer(kFileBackedThreshold), nullptr);

    const std::string name = FindBufferSlot(held[4])->path;
    Free(held[4]);
    void* again = Alloc(kFileBackedThreshold);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(BufferSlotIndex(FindBufferSlot(again)), 4);
    EXPECT_EQ(std::string(FindBufferSlot(again)->path), name);
}

TEST_F(LargeBufferTest, AnUnaddressableSizeIsRefusedAndLeavesTheSlotFree) {
    EXPECT_EQ(AllocLargeBuffer(uint64_t(1) << 62), nullptr);
    void* block = Alloc(kFileBackedThreshold);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(BufferSlotIndex(FindBufferSlot(block)), 0);
}

}  // namespace
}  // namespace tav
