// The parameters dialog of the real plug-in under a script of user input.
#pragma once

#include <cstdint>
#include <vector>

#include "hosts/inprocess/inprocess_host.h"

namespace tav::winhost {

// A host's first run on a width x height RGBA image: the dialog opens and a
// script works it (typing, scrolling, zooming, panning, a force-black pick),
// checks its controls and that the pane shows the picture handed to
// displayPixels, then clicks OK (writing the keyed image to `outPath` and the
// final settings, KEY=VALUE a line, to `settingsPath`) or Cancel (checking
// that the record is as it was at opening). A screenshot of the dialog's
// client area goes to `shotPath` (a PPM file) when it is given. Prints one
// line a check; 0 when all passed.
int RunDialog(inprocess::EntryPoint entry, const std::vector<uint8_t>& rgba, int width, int height, bool cancel,
              const char* outPath, const char* settingsPath, const char* shotPath);

}  // namespace tav::winhost
