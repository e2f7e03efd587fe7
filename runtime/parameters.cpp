#include "runtime/parameters.h"

#include "runtime/allocator.h"
#include "runtime/plugin_state.h"

namespace tav {

ParameterRecord* GetParameters(const FilterRecord* record) {
    if (record == nullptr) return nullptr;
    return static_cast<ParameterRecord*>(MacHandleData(record->parameters));
}

void SetParameterDefaults(ParameterRecord* parameters) {
    parameters->ShowDialog = 1;
    parameters->ScreenColor = 0;
    parameters->OutputMethod = kOutputForegroundTransparency;
    parameters->DynamicRange = 1;
    parameters->BlueRemoval = 255;
    parameters->PreviewZoom = 1;
}

void CreateDefaultParameters(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    if (record->parameters == nullptr) {
        Handle handle = NewMacHandle(sizeof(ParameterRecord));
        if (handle == nullptr) {
            state->result = memFullErr;
            return;
        }
        record->parameters = handle;
        SetParameterDefaults(GetParameters(record));
    }
    GetParameters(record)->ShowDialog = 1;
}

}  // namespace tav
