#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/choke.h"
#include "engine/worker.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;

constexpr uint8_t kUnwritten = 0xA7;

Matte MakeMatte(int width, int height, const std::function<int(int, int)>& pixel) {
    Matte matte(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) matte[size_t(y) * width + x] = uint8_t(pixel(x, y));
    return matte;
}

struct ChokeOutcome {
    bool completed;
    Matte result;
};

// ChokeMatte into a result of unwritten bytes, with guarded scratch of
// ChokeScratchBytes at an odd address, or without scratch.
ChokeOutcome RunChoke(const Matte& in, int width, int height, int32_t amount, bool withScratch,
                      MatteJob* job = nullptr) {
    const Matte input = in;
    test::GuardedScratch scratch(ChokeScratchBytes(width, height, amount));
    ChokeOutcome out{false, Matte(in.size(), kUnwritten)};
    out.completed = ChokeMatte(input.data(), out.result.data(), width, height, amount,
                               withScratch ? scratch.get() : nullptr, job);
    EXPECT_TRUE(input == in) << "the input matte was changed";
    EXPECT_TRUE(scratch.GuardIntact()) << "written outside the scratch memory";
    return out;
}

// Every form: the running method with scratch, pixel by pixel without, and
// ChokeMatteDirect.
void ExpectEveryForm(const Matte& in, int width, int height, int32_t amount, const Matte& want) {
    for (bool withScratch : {true, false}) {
        const ChokeOutcome got = RunChoke(in, width, height, amount, withScratch);
        EXPECT_TRUE(got.completed);
        EXPECT_TRUE(got.result == want) << (withScratch ? "with scratch: " : "without scratch: ")
                                        << FirstDifference(got.result, want, width);
    }
    Matte direct(in.size(), kUnwritten);
    ChokeMatteDirect(in.data(), direct.data(), width, height, amount);
    EXPECT_TRUE(direct == want) << "direct: " << FirstDifference(direct, want, width);
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

TEST_P(ChokeAgainstReferenceTest, EveryFormMatchesTheDefinitionByteForByte) {
    const int32_t amount = GetParam();
    std::mt19937 random(uint32_t(amount) * 2654435761u + 17u);
    for (const Size& size : kSizes)
        for (Pattern pattern : {Pattern::Noise, Pattern::SparseSpikes, Pattern::SoftShapes}) {
            SCOPED_TRACE(testing::Message() << size.width << " x " << size.height << ", pattern "
                                            << int(pattern));
            const Matte matte = MakePattern(pattern, size.width, size.height, amount > 0, random);
            ExpectEveryForm(matte, size.width, size.height, amount,
                            reference::Choke(matte, size.width, size.height, amount));
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

TEST_P(ChokeKnownCaseTest, EveryFormGivesTheExpectedMatte) {
    const KnownCase& c = GetParam();
    ExpectEveryForm(MakeMatte(c.width, c.height, c.input), c.width, c.height, c.amount,
                    MakeMatte(c.width, c.height, c.expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, ChokeKnownCaseTest, ::testing::ValuesIn(kKnownCases),
                         [](const testing::TestParamInfo<KnownCase>& info) { return info.param.name; });

// ---- With a job: progress and cancellation -------------------------------------

constexpr int kWidth = 23;
constexpr int kHeight = 13;

Matte StageInput() {
    return MakeMatte(kWidth, kHeight, [](int x, int y) { return (x * 29 + y * 53 + x * y) % 256; });
}

struct JobCase {
    const char* name;
    bool withScratch;
    bool reporting;
    bool recorded;  // the job has a recorded worker; requests of others are ignored
    int cancelRow;  // the request is made while this row is reported; -1: before the start; -2: none
    int32_t amount;
};

class ChokeJobTest : public ::testing::TestWithParam<JobCase> {};

// One progress step a row at progressBase + y, the base left as it was; a
// request stops the stage before the reported row is written and before
// anything more is reported.
TEST_P(ChokeJobTest, ReportsEachRowAndStopsBeforeTheRequestedOne) {
    const JobCase& c = GetParam();
    const Matte input = StageInput();
    test::RecordingJob recording;
    MatteJob& job = recording.job;
    job.workerHandle = c.recorded ? test::kFakeWorker : kNoWorker;
    job.reportProgress = c.reporting;
    job.progressBase = 250;
    job.progressTotal = 263;
    if (c.cancelRow == -1) job.cancelRequest = 1;
    if (c.cancelRow >= 0) recording.cancelAt = 250 + c.cancelRow;

    const ChokeOutcome got = RunChoke(input, kWidth, kHeight, c.amount, c.withScratch, &job);
    const bool stops = c.recorded && c.cancelRow != -2;
    const int rowsWritten = !stops ? kHeight : c.cancelRow < 0 ? 0 : c.cancelRow;
    EXPECT_EQ(got.completed, !stops);
    Matte want = reference::Choke(input, kWidth, kHeight, c.amount);
    std::fill(want.begin() + ptrdiff_t(rowsWritten) * kWidth, want.end(), kUnwritten);
    EXPECT_TRUE(got.result == want) << FirstDifference(got.result, want, kWidth);

    std::vector<std::pair<int32_t, int32_t>> steps;
    const int rowsReported = !c.reporting ? 0 : !stops ? kHeight : std::max(c.cancelRow, 0) + 1;
    for (int y = 0; y < rowsReported; ++y) steps.emplace_back(250 + y, 263);
    EXPECT_EQ(recording.calls, steps);
    EXPECT_EQ(job.progressBase, 250);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChokeJobTest,
    ::testing::Values(JobCase{"reporting", true, true, false, -2, 3},
                      JobCase{"reportingWithoutScratch", false, true, false, -2, -3},
                      JobCase{"silent", true, false, true, -2, 3},
                      JobCase{"requestBeforeTheStart", true, false, true, -1, 5},
                      JobCase{"requestBeforeTheStartWithoutScratch", false, false, true, -1, 5},
                      JobCase{"requestWhileRow5IsReported", true, true, true, 5, -4},
                      JobCase{"requestWhileRow5IsReportedWithoutScratch", false, true, true, 5, -4},
                      JobCase{"requestAtTheLastRow", true, true, true, kHeight - 1, 2},
                      JobCase{"requestWithoutARecordedWorker", true, true, false, 5, 2},
                      JobCase{"requestBeforeTheStartWithoutARecordedWorker", true, false, false, -1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
