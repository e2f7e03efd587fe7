// The clipboard's POSIX stand-in (platform/posix/clipboard): one holder at a
// time, its picture only while open, and changes held back until it closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/clipboard.h"
#include "platform/posix/in_process_clipboard.h"

namespace tav {
namespace {

class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        platform::CloseClipboard();
        platform::ClearClipboard();
    }
    // The bytes of the clipboard's picture, or nullopt when it gives none.
    static std::optional<std::vector<uint8_t>> Held() {
        platform::MemoryHandle data = platform::GetClipboardDib();
        if (data == nullptr) return std::nullopt;
        const auto* locked = static_cast<const uint8_t*>(platform::LockMovable(data));
        const size_t size = platform::MovableSize(data);
        EXPECT_TRUE(size == 0 || platform::MovableFromPointer(locked) == data);
        std::vector<uint8_t> bytes(locked, locked + size);
        platform::UnlockMovable(data);
        return bytes;
    }
};

TEST_F(ClipboardTest, OpensForOneHolderAtATime) {
    EXPECT_TRUE(platform::OpenClipboard(0));
    EXPECT_FALSE(platform::OpenClipboard(0));
    EXPECT_FALSE(platform::OpenClipboard(1234));
    platform::CloseClipboard();
    EXPECT_TRUE(platform::OpenClipboard(1234));
    platform::CloseClipboard();
    platform::CloseClipboard();  // closing a closed clipboard does nothing
    EXPECT_TRUE(platform::OpenClipboard(0));
}

// The clipboard holds a copy, also of an empty block.
TEST_F(ClipboardTest, GivesACopyOfItsPictureOnlyWhileOpen) {
    for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}, std::vector<uint8_t>{}}) {
        std::vector<uint8_t> source = bytes;
        platform::SetClipboardDib(source.data(), source.size());
        std::fill(source.begin(), source.end(), 0);
        EXPECT_EQ(platform::GetClipboardDib(), nullptr);
        ASSERT_TRUE(platform::OpenClipboard(0));
        EXPECT_EQ(Held(), bytes);
        platform::CloseClipboard();
        EXPECT_EQ(platform::GetClipboardDib(), nullptr);
    }
}

TEST_F(ClipboardTest, ChangesWaitUntilTheHolderCloses) {
    const std::vector<uint8_t> first = {9, 8, 7}, second = {1};
    platform::SetClipboardDib(first.data(), first.size());
    ASSERT_TRUE(platform::OpenClipboard(0));
    platform::SetClipboardDib(second.data(), second.size());
    platform::ClearClipboard();
    EXPECT_EQ(Held(), first);
    platform::CloseClipboard();

    platform::ClearClipboard();
    ASSERT_TRUE(platform::OpenClipboard(0));
    EXPECT_EQ(Held(), std::nullopt);
}

}  // namespace
}  // namespace tav
