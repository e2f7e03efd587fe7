#include "output/preview_matte.h"

#include <memory>
#include <new>

#include "engine/blur.h"
#include "engine/choke.h"
#include "runtime/allocator.h"

namespace tav {
namespace {

std::unique_ptr<unsigned char[]> Scratch(size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

}  // namespace

uint8_t* BlurMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t radius) {
    if (block == nullptr || width <= 0 || height <= 0) return block;
    auto scratch = Scratch(BlurScratchBytes(width, height, radius));
    if (scratch == nullptr) return block;
    auto* result = static_cast<uint8_t*>(AllocLargeBuffer(uint64_t(width) * uint64_t(height)));
    if (result == nullptr) return block;
    BlurMatte(block, result, width, height, radius, scratch.get(), nullptr);
    FreeLargeBuffer(block);
    return result;
}

uint8_t* ChokeMatteBuffer(uint8_t* block, int32_t width, int32_t height, int32_t amount) {
    if (block == nullptr || width <= 0 || height <= 0) return block;
    auto* result = static_cast<uint8_t*>(AllocLargeBuffer(uint64_t(width) * uint64_t(height)));
    if (result == nullptr) return block;
    auto scratch = Scratch(ChokeScratchBytes(width, height, amount));
    ChokeMatte(block, result, width, height, amount, scratch.get(), nullptr);
    FreeLargeBuffer(block);
    return result;
}

}  // namespace tav
