#include "host/run.h"

#include "host/allocator.h"
#include "host/entry.h"
#include "host/parameters.h"
#include "host/plugin_state.h"
#include "resources/strings.h"

namespace tav {

void StartRun(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    if (!CheckHostCallback(reinterpret_cast<const void*>(record->advanceState))) {
        state->result = 1;
    } else if (ParameterRecord* parameters = GetParameters(record);
               parameters != nullptr && parameters->ShowDialog != 0 &&
               record->displayPixels == nullptr) {
        ShowHostRequirementMessage(IDS_NEEDS_HOST);
        state->result = 1;
    } else {
        // The keying run is not built yet: say so rather than pretend.
        ShowHostRequirementMessage(IDS_NOT_READY);
        state->result = 1;
    }
    SetHostRect(&record->inRect, 0, 0, 0, 0);
    SetHostRect(&record->outRect, 0, 0, 0, 0);
}

}  // namespace tav
