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

namespace tav::test {

// A host with an image and a prepared run, for calling the plug-in's
// internals directly: the state block is a copy held here, and the host
// answers callbacks for as long as the fixture lives.
class PreparedRun {
public:
    PreparedRun(int width, int height, int planes, std::vector<uint8_t> pixels);
    ~PreparedRun();
    // A selection inside the image; prepares again.
    void Select(int left, int top, int right, int bottom);
    ParameterRecord& parameters();
    void Prepare();

    testing::TestHost host;
    PluginState state;

private:
    testing::TestHost* previous_;
};

}  // namespace tav::test
