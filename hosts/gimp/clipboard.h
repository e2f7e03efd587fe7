// GIMP's clipboard (what Edit > Copy holds) as the filter's: the picture the
// background method lays the foreground over. The program offers it through
// platform/program_clipboard.h; it is fetched from GIMP when the filter first
// asks, as a packed 24-bit bitmap.
#pragma once

#include <mutex>

namespace tav::gimp {

// libgimp's connection to GIMP takes one call at a time: the filter's
// progress comes from its worker thread.
std::mutex& WireLock();

// The run's filtered area: a picture of another size is one the filter
// cannot use, and is not converted.
void OfferClipboard(int width, int height);

}  // namespace tav::gimp
