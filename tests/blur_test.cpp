#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/blur.h"
#include "engine/worker.h"
#include "tests/engine_helpers.h"
#include "tests/reference.h"

namespace tav {
namespace {

using test::FirstDifference;
using test::Matte;
using test::Pattern;

constexpr uint8_t kUnwritten = 0xA5;

// BlurMatte on `threads` threads into a result of unwritten bytes, with
// guarded scratch of BlurScratchBytes at an odd address, or without scratch.
test::StageOutcome RunBlur(const Matte& in, int width, int height, int radius, MatteJob* job = nullptr,
                           bool withScratch = true, int32_t threads = 1) {
    return test::RunStage(in, kUnwritten, BlurScratchBytes(width, height, radius, threads), withScratch,
                          [&](const uint8_t* matte, uint8_t* result, void* scratch) {
                              return BlurMatte(matte, result, width, height, radius, scratch, job, threads);
                          });
}

// ---- Against the plain blur ---------------------------------------------------

// Shapes at the blur's edges, then many random sizes and radii; on one
// thread, and on several, also more than the strips of lines.
TEST(BlurTest, MatchesThePlainBlurByteForByte) {
    constexpr Pattern kNoise = Pattern::Noise, kSparse = Pattern::Sparse, kSoft = Pattern::SoftEdges,
                      kBands = Pattern::Bands;
    struct Case {
        int width, height, radius;
        Pattern pattern;
        uint32_t seed = 0;
    };
    std::vector<Case> cases = {
        // Single samples and single lines: the length-1 direction only copies.
        {1, 1, 1, kNoise}, {1, 1, 255, kNoise}, {1, 57, 4, kNoise}, {57, 1, 4, kNoise}, {1, 300, 255, kNoise},
        {300, 1, 255, kNoise},
        // Lines no longer than the radius: every window is the whole line.
        {5, 3, 255, kNoise}, {9, 9, 9, kNoise}, {10, 10, 9, kNoise}, {40, 3, 20, kBands}, {3, 40, 20, kBands},
        // Radius 1: two-tap windows at both ends of every line.
        {2, 2, 1, kNoise}, {17, 33, 1, kNoise}, {64, 48, 1, kSoft},
        // Widths and heights around whole groups of lines and not.
        {15, 16, 3, kNoise}, {16, 15, 3, kNoise}, {33, 17, 6, kNoise}, {37, 53, 5, kSparse}, {100, 7, 8, kBands},
        {7, 100, 8, kBands},
        // Realistic mattes and the largest radius of the setting.
        {120, 90, 10, kSoft}, {301, 203, 255, kSoft}, {260, 270, 128, kNoise}, {97, 61, 255, kSparse},
        // The preview blurs at a zoomed-in scale with radii beyond a byte.
        {30, 20, 1000, kNoise}, {600, 2, 300, kSoft}};
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 150; ++trial) {
        const int width = 1 + int(random() % 70), height = 1 + int(random() % 70);
        const int radius = (trial % 10 == 0) ? 255 : 1 + int(random() % 80);
        const Pattern pattern = Pattern(random() % 5);
        cases.push_back({width, height, radius, pattern, uint32_t(random())});
    }
    for (const Case& c : cases) {
        const uint32_t seed = c.seed + uint32_t(c.width * 1000 + c.height);
        const Matte raw = test::MakeMatte(c.width, c.height, c.pattern, seed);
        const Matte want = reference::Blur(raw, c.width, c.height, c.radius);
        for (int32_t threads : {1, 2, 3}) {
            const test::StageOutcome got = RunBlur(raw, c.width, c.height, c.radius, nullptr, true, threads);
            EXPECT_TRUE(got.completed);
            ASSERT_TRUE(got.result == want) << c.width << "x" << c.height << " r=" << c.radius << " pattern "
                                            << int(c.pattern) << ", " << threads << " threads: "
                                            << FirstDifference(got.result, want, c.width);
        }
    }
}

// ---- Values worked out by hand -------------------------------------------------

Matte Transposed(const Matte& m, int width, int height) {
    Matte t(m.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) t[size_t(x) * height + y] = m[size_t(y) * width + x];
    return t;
}

// With w = exp(-3) = 0.0497871 for radius 1 and w1 = exp(-0.12), w2 = exp(-0.48)
// for radius 5. The matte is blurred as given and transposed.
TEST(BlurTest, GivesTheValuesWorkedOutByHandAsGivenAndTransposed) {
    const struct {
        const char* name;
        int width, height, radius;
        Matte in, want;
    } cases[] = {
        // Two taps at each end: 255 w / (1 + w) = 12.09 and 255 / (1 + w) = 242.9.
        {"twoSamples", 2, 1, 1, {0, 255}, {12, 242}},
        // 255 / (1 + w) = 242.9; 255 w / (1 + 2w) = 11.5; the last window misses the 255.
        {"edgeAndCentreWindows", 3, 1, 1, {255, 0, 0}, {242, 11, 0}},
        // The middle is 20 exactly in real numbers, but the rounded quotient
        // lies just below it and truncation makes it 19.
        {"truncationNotRounding", 3, 1, 1, {10, 20, 30}, {10, 19, 29}},
        // n <= r: every window is the whole line, weighted by distance:
        // 255 / (1 + w1 + w2) = 101.8, 255 w1 / (1 + 2 w1) = 81.5,
        // 255 w2 / (1 + w1 + w2) = 62.97.
        {"lineShorterThanTheRadius", 3, 1, 5, {255, 0, 0}, {101, 81, 62}},
        {"singleSample", 1, 1, 255, {77}, {77}},
        {"constantLineKeepsItsValue", 5, 1, 3, {255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}},
        // Columns: 255 / (1 + 2w) = 231, 255 w / (1 + 2w) = 11. Rows: 231 -> 210
        // and 10, 11 -> 10, and 11 w / (1 + 2w) = 0.5 -> 0 at the corners.
        {"singleOpaqueSampleGivesACross", 5, 5, 1,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 10, 210, 10, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0}}};
    for (const auto& c : cases) {
        EXPECT_EQ(RunBlur(c.in, c.width, c.height, c.radius).result, c.want) << c.name;
        EXPECT_EQ(RunBlur(Transposed(c.in, c.width, c.height), c.height, c.width, c.radius).result,
                  Transposed(c.want, c.width, c.height))
            << c.name;
    }
}

// ---- With a job: progress, cancellation, no scratch ------------------------------------

struct JobCase {
    const char* name;
    bool withScratch, reporting;
    bool recorded;  // the job has a recorded worker; requests of others are ignored
    int step;       // a request is made while this step is reported; -1: before the start; -2: none
};

class BlurJobTest : public ::testing::TestWithParam<JobCase> {};

// One step a column then one a row from progressBase, which advances by
// width + height. A request stops the pass before the reported column or row
// is written and before anything more is reported. Without scratch the matte
// is delivered unblurred with nothing reported, the base still advanced.
TEST_P(BlurJobTest, ReportsEachLineAndStopsBeforeTheRequestedOne) {
    const JobCase& c = GetParam();
    const int width = 45, height = 38, radius = 6, base = 100;
    const Matte raw = test::MakeMatte(width, height, Pattern::Noise, 9);
    MatteJob job = IdleMatteJob();
    test::ProgressLog log;
    log.Attach(job);
    job.workerHandle = c.recorded ? test::kFakeWorker : kNoWorker;
    job.reportProgress = c.reporting;
    job.progressBase = base;
    job.progressTotal = 500;
    job.cancelRequest = c.step == -1;
    log.cancelAt = c.step >= 0 ? base + c.step : -1;

    const test::StageOutcome got = RunBlur(raw, width, height, radius, &job, c.withScratch);
    const bool stops = c.withScratch && c.recorded && c.step != -2;
    EXPECT_EQ(got.completed, !stops);
    const int reported = !c.reporting || !c.withScratch ? 0 : stops ? std::max(c.step, 0) + 1 : width + height;
    EXPECT_EQ(log.calls, test::StepRange(base, reported, 500));
    if (!stops) {
        const Matte want = c.withScratch ? reference::Blur(raw, width, height, radius) : raw;
        EXPECT_TRUE(got.result == want) << FirstDifference(got.result, want, width);
        EXPECT_EQ(job.progressBase, base + width + height);
    } else if (c.step < width) {
        // Columns from the reported one on are unwritten.
        for (int y = 0; y < height; ++y)
            for (int x = std::max(c.step, 0); x < width; ++x)
                ASSERT_EQ(got.result[size_t(y) * width + x], kUnwritten) << "column " << x << " was written";
    } else {
        // Rows from the reported one on hold what the column pass left there.
        const Matte columns = reference::BlurColumns(raw, width, height, radius);
        for (size_t i = size_t(c.step - width) * width; i < raw.size(); ++i)
            ASSERT_EQ(got.result[i], columns[i]) << "row " << i / width;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlurJobTest,
    ::testing::Values(JobCase{"reporting", true, true, true, -2}, JobCase{"silent", true, false, true, -2},
                      JobCase{"withoutScratch", false, true, true, -2},
                      JobCase{"requestBeforeTheStart", true, false, true, -1},
                      JobCase{"requestWithoutARecordedWorker", true, true, false, 17},
                      JobCase{"firstColumn", true, true, true, 0}, JobCase{"column5", true, true, true, 5},
                      JobCase{"lastColumnOfAGroup", true, true, true, 15},
                      JobCase{"firstColumnOfAGroup", true, true, true, 16},
                      JobCase{"column17", true, true, true, 17}, JobCase{"lastColumn", true, true, true, 44},
                      JobCase{"firstRow", true, true, true, 45}, JobCase{"row3", true, true, true, 45 + 3},
                      JobCase{"row16", true, true, true, 45 + 16}, JobCase{"lastRow", true, true, true, 45 + 37}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tav
