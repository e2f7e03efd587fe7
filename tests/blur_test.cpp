#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/blur.h"
#include "host/allocator.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "tests/reference.h"

namespace tav {
namespace {

using Matte = std::vector<uint8_t>;


// ---- Mattes -----------------------------------------------------------------

enum class Pattern { Noise, Sparse, SoftEdges, Bands };

Matte MakeMatte(int width, int height, Pattern pattern, uint32_t seed) {
    std::mt19937 random(seed);
    Matte matte(size_t(width) * height);
    const double cx = width * 0.4, cy = height * 0.6, radius = std::max(width, height) * 0.3 + 1.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t& m = matte[size_t(y) * width + x];
            switch (pattern) {
                case Pattern::Noise:
                    m = uint8_t(random() & 0xFF);
                    break;
                case Pattern::Sparse:
                    m = (random() % 23 == 0) ? 255 : 0;
                    break;
                case Pattern::SoftEdges: {
                    const double inside = radius - std::hypot(x - cx, y - cy);
                    m = uint8_t(std::clamp(128.0 + inside * 60.0, 0.0, 255.0));
                    if (random() % 50 == 0) m = uint8_t(random() & 0xFF);  // stray keying noise
                    break;
                }
                case Pattern::Bands:
                    m = ((x / 7 + y / 5) % 3 == 0) ? 255 : ((x + y) % 4 == 0 ? 255 : 0);
                    break;
            }
        }
    }
    return matte;
}

// ---- A state block as the worker hands it to the blur ------------------------

struct ProgressCall {
    int32_t done;
    int32_t total;
    bool operator==(const ProgressCall&) const = default;
};

std::vector<ProgressCall> g_progress;
PluginState* g_cancelState = nullptr;
int32_t g_cancelAtStep = -1;

void RecordProgress(int32_t done, int32_t total) {
    g_progress.push_back({done, total});
    if (g_cancelState != nullptr && done == g_cancelAtStep) StoreShared(g_cancelState->cancelRequest, int32_t(1));
}

class BlurRun {
public:
    BlurRun(const Matte& raw, int width, int height, int radius)
        : raw_(raw), final_(raw.size(), 0xA5), record_(2048, 0) {
        record()->parameters = NewMacHandle(sizeof(ParameterRecord));
        GetParameters(record())->MatteBlur = uint8_t(radius);
        record()->progressProc = RecordProgress;
        state_.width = width;
        state_.height = height;
        state_.rawMatte = raw_.data();
        state_.finalMatte = final_.data();
        state_.matteBytes = int64_t(raw_.size());
        state_.workerHandle = kNoWorker;
        state_.filterRecord = record();
        g_progress.clear();
        g_cancelState = nullptr;
        g_cancelAtStep = -1;
    }
    ~BlurRun() {
        Handle parameters = record()->parameters;
        FreeLargeBuffer(MacHandleData(parameters));
        FreeLargeBuffer(parameters);
        g_cancelState = nullptr;
    }
    BlurRun(const BlurRun&) = delete;
    BlurRun& operator=(const BlurRun&) = delete;

    FilterRecord* record() { return reinterpret_cast<FilterRecord*>(record_.data()); }
    PluginState& state() { return state_; }
    const Matte& raw() const { return raw_; }
    const Matte& result() const { return final_; }

private:
    Matte raw_;
    Matte final_;
    std::vector<unsigned char> record_;
    PluginState state_{};
};

// Restores the blur's memory to normal however the test ends.
struct MemoryLimit {
    explicit MemoryLimit(int granted) { SetBlurMemoryLimitForTesting(granted); }
    ~MemoryLimit() { SetBlurMemoryLimitForTesting(-1); }
};

Matte BlurWithBuffer(const Matte& in, int width, int height, int radius) {
    auto* block = static_cast<uint8_t*>(AllocLargeBuffer(in.size()));
    EXPECT_NE(block, nullptr);
    if (block == nullptr) return {};
    std::memcpy(block, in.data(), in.size());
    uint8_t* result = BlurMatteBuffer(block, width, height, radius);
    EXPECT_NE(result, block);
    Matte out(result, result + in.size());
    FreeLargeBuffer(result);
    return out;
}

// Position of the first difference, for readable failures.
std::string FirstDifference(const Matte& got, const Matte& want, int width) {
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i])
            return "first difference at x=" + std::to_string(i % width) + " y=" + std::to_string(i / width) +
                   ": got " + std::to_string(got[i]) + ", want " + std::to_string(want[i]);
    return "";
}

// ---- Both forms against the plain blur ----------------------------------------

struct Case {
    int width, height, radius;
    Pattern pattern;
    uint32_t seed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " r=" << c.radius << " pattern=" << int(c.pattern) << " seed=" << c.seed;
}

class BlurAgainstPlainTest : public ::testing::TestWithParam<Case> {};

TEST_P(BlurAgainstPlainTest, BothFormsMatchThePlainBlurByteForByte) {
    const Case& c = GetParam();
    const Matte raw = MakeMatte(c.width, c.height, c.pattern, c.seed);
    const Matte want = reference::Blur(raw, c.width, c.height, c.radius);

    if (c.radius <= 255) {
        BlurRun run(raw, c.width, c.height, c.radius);
        ASSERT_TRUE(BlurMatte(&run.state()));
        EXPECT_TRUE(run.result() == want) << FirstDifference(run.result(), want, c.width);
        EXPECT_TRUE(run.raw() == raw) << "the input matte was changed";
    }
    const Matte buffered = BlurWithBuffer(raw, c.width, c.height, c.radius);
    EXPECT_TRUE(buffered == want) << FirstDifference(buffered, want, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BlurAgainstPlainTest,
    ::testing::Values(
        // Single samples and single lines: the length-1 direction only copies.
        Case{1, 1, 1, Pattern::Noise, 1}, Case{1, 1, 255, Pattern::Noise, 2},
        Case{1, 57, 4, Pattern::Noise, 3}, Case{57, 1, 4, Pattern::Noise, 4},
        Case{1, 300, 255, Pattern::Noise, 5}, Case{300, 1, 255, Pattern::Noise, 6},
        // Lines no longer than the radius: every window is the whole line.
        Case{5, 3, 255, Pattern::Noise, 7}, Case{9, 9, 9, Pattern::Noise, 8}, Case{10, 10, 9, Pattern::Noise, 9},
        Case{40, 3, 20, Pattern::Bands, 10}, Case{3, 40, 20, Pattern::Bands, 11},
        // Radius 1: two-tap windows at both ends of every line.
        Case{2, 2, 1, Pattern::Noise, 12}, Case{17, 33, 1, Pattern::Noise, 13},
        Case{64, 48, 1, Pattern::SoftEdges, 14},
        // Widths and heights around whole groups of lines and not.
        Case{15, 16, 3, Pattern::Noise, 15}, Case{16, 15, 3, Pattern::Noise, 16},
        Case{33, 17, 6, Pattern::Noise, 17}, Case{37, 53, 5, Pattern::Sparse, 18},
        Case{100, 7, 8, Pattern::Bands, 19}, Case{7, 100, 8, Pattern::Bands, 20},
        // Realistic mattes and the largest radius.
        Case{120, 90, 10, Pattern::SoftEdges, 21}, Case{301, 203, 255, Pattern::SoftEdges, 22},
        Case{260, 270, 128, Pattern::Noise, 23}, Case{97, 61, 255, Pattern::Sparse, 24},
        // The preview's form at a zoomed-in scale can exceed the byte range.
        Case{30, 20, 1000, Pattern::Noise, 25}, Case{600, 2, 300, Pattern::SoftEdges, 26}));

TEST(BlurRandomizedTest, ManySizesAndRadiiMatchThePlainBlur) {
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 150; ++trial) {
        const int width = 1 + int(random() % 70);
        const int height = 1 + int(random() % 70);
        const int radius = (trial % 10 == 0) ? 255 : 1 + int(random() % 80);
        const auto pattern = Pattern(random() % 4);
        const Matte raw = MakeMatte(width, height, pattern, uint32_t(random()));
        const Matte want = reference::Blur(raw, width, height, radius);

        BlurRun run(raw, width, height, radius);
        ASSERT_TRUE(BlurMatte(&run.state()));
        ASSERT_TRUE(run.result() == want) << width << "x" << height << " r=" << radius << ": "
                                          << FirstDifference(run.result(), want, width);
    }
}

// ---- Values worked out by hand -------------------------------------------------

struct HandCase {
    const char* what;
    int radius;
    Matte line;
    Matte want;
};

void PrintTo(const HandCase& c, std::ostream* os) { *os << c.what; }

class BlurHandValuesTest : public ::testing::TestWithParam<HandCase> {};

// With w = exp(-3) = 0.0497871 for radius 1 and w1 = exp(-0.12), w2 = exp(-0.48)
// for radius 5. The same line is blurred as a row and as a column.
TEST_P(BlurHandValuesTest, AlongARowAndDownAColumn) {
    const HandCase& c = GetParam();
    const int n = int(c.line.size());
    for (const bool asRow : {true, false}) {
        const int width = asRow ? n : 1, height = asRow ? 1 : n;
        BlurRun run(c.line, width, height, c.radius);
        ASSERT_TRUE(BlurMatte(&run.state()));
        EXPECT_EQ(run.result(), c.want) << c.what << (asRow ? " (row)" : " (column)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BlurHandValuesTest,
    ::testing::Values(
        // Two taps at each end: 255 w / (1 + w) = 12.09 and 255 / (1 + w) = 242.9.
        HandCase{"two samples, r = 1", 1, {0, 255}, {12, 242}},
        // 255 / (1 + w) = 242.9; 255 w / (1 + 2w) = 11.5; the last window misses the 255.
        HandCase{"edge and centre windows, r = 1", 1, {255, 0, 0}, {242, 11, 0}},
        // The middle is 20 exactly in real numbers, but the rounded quotient
        // lies just below it and truncation makes it 19.
        HandCase{"truncation, not rounding", 1, {10, 20, 30}, {10, 19, 29}},
        // n <= r: every window is the whole line, weighted by distance:
        // 255 / (1 + w1 + w2) = 101.8, 255 w1 / (1 + 2 w1) = 81.5,
        // 255 w2 / (1 + w1 + w2) = 62.97.
        HandCase{"line shorter than the radius", 5, {255, 0, 0}, {101, 81, 62}},
        HandCase{"single sample", 255, {77}, {77}},
        HandCase{"constant line keeps its value here", 3, {255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}}));

TEST(BlurSpreadTest, ASingleOpaqueSampleAtRadiusOneGivesTheHandComputedCross) {
    Matte raw(25, 0);
    raw[2 * 5 + 2] = 255;
    BlurRun run(raw, 5, 5, 1);
    ASSERT_TRUE(BlurMatte(&run.state()));
    // Columns: 255 / (1 + 2w) = 231, 255 w / (1 + 2w) = 11. Rows: 231 -> 210 and 10,
    // 11 -> 10, and 11 w / (1 + 2w) = 0.5 -> 0 at the corners.
    const Matte want = {
        0, 0, 0,   0,  0,  //
        0, 0, 10,  0,  0,  //
        0, 10, 210, 10, 0,  //
        0, 0, 10,  0,  0,  //
        0, 0, 0,   0,  0,  //
    };
    EXPECT_EQ(run.result(), want);
}

class BlurSpreadRadiusTest : public ::testing::TestWithParam<int> {};

TEST_P(BlurSpreadRadiusTest, ASingleOpaqueSampleStaysInsideItsSquare) {
    const int r = GetParam();
    const int size = 2 * r + 21, centre = r + 10;
    Matte raw(size_t(size) * size, 0);
    raw[size_t(centre) * size + centre] = 255;
    BlurRun run(raw, size, size, r);
    ASSERT_TRUE(BlurMatte(&run.state()));
    int lit = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint8_t m = run.result()[size_t(y) * size + x];
            if (m == 0) continue;
            ++lit;
            EXPECT_LE(std::abs(x - centre), r) << "x=" << x << " y=" << y;
            EXPECT_LE(std::abs(y - centre), r) << "x=" << x << " y=" << y;
        }
    }
    EXPECT_GT(lit, 0);
    EXPECT_EQ(run.result(), reference::Blur(raw, size, size, r));
}

INSTANTIATE_TEST_SUITE_P(Radii, BlurSpreadRadiusTest, ::testing::Values(1, 2, 3, 7, 10));

struct ConstantCase {
    uint8_t value;
    int radius;
    uint8_t lowest;  // each pass may lose one to truncation
};

void PrintTo(const ConstantCase& c, std::ostream* os) {
    *os << "value " << int(c.value) << " r=" << c.radius;
}

class BlurConstantTest : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(BlurConstantTest, AConstantMatteStaysWithinTwoBelowItsValue) {
    const ConstantCase& c = GetParam();
    const int width = 41, height = 29;
    BlurRun run(Matte(size_t(width) * height, c.value), width, height, c.radius);
    ASSERT_TRUE(BlurMatte(&run.state()));
    for (uint8_t m : run.result()) {
        ASSERT_LE(m, c.value);
        ASSERT_GE(m, c.lowest);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, BlurConstantTest,
                         ::testing::Values(ConstantCase{0, 1, 0}, ConstantCase{0, 255, 0},
                                           ConstantCase{255, 3, 253}, ConstantCase{255, 255, 253},
                                           ConstantCase{128, 7, 126}, ConstantCase{1, 2, 0}));

TEST(BlurLineTest, ARowAndAColumnOfTheSameSamplesBlurAlike) {
    const Matte line = MakeMatte(211, 1, Pattern::Noise, 99);
    BlurRun row(line, 211, 1, 17);
    BlurRun column(line, 1, 211, 17);
    ASSERT_TRUE(BlurMatte(&row.state()));
    ASSERT_TRUE(BlurMatte(&column.state()));
    EXPECT_EQ(row.result(), column.result());
    EXPECT_NE(row.result(), line);
}

// ---- Progress -----------------------------------------------------------------

TEST(BlurProgressTest, OneStepPerColumnThenOnePerRowFromTheBase) {
    const int width = 37, height = 23;
    BlurRun run(MakeMatte(width, height, Pattern::Noise, 5), width, height, 4);
    run.state().reportProgress = 1;
    run.state().progressBase = 100;
    run.state().progressTotal = 500;
    ASSERT_TRUE(BlurMatte(&run.state()));

    std::vector<ProgressCall> want;
    for (int x = 0; x < width; ++x) want.push_back({100 + x, 500});
    for (int y = 0; y < height; ++y) want.push_back({100 + width + y, 500});
    EXPECT_EQ(g_progress, want);
    EXPECT_EQ(run.state().progressBase, 100 + width + height);
}

TEST(BlurProgressTest, WithoutReportingNoCallsButTheBaseStillAdvances) {
    BlurRun run(MakeMatte(20, 30, Pattern::Noise, 6), 20, 30, 2);
    run.state().reportProgress = 0;
    run.state().progressBase = 7;
    ASSERT_TRUE(BlurMatte(&run.state()));
    EXPECT_TRUE(g_progress.empty());
    EXPECT_EQ(run.state().progressBase, 7 + 20 + 30);
}

// ---- Cancellation ---------------------------------------------------------------

TEST(BlurCancelTest, ARequestBeforeTheFirstSampleStopsARecordedWorkerUnwritten) {
    BlurRun run(MakeMatte(40, 30, Pattern::Noise, 7), 40, 30, 5);
    run.state().workerHandle = 1;
    run.state().cancelRequest = 1;
    EXPECT_FALSE(BlurMatte(&run.state()));
    EXPECT_EQ(run.result(), Matte(40 * 30, 0xA5));
}

TEST(BlurCancelTest, ARequestWithoutARecordedWorkerIsIgnored) {
    const Matte raw = MakeMatte(40, 30, Pattern::Noise, 8);
    BlurRun run(raw, 40, 30, 5);
    run.state().workerHandle = kNoWorker;
    run.state().cancelRequest = 1;
    EXPECT_TRUE(BlurMatte(&run.state()));
    EXPECT_EQ(run.result(), reference::Blur(raw, 40, 30, 5));
}

// A request made while a column or row is reported stops the stage before
// that column or row is written and before anything more is reported.
class BlurCancelDuringPassTest : public ::testing::TestWithParam<int> {};

TEST_P(BlurCancelDuringPassTest, StopsBeforeTheReportedLineIsWritten) {
    const int width = 45, height = 38, radius = 6, step = GetParam();
    const Matte raw = MakeMatte(width, height, Pattern::Noise, 9);
    BlurRun run(raw, width, height, radius);
    run.state().workerHandle = 1;
    run.state().reportProgress = 1;
    run.state().progressTotal = width + height;
    g_cancelState = &run.state();
    g_cancelAtStep = step;

    EXPECT_FALSE(BlurMatte(&run.state()));
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.back().done, step) << "progress went on after the request";

    const Matte& got = run.result();
    if (step < width) {
        for (int y = 0; y < height; ++y)
            for (int x = step; x < width; ++x)
                ASSERT_EQ(got[size_t(y) * width + x], 0xA5) << "column " << x << " was written";
    } else {
        // Rows from the reported one on hold what the column pass left there.
        const Matte columns = reference::BlurColumns(raw, width, height, radius);
        for (int y = step - width; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(got[size_t(y) * width + x], columns[size_t(y) * width + x]) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, BlurCancelDuringPassTest,
                         ::testing::Values(0, 5, 16, 17, 44,            // column pass
                                           45, 45 + 3, 45 + 16, 45 + 37));  // row pass

// ---- Memory shortage ---------------------------------------------------------------

class BlurNoMemoryTest : public ::testing::TestWithParam<int> {};

TEST_P(BlurNoMemoryTest, TheWorkerFormDeliversTheUnblurredMatteAndCompletes) {
    const Matte raw = MakeMatte(33, 21, Pattern::Noise, 10);
    BlurRun run(raw, 33, 21, 9);
    run.state().reportProgress = 1;
    run.state().progressBase = 21;
    {
        MemoryLimit limit(GetParam());
        EXPECT_TRUE(BlurMatte(&run.state()));
    }
    EXPECT_EQ(run.result(), raw);
    EXPECT_TRUE(g_progress.empty());
    EXPECT_EQ(run.state().progressBase, 21 + 33 + 21);
}

TEST_P(BlurNoMemoryTest, ThePreviewFormReturnsItsOwnBlockUnchanged) {
    const Matte raw = MakeMatte(33, 21, Pattern::Noise, 11);
    auto* block = static_cast<uint8_t*>(AllocLargeBuffer(raw.size()));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, raw.data(), raw.size());
    uint8_t* result;
    {
        MemoryLimit limit(GetParam());
        result = BlurMatteBuffer(block, 33, 21, 9);
    }
    EXPECT_EQ(result, block);
    EXPECT_EQ(Matte(result, result + raw.size()), raw);
    FreeLargeBuffer(result);  // the one block the caller holds
}

// The worker's form asks for three blocks, the preview's for four.
INSTANTIATE_TEST_SUITE_P(GrantedRequests, BlurNoMemoryTest, ::testing::Values(0, 1, 2));

TEST(BlurNoMemoryTest, ThePreviewFormWithoutItsResultBlockReturnsItsInput) {
    const Matte raw = MakeMatte(12, 9, Pattern::Noise, 12);
    auto* block = static_cast<uint8_t*>(AllocLargeBuffer(raw.size()));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, raw.data(), raw.size());
    uint8_t* result;
    {
        MemoryLimit limit(3);
        result = BlurMatteBuffer(block, 12, 9, 2);
    }
    EXPECT_EQ(result, block);
    EXPECT_EQ(Matte(result, result + raw.size()), raw);
    FreeLargeBuffer(result);
}

TEST(BlurNoMemoryTest, WithEnoughRequestsGrantedBothFormsBlur) {
    const Matte raw = MakeMatte(12, 9, Pattern::Noise, 13);
    const Matte want = reference::Blur(raw, 12, 9, 2);
    BlurRun run(raw, 12, 9, 2);
    {
        MemoryLimit limit(3);
        ASSERT_TRUE(BlurMatte(&run.state()));
    }
    EXPECT_EQ(run.result(), want);
    MemoryLimit limit(4);
    EXPECT_EQ(BlurWithBuffer(raw, 12, 9, 2), want);
}

}  // namespace
}  // namespace tav
