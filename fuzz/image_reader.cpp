// The keyer's image reader (DecodeImage: PNG and JPEG) on arbitrary bytes,
// with a budget of 2^20 pixels so that a file claiming a huge size is
// refused at once:
// - a refusal says why;
// - a decoded image is within the budget, with four bytes a pixel;
// - the budget is exact: a budget of the image's own pixel count decodes it
//   alike, one pixel less refuses it;
// - accepting JPEG warnings refuses nothing that decodes without them, and
//   decodes it alike;
// - written with WritePng and read back, the image is the same to the byte.
#include <string>

#include "fuzz/fuzz_support.h"
#include "keyer/image_file.h"

namespace {

using tav::cli::Image;
using tav::cli::ReadOptions;

constexpr int64_t kBudget = int64_t(1) << 20;

bool Decode(const uint8_t* data, size_t size, int64_t budget, bool acceptWarnings, Image* image) {
    ReadOptions options;
    options.maxPixels = budget;
    options.acceptJpegWarnings = acceptWarnings;
    std::string error;
    const bool decoded = tav::cli::DecodeImage(data, size, options, image, &error);
    FUZZ_CHECK(decoded || !error.empty());
    return decoded;
}

bool Same(const Image& a, const Image& b) {
    return a.width == b.width && a.height == b.height && a.rgba == b.rgba;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Image image;
    const bool strict = Decode(data, size, kBudget, false, &image);
    Image lenient;
    const bool decoded = Decode(data, size, kBudget, true, &lenient);
    FUZZ_CHECK(decoded || !strict);
    if (!decoded) return 0;
    if (strict) FUZZ_CHECK(Same(image, lenient));

    const int64_t pixels = int64_t(lenient.width) * lenient.height;
    FUZZ_CHECK(lenient.width > 0 && lenient.height > 0 && pixels <= kBudget);
    FUZZ_CHECK(lenient.rgba.size() == size_t(pixels) * 4);

    Image again;
    FUZZ_CHECK(Decode(data, size, pixels, true, &again) && Same(again, lenient));
    FUZZ_CHECK(!Decode(data, size, pixels - 1, true, &again));

    const std::string path = tav::fuzz::PrivateFolder() + "/decoded.png";
    std::string error;
    FUZZ_CHECK(tav::cli::WritePng(path, lenient, &error));
    const std::string written = tav::fuzz::ReadFile(path);
    Image reread;
    FUZZ_CHECK(Decode(reinterpret_cast<const uint8_t*>(written.data()), written.size(), pixels, false, &reread));
    FUZZ_CHECK(Same(reread, lenient));
    return 0;
}
