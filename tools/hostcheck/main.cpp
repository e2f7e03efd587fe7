// hostcheck: loads the plug-in's shared library the way a host loads a
// plug-in, finds ENTRYPOINT, and takes it through about, parameters,
// prepare, continue and finish with the in-process test host.
//
// Usage: hostcheck [LIBRARY]   (default: libtavrsk.so beside this program)
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "interface/host_interface.h"
#include "hosts/inprocess/inprocess_host.h"

using namespace tav;

namespace {

int g_failed = 0;

void Report(bool ok, const std::string& what) {
    std::printf("%-6s %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++g_failed;
}

std::string DefaultLibrary(const char* argv0) {
    std::string self = argv0;
    size_t slash = self.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : self.substr(0, slash);
    return folder + "/../libtavrsk.so";
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : DefaultLibrary(argv[0]);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "hostcheck: cannot load %s: %s\n", path.c_str(), dlerror());
        return 1;
    }
    auto entry = reinterpret_cast<inprocess::EntryPoint>(dlsym(library, "ENTRYPOINT"));
    Report(entry != nullptr, "ENTRYPOINT exported by " + path);
    if (entry == nullptr) return 1;

    inprocess::InProcessHost host(entry);
    host.SetImage(640, 480, 4, {});
    host.SetFilterCase(filterCaseEditableTransparencyNoSelection);

    Report(host.CallAbout() == 0, "about box shown (on standard error)");
    Report(host.Call(filterSelectorParameters) == 0 && host.record().parameters != nullptr,
           "parameters: record created with its defaults");
    int16_t result = host.Call(filterSelectorPrepare);
    Report(result == 0, "prepare 640 x 480: memory request " +
                            std::to_string(host.record().bufferSpace) + " bytes");
    Report(host.Call(filterSelectorContinue) == 0 && host.record().inRect.right == 0,
           "continue: nothing more requested");
    Report(host.Call(filterSelectorFinish) == 0, "finish: run cleaned up");
    Report(host.Call(6) == filterBadParameters, "unknown selector refused");

    dlclose(library);
    std::printf("%s\n", g_failed == 0 ? "round trip complete" : "round trip FAILED");
    return g_failed == 0 ? 0 : 1;
}
