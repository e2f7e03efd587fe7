#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/allocator.h"

namespace tav {
namespace {

class LargeBufferTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (void* block : blocks_) FreeLargeBuffer(block);
    }
    void* Alloc(uint64_t size) {
        void* block = AllocLargeBuffer(size);
        if (block != nullptr) blocks_.push_back(block);
        return block;
    }
    void Free(void* block) {
        std::erase(blocks_, block);
        FreeLargeBuffer(block);
    }
    std::vector<void*> blocks_;
};

struct SizeCase {
    uint64_t size;
    bool fileBacked;
};

class LargeBufferKindTest : public LargeBufferTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(LargeBufferKindTest, ThresholdDecidesTheKindAndTheWholeBlockIsWritable) {
    const SizeCase& c = GetParam();
    auto* block = static_cast<uint8_t*>(Alloc(c.size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(FindBufferSlot(block) != nullptr, c.fileBacked);
    std::memset(block, 0xA5, size_t(c.size));
    EXPECT_EQ(block[0], 0xA5);
    EXPECT_EQ(block[c.size - 1], 0xA5);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeBufferKindTest,
                         ::testing::Values(SizeCase{1, false}, SizeCase{1048575, false},
                                           SizeCase{1048576, true}, SizeCase{3 * 1048576 + 7, true}));

// Blocks of 2 MiB and more start on a 2 MiB boundary, so the kernel can map
// them with large pages; two such blocks never overlap.
TEST_F(LargeBufferTest, BigFileBackedBlocksAreAlignedForLargePagesAndKeepTheirOwnBytes) {
    constexpr uint64_t kTwoMiB = uint64_t(2) << 20;
    const uint64_t sizes[] = {kTwoMiB, 5 * kTwoMiB + 4097};
    std::vector<uint8_t*> views;
    for (uint64_t size : sizes) {
        auto* block = static_cast<uint8_t*>(Alloc(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kTwoMiB, 0u) << size;
        std::memset(block, int(0x30 + views.size()), size_t(size));
        views.push_back(block);
    }
    for (size_t i = 0; i < views.size(); ++i) {
        EXPECT_EQ(views[i][0], 0x30 + i);
        EXPECT_EQ(views[i][sizes[i] - 1], 0x30 + i);
    }
}

TEST_F(LargeBufferTest, SeventeenthFileBackedBlockIsRefusedAndAFreedSlotIsReusedWithItsName) {
    std::vector<void*> held;
    for (int i = 0; i < kBufferSlotCount; ++i) {
        void* block = Alloc(kFileBackedThreshold);
        ASSERT_NE(block, nullptr) << "block " << i;
        EXPECT_EQ(BufferSlotIndex(FindBufferSlot(block)), i);
        held.push_back(block);
    }
    EXPECT_EQ(AllocLargeBuffer(kFileBackedThreshold), nullptr);

    BufferSlot* fifth = FindBufferSlot(held[4]);
    std::string name = fifth->path;
    Free(held[4]);
    void* again = Alloc(kFileBackedThreshold);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(BufferSlotIndex(FindBufferSlot(again)), 4);
    EXPECT_EQ(std::string(FindBufferSlot(again)->path), name);
}

TEST_F(LargeBufferTest, SlotFileNamesCarryThePrefixAndTheSlotNumber) {
    void* block = Alloc(kFileBackedThreshold);
    ASSERT_NE(block, nullptr);
    std::string path = FindBufferSlot(block)->path;
    std::string file = path.substr(path.find_last_of("/\\") + 1);
    EXPECT_EQ(file, "tav1.tmp");
}

TEST_F(LargeBufferTest, ReleasingAFileBackedBlockLeavesNoFile) {
    void* block = Alloc(2 * kFileBackedThreshold);
    ASSERT_NE(block, nullptr);
    std::string path = FindBufferSlot(block)->path;
    Free(block);
    EXPECT_FALSE(platform::FileExists(path.c_str()));
    EXPECT_EQ(FindBufferSlot(block), nullptr);
}

TEST_F(LargeBufferTest, ReleasingNullDoesNothing) { FreeLargeBuffer(nullptr); }

TEST_F(LargeBufferTest, AnUnaddressableSizeIsRefusedAndLeavesTheSlotFree) {
    // Far beyond what any file or address space holds.
    EXPECT_EQ(AllocLargeBuffer(uint64_t(1) << 62), nullptr);
    void* block = Alloc(kFileBackedThreshold);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(BufferSlotIndex(FindBufferSlot(block)), 0);
}

TEST(MacHandleTest, DataIsZeroAndMasterIsTaggedFOTO) {
    Handle handle = NewMacHandle(4096);
    ASSERT_NE(handle, nullptr);
    const auto* data = static_cast<const uint8_t*>(MacHandleData(handle));
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(data[i], 0) << "byte " << i;
    const auto* master = reinterpret_cast<const MacMaster*>(handle);
    EXPECT_EQ(master->tag, FourCC("FOTO"));
    // Stored as the little-endian integer: the bytes read "OTOF".
    EXPECT_EQ(std::memcmp(&master->tag, "OTOF", 4), 0);
    DisposeMacHandle(handle);
}

TEST(SetHostRectTest, ArgumentsAreLeftTopRightBottom) {
    Rect r{};
    SetHostRect(&r, 5, 7, 20, 30);
    EXPECT_EQ(r.top, 7);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.bottom, 30);
    EXPECT_EQ(r.right, 20);
}

}  // namespace
}  // namespace tav
