// The parameters dialog and its preview pane, opened through the entry point
// as a host's first run opens them and worked through the in-process dialog
// the way a user works the real one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/matte_run.h"
#include "runtime/plugin_state.h"
#include "platform/posix/dialog_driver.h"
#include "platform/posix/in_process_clipboard.h"
#include "platform/registry.h"
#include "plugin/entry.h"
#include "resources/dialog_template.h"
#include "tests/support.h"
#include "ui/registry.h"
#include "ui/settings_format.h"
#include "runtime/parameters.h"

namespace tav {
namespace {

using platform::WindowHandle;
using Actions = std::function<void(WindowHandle dialog, PluginState* state)>;

Actions g_actions;
void Drive(WindowHandle dialog, void*) {
    if (g_actions) g_actions(dialog, reinterpret_cast<PluginState*>(platform::DialogParameter(dialog)));
}

// Colours of a blue-screen image and the raw matte values they key to.
constexpr uint8_t kBlue[3] = {0, 0, 255};
constexpr uint8_t kMatte30[3] = {30, 30, 255};    // screen key 225
constexpr uint8_t kMatte220[3] = {65, 65, 100};   // screen key 35
constexpr uint8_t kReddish[3] = {40, 60, 200};

class DialogTest : public ::testing::Test {
protected:
    DialogTest() : host_(ENTRYPOINT) {
        host_.recording = true;
        host_.SetFilterCase(filterCaseEditableTransparencyNoSelection);
        UseImage(80, 60, [](int, int) { return kBlue; });
        platform::SetDialogDriver(Drive, nullptr);
        platform::ClearClipboard();
    }
    ~DialogTest() override {
        platform::SetDialogDriver(nullptr, nullptr);
        platform::SetMonitorWorkAreas({platform::PixelRect{0, 0, 1920, 1080}});
        g_actions = nullptr;
    }
    template <typename F>
    void UseImage(int width, int height, F colour) {
        host_.SetImage(width, height, 4, test::MakeImage(width, height, 4, [&](int x, int y, int p) {
                           return p == 3 ? 255 : colour(x, y)[p];
                       }));
    }
    // A first run: the parameters selector, `settings` on the record, then
    // the dialog worked by `actions`. Returns the run's result.
    int16_t Run(const Actions& actions, const std::function<void(ParameterRecord&)>& settings = {}) {
        g_actions = actions;
        EXPECT_EQ(host_.Call(filterSelectorParameters), 0);
        if (settings) settings(record());
        return host_.RunFilter(false);
    }
    ParameterRecord& record() { return *GetParameters(&host_.record()); }
    // A point of the image at 1 : 1 in the pane, which centres it.
    static std::pair<int, int> PanePoint(WindowHandle dialog, int width, int height, int x, int y) {
        const platform::PixelRect f = platform::ControlRect(dialog, IDC_PREVIEW);
        const int l = f.left + 2, t = f.top + 2, r = f.right - 2, b = f.bottom - 2;
        return {l + (r - l - width) / 2 + x, t + (b - t - height) / 2 + y};
    }
    static void Drag(WindowHandle dialog, std::pair<int, int> from, std::pair<int, int> to) {
        platform::MouseDown(dialog, from.first, from.second);
        platform::MouseMove(dialog, to.first, to.second);
        platform::MouseUp(dialog, to.first, to.second);
    }

    inprocess::InProcessHost host_;
    test::ScopedSettingsStores stores_;
    test::MessageCapture messages_;
};

// Every control of the template sits at its place (a list's closed box is
// the list's top).
TEST_F(DialogTest, TheControlsSitAtTheirTemplatePlaces) {
    Run([&](WindowHandle d, PluginState*) {
        const std::vector<platform::ControlInfo> controls = platform::Controls(d);
        EXPECT_EQ(controls.size(), 49u);
        for (const platform::ControlInfo& c : controls) {
            const platform::PixelRect want = platform::DialogUnitsToPixels(d, c.units);
            const platform::PixelRect& got = c.pixels;
            const bool list = c.className == "ComboBox";
            EXPECT_TRUE(got.left == want.left && got.top == want.top && got.right == want.right &&
                        (list ? got.bottom > got.top && got.bottom <= want.bottom : got.bottom == want.bottom))
                << "control " << c.id << " at " << got.left << "," << got.top << "," << got.right << "," << got.bottom;
        }
    });
}

// ---- Edit boxes and scroll bars ------------------------------------------------------

// Typing clamps the number to its box's range (an empty box and letters give
// 0, a minus in an unsigned box too) and keeps the scroll bar in step; a
// scroll bar moves the value and writes the box, and every scroll refreshes,
// also one that changes nothing.
TEST_F(DialogTest, EditBoxesAndScrollBarsKeepTheValueInRangeAndInStep) {
    const struct {
        int edit;
        const char* typed;
        int32_t value;         // the record's value afterwards
        const char* shown;     // the box's text afterwards
        int scroll, position;  // the scroll bar kept in step (0: none)
    } edits[] = {{IDC_FORCE_BLACK, "300", 255, "255", IDC_FORCE_BLACK_SCROLL, 255},
                 {IDC_MATTE_CHOKE, "-200", -128, "-128", IDC_MATTE_CHOKE_SCROLL, -128},
                 {IDC_GAMMA, "12a", 0, "12a", IDC_GAMMA_SCROLL, 0},
                 {IDC_GAMMA, "", 0, "", IDC_GAMMA_SCROLL, 0},
                 {IDC_RESTORE_R, "-5", 0, "-5", 0, 0},
                 {IDC_CORRECTION_R, "-300", -255, "-255", 0, 0}};
    const struct {
        int scroll;
        uint16_t code;
        int16_t thumb;
        const char* before;
        int32_t after;
    } scrolls[] = {{IDC_MATTE_BLUR_SCROLL, platform::kScrollPageRight, 0, "250", 255},
                   {IDC_MATTE_BLUR_SCROLL, platform::kScrollLineLeft, 0, "0", 0},
                   {IDC_MATTE_CHOKE_SCROLL, platform::kScrollLeftEnd, 0, "5", -128},
                   {IDC_MATTE_CHOKE_SCROLL, platform::kScrollThumbTrack, -100, "5", -100}};
    auto field = [&](int edit) -> int32_t {
        const ParameterRecord& p = record();
        return edit == IDC_MATTE_CHOKE ? p.MatteChoke : edit == IDC_CORRECTION_R ? p.CorrectionR
               : edit == IDC_FORCE_BLACK ? p.ForceBlack : edit == IDC_RESTORE_R ? p.RestoreR
               : edit == IDC_MATTE_BLUR ? p.MatteBlur : p.Gamma;
    };
    Run([&](WindowHandle d, PluginState*) {
        for (const auto& c : edits) {
            SCOPED_TRACE(std::string("typed ") + c.typed);
            platform::TypeText(d, IDC_GAMMA, "40");
            platform::TypeText(d, c.edit, c.typed);
            EXPECT_EQ(field(c.edit), c.value);
            EXPECT_EQ(platform::ControlText(d, c.edit), c.shown);
            EXPECT_EQ(c.scroll != 0 ? platform::ScrollPositionOf(d, c.scroll) : 0, c.position);
        }
        for (const auto& c : scrolls) {
            const int box = c.scroll == IDC_MATTE_CHOKE_SCROLL ? IDC_MATTE_CHOKE : IDC_MATTE_BLUR;
            SCOPED_TRACE(std::string("scrolled from ") + c.before);
            platform::TypeText(d, box, c.before);
            const int paints = platform::PaintCount(d);
            platform::Scroll(d, c.scroll, c.code, c.thumb);
            EXPECT_EQ(field(box), c.after);
            EXPECT_EQ(platform::ControlText(d, box), std::to_string(c.after));
            EXPECT_GT(platform::PaintCount(d), paints);
        }
    });
}

// ---- Zoom, pan, picks -------------------------------------------------------------------

TEST_F(DialogTest, ZoomStepsFromTheFitToOneToOneAndBack) {
    UseImage(380, 390, [](int, int) { return kBlue; });  // 1 : 3 or 1 : 4 fits the pane, by the font
    std::vector<std::string> labels, expected;
    Run([&](WindowHandle d, PluginState*) {
        labels.push_back(platform::ControlText(d, IDC_ZOOM_LABEL));
        for (int id : {IDC_ZOOM_IN, IDC_ZOOM_IN, IDC_ZOOM_IN, IDC_ZOOM_IN, IDC_ZOOM_OUT, IDC_ZOOM_OUT, IDC_ZOOM_OUT,
                       IDC_ZOOM_OUT}) {
            platform::ClickButton(d, id);
            labels.push_back(platform::ControlText(d, IDC_ZOOM_LABEL));
        }
    });
    // In to 1 : 1 and no further, out to the fit and no further.
    int zoom = std::atoi(labels[0].c_str() + 4);
    const int fit = zoom;
    ASSERT_GE(fit, 3) << labels[0];
    expected.push_back(labels[0]);
    for (int step : {-1, -1, -1, -1, 1, 1, 1, 1}) {
        zoom = std::clamp(zoom + step, 1, fit);
        expected.push_back("1 : " + std::to_string(zoom));
    }
    EXPECT_EQ(labels, expected);
}

TEST_F(DialogTest, AClickAtTheFitZoomPansNothingOneStepInDoes) {
    UseImage(300, 200, [](int, int) { return kBlue; });
    Run([&](WindowHandle d, PluginState* state) {
        const platform::PixelRect f = platform::ControlRect(d, IDC_PREVIEW);
        const int x = (f.left + f.right) / 2, y = (f.top + f.bottom) / 2;
        platform::MouseDown(d, x, y);
        EXPECT_FALSE(platform::MouseCaptured(d));
        EXPECT_EQ(state->panning, 0);
        platform::MouseUp(d, x, y);
        platform::ClickButton(d, IDC_ZOOM_IN);
        platform::MouseDown(d, x, y);
        EXPECT_TRUE(platform::MouseCaptured(d));
        EXPECT_EQ(state->panning, 1);
        const int before = state->previewCenterX;
        platform::MouseMove(d, x - 10, y);
        EXPECT_GT(state->previewCenterX, before);  // the picture follows the mouse
        platform::MouseUp(d, x - 10, y);
        EXPECT_EQ(state->panning, 0);
    });
}

// Captured, the mouse reports points left of the client area as negative
// coordinates: the picture goes on following it there.
TEST_F(DialogTest, APanFollowsTheMousePastTheClientAreasEdge) {
    UseImage(3000, 100, [](int, int) { return kBlue; });  // wide enough for the pan to stay inside
    Run([&](WindowHandle d, PluginState* state) {
        for (int i = 0; i < 40; ++i) platform::ClickButton(d, IDC_ZOOM_IN);
        ASSERT_EQ(platform::ControlText(d, IDC_ZOOM_LABEL), "1 : 1");
        const platform::PixelRect f = platform::ControlRect(d, IDC_PREVIEW);
        const int x = (f.left + f.right) / 2, y = (f.top + f.bottom) / 2;
        platform::MouseDown(d, x, y);
        const int start = state->previewCenterX;
        platform::MouseMove(d, -20, y);
        EXPECT_EQ(state->previewCenterX, start + x + 20);
        platform::MouseUp(d, -20, y);
    });
}

struct PickCase {
    const char* name;
    int button;
    int x0, y0, x1, y1;  // the drag, in image pixels
    int32_t r, g, b;     // the correction, or (ForceBlack, ForceWhite, 0)
};

class DialogPickTest : public DialogTest, public ::testing::WithParamInterface<PickCase> {};

TEST_P(DialogPickTest, SetsTheValueFromThePixelsUnderTheRectangle) {
    const PickCase& c = GetParam();
    // Left half pure blue with a reddish patch; right half matte 30 and 220.
    UseImage(80, 60, [](int x, int y) {
        if (x < 40) return x >= 20 && y >= 10 && y < 20 ? kReddish : kBlue;
        return y < 30 ? kMatte30 : kMatte220;
    });
    bool disabled = false;
    Run([&](WindowHandle d, PluginState*) {
        platform::ClickButton(d, c.button);
        disabled = !platform::ControlEnabled(d, platform::kCommandOk) && !platform::ControlEnabled(d, IDC_GAMMA);
        Drag(d, PanePoint(d, 80, 60, c.x0, c.y0), PanePoint(d, 80, 60, c.x1, c.y1));
        EXPECT_TRUE(platform::ControlEnabled(d, platform::kCommandOk));
        platform::PressEnter(d);
    }, [](ParameterRecord& p) { p.DynamicRange = 0; });
    EXPECT_TRUE(disabled);
    const ParameterRecord& p = record();
    if (c.button == IDC_PICK_CORRECTION) {
        EXPECT_EQ(p.CorrectionR, c.r);
        EXPECT_EQ(p.CorrectionG, c.g);
        EXPECT_EQ(p.CorrectionB, c.b);
    } else {
        EXPECT_EQ(p.ForceBlack, c.r);
        EXPECT_EQ(p.ForceWhite, c.g);
    }
    EXPECT_EQ(p.OutputMethod, 0);  // restored after the pick
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogPickTest,
    ::testing::Values(PickCase{"CorrectionOverBlueOnly", IDC_PICK_CORRECTION, 2, 2, 15, 30, 0, 0, 0},
                      PickCase{"CorrectionOverBlueAndAPatch", IDC_PICK_CORRECTION, 10, 5, 30, 25, -40, -60, 55},
                      PickCase{"ClickWithoutMoving", IDC_PICK_CORRECTION, 25, 15, 25, 15, 0, 0, 0},
                      PickCase{"DraggedUpIsEmpty", IDC_PICK_CORRECTION, 30, 25, 10, 5, 0, 0, 0},
                      PickCase{"ForceBlack", IDC_PICK_FORCE_BLACK, 45, 20, 70, 40, 220, 0, 0},
                      PickCase{"ForceWhite", IDC_PICK_FORCE_WHITE, 45, 20, 70, 40, 0, 225, 0}),
    test::kCaseName);

// A force pick while the matte is already shown keeps the finished worker; a
// correction pick stops a running one until the pick ends.
TEST_F(DialogTest, PicksStopTheWorkerOnlyWhenTheyChangeWhatItComputes) {
    UseImage(1600, 1200, [](int x, int y) { return (x / 50 + y / 50) % 2 ? kMatte30 : kMatte220; });
    Run([&](WindowHandle d, PluginState* state) {
        platform::ChooseListItem(d, IDC_OUTPUT, 3);
        WaitForWorker(state);
        ASSERT_EQ(state->worker.workerFinished, 1);
        platform::ClickButton(d, IDC_PICK_FORCE_BLACK);
        EXPECT_EQ(state->worker.workerFinished, 1);
        EXPECT_EQ(state->worker.workerHandle, kNoWorker);
        platform::ClickButton(d, IDC_PICK_FORCE_BLACK);  // off again: restarts
        platform::TypeText(d, IDC_MATTE_BLUR, "250");      // a long run
        platform::ClickButton(d, IDC_PICK_CORRECTION);
        EXPECT_EQ(state->worker.workerHandle, kNoWorker);
        EXPECT_EQ(state->worker.workerFinished, 0);
        platform::ClickButton(d, IDC_ZOOM_IN);
        EXPECT_EQ(state->worker.workerHandle, kNoWorker);
    });
}

// ---- Opening, the lists, Cancel, the position, Save ---------------------------------------

TEST_F(DialogTest, ARememberedBackgroundMethodWithoutAPictureOpensOnTheFirstOutput) {
    std::vector<std::string> items;
    Run([&](WindowHandle d, PluginState*) {
        items = platform::ListItems(d, IDC_OUTPUT);
        EXPECT_EQ(platform::ListSelection(d, IDC_OUTPUT), 0);
        EXPECT_EQ(platform::ListItems(d, IDC_SCREEN_COLOR).size(), 2u);
    }, [](ParameterRecord& p) { p.OutputMethod = 5; });
    EXPECT_EQ(items.size(), 5u);
    EXPECT_EQ(record().OutputMethod, 0);
}

TEST_F(DialogTest, CancelAfterChangesAndALoadRestoresTheRecordAsOpened) {
    test::TempFolder folder;
    const std::string file = folder.Path("s.tvk");
    test::WriteFile(file, "[TavRisk Settings]\nGamma=90\nMatteChoke=-7\nScreenColor=1\n");
    ParameterRecord opened{};
    const std::vector<uint8_t> image = host_.image();
    const int16_t result = Run([&](WindowHandle d, PluginState* state) {
        opened = state->savedParameters;
        platform::TypeText(d, IDC_PROTECTION, "33");
        platform::Scroll(d, IDC_GAMMA_SCROLL, platform::kScrollPageRight);
        test::SetFileDialogScript({file});
        platform::ClickButton(d, IDC_LOAD);
        EXPECT_EQ(record().MatteChoke, -7);
        EXPECT_EQ(platform::ControlText(d, IDC_MATTE_CHOKE), "-7");
        EXPECT_EQ(platform::ListItems(d, IDC_SCREEN_COLOR).size(), 2u);
        platform::PressEscape(d);
    });
    test::ClearFileDialogScript();
    EXPECT_EQ(result, 1);
    opened.ShowDialog = 0;
    EXPECT_EQ(std::memcmp(&record(), &opened, sizeof opened), 0);
    EXPECT_TRUE(host_.image() == image);
}

TEST_F(DialogTest, OkKeysTheImageWithTheChosenSettings) {
    UseImage(200, 150, [](int x, int y) { return (x - 100) * (x - 100) + (y - 75) * (y - 75) < 2500 ? kReddish : kBlue; });
    const int16_t result = Run([&](WindowHandle d, PluginState*) {
        platform::TypeText(d, IDC_MATTE_BLUR, "2");
        platform::TypeText(d, IDC_MATTE_CHOKE, "1");
        platform::PressEnter(d);
    });
    EXPECT_EQ(result, 0);
    const std::vector<uint8_t> keyed = host_.image();
    // The same settings on the untouched image, as a repeated run.
    UseImage(200, 150, [](int x, int y) { return (x - 100) * (x - 100) + (y - 75) * (y - 75) < 2500 ? kReddish : kBlue; });
    EXPECT_EQ(record().ShowDialog, 0);
    EXPECT_EQ(host_.RunFilter(false), 0);
    EXPECT_TRUE(host_.image() == keyed);
}

struct PositionCase {
    const char* name;
    std::optional<int32_t> storedX, storedY;
    std::optional<int32_t> left;  // where the dialog opens; none: where the template puts it
};

class DialogPositionTest : public DialogTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(DialogPositionTest, OpensWhereItWasWhenThatIsOnAMonitor) {
    const PositionCase& c = GetParam();
    platform::SetMonitorWorkAreas({platform::PixelRect{-1280, 0, 0, 1024}, platform::PixelRect{0, 0, 1920, 1080}});
    if (c.storedX) {
        ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, kPosXValue, *c.storedX), 1);
    }
    if (c.storedY) {
        ASSERT_EQ(WriteSettingsInt(kUserSettingsKey, kPosYValue, *c.storedY), 1);
    }
    int32_t left = 0, expected = 0;
    Run([&](WindowHandle d, PluginState*) {
        left = platform::DialogScreenRect(d).left;
        expected = c.left.value_or(platform::DialogUnitsToPixels(d, {TAV_DIALOG_X, TAV_DIALOG_Y, 0, 0}).left);
        platform::MoveDialog(d, -40, 100);
    });
    EXPECT_EQ(left, expected);
    // Closed at -40: stored as text.
    char text[16] = {};
    uint32_t type = 0, size = sizeof text;
    ASSERT_EQ(QuerySettingsValue(kUserSettingsKey, kPosXValue, text, &type, &size), 1);
    EXPECT_EQ(type, platform::kRegistryText);
    EXPECT_STREQ(text, "-40");
}

INSTANTIATE_TEST_SUITE_P(Cases, DialogPositionTest,
                         ::testing::Values(PositionCase{"NoneStored", {}, {}, {}},
                                           PositionCase{"BothStored", -40, 100, -40},
                                           PositionCase{"OnlyTheTop", {}, 100, {}},
                                           PositionCase{"OffEveryMonitor", -3000, 100, {}}),
                         test::kCaseName);

TEST_F(DialogTest, ASaveThatCannotWriteSaysWhichFileAndWhyAndKeepsTheFolder) {
    test::TempFolder folder;
    std::filesystem::create_directory(folder.Path("taken.tvk"));  // a folder where the file should go
    ASSERT_EQ(WriteSettingsValue(kUserSettingsKey, kParamDirectoryValue, "/kept", platform::kRegistryText, 6), 1);
    Run([&](WindowHandle d, PluginState*) {
        test::SetFileDialogScript({folder.Path("taken.tvk")});
        platform::ClickButton(d, IDC_SAVE);
        test::ClearFileDialogScript();
    });
    const std::vector<test::CapturedMessage> shown = messages_.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find(folder.Path("taken.tvk")), std::string::npos) << shown[0].text;
    char kept[kSettingsTextSize] = {};
    EXPECT_TRUE(LookUpParamDirectory(kept));
    EXPECT_STREQ(kept, "/kept");
}

// ---- The pane's painting --------------------------------------------------------------

TEST_F(DialogTest, ThePaneShowsThePictureCentredOnGreyAndThePickOutlineComesAndGoes) {
    host_.displayDrawer = [](const inprocess::DisplayCapture& picture, void* context, void*) {
        platform::PutPixels(reinterpret_cast<platform::DeviceContext>(context), picture.dstCol, picture.dstRow,
                            picture.width, picture.height, picture.rgb.data());
    };
    Run([&](WindowHandle d, PluginState*) {
        const platform::ClientPicture shown = platform::ClientArea(d);
        const platform::PixelRect f = platform::ControlRect(d, IDC_PREVIEW);
        const auto [x0, y0] = PanePoint(d, 80, 60, 0, 0);
        auto at = [&](int x, int y) { return &shown.rgb[(size_t(y) * shown.width + x) * 3]; };
        const inprocess::DisplayCapture& picture = host_.displays.back();
        EXPECT_TRUE(picture.dstCol == x0 && picture.dstRow == y0 && picture.width == 80 && picture.height == 60);
        EXPECT_EQ(std::memcmp(at(x0, y0), picture.rgb.data(), 3), 0);
        for (const auto& [x, y] : {std::pair{f.left + 2, f.top + 2}, std::pair{x0 - 1, y0}, std::pair{x0, y0 - 1},
                                   std::pair{x0 + 80, y0 + 59}, std::pair{f.right - 3, f.bottom - 3}})
            EXPECT_TRUE(at(x, y)[0] == 192 && at(x, y)[1] == 192 && at(x, y)[2] == 192) << x << "," << y;

        platform::ClickButton(d, IDC_PICK_FORCE_BLACK);
        const platform::ClientPicture before = platform::ClientArea(d);
        platform::MouseDown(d, x0 + 5, y0 + 5);
        platform::MouseMove(d, x0 + 20, y0 + 15);
        const platform::ClientPicture dragging = platform::ClientArea(d);
        const uint8_t* corner = &dragging.rgb[(size_t(y0 + 5) * dragging.width + x0 + 12) * 3];
        const uint8_t* under = &before.rgb[(size_t(y0 + 5) * before.width + x0 + 12) * 3];
        EXPECT_TRUE(corner[0] == (under[0] ^ 255) && corner[1] == (under[1] ^ 255));  // XOR with white
        platform::MouseMove(d, x0 + 5, y0 + 5);  // back onto the anchor: no outline
        EXPECT_TRUE(platform::ClientArea(d).rgb == before.rgb);
        platform::MouseUp(d, x0 + 5, y0 + 5);
    });
}

}  // namespace
}  // namespace tav
