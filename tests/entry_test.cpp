// The entry point (plugin/entry): the state block in the data word, the
// selectors' own work, and the memory asked of the host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "runtime/allocator.h"
#include "plugin/entry.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "platform/module.h"
#include "resources/strings.h"
#include "tests/support.h"

namespace tav {
namespace {

class EntryTest : public ::testing::Test {
protected:
    EntryTest() : host_(ENTRYPOINT) { host_.SetImage(100, 100, 3, {}); }
    inprocess::InProcessHost host_;
    test::MessageCapture messages_;
};

TEST_F(EntryTest, FirstCallCreatesOneBlockWithNoWorkerAndKeepsIt) {
    ASSERT_EQ(host_.dataWord(), 0);
    EXPECT_EQ(host_.CallAbout(), 0);
    const intptr_t block = host_.dataWord();
    ASSERT_NE(block, 0);
    EXPECT_EQ(test::StoredState(host_)->worker.workerHandle, kNoWorker);
    EXPECT_EQ(messages_.messages().size(), 1u);  // the about box
    host_.Call(filterSelectorParameters);
    host_.Call(filterSelectorPrepare);
    EXPECT_EQ(host_.dataWord(), block);
}

TEST_F(EntryTest, UnknownSelectorIsRefusedAndTheBlockIsStillCopiedBack) {
    for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(32767), int16_t(-32768)}) {
        EXPECT_EQ(host_.Call(selector), filterBadParameters) << selector;
        PluginState* state = test::StoredState(host_);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->result, filterBadParameters);
        EXPECT_EQ(state->filterRecord, &host_.record());
    }
}

// The image's buffer from the host while it is below one megabyte, and the
// mattes' too while all of it is; sizes in 64 bits, so large areas never wrap.
TEST_F(EntryTest, PrepareAsksTheHostOnlyForBlocksBelowOneMegabyte) {
    const struct {
        int width, height;
        int32_t bufferSpace;
        int64_t imageBytes;
    } cases[] = {{600, 600, 720000, 1080000},  // the image file-backed, the mattes not
                 {100, 100, 80000, 30000},
                 {591, 591, 2 * (1047843 + 349281), 1047843},
                 {1024, 1024, 0, 3145728},
                 {32767, 32767, 0, 3221028867LL},
                 {0, 50, 0, 0},
                 {-40, -40, 0, 0}};  // an inverted area
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        // A selection away from the origin where the coordinates allow it.
        const int top = c.height < 30000 ? 10 : 0, left = c.width < 30000 ? 20 : 0;
        SetHostRect(&host_.record().filterRect, left, top, left + c.width, top + c.height);
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
}

TEST_F(EntryTest, PrepareResetsTheRunStartValues) {
    host_.Call(filterSelectorPrepare);
    PluginState* state = test::StoredState(host_);
    state->previewCenterX = 7;
    state->keyRangeTaken = state->worker.workerFinished = state->panning = state->picking = 1;
    host_.Call(filterSelectorPrepare);
    state = test::StoredState(host_);
    EXPECT_EQ(state->previewCenterX, -1);
    EXPECT_EQ(state->keyRangeTaken | state->worker.workerFinished | state->panning | state->picking, 0);
    EXPECT_EQ(state->worker.workerHandle, kNoWorker);
}

// Four file-backed blocks, as a run that allocated them leaves the state;
// a second finish finds nothing to free twice.
TEST_F(EntryTest, FinishReleasesTheBuffersAndTheirFilesOnce) {
    host_.Call(filterSelectorPrepare);
    PluginState* state = test::StoredState(host_);
    for (uint8_t** buffer : {&state->sourceImage, &state->foregroundImage, &state->rawMatte, &state->finalMatte})
        ASSERT_NE(*buffer = static_cast<uint8_t*>(AllocLargeBuffer(kFileBackedThreshold)), nullptr);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    state = test::StoredState(host_);
    for (uint8_t* buffer : {state->sourceImage, state->foregroundImage, state->rawMatte, state->finalMatte})
        EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(host_.Call(filterSelectorFinish), 0);
    std::vector<void*> blocks;
    for (int i = 0; i < kBufferSlotCount; ++i) {
        blocks.push_back(AllocLargeBuffer(kFileBackedThreshold));
        EXPECT_NE(blocks.back(), nullptr) << "slot " << i << " still held";
    }
    for (void* block : blocks) FreeLargeBuffer(block);
}

TEST_F(EntryTest, ParametersSelectorCreatesTheDefaultsOnceAndThenOnlyArmsTheDialog) {
    ASSERT_EQ(host_.record().parameters, nullptr);
    EXPECT_EQ(host_.Call(filterSelectorParameters), 0);
    ParameterRecord* p = GetParameters(&host_.record());
    ASSERT_NE(p, nullptr);
    ParameterRecord expected;
    std::memset(&expected, 0, sizeof expected);
    SetParameterDefaults(&expected);
    EXPECT_EQ(std::memcmp(p, &expected, sizeof expected), 0);

    const Handle handle = host_.record().parameters;
    p->ShowDialog = 0, p->Gamma = 77, p->MatteChoke = -12, p->ScreenColor = 1;
    std::strcpy(p->SettingsPath, "/tmp/a.tvk");
    ParameterRecord before = *p;
    EXPECT_EQ(host_.Call(filterSelectorParameters), 0);
    EXPECT_EQ(host_.record().parameters, handle);
    before.ShowDialog = 1;
    EXPECT_EQ(std::memcmp(GetParameters(&host_.record()), &before, sizeof before), 0);
}

// A host without a callback the run needs gets a message saying what the
// plug-in needs, and no run: without advanceState none at all, without
// displayPixels no dialog.
TEST_F(EntryTest, HostsWithoutTheCallbacksARunNeedsAreToldAndRefused) {
    host_.Call(filterSelectorParameters);
    for (const auto& [noAdvanceState, message] : {std::pair{true, IDS_NEEDS_ADVANCE_STATE}, {false, IDS_NEEDS_HOST}}) {
        test::ClearMessages();
        host_.quirks.noAdvanceState = noAdvanceState;
        host_.quirks.noDisplayPixels = !noAdvanceState;
        EXPECT_EQ(host_.RunFilter(false), 1);
        char text[256];
        platform::LoadStringResource(nullptr, message, text, sizeof text);
        ASSERT_EQ(messages_.messages().size(), 1u);
        EXPECT_EQ(messages_.messages()[0].text, text);
        EXPECT_EQ(GetParameters(&host_.record())->ShowDialog, 1);
    }
}

// The string table of the POSIX build.
TEST(StringTableTest, StringsAreCutToTheBufferAndUnknownOnesAreEmpty) {
    char buffer[256] = "x";
    EXPECT_EQ(platform::LoadStringResource(nullptr, 12345, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    char small[6];
    EXPECT_EQ(platform::LoadStringResource(nullptr, IDS_CAPTION, small, sizeof small), 5);
    EXPECT_STREQ(small, "Tavri");
}

}  // namespace
}  // namespace tav
