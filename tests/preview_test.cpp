// The preview renderer: the fit zoom, the visible window, and the picture
// compared with one drawn here from the host's reduced pixels by the plain
// references.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "runtime/capture.h"
#include "runtime/matte_run.h"
#include "runtime/plugin_state.h"
#include "output/preview.h"
#include "platform/posix/in_process_clipboard.h"
#include "tests/reference.h"
#include "tests/keyer_support.h"

namespace tav {
namespace {

using test::PreparedRun;

constexpr platform::PixelRect kPane{10, 20, 110, 120};  // 100 x 100

DibColor Backdrop(int32_t column, int32_t row) { return {uint8_t(column * 3), uint8_t(row * 5), 77}; }

// The picture the renderer must draw, from what the host delivered for the
// request the layout made.
// `picture`: the size of the clipboard picture laid under the foreground,
// {0, 0} for none.
std::vector<uint8_t> ExpectedPicture(PreparedRun& run, std::pair<int, int> picture) {
    const PluginState& s = run.state;
    const FilterRecord& r = run.host.record();
    const ParameterRecord& p = run.parameters();
    const int n = p.PreviewZoom <= 0 ? -p.PreviewZoom : 1;
    const int pw = std::min(r.inRect.right - r.inRect.left, r.outRect.right - r.outRect.left);
    const int ph = std::min(r.inRect.bottom - r.inRect.top, r.outRect.bottom - r.outRect.top);
    const int pcx = kPane.left + (kPane.right - kPane.left) / 2, pcy = kPane.top + (kPane.bottom - kPane.top) / 2;
    const int cx = s.previewCenterX == -1 ? s.width / 2 : s.previewCenterX;
    const int cy = s.previewCenterY == -1 ? s.height / 2 : s.previewCenterY;
    const int x0 = std::max(0, cx + MulDiv(kPane.left - pcx, n, 1));
    const int y0 = std::max(0, cy + MulDiv(kPane.top - pcy, n, 1));

    // The key range and content bounds of the whole area, from its pixels.
    const test::AreaSurvey a = test::SurveyArea(run.host.image(), run.host.width(), r.filterRect.left,
                                                r.filterRect.top, s.width, s.height, true);
    const auto table = reference::LevelTable(p.ForceBlack, p.ForceWhite, p.Gamma, p.DynamicRange != 0, a.lo, a.hi);

    // The image reduced n : 1, block averages with halves rounded up, keyed
    // with the content bounds in its own pixels (x0 + i n inside) and the
    // blur and the choke scaled down, truncating.
    std::vector<uint8_t> rgb;
    for (int j = 0; j < ph; ++j)
        for (int i = 0; i < pw; ++i)
            for (int k = 0; k < 3; ++k) {
                const int rx = r.inRect.left + i, ry = r.inRect.top + j;
                int sum = 0, count = 0;
                for (int y = ry * n; y < std::min(ry * n + n, run.host.height()); ++y)
                    for (int x = rx * n; x < std::min(rx * n + n, run.host.width()); ++x, ++count)
                        sum += run.host.image()[(size_t(y) * run.host.width() + x) * 4 + k];
                rgb.push_back(uint8_t((2 * sum + count) / (2 * count)));
            }
    auto reduced = [n](int edge, int origin) { return edge <= origin ? 0 : (edge - origin + n - 1) / n; };
    MatteSettings settings = MatteSettingsOf(p);
    settings.matteBlur = uint8_t(p.MatteBlur / n);
    settings.matteChoke = p.MatteChoke / n;
    const reference::WorkerResult keyed =
        reference::RunWorker(settings, table.data(), rgb, pw, ph, reduced(a.left, x0), reduced(a.top, y0),
                             reduced(a.right, x0), reduced(a.bottom, y0));
    const bool matteView = p.ShowMatte != 0 || p.OutputMethod == 2 || p.OutputMethod == 3;
    std::vector<uint8_t> out = keyed.foreground;
    for (int j = 0; j < ph; ++j)
        for (int i = 0; i < pw; ++i) {
            uint8_t* o = &out[(size_t(j) * pw + i) * 3];
            const int m = keyed.final[size_t(j) * pw + i], px = x0 + i * n, py = y0 + j * n;
            if (matteView) {
                o[0] = o[1] = o[2] = uint8_t(m);
            } else if (px < picture.first && py < picture.second) {
                const DibColor b = Backdrop(px, py);
                const int bg[3] = {b.r, b.g, b.b};
                for (int c = 0; c < 3; ++c) o[c] = uint8_t(bg[c] + (o[c] - bg[c]) * m / 255);
            }
        }
    return out;
}

std::vector<uint8_t> RenderedPicture(PreparedRun& run) {
    const FilterRecord& r = run.host.record();
    const int pw = std::min(r.inRect.right - r.inRect.left, r.outRect.right - r.outRect.left);
    const int ph = std::min(r.inRect.bottom - r.inRect.top, r.outRect.bottom - r.outRect.top);
    std::vector<uint8_t> out;
    for (int j = 0; j < ph; ++j)
        for (int i = 0; i < pw; ++i) {
            const auto* px = static_cast<const uint8_t*>(r.outData) + size_t(j) * r.outRowBytes + size_t(i) * r.planes;
            out.insert(out.end(), px, px + 3);
        }
    return out;
}

// The blur and the choke shrink with the zoom, truncating: at the fit (1 : 3)
// a blur of 8 keys with 2 and a choke of -5 with -1; at 1 : 2 a blur of 9
// with 4; at 1 : 4 a blur of 3 vanishes.
struct PictureCase {
    const char* name;
    int zoom;  // 0: the fit
    int blur, choke, method, showMatte;
    bool selection;                                  // an area away from the image's origin
    std::optional<std::pair<int, int>> background;  // the clipboard picture's size
};

class PreviewPictureTest : public ::testing::TestWithParam<PictureCase> {
protected:
    void TearDown() override { platform::ClearClipboard(); }
};

TEST_P(PreviewPictureTest, IsTheReducedAreaKeyedByThePlainReferences) {
    const PictureCase& c = GetParam();
    PreparedRun run(260, 180, 4, test::Scene(260, 180, true).rgba);
    if (c.selection) run.Select(17, 9, 247, 171);
    ParameterRecord& p = run.parameters();
    p.ScreenColor = 1;
    p.MatteBlur = uint8_t(c.blur);
    p.MatteChoke = c.choke;
    p.OutputMethod = uint8_t(c.method);
    p.ShowMatte = uint8_t(c.showMatte);
    p.Gamma = 30;
    if (c.background) {
        const auto [width, height] = *c.background;
        const std::vector<uint8_t> dib = test::MakeDib(test::DibLayout{width, height}, Backdrop);
        platform::SetClipboardDib(dib.data(), dib.size());
    }
    SetPreviewRect(kPane);
    FitPreviewZoom(&run.state);
    p.PreviewZoom = int8_t(c.zoom != 0 ? c.zoom : p.FitZoom);
    ASSERT_TRUE(CaptureImage(&run.state));
    BuildMatteTable(&run.state);
    LayOutPreview(&run.state);
    ASSERT_EQ(run.state.result, noErr);
    RenderPreview(&run.state);
    const bool under = c.method == 5 && !c.showMatte && c.background;
    EXPECT_TRUE(RenderedPicture(run) == ExpectedPicture(run, under ? *c.background : std::pair{0, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreviewPictureTest,
    ::testing::Values(PictureCase{"FullSize", 1, 0, 0, 0, 0, false, {}},
                      PictureCase{"Half", -2, 0, 0, 0, 0, false, {}},
                      PictureCase{"Third", -3, 0, 0, 1, 0, true, {}},
                      PictureCase{"FitWithBlurAndChoke", 0, 8, -5, 3, 0, false, {}},
                      PictureCase{"ShowMatteWithBlur", -2, 9, 3, 0, 1, true, {}},
                      PictureCase{"BlurVanishesAtAQuarter", -4, 3, -5, 0, 1, false, {}},
                      PictureCase{"OverTheClipboard", -2, 4, -2, 5, 0, true, std::pair{230, 162}},
                      PictureCase{"OverASmallerPicture", 1, 2, 0, 5, 0, false, std::pair{90, 60}},
                      PictureCase{"ShowMatteIgnoresTheClipboard", -3, 0, 0, 5, 1, false, std::pair{260, 180}}),
    test::kCaseName);

// The fit zoom and the window: the whole area at the most reduced zoom, a
// smaller one at full size in a display of its own size, and reductions
// beyond a signed byte held at 1 : 128 with the window inside the area.
TEST(PreviewLayoutTest, TheFitZoomShowsTheWholeAreaWithTheWindowInsideIt) {
    const struct {
        int width, height;
        int fit;
        int displayWidth, displayHeight;
    } cases[] = {{1000, 600, -10, 100, 60}, {1001, 600, -11, 91, 55}, {80, 60, 1, 80, 60},
                 {30000, 40, -128, 100, 0}, {300, 31000, -128, 2, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        PreparedRun run(c.width, c.height, 3, {});
        SetPreviewRect(kPane);
        FitPreviewZoom(&run.state);
        EXPECT_EQ(run.parameters().FitZoom, c.fit);
        run.parameters().PreviewZoom = run.parameters().FitZoom;
        LayOutPreview(&run.state);
        const Rect& d = run.state.previewRect;
        EXPECT_EQ(d.right - d.left, c.displayWidth);
        EXPECT_EQ(d.bottom - d.top, c.displayHeight);
        const Rect& in = run.host.record().inRect;
        const int n = c.fit <= 0 ? -c.fit : 1;
        EXPECT_TRUE(in.left >= 0 && in.top >= 0);
        EXPECT_TRUE(in.right * n <= c.width + n - 1 && in.bottom * n <= c.height + n - 1);
        EXPECT_TRUE(c.fit != 1 || (run.state.previewCenterX == -1 && run.state.previewCenterY == -1));
    }
}

// Panning past an edge: the window starts at the area's left edge, or ends at
// its right edge.
TEST(PreviewLayoutTest, APanPastEitherEdgeIsHeldInsideTheArea) {
    PreparedRun run(300, 200, 3, {});
    SetPreviewRect(kPane);
    run.parameters().PreviewZoom = 1;
    const struct {
        int asked, center, left;
    } cases[] = {{10, 50, 0}, {-1, 150, 100}, {299, 250, 200}, {1000, 250, 200}};
    for (const auto& c : cases) {
        run.state.previewCenterX = c.asked;
        LayOutPreview(&run.state);
        EXPECT_EQ(run.state.previewCenterX, c.center) << c.asked;
        EXPECT_EQ(run.host.record().inRect.left, c.left) << c.asked;
        EXPECT_EQ(run.host.record().inRect.right, c.left + 100) << c.asked;
    }
}

// After a request the host refused, nothing it delivered before is touched.
TEST(PreviewLayoutTest, AfterAFailedRequestTheRenderTouchesNoBuffer) {
    PreparedRun run(260, 180, 4, test::Scene(260, 180, true).rgba);
    SetPreviewRect(kPane);
    run.parameters().PreviewZoom = -2;
    ASSERT_TRUE(CaptureImage(&run.state));
    BuildMatteTable(&run.state);
    LayOutPreview(&run.state);
    RenderPreview(&run.state);
    const std::vector<uint8_t> before = RenderedPicture(run);
    run.host.failAtCall = int(run.host.advanceRequests.size());
    run.host.failResult = -108;
    run.parameters().ShowMatte = 1;
    LayOutPreview(&run.state);
    EXPECT_EQ(run.state.result, -108);
    RenderPreview(&run.state);
    CopySourceToPreview(&run.state);
    EXPECT_TRUE(RenderedPicture(run) == before);
}

}  // namespace
}  // namespace tav
