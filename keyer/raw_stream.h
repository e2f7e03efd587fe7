// Raw video frames through the keyer: frames of one size from standard input,
// each keyed as the same pixels given as an image would be, written to
// standard output as 8-bit RGBA, frame after frame until the input ends.
#pragma once

#include "keyer/job.h"

namespace tav::cli {

// Keys the stream with the batch's settings on at most `threads` threads;
// returns the exit code (0 every frame keyed and written, 1 a frame or the
// output failed, 2 a usage error).
int KeyRawStream(Batch* batch, int threads);

}  // namespace tav::cli
