#include "tests/support.h"

#include "host/allocator.h"

namespace tav::test {
namespace {
std::vector<CapturedMessage> g_messages;

void Sink(const char* caption, const char* text, platform::MessageIcon icon) {
    g_messages.push_back({caption, text, icon});
}
}  // namespace

MessageCapture::MessageCapture() {
    g_messages.clear();
    platform::SetMessageBoxSink(Sink);
}

MessageCapture::~MessageCapture() { platform::SetMessageBoxSink(nullptr); }

const std::vector<CapturedMessage>& MessageCapture::messages() const { return g_messages; }

PluginState* StoredState(testing::TestHost& host) {
    return static_cast<PluginState*>(MacHandleData(reinterpret_cast<Handle>(host.dataWord())));
}

}  // namespace tav::test
