// The preview's matte passes: blur and choke of a block from the Large-buffer
// allocator, each giving a new block and releasing the old one.
#pragma once

#include <cstdint>

namespace tav {

// Blurs a width x height matte with `radius`. Returns a new block (release it
// with FreeLargeBuffer) and releases `block`; without memory it returns
// `block` itself, unchanged and still owned by the caller.
uint8_t* BlurMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t radius);

// Chokes a width x height matte by `amount`, with the same ownership rules.
// Without scratch memory the choke is computed pixel by pixel; without memory
// for the result `block` is returned unchanged.
uint8_t* ChokeMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t amount);

}  // namespace tav
