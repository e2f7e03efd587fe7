// ENTRYPOINT: the state block kept in the host's data word, the six
// selectors, the about box, the memory request and the end-of-run clean-up.
#include "plugin/entry.h"

#include <cstring>
#include <initializer_list>

#include "runtime/allocator.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "platform/check.h"
#include "platform/library.h"
#include "platform/module.h"
#include "plugin/run.h"
#include "ui/about_box.h"
#include "resources/strings.h"

namespace tav {
namespace {

// The optional three-dimensional dialog controls.
struct Ctl3d {
    platform::LibraryHandle library = nullptr;
    void* unregister = nullptr;
};
Ctl3d g_ctl3d;

void PrepareRun(PluginState* state) {
    // A host that skipped the last finish left the previous run's buffers
    // with us: release them before the pointers are reset.
    ReleaseRunBuffers(state);
    ResetRunStartValues(state);
    FilterRecord* record = state->filterRecord;
    AreaSizes sizes = ComputeAreaSizes(record->filterRect);
    state->width = sizes.width;
    state->height = sizes.height;
    state->imageBytes = sizes.imageBytes;
    state->matteBytes = sizes.matteBytes;
    record->bufferSpace = sizes.bufferSpace;
}

void Dispatch(int16_t selector, PluginState* state) {
    switch (selector) {
        case filterSelectorAbout:
            ShowAboutBox(state, 0);
            break;
        case filterSelectorParameters:
            CreateDefaultParameters(state);
            break;
        case filterSelectorPrepare:
            PrepareRun(state);
            break;
        case filterSelectorStart:
            StartRun(state);
            break;
        case filterSelectorContinue:
            SetHostRect(&state->filterRecord->inRect, 0, 0, 0, 0);
            SetHostRect(&state->filterRecord->outRect, 0, 0, 0, 0);
            break;
        case filterSelectorFinish:
            ReleaseRunBuffers(state);
            break;
        default:
            state->result = filterBadParameters;
            break;
    }
}

}  // namespace

AreaSizes ComputeAreaSizes(const Rect& filterRect) {
    AreaSizes sizes{};
    sizes.width = int32_t(filterRect.right) - int32_t(filterRect.left);
    sizes.height = int32_t(filterRect.bottom) - int32_t(filterRect.top);
    if (sizes.width > 0 && sizes.height > 0) {
        sizes.matteBytes = int64_t(sizes.width) * sizes.height;
        sizes.imageBytes = 3 * sizes.matteBytes;
    }
    // Blocks of 1 MiB or more are file-backed and not asked of the host; the
    // run needs two blocks of each size.
    auto hostPart = [](int64_t bytes) {
        return bytes < int64_t(kFileBackedThreshold) ? bytes : int64_t(0);
    };
    sizes.bufferSpace = int32_t(2 * (hostPart(sizes.imageBytes) + hostPart(sizes.matteBytes)));
    return sizes;
}

void ShowHostRequirementMessage(unsigned id) {
    char text[256];
    char caption[128];
    platform::ModuleHandle module = platform::ThisModule();
    platform::LoadStringResource(module, id, text, sizeof text);
    platform::LoadStringResource(module, IDS_CAPTION, caption, sizeof caption);
    platform::ShowMessageBox(0, text, caption, platform::MessageIcon::Stop);
}

bool CheckHostCallback(const void* callback) {
    if (callback != nullptr) return true;
    ShowHostRequirementMessage(IDS_NEEDS_ADVANCE_STATE);
    return false;
}

void LoadOptionalControls() {
    static bool tried = false;
    if (tried) return;
    tried = true;
    platform::LibraryHandle library = platform::LoadOptionalLibrary("ctl3d32.dll");
    if (library == nullptr) return;
    void* registerCall = platform::FindLibrarySymbol(library, "Ctl3dRegister");
    void* unregisterCall = platform::FindLibrarySymbol(library, "Ctl3dUnregister");
    void* subclassCall = platform::FindLibrarySymbol(library, "Ctl3dAutoSubclass");
    if (registerCall == nullptr || unregisterCall == nullptr || subclassCall == nullptr) {
        platform::UnloadLibrary(library);
        return;
    }
    platform::ModuleHandle module = platform::ThisModule();
    platform::CallLibraryFunction(registerCall, module);
    platform::CallLibraryFunction(subclassCall, module);
    g_ctl3d.library = library;
    g_ctl3d.unregister = unregisterCall;
    platform::SetModuleDetachHandler([] {
        platform::CallLibraryFunction(g_ctl3d.unregister, platform::ThisModule());
        platform::UnloadLibrary(g_ctl3d.library);
        g_ctl3d = Ctl3d{};
    });
}

}  // namespace tav

extern "C" void ENTRYPOINT(int16_t selector, tav::FilterRecord* record, intptr_t* data,
                           int16_t* result) {
    using namespace tav;
    LoadOptionalControls();
    if (*data == 0) {
        Handle handle = NewMacHandle(sizeof(PluginState));
        if (handle == nullptr) {
            *result = memFullErr;
            return;
        }
        ResetRunStartValues(static_cast<PluginState*>(MacHandleData(handle)));
        *data = reinterpret_cast<intptr_t>(handle);
    }
    auto* stored = static_cast<PluginState*>(MacHandleData(reinterpret_cast<Handle>(*data)));
    PluginState state;
    std::memcpy(&state, stored, sizeof state);
    state.filterRecord = record;
    state.result = noErr;

    Dispatch(selector, &state);

    // A worker points into this call's block: none may outlive the call, nor
    // any of its helpers.
    TAV_CHECK(LoadShared(state.worker.workerHandle) == kNoWorker);
    TAV_CHECK(LoadShared(state.worker.helperThreads) == 0);
    *result = state.result;
    std::memcpy(stored, &state, sizeof state);
}
