#include <gtest/gtest.h>

#include <cstring>

#include "host/allocator.h"
#include "host/entry.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "platform/module.h"
#include "resources/strings.h"
#include "tests/support.h"

namespace tav {
namespace {

using testing::TestHost;

class EntryTest : public ::testing::Test {
protected:
    EntryTest() : host_(ENTRYPOINT) {
        host_.SetImage(100, 100, 3, {});
    }
    TestHost host_;
    test::MessageCapture messages_;
};

TEST_F(EntryTest, FirstCallWithAboutCreatesTheBlockAndShowsTheAboutBox) {
    ASSERT_EQ(host_.dataWord(), 0);
    EXPECT_EQ(host_.CallAbout(), 0);
    ASSERT_NE(host_.dataWord(), 0);
    PluginState* state = test::StoredState(host_);
    EXPECT_EQ(state->workerHandle, kNoWorker);
    EXPECT_EQ(state->previewCenterX, -1);
    EXPECT_EQ(state->previewCenterY, -1);
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].caption, "Tavrisk Filter");
    EXPECT_EQ(messages_.messages()[0].text.rfind("Tavrisk", 0), 0u);
    EXPECT_EQ(messages_.messages()[0].icon, platform::MessageIcon::Information);
}

TEST_F(EntryTest, TheDataWordKeepsTheSameBlockAcrossCalls) {
    host_.CallAbout();
    intptr_t first = host_.dataWord();
    host_.Call(filterSelectorParameters);
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.dataWord(), first);
}

class BadSelectorTest : public EntryTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(BadSelectorTest, IsRefusedAndTheBlockIsStillCopiedBack) {
    EXPECT_EQ(host_.Call(GetParam()), filterBadParameters);
    PluginState* state = test::StoredState(host_);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->result, filterBadParameters);
    EXPECT_EQ(state->filterRecord, &host_.record());
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, BadSelectorTest,
                         ::testing::Values(int16_t(6), int16_t(-1), int16_t(32767), int16_t(-32768)),
                         [](const auto& info) {
                             return "selector_" + std::to_string(info.index);
                         });

struct AreaCase {
    int width, height;
    int32_t bufferSpace;
    int64_t imageBytes;
};

class PrepareTest : public EntryTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(PrepareTest, AsksTheHostOnlyForBlocksBelowOneMegabyte) {
    const AreaCase& c = GetParam();
    // A selection away from the origin where the coordinates allow it.
    int16_t top = c.height < 30000 ? 10 : 0, left = c.width < 30000 ? 20 : 0;
    host_.record().filterRect = Rect{top, left, int16_t(top + c.height), int16_t(left + c.width)};
    host_.record().maxSpace = 12345;
    EXPECT_EQ(host_.Call(filterSelectorPrepare), 0);
    EXPECT_EQ(host_.record().bufferSpace, c.bufferSpace);
    EXPECT_EQ(host_.record().maxSpace, 12345);
    PluginState* state = test::StoredState(host_);
    EXPECT_EQ(state->width, c.width);
    EXPECT_EQ(state->height, c.height);
    EXPECT_EQ(state->imageBytes, c.imageBytes);
    EXPECT_EQ(state->matteBytes, c.imageBytes / 3);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, PrepareTest,
    ::testing::Values(AreaCase{600, 600, 720000, 1080000},      // image file-backed, mattes not
                      AreaCase{100, 100, 80000, 30000},         // all from the host
                      AreaCase{591, 591, 2 * (1047843 + 349281), 1047843},  // just below
                      AreaCase{1024, 1024, 0, 3145728},         // all file-backed
                      AreaCase{32767, 32767, 0, 3221028867LL},  // past 32 bits: never wraps
                      AreaCase{0, 50, 0, 0}),
    [](const auto& info) {
        return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

TEST_F(EntryTest, AnInvertedAreaNeedsNothing) {
    host_.record().filterRect = Rect{50, 50, 10, 10};
    EXPECT_EQ(host_.Call(filterSelectorPrepare), 0);
    EXPECT_EQ(host_.record().bufferSpace, 0);
    EXPECT_EQ(test::StoredState(host_)->imageBytes, 0);
}

TEST_F(EntryTest, PrepareResetsTheRunStartValues) {
    host_.Call(filterSelectorPrepare);
    PluginState* state = test::StoredState(host_);
    state->previewCenterX = 7;
    state->keyRangeScanned = 1;
    state->workerFinished = 1;
    state->panning = 1;
    state->picking = 1;
    host_.Call(filterSelectorPrepare);
    state = test::StoredState(host_);
    EXPECT_EQ(state->previewCenterX, -1);
    EXPECT_EQ(state->keyRangeScanned, 0);
    EXPECT_EQ(state->workerFinished, 0);
    EXPECT_EQ(state->panning, 0);
    EXPECT_EQ(state->picking, 0);
    EXPECT_EQ(state->workerHandle, kNoWorker);
}

TEST_F(EntryTest, ContinueEmptiesBothRectangles) {
    host_.record().inRect = Rect{0, 0, 64, 64};
    host_.record().outRect = Rect{64, 0, 128, 64};
    EXPECT_EQ(host_.Call(filterSelectorContinue), 0);
    for (const Rect& r : {host_.record().inRect, host_.record().outRect}) {
        EXPECT_EQ(r.top, 0);
        EXPECT_EQ(r.left, 0);
        EXPECT_EQ(r.bottom, 0);
        EXPECT_EQ(r.right, 0);
    }
}

TEST_F(EntryTest, FinishWithNothingHeldDoesNothing) {
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
}

// Puts working buffers into the stored block, as a run that allocated them
// would leave it.
void HoldRunBuffers(PluginState* state, uint64_t imageBytes, uint64_t matteBytes) {
    state->sourceImage = static_cast<uint8_t*>(AllocLargeBuffer(imageBytes));
    state->foregroundImage = static_cast<uint8_t*>(AllocLargeBuffer(imageBytes));
    state->rawMatte = static_cast<uint8_t*>(AllocLargeBuffer(matteBytes));
    state->finalMatte = static_cast<uint8_t*>(AllocLargeBuffer(matteBytes));
}

TEST_F(EntryTest, FinishReleasesTheBuffersAndTheirFiles) {
    host_.Call(filterSelectorPrepare);
    PluginState* state = test::StoredState(host_);
    HoldRunBuffers(state, 3 * kFileBackedThreshold, kFileBackedThreshold);
    ASSERT_NE(FindBufferSlot(state->sourceImage), nullptr);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    state = test::StoredState(host_);
    EXPECT_EQ(state->sourceImage, nullptr);
    EXPECT_EQ(state->foregroundImage, nullptr);
    EXPECT_EQ(state->rawMatte, nullptr);
    EXPECT_EQ(state->finalMatte, nullptr);
    for (int i = 0; i < kBufferSlotCount; ++i) {
        void* block = AllocLargeBuffer(kFileBackedThreshold);
        ASSERT_NE(block, nullptr) << "slot " << i << " still held";
        FreeLargeBuffer(block);
    }
}

TEST_F(EntryTest, RunsWithoutFinishNeverExhaustTheFileBackedSlots) {
    // Each run holds four file-backed blocks; the host never sends finish.
    for (int run = 0; run < 10; ++run) {
        ASSERT_EQ(host_.Call(filterSelectorPrepare), 0) << "run " << run;
        PluginState* state = test::StoredState(host_);
        HoldRunBuffers(state, 2 * kFileBackedThreshold, kFileBackedThreshold);
        ASSERT_NE(state->finalMatte, nullptr) << "run " << run << ": slots leaked";
    }
    host_.Call(filterSelectorFinish);
}

TEST_F(EntryTest, ParametersSelectorCreatesTheDefaults) {
    ASSERT_EQ(host_.record().parameters, nullptr);
    EXPECT_EQ(host_.Call(filterSelectorParameters), 0);
    const ParameterRecord* p = GetParameters(&host_.record());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ShowDialog, 1);
    EXPECT_EQ(p->ScreenColor, 0);
    EXPECT_EQ(p->OutputMethod, 0);
    EXPECT_EQ(p->DynamicRange, 1);
    EXPECT_EQ(p->BlueRemoval, 255);
    EXPECT_EQ(p->PreviewZoom, 1);
    EXPECT_EQ(p->SettingsPath[0], '\0');
    // Every other field is zero: compare with a record holding only the defaults.
    ParameterRecord expected;
    std::memset(&expected, 0, sizeof expected);
    SetParameterDefaults(&expected);
    EXPECT_EQ(std::memcmp(p, &expected, sizeof expected), 0);
    EXPECT_EQ(expected.CorrectionR | expected.CorrectionG | expected.CorrectionB |
                  expected.MatteChoke | expected.ForceBlack | expected.ForceWhite |
                  expected.Gamma | expected.MatteBlur | expected.Protection | expected.RestoreR |
                  expected.RestoreG | expected.RestoreB | expected.ShowMatte | expected.FitZoom,
              0);
}

TEST_F(EntryTest, SecondParametersSelectorKeepsEverySettingAndArmsTheDialog) {
    host_.Call(filterSelectorParameters);
    ParameterRecord* p = GetParameters(&host_.record());
    Handle handle = host_.record().parameters;
    p->ShowDialog = 0;
    p->Gamma = 77;
    p->MatteChoke = -12;
    p->ScreenColor = 1;
    std::strcpy(p->SettingsPath, "/tmp/a.tvk");
    ParameterRecord before = *p;
    EXPECT_EQ(host_.Call(filterSelectorParameters), 0);
    EXPECT_EQ(host_.record().parameters, handle);
    before.ShowDialog = 1;
    EXPECT_EQ(std::memcmp(GetParameters(&host_.record()), &before, sizeof before), 0);
}

TEST_F(EntryTest, StartWithoutAdvanceStateShowsOneMessageAndEmptiesTheRectangles) {
    host_.quirks.noAdvanceState = true;
    host_.Call(filterSelectorParameters);
    host_.Call(filterSelectorPrepare);
    host_.record().inRect = Rect{0, 0, 64, 64};
    host_.record().outRect = Rect{0, 0, 64, 64};
    EXPECT_EQ(host_.Call(filterSelectorStart), 1);
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].caption, "Tavrisk Filter");
    EXPECT_EQ(messages_.messages()[0].icon, platform::MessageIcon::Stop);
    EXPECT_EQ(host_.record().inRect.right, 0);
    EXPECT_EQ(host_.record().outRect.right, 0);
    EXPECT_EQ(test::StoredState(host_)->sourceImage, nullptr);
}

TEST_F(EntryTest, DialogPathWithoutDisplayPixelsShowsTheHostMessage) {
    host_.quirks.noDisplayPixels = true;
    host_.Call(filterSelectorParameters);
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.Call(filterSelectorStart), 1);
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].text,
              "This plug-in requires Adobe Photoshop 2.5.2 or later functionality");
    EXPECT_EQ(GetParameters(&host_.record())->ShowDialog, 1);
}

TEST(StringTableTest, EveryListedStringLoadsAndIsCutToTheBuffer) {
    char buffer[256];
    for (unsigned id : {1u, 2u, 200u, 201u, 205u, 206u, 207u, 208u, 209u, 210u, 211u, 16997u,
                        16998u, 16999u}) {
        EXPECT_GT(platform::LoadStringResource(nullptr, id, buffer, sizeof buffer), 0) << id;
    }
    EXPECT_EQ(platform::LoadStringResource(nullptr, 12345, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    char small[6];
    EXPECT_EQ(platform::LoadStringResource(nullptr, IDS_CAPTION, small, sizeof small), 5);
    EXPECT_STREQ(small, "Tavri");
    platform::LoadStringResource(nullptr, IDS_NEWER_VERSION, buffer, sizeof buffer);
    EXPECT_STREQ(buffer,
                 "This file contains settings for a newer version of Tavrisk.  Only those that "
                 "apply to this version will be read.");
}

}  // namespace
}  // namespace tav
