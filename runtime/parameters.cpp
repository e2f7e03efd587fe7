#include "runtime/parameters.h"

#include "runtime/allocator.h"
#include "runtime/plugin_state.h"

namespace tav {

ParameterRecord* GetParameters(const FilterRecord* record) {
    if (record == nullptr) return nullptr;
    return static_cast<ParameterRecord*>(MacHandleData(record->parameters));
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
