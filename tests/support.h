// Shared helpers of the tests.
#pragma once

#include <string>
#include <vector>

#include "host/plugin_state.h"
#include "platform/message_box.h"
#include "tools/testhost/test_host.h"

namespace tav::test {

struct CapturedMessage {
    std::string caption;
    std::string text;
    platform::MessageIcon icon;
};

// Takes the message boxes over for the life of the object.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    const std::vector<CapturedMessage>& messages() const;
};

// The plug-in's state block as the host holds it between calls.
PluginState* StoredState(testing::TestHost& host);

// An image of width x height pixels and `planes` bytes each, filled by
// `pixel(x, y, plane)`.
template <typename F>
std::vector<uint8_t> MakeImage(int width, int height, int planes, F pixel) {
    std::vector<uint8_t> image(size_t(width) * height * planes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int p = 0; p < planes; ++p)
                image[(size_t(y) * width + x) * planes + p] = uint8_t(pixel(x, y, p));
    return image;
}

}  // namespace tav::test
