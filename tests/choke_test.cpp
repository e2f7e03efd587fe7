#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "engine/choke.h"
#include "engine/worker.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;
using test::Pattern;

constexpr uint8_t kUnwritten = 0xA7;

// ChokeMatte on `threads` threads into a result of unwritten bytes, with
// guarded scratch of ChokeScratchBytes at an odd address, or without scratch.
test::StageOutcome RunChoke(const Matte& in, int width, int height, int32_t amount, bool withScratch,
                            MatteJob* job = nullptr, int32_t threads = 1) {
    return test::RunStage(in, kUnwritten, ChokeScratchBytes(width, height, amount, threads), withScratch,
                          [&](const uint8_t* matte, uint8_t* result, void* scratch) {
                              return ChokeMatte(matte, result, width, height, amount, scratch, job, threads);
                          });
}

// Every form: the running method with scratch (on one thread, and on several
// in bands that start at any row of a block), pixel by pixel without, and
// ChokeMatteDirect.
void ExpectEveryForm(const Matte& in, int width, int height, int32_t amount, const Matte& want) {
    for (int32_t threads : {1, 2, 3})
        for (bool withScratch : {true, false}) {
            const test::StageOutcome got = RunChoke(in, width, height, amount, withScratch, nullptr, threads);
            EXPECT_TRUE(got.completed);
            EXPECT_TRUE(got.result == want) << (withScratch ? "with scratch, " : "without scratch, ") << threads
                                            << " threads: " << FirstDifference(got.result, want, width);
        }
    Matte direct(in.size(), kUnwritten);
    ChokeMatteDirect(in.data(), direct.data(), width, height, amount);
    EXPECT_TRUE(direct == want) << "direct: " << FirstDifference(direct, want, width);
}

// ---- Every form against the pixel-by-pixel definition ----------------------

// Sizes around the block boundaries of the running method (k = 2n + 1), lines
// of one sample, and lines shorter and longer than the window.
constexpr std::pair<int, int> kSizes[] = {{1, 1},   {1, 9},   {9, 1},   {2, 3},  {7, 7},
                                          {13, 14}, {15, 8},  {31, 17}, {64, 3}, {3, 64},
                                          {70, 37}, {257, 5}, {5, 258}, {600, 6}, {6, 600}};

class ChokeAgainstReferenceTest : public ::testing::TestWithParam<int32_t> {};

// Spikes of the other extreme (inverted for shrinking) keep wide windows from
// saturating as noise does.
TEST_P(ChokeAgainstReferenceTest, EveryFormMatchesTheDefinitionByteForByte) {
    const int32_t amount = GetParam();
    for (const auto& [width, height] : kSizes)
        for (Pattern pattern : {Pattern::Noise, Pattern::Spikes, Pattern::SoftEdges}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height << ", pattern " << int(pattern));
            Matte matte = test::MakeMatte(width, height, pattern, uint32_t(amount * 7919 + width * 31 + height));
            if (amount < 0 && pattern == Pattern::Spikes)
                for (uint8_t& m : matte) m = uint8_t(255 - m);
            ExpectEveryForm(matte, width, height, amount, reference::Choke(matte, width, height, amount));
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
    int width, height;
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
};

TEST(ChokeTest, EveryFormGivesTheExpectedMatte) {
    for (const KnownCase& c : kKnownCases) {
        auto matte = [&](const std::function<int(int, int)>& pixel) {
            return test::MakeImage(c.width, c.height, 1, [&](int x, int y, int) { return pixel(x, y); });
        };
        SCOPED_TRACE(c.name);
        ExpectEveryForm(matte(c.input), c.width, c.height, c.amount, matte(c.expected));
    }
}

// ---- With a job: progress and cancellation -------------------------------------

constexpr int kWidth = 23, kHeight = 13;

struct JobCase {
    const char* name;
    bool withScratch, reporting;
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
    const Matte input = test::MakeMatte(kWidth, kHeight, Pattern::Noise, 23);
    MatteJob job = IdleMatteJob();
    test::ProgressLog log;
    log.Attach(job);
    job.workerHandle = c.recorded ? test::kFakeWorker : kNoWorker;
    job.reportProgress = c.reporting;
    job.progressBase = 250;
    job.progressTotal = 263;
    if (c.cancelRow == -1) job.cancelRequest = 1;
    if (c.cancelRow >= 0) log.cancelAt = 250 + c.cancelRow;

    const test::StageOutcome got = RunChoke(input, kWidth, kHeight, c.amount, c.withScratch, &job);
    const bool stops = c.recorded && c.cancelRow != -2;
    const int rowsWritten = !stops ? kHeight : c.cancelRow < 0 ? 0 : c.cancelRow;
    EXPECT_EQ(got.completed, !stops);
    Matte want = reference::Choke(input, kWidth, kHeight, c.amount);
    std::fill(want.begin() + ptrdiff_t(rowsWritten) * kWidth, want.end(), kUnwritten);
    EXPECT_TRUE(got.result == want) << FirstDifference(got.result, want, kWidth);

    const int rowsReported = !c.reporting ? 0 : !stops ? kHeight : std::max(c.cancelRow, 0) + 1;
    EXPECT_EQ(log.calls, test::StepRange(250, rowsReported, 263));
    EXPECT_EQ(job.progressBase, 250);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChokeJobTest,
    ::testing::Values(JobCase{"reporting", true, true, false, -2, 3}, JobCase{"silent", true, false, true, -2, 3},
                      JobCase{"reportingWithoutScratch", false, true, false, -2, -3},
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
