#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/blur.h"
#include "engine/worker.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;

constexpr uint8_t kUnwritten = 0xA5;

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

struct BlurOutcome {
    bool completed;
    Matte result;
};

// BlurMatte into a result of unwritten bytes, with guarded scratch of
// BlurScratchBytes at an odd address, or without scratch.
BlurOutcome RunBlur(const Matte& in, int width, int height, int radius, MatteJob* job = nullptr,
                    bool withScratch = true) {
    const Matte input = in;
    test::GuardedScratch scratch(BlurScratchBytes(width, height, radius));
    BlurOutcome out{false, Matte(in.size(), kUnwritten)};
    out.completed = BlurMatte(input.data(), out.result.data(), width, height, radius,
                              withScratch ? scratch.get() : nullptr, job);
    EXPECT_TRUE(input == in) << "the input matte was changed";
    EXPECT_TRUE(scratch.GuardIntact()) << "written outside the scratch memory";
    return out;
}

// ---- Against the plain blur ---------------------------------------------------

struct Case {
    int width, height, radius;
    Pattern pattern;
    uint32_t seed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " r=" << c.radius << " pattern=" << int(c.pattern) << " seed=" << c.seed;
}

class BlurAgainstPlainTest : public ::testing::TestWithParam<Case> {};

TEST_P(BlurAgainstPlainTest, MatchesThePlainBlurByteForByte) {
    const Case& c = GetParam();
    const Matte raw = MakeMatte(c.width, c.height, c.pattern, c.seed);
    const Matte want = reference::Blur(raw, c.width, c.height, c.radius);
    const BlurOutcome got = RunBlur(raw, c.width, c.height, c.radius);
    EXPECT_TRUE(got.completed);
    EXPECT_TRUE(got.result == want) << FirstDifference(got.result, want, c.width);
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
        // Realistic mattes and the largest radius of the setting.
        Case{120, 90, 10, Pattern::SoftEdges, 21}, Case{301, 203, 255, Pattern::SoftEdges, 22},
        Case{260, 270, 128, Pattern::Noise, 23}, Case{97, 61, 255, Pattern::Sparse, 24},
        // The preview blurs at a zoomed-in scale with radii beyond a byte.
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
        const Matte got = RunBlur(raw, width, height, radius).result;
        ASSERT_TRUE(got == want) << width << "x" << height << " r=" << radius << ": "
                                 << FirstDifference(got, want, width);
    }
}

// ---- Values worked out by hand -------------------------------------------------

struct HandCase {
    const char* name;
    int width, height, radius;
    Matte in, want;
};

Matte Transposed(const Matte& m, int width, int height) {
    Matte t(m.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) t[size_t(x) * height + y] = m[size_t(y) * width + x];
    return t;
}

class BlurHandValuesTest : public ::testing::TestWithParam<HandCase> {};

// With w = exp(-3) = 0.0497871 for radius 1 and w1 = exp(-0.12), w2 = exp(-0.48)
// for radius 5. The matte is blurred as given and transposed.
TEST_P(BlurHandValuesTest, AsGivenAndTransposed) {
    const HandCase& c = GetParam();
    EXPECT_EQ(RunBlur(c.in, c.width, c.height, c.radius).result, c.want);
    EXPECT_EQ(RunBlur(Transposed(c.in, c.width, c.height), c.height, c.width, c.radius).result,
              Transposed(c.want, c.width, c.height));
}

INSTANTIATE_TEST_SUITE_P(
    Mattes, BlurHandValuesTest,
    ::testing::Values(
        // Two taps at each end: 255 w / (1 + w) = 12.09 and 255 / (1 + w) = 242.9.
        HandCase{"twoSamples", 2, 1, 1, {0, 255}, {12, 242}},
        // 255 / (1 + w) = 242.9; 255 w / (1 + 2w) = 11.5; the last window misses the 255.
        HandCase{"edgeAndCentreWindows", 3, 1, 1, {255, 0, 0}, {242, 11, 0}},
        // The middle is 20 exactly in real numbers, but the rounded quotient
        // lies just below it and truncation makes it 19.
        HandCase{"truncationNotRounding", 3, 1, 1, {10, 20, 30}, {10, 19, 29}},
        // n <= r: every window is the whole line, weighted by distance:
        // 255 / (1 + w1 + w2) = 101.8, 255 w1 / (1 + 2 w1) = 81.5,
        // 255 w2 / (1 + w1 + w2) = 62.97.
        HandCase{"lineShorterThanTheRadius", 3, 1, 5, {255, 0, 0}, {101, 81, 62}},
        HandCase{"singleSample", 1, 1, 255, {77}, {77}},
        HandCase{"constantLineKeepsItsValue", 5, 1, 3, {255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}},
        // Columns: 255 / (1 + 2w) = 231, 255 w / (1 + 2w) = 11. Rows: 231 -> 210
        // and 10, 11 -> 10, and 11 w / (1 + 2w) = 0.5 -> 0 at the corners.
        HandCase{"singleOpaqueSampleGivesACross", 5, 5, 1,
                 {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                 {0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 10, 210, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConstantCase {
    uint8_t value;
    int radius;
    uint8_t lowest;  // each pass may lose one to truncation
};

void PrintTo(const ConstantCase& c, std::ostream* os) { *os << "value " << int(c.value) << " r=" << c.radius; }

class BlurConstantTest : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(BlurConstantTest, AConstantMatteStaysWithinTwoBelowItsValue) {
    const ConstantCase& c = GetParam();
    const int width = 41, height = 29;
    for (uint8_t m : RunBlur(Matte(size_t(width) * height, c.value), width, height, c.radius).result) {
        ASSERT_LE(m, c.value);
        ASSERT_GE(m, c.lowest);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, BlurConstantTest,
                         ::testing::Values(ConstantCase{0, 1, 0}, ConstantCase{0, 255, 0},
                                           ConstantCase{255, 3, 253}, ConstantCase{255, 255, 253},
                                           ConstantCase{128, 7, 126}, ConstantCase{1, 2, 0}));

// ---- Progress, and no scratch memory -------------------------------------------------

struct ProgressCase {
    const char* name;
    bool reporting;
    bool withScratch;
};

class BlurProgressTest : public ::testing::TestWithParam<ProgressCase> {};

// With scratch, one step a column then one a row from the base while
// reporting; without scratch the matte is delivered unblurred, and nothing is
// reported. The base advances by width + height either way.
TEST_P(BlurProgressTest, StepsFromTheBaseAndTheBaseAdvances) {
    const ProgressCase& c = GetParam();
    const int width = 37, height = 23, radius = 4;
    const Matte raw = MakeMatte(width, height, Pattern::Noise, 5);
    test::RecordingJob recording;
    MatteJob& job = recording.job;
    job.reportProgress = c.reporting;
    job.progressBase = 100;
    job.progressTotal = 500;
    const BlurOutcome got = RunBlur(raw, width, height, radius, &job, c.withScratch);
    EXPECT_TRUE(got.completed);
    const Matte want = c.withScratch ? reference::Blur(raw, width, height, radius) : raw;
    EXPECT_TRUE(got.result == want) << FirstDifference(got.result, want, width);
    EXPECT_EQ(RunBlur(raw, width, height, radius, nullptr, c.withScratch).result, want) << "without a job";

    std::vector<std::pair<int32_t, int32_t>> steps;
    if (c.reporting && c.withScratch)
        for (int i = 0; i < width + height; ++i) steps.emplace_back(100 + i, 500);
    EXPECT_EQ(recording.calls, steps);
    EXPECT_EQ(job.progressBase, 100 + width + height);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlurProgressTest,
                         ::testing::Values(ProgressCase{"reporting", true, true},
                                           ProgressCase{"silent", false, true},
                                           ProgressCase{"withoutScratch", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Cancellation ---------------------------------------------------------------

struct CancelCase {
    const char* name;
    bool recorded;  // the job has a recorded worker; requests of others are ignored
    int step;       // the request is made while this step is reported; -1: before the start
};

class BlurCancelTest : public ::testing::TestWithParam<CancelCase> {};

// A request stops the stage before the reported column or row is written and
// before anything more is reported.
TEST_P(BlurCancelTest, StopsBeforeTheReportedLineIsWritten) {
    const CancelCase& c = GetParam();
    const int width = 45, height = 38, radius = 6;
    const Matte raw = MakeMatte(width, height, Pattern::Noise, 9);
    test::RecordingJob recording;
    MatteJob& job = recording.job;
    job.workerHandle = c.recorded ? test::kFakeWorker : kNoWorker;
    job.progressTotal = width + height;
    if (c.step < 0) {
        job.cancelRequest = 1;
    } else {
        job.reportProgress = 1;
        recording.cancelAt = c.step;
    }
    const BlurOutcome got = RunBlur(raw, width, height, radius, &job);
    if (!c.recorded) {
        EXPECT_TRUE(got.completed);
        EXPECT_EQ(got.result, reference::Blur(raw, width, height, radius));
        return;
    }
    EXPECT_FALSE(got.completed);
    if (c.step < 0) {
        EXPECT_EQ(got.result, Matte(raw.size(), kUnwritten));
        return;
    }
    ASSERT_FALSE(recording.calls.empty());
    EXPECT_EQ(recording.calls.back().first, c.step) << "progress went on after the request";
    if (c.step < width) {
        for (int y = 0; y < height; ++y)
            for (int x = c.step; x < width; ++x)
                ASSERT_EQ(got.result[size_t(y) * width + x], kUnwritten) << "column " << x << " was written";
    } else {
        // Rows from the reported one on hold what the column pass left there.
        const Matte columns = reference::BlurColumns(raw, width, height, radius);
        for (int y = c.step - width; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(got.result[size_t(y) * width + x], columns[size_t(y) * width + x]) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BlurCancelTest,
    ::testing::Values(CancelCase{"beforeTheStart", true, -1}, CancelCase{"withoutARecordedWorker", false, -1},
                      CancelCase{"firstColumn", true, 0}, CancelCase{"column5", true, 5},
                      CancelCase{"lastColumnOfAGroup", true, 15}, CancelCase{"firstColumnOfAGroup", true, 16},
                      CancelCase{"column17", true, 17}, CancelCase{"lastColumn", true, 44}, CancelCase{"firstRow", true, 45},
                      CancelCase{"row3", true, 45 + 3}, CancelCase{"row16", true, 45 + 16},
                      CancelCase{"lastRow", true, 45 + 37}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
