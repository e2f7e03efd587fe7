#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/choke.h"
#include "host/allocator.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "tests/reference.h"

namespace tav {
namespace {

using Matte = std::vector<uint8_t>;


Matte MakeMatte(int width, int height, const std::function<int(int, int)>& pixel) {
    Matte matte(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) matte[size_t(y) * width + x] = uint8_t(pixel(x, y));
    return matte;
}

// Where two mattes first differ, for a readable failure.
std::string FirstDifference(const Matte& actual, const Matte& expected, int width) {
    if (actual.size() != expected.size()) return "sizes differ";
    for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return "first difference at x " + std::to_string(i % width) + ", y " + std::to_string(i / width) +
                   ": " + std::to_string(actual[i]) + " instead of " + std::to_string(expected[i]);
    return "";
}

#define EXPECT_SAME_MATTE(actual, expected, width) \
    EXPECT_TRUE((actual) == (expected)) << FirstDifference((actual), (expected), (width))

// Progress calls seen by the host, and an optional cancel raised from one.
struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    PluginState* cancelState = nullptr;
    int32_t cancelAtDone = -1;
};
ProgressLog g_progress;

void RecordProgress(int32_t done, int32_t total) {
    g_progress.calls.emplace_back(done, total);
    if (g_progress.cancelState != nullptr && done == g_progress.cancelAtDone)
        StoreShared(g_progress.cancelState->cancelRequest, 1);
}

// A state block with its filter record and Parameter record, holding the
// matte to choke in `finalMatte` as the worker leaves it before the choke.
class ChokeHarness {
public:
    ChokeHarness(const Matte& matte, int width, int height, int32_t amount)
        : recordMemory_(2048 / sizeof(uint64_t), 0), before_(matte), other_(matte.size(), 0xA7) {
        record_ = reinterpret_cast<FilterRecord*>(recordMemory_.data());
        record_->parameters = NewMacHandle(sizeof(ParameterRecord));
        GetParameters(record_)->MatteChoke = amount;
        record_->progressProc = RecordProgress;
        std::memset(&state_, 0, sizeof state_);
        state_.width = width;
        state_.height = height;
        state_.matteBytes = int64_t(matte.size());
        state_.finalMatte = before_.data();
        state_.rawMatte = other_.data();
        state_.workerHandle = kNoWorker;
        state_.filterRecord = record_;
        g_progress = ProgressLog{};
    }
    ~ChokeHarness() {
        auto* master = reinterpret_cast<MacMaster*>(record_->parameters);
        FreeLargeBuffer(master->data);
        FreeLargeBuffer(master);
    }
    ChokeHarness(const ChokeHarness&) = delete;
    ChokeHarness& operator=(const ChokeHarness&) = delete;

    PluginState& state() { return state_; }
    // The buffer that held the pre-choke matte, and the one that did not.
    Matte& before() { return before_; }
    Matte& other() { return other_; }

private:
    std::vector<uint64_t> recordMemory_;  // zero-filled, aligned for the record
    FilterRecord* record_;
    Matte before_;
    Matte other_;
    PluginState state_;
};

// The stage's result, read from the buffer it left in `finalMatte`.
Matte RunStage(const Matte& matte, int width, int height, int32_t amount) {
    ChokeHarness harness(matte, width, height, amount);
    EXPECT_TRUE(ChokeMatte(&harness.state()));
    return Matte(harness.state().finalMatte, harness.state().finalMatte + matte.size());
}

// The preview form's result, through blocks of the Large-buffer allocator.
Matte RunBuffer(const Matte& matte, int width, int height, int32_t amount) {
    auto* block = static_cast<uint8_t*>(AllocLargeBuffer(matte.size()));
    EXPECT_NE(block, nullptr);
    if (block == nullptr) return {};
    std::memcpy(block, matte.data(), matte.size());
    uint8_t* result = ChokeMatteBuffer(block, width, height, amount);
    EXPECT_NE(result, block);
    Matte out(result, result + matte.size());
    FreeLargeBuffer(result);
    return out;
}

Matte RunDirect(const Matte& matte, int width, int height, int32_t amount) {
    Matte out(matte.size(), 0x5C);
    ChokeMatteDirect(matte.data(), out.data(), width, height, amount);
    return out;
}

// ---- Every form against the pixel-by-pixel definition ----------------------

struct Size {
    int width;
    int height;
};

// Sizes around the block boundaries of the running method (k = 2n + 1), lines
// of one sample, and lines shorter and longer than the window.
const Size kSizes[] = {{1, 1},  {1, 9},  {9, 1},   {2, 3},   {7, 7},   {13, 14}, {15, 8},
                       {31, 17}, {64, 3}, {3, 64},  {70, 37}, {257, 5}, {5, 258}, {600, 6},
                       {6, 600}};

enum class Pattern { Noise, SparseSpikes, SoftShapes };

// Uniform noise saturates wide windows quickly, so two patterns keep the
// extremes rare: spikes of the other extreme in a field near the identity,
// and soft-edged shapes.
Matte MakePattern(Pattern pattern, int width, int height, bool grow, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255), low(0, 40), percent(0, 999);
    switch (pattern) {
    case Pattern::Noise:
        return MakeMatte(width, height, [&](int, int) { return byte(random); });
    case Pattern::SparseSpikes:
        return MakeMatte(width, height, [&](int, int) {
            int v = percent(random) < 8 ? byte(random) : low(random);
            return grow ? v : 255 - v;
        });
    case Pattern::SoftShapes: {
        const int cx = width / 3, cy = height / 2, r = std::max(1, std::min(width, height) / 3);
        return MakeMatte(width, height, [&](int x, int y) {
            const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const int edge = std::clamp((r * r - d) * 255 / std::max(1, r * r / 2), 0, 255);
            return std::clamp(edge + low(random) - 20, 0, 255);
        });
    }
    }
    return {};
}

class ChokeAgainstReferenceTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(ChokeAgainstReferenceTest, StageBufferAndDirectFormsMatchTheDefinitionByteForByte) {
    const int32_t amount = GetParam();
    std::mt19937 random(uint32_t(amount) * 2654435761u + 17u);
    for (const Size& size : kSizes)
        for (Pattern pattern : {Pattern::Noise, Pattern::SparseSpikes, Pattern::SoftShapes}) {
            SCOPED_TRACE(testing::Message() << size.width << " x " << size.height << ", pattern "
                                            << int(pattern));
            const Matte matte = MakePattern(pattern, size.width, size.height, amount > 0, random);
            const Matte expected = reference::Choke(matte, size.width, size.height, amount);
            EXPECT_SAME_MATTE(RunStage(matte, size.width, size.height, amount), expected, size.width);
            EXPECT_SAME_MATTE(RunBuffer(matte, size.width, size.height, amount), expected, size.width);
            EXPECT_SAME_MATTE(RunDirect(matte, size.width, size.height, amount), expected, size.width);
        }
}

// Amounts beyond the setting's range of -128..128 exercise windows far larger
// than any image here.
INSTANTIATE_TEST_SUITE_P(Amounts, ChokeAgainstReferenceTest,
                         ::testing::Values(1, -1, 2, -2, 3, -4, 7, -12, 31, -64, 128, -128, 1000, -100000),
                         [](const testing::TestParamInfo<int32_t>& info) {
                             return (info.param < 0 ? "Shrink" : "Grow") +
                                    std::to_string(info.param < 0 ? -info.param : info.param);
                         });

// ---- Cases with known results ------------------------------------------------

struct KnownCase {
    const char* name;
    int width;
    int height;
    int32_t amount;
    std::function<int(int, int)> input;
    std::function<int(int, int)> expected;
};

bool Inside(int x, int y, int left, int top, int right, int bottom) {
    return x >= left && x <= right && y >= top && y <= bottom;
}

// Values rising to the right and downward: a square's maximum is its
// bottom-right pixel and its minimum its top-left one.
int Ramp(int x, int y) { return 3 * x + 7 * y; }

const KnownCase kKnownCases[] = {
    {"SinglePixelGrowsIntoThreeByThreeSquare", 7, 7, 1,
     [](int x, int y) { return x == 3 && y == 3 ? 255 : 0; },
     [](int x, int y) { return Inside(x, y, 2, 2, 4, 4) ? 255 : 0; }},
    {"SinglePixelVanishesWhenShrunk", 7, 7, -1, [](int x, int y) { return x == 3 && y == 3 ? 255 : 0; },
     [](int, int) { return 0; }},
    {"SingleHoleGrowsIntoFiveByFiveWhenShrunk", 9, 8, -2,
     [](int x, int y) { return x == 4 && y == 3 ? 0 : 255; },
     [](int x, int y) { return Inside(x, y, 2, 1, 6, 5) ? 0 : 255; }},
    {"CornerPixelsGrowOnlyInward", 9, 6, 2,
     [](int x, int y) { return (x == 0 && y == 0) || (x == 8 && y == 5) ? 255 : 0; },
     [](int x, int y) { return Inside(x, y, 0, 0, 2, 2) || Inside(x, y, 6, 3, 8, 5) ? 255 : 0; }},
    {"GrowTakesTheClippedSquaresBottomRight", 12, 9, 2, Ramp,
     [](int x, int y) { return Ramp(std::min(x + 2, 11), std::min(y + 2, 8)); }},
    {"ShrinkTakesTheClippedSquaresTopLeft", 12, 9, -3, Ramp,
     [](int x, int y) { return Ramp(std::max(x - 3, 0), std::max(y - 3, 0)); }},
    {"AmountBeyondTheImageGrowsToTheGlobalMaximum", 5, 4, 128,
     [](int x, int y) { return x == 2 && y == 3 ? 231 : (x * 37 + y * 91) % 200; },
     [](int, int) { return 231; }},
    {"AmountBeyondTheImageShrinksToTheGlobalMinimum", 5, 4, -128,
     [](int x, int y) { return x == 4 && y == 1 ? 17 : 100 + (x * 37 + y * 91) % 100; },
     [](int, int) { return 17; }},
    {"OpaqueMatteStaysOpaqueWhenShrunk", 10, 8, -3, [](int, int) { return 255; },
     [](int, int) { return 255; }},
    {"OpaqueMatteStaysOpaqueWhenShrunkBeyondItsSize", 10, 8, -128, [](int, int) { return 255; },
     [](int, int) { return 255; }},
    {"TransparentMatteStaysTransparentWhenGrown", 10, 8, 128, [](int, int) { return 0; },
     [](int, int) { return 0; }},
    {"OneColumnGrowsAlongItsLength", 1, 9, 2, [](int, int y) { return y == 6 ? 200 : 10; },
     [](int, int y) { return y >= 4 && y <= 8 ? 200 : 10; }},
    {"OneRowShrinksAlongItsLength", 9, 1, -1, [](int x, int) { return x == 0 || x == 5 ? 30 : 240; },
     [](int x, int) { return x <= 1 || (x >= 4 && x <= 6) ? 30 : 240; }},
};

class ChokeKnownCaseTest : public ::testing::TestWithParam<KnownCase> {};

TEST_P(ChokeKnownCaseTest, StageAndBufferGiveTheExpectedMatte) {
    const KnownCase& c = GetParam();
    const Matte input = MakeMatte(c.width, c.height, c.input);
    const Matte expected = MakeMatte(c.width, c.height, c.expected);
    EXPECT_SAME_MATTE(RunStage(input, c.width, c.height, c.amount), expected, c.width);
    EXPECT_SAME_MATTE(RunBuffer(input, c.width, c.height, c.amount), expected, c.width);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChokeKnownCaseTest, ::testing::ValuesIn(kKnownCases),
                         [](const testing::TestParamInfo<KnownCase>& info) { return info.param.name; });

// ---- The worker's stage ------------------------------------------------------

constexpr int kStageWidth = 23;
constexpr int kStageHeight = 13;

Matte StageInput() {
    return MakeMatte(kStageWidth, kStageHeight, [](int x, int y) { return (x * 29 + y * 53 + x * y) % 256; });
}

TEST(ChokeMatteStageTest, ExchangesTheBuffersAndKeepsThePreChokeMatteInRawMatte) {
    const Matte input = StageInput();
    ChokeHarness harness(input, kStageWidth, kStageHeight, -2);
    uint8_t* const wasRaw = harness.state().rawMatte;
    uint8_t* const wasFinal = harness.state().finalMatte;
    ASSERT_TRUE(ChokeMatte(&harness.state()));
    EXPECT_EQ(harness.state().rawMatte, wasFinal);
    EXPECT_EQ(harness.state().finalMatte, wasRaw);
    EXPECT_SAME_MATTE(harness.before(), input, kStageWidth);
    EXPECT_SAME_MATTE(harness.other(), reference::Choke(input, kStageWidth, kStageHeight, -2), kStageWidth);
}

TEST(ChokeMatteStageTest, ReportsOneStepPerRowFromProgressBaseWithoutAdvancingIt) {
    ChokeHarness harness(StageInput(), kStageWidth, kStageHeight, 3);
    harness.state().reportProgress = 1;
    harness.state().progressBase = 250;
    harness.state().progressTotal = 263;
    ASSERT_TRUE(ChokeMatte(&harness.state()));
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int y = 0; y < kStageHeight; ++y) expected.emplace_back(250 + y, 263);
    EXPECT_EQ(g_progress.calls, expected);
    EXPECT_EQ(harness.state().progressBase, 250);
}

TEST(ChokeMatteStageTest, ReportsNothingWhenProgressIsOff) {
    ChokeHarness harness(StageInput(), kStageWidth, kStageHeight, 3);
    harness.state().progressTotal = 263;
    ASSERT_TRUE(ChokeMatte(&harness.state()));
    EXPECT_TRUE(g_progress.calls.empty());
}

TEST(ChokeMatteStageTest, CancelBeforeTheFirstRowStopsBeforeAnyPixelIsWritten) {
    ChokeHarness harness(StageInput(), kStageWidth, kStageHeight, 5);
    harness.state().workerHandle = 1;
    harness.state().cancelRequest = 1;
    EXPECT_FALSE(ChokeMatte(&harness.state()));
    EXPECT_SAME_MATTE(harness.other(), Matte(harness.other().size(), 0xA7), kStageWidth);
    EXPECT_SAME_MATTE(harness.before(), StageInput(), kStageWidth);
}

TEST(ChokeMatteStageTest, CancelRaisedDuringARunStopsBeforeTheNextRow) {
    const Matte input = StageInput();
    ChokeHarness harness(input, kStageWidth, kStageHeight, -4);
    harness.state().workerHandle = 1;
    harness.state().reportProgress = 1;
    harness.state().progressBase = 40;
    g_progress.cancelState = &harness.state();
    g_progress.cancelAtDone = 40 + 5;
    EXPECT_FALSE(ChokeMatte(&harness.state()));
    EXPECT_EQ(g_progress.calls.size(), 6u);

    // Rows 0..4 are written, the rest untouched.
    Matte expected = reference::Choke(input, kStageWidth, kStageHeight, -4);
    std::fill(expected.begin() + 5 * kStageWidth, expected.end(), 0xA7);
    EXPECT_SAME_MATTE(harness.other(), expected, kStageWidth);
}

TEST(ChokeMatteStageTest, CancelRequestWithoutARecordedWorkerIsIgnored) {
    const Matte input = StageInput();
    ChokeHarness harness(input, kStageWidth, kStageHeight, 2);
    harness.state().cancelRequest = 1;
    EXPECT_TRUE(ChokeMatte(&harness.state()));
    EXPECT_SAME_MATTE(harness.other(), reference::Choke(input, kStageWidth, kStageHeight, 2), kStageWidth);
}

// ---- The preview's form ------------------------------------------------------

class ChokeMatteBufferTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (void* block : blocks_) FreeLargeBuffer(block);
    }
    uint8_t* Hold(uint8_t* block) {
        if (block != nullptr) blocks_.push_back(block);
        return block;
    }

    std::vector<void*> blocks_;
};

// 1024 x 1024 bytes: the smallest matte kept in a temporary file, so that the
// slot table shows whether a block is still held.
constexpr int kFileWidth = 1024;
constexpr int kFileHeight = 1024;

Matte FileSizedMatte() {
    return MakeMatte(kFileWidth, kFileHeight, [](int x, int y) { return (x * 7 + y * 13) % 251 < 5 ? 255 : 0; });
}

TEST_F(ChokeMatteBufferTest, ReturnsANewBlockAndReleasesTheInput) {
    const Matte input = FileSizedMatte();
    uint8_t* block = static_cast<uint8_t*>(AllocLargeBuffer(input.size()));
    ASSERT_NE(block, nullptr);
    ASSERT_NE(FindBufferSlot(block), nullptr);
    std::memcpy(block, input.data(), input.size());

    uint8_t* result = Hold(ChokeMatteBuffer(block, kFileWidth, kFileHeight, 2));
    ASSERT_NE(result, nullptr);
    EXPECT_NE(result, block);
    EXPECT_EQ(FindBufferSlot(block), nullptr) << "the input block is still held";
    EXPECT_SAME_MATTE(Matte(result, result + input.size()), reference::Choke(input, kFileWidth, kFileHeight, 2),
                      kFileWidth);
}

TEST_F(ChokeMatteBufferTest, WithoutMemoryForTheResultReturnsTheInputUnchanged) {
    const Matte input = FileSizedMatte();
    uint8_t* block = nullptr;
    for (int i = 0; i < kBufferSlotCount; ++i) {
        block = Hold(static_cast<uint8_t*>(AllocLargeBuffer(input.size())));
        ASSERT_NE(block, nullptr) << "block " << i;
    }
    std::memcpy(block, input.data(), input.size());

    EXPECT_EQ(ChokeMatteBuffer(block, kFileWidth, kFileHeight, -3), block);
    EXPECT_NE(FindBufferSlot(block), nullptr) << "the input block was released";
    EXPECT_SAME_MATTE(Matte(block, block + input.size()), input, kFileWidth);
}

}  // namespace
}  // namespace tav
