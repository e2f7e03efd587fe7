#include "tests/support.h"

#include "host/allocator.h"
#include "host/parameters.h"

namespace tav::test {
namespace {
std::vector<CapturedMessage> g_messages;

// The test hosts free the handles they were given, as real hosts do.
const bool g_disposerSet = (testing::TestHost::SetHandleDisposer(DisposeMacHandle), true);

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

namespace tav::test {

PreparedRun::PreparedRun(int width, int height, int planes, std::vector<uint8_t> pixels)
    : host(ENTRYPOINT), state{} {
    state.workerHandle = kNoWorker;
    host.SetImage(width, height, planes, std::move(pixels));
    host.Call(filterSelectorParameters);
    Prepare();
    previous_ = host.Activate();
}

PreparedRun::~PreparedRun() {
    ReleaseRunBuffers(&state);
    testing::TestHost::Deactivate(previous_);
}

void PreparedRun::Prepare() {
    ReleaseRunBuffers(&state);
    host.Call(filterSelectorPrepare);
    state = *StoredState(host);
    state.filterRecord = &host.record();
}

void PreparedRun::Select(int left, int top, int right, int bottom) {
    host.SetFilterRect(left, top, right, bottom);
    Prepare();
}

ParameterRecord& PreparedRun::parameters() { return *GetParameters(&host.record()); }

}  // namespace tav::test
