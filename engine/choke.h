// The matte choke: grows (maximum) or shrinks (minimum) the opaque part of the
// matte over a square of (2n + 1) x (2n + 1) pixels clipped at the image's
// edges, n = |MatteChoke|. Positive amounts grow, negative ones shrink.
#pragma once

#include <cstdint>

namespace tav {

struct PluginState;

// The worker's last stage. Exchanges the state's `rawMatte` and `finalMatte`
// pointers, then writes the choke of the new `rawMatte` (the matte as it was
// before the choke) into the new `finalMatte`. Reports one progress step a
// row at `progressBase` + y without advancing `progressBase`. Returns false
// when a cancel request stopped it (the worker then takes its cancel exit),
// true otherwise. Never fails for lack of memory: without scratch memory it
// computes every pixel from its whole square.
bool ChokeMatte(PluginState* state);

// The preview's form. `block` is a matte of width x height bytes from the
// Large-buffer allocator; returns a new block from that allocator holding the
// choked matte and releases `block`. Without memory for the result it returns
// `block` itself, unchanged and still owned by the caller.
uint8_t* ChokeMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t amount);

// The choke computed pixel by pixel from each whole clipped square, the
// method the stages fall back on when they cannot have scratch memory.
void ChokeMatteDirect(const uint8_t* matte, uint8_t* result, int32_t width, int32_t height,
                      int32_t amount);

}  // namespace tav
