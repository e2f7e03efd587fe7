#include "keyer/preview.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "hosts/inprocess/inprocess_host.h"
#include "interface/host_interface.h"
#include "keyer/image_file.h"
#include "platform/posix/dialog_driver.h"
#include "resources/dialog_template.h"

namespace tav::cli {
namespace {

// The zoom the label shows: 1 for "1 : 1", -N for "1 : N".
int ShownZoom(platform::WindowHandle dialog) {
    const std::string label = platform::ControlText(dialog, IDC_ZOOM_LABEL);
    const size_t colon = label.find(':');
    if (colon == std::string::npos) return 1;
    const int first = std::atoi(label.c_str()), second = std::atoi(label.c_str() + colon + 1);
    return first == 1 && second > 1 ? -second : first;
}

struct PreviewRequest {
    const Options* options;
    int width, height;  // the filtered area
    std::optional<int> screen;  // the screen to choose over the one the dialog detects
    inprocess::DisplayCapture picture;
    bool shown = false;
};

// Works the dialog as a user would: the screen named, the zoom buttons up
// to the zoom asked for, a drag that brings the point asked for to the middle.
void DrivePreview(platform::WindowHandle dialog, void* context) {
    auto* request = static_cast<PreviewRequest*>(context);
    const Options& o = *request->options;
    if (request->screen) platform::ChooseListItem(dialog, IDC_SCREEN_COLOR, *request->screen);
    for (int guard = 0; o.zoom != 0 && guard < 256; ++guard) {
        const int zoom = ShownZoom(dialog);
        if (zoom == o.zoom) break;
        platform::ClickButton(dialog, zoom < o.zoom ? IDC_ZOOM_IN : IDC_ZOOM_OUT);
        if (ShownZoom(dialog) == zoom) break;  // at the end of the range
    }
    if (o.center) {
        const int n = std::max(1, -ShownZoom(dialog));
        const platform::PixelRect frame = platform::ControlRect(dialog, IDC_PREVIEW);
        const int x = (frame.left + frame.right) / 2, y = (frame.top + frame.bottom) / 2;
        // The picture follows the mouse: dragging left brings the right into view.
        const int dx = (o.center->first - request->width / 2) / n, dy = (o.center->second - request->height / 2) / n;
        platform::MouseDown(dialog, x, y);
        platform::MouseMove(dialog, x - dx, y - dy);
        platform::MouseUp(dialog, x - dx, y - dy);
    }
}

void KeepPicture(const inprocess::DisplayCapture& picture, void*, void* context) {
    auto* request = static_cast<PreviewRequest*>(context);
    request->picture = picture;
    request->shown = true;
}

}  // namespace

bool PreviewOne(Batch* batch, const std::string& input, const std::string& output) {
    Job job;
    job.input = input;
    job.output = output;
    if (!ReadInput(*batch, &job)) return false;
    DecideScreen(*batch, &job);
    if (job.settings.OutputMethod == kOutputBackground && !PrepareBackground(batch, job)) return false;
    // --save-settings: the settings previewed, with the screen as a key of
    // the image decides it.
    SaveSettingsOnce(batch, job.settings, 0);

    // The dialog detects the screen when it opens; a screen named by --screen
    // or by the settings is chosen over it, as a key of the image keeps it.
    const Options& o = batch->options;
    PreviewRequest request{&o, job.area.width, job.area.height, std::nullopt, {}, false};
    if (batch->base.screenDecided) request.screen = job.settings.ScreenColor;
    inprocess::InProcessHost host(ENTRYPOINT);
    const Region& a = job.area;
    host.SetImage(job.image.width, job.image.height, 4, std::move(job.image.rgba));
    host.SetFilterRect(a.x, a.y, a.x + a.width, a.y + a.height);
    host.SetFilterCase(batch->options.region ? filterCaseEditableTransparencyWithSelection
                                             : filterCaseEditableTransparencyNoSelection);
    host.displayDrawer = KeepPicture;
    host.displayContext = &request;
    platform::SetDialogDriver(DrivePreview, &request);
    // A host's first run: the settings are the record's when the dialog opens.
    int16_t result = host.Call(filterSelectorParameters);
    if (result == noErr) {
        job.settings.ShowDialog = 1;
        *host.parameters() = job.settings;
        result = host.RunFilter(false);
    }
    platform::SetDialogDriver(nullptr, nullptr);
    if (!request.shown)
        return ReportFailure(job, input, result == noErr || result == 1 ? "the dialog showed no preview" : RunFailure(result));
    Image picture;
    picture.width = request.picture.width;
    picture.height = request.picture.height;
    picture.rgba.resize(size_t(picture.width) * picture.height * 4, 255);
    for (size_t i = 0, n = size_t(picture.width) * picture.height; i < n; ++i)
        std::memcpy(&picture.rgba[4 * i], &request.picture.rgb[3 * i], 3);
    std::string error;
    if (!WritePng(output, picture, &error, batch->options.write)) return ReportFailure(job, output, error);
    return !batch->settingsFailed;
}

}  // namespace tav::cli
