// tavrisk preview: the plug-in's parameters dialog opened in-process on an
// image as a host's first run opens it, worked as a user would (the screen,
// the zoom buttons, a drag to the point asked for), the picture its preview
// pane shows written to a PNG, and the dialog cancelled.
#pragma once

#include <string>

#include "keyer/job.h"

namespace tav::cli {

// Previews `input` with the batch's settings and options into `output`,
// saving the settings when asked; false when it could not, or could not
// save them (reported).
bool PreviewOne(Batch* batch, const std::string& input, const std::string& output);

}  // namespace tav::cli
