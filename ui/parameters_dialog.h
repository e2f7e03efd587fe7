// The parameters dialog TAVRISKPARAM: every keying setting, a live preview
// and the background computation of the full-size result. It edits the
// Parameter record in place; Cancel puts the record back as it was when the
// dialog had opened.
#pragma once

#include <cstdint>

#include "platform/window_toolkit.h"

namespace tav {

struct PluginState;

// Runs the modal dialog, owned by the host's window, for the call's state
// block. Cancel (or a dialog that cannot be made) sets the block's result to 1.
void RunParametersDialog(PluginState* state);

// The dialog procedure.
intptr_t ParametersDialogProc(platform::WindowHandle dialog, uint32_t message, uintptr_t first, intptr_t second);

// Fills the lists and sets every control from the Parameter record.
void FillDialogControls(platform::WindowHandle dialog, PluginState* state);

// An edit box's change: the number in the box, clamped to [minimum, maximum]
// (the box rewritten when it was beyond), with the scroll bar `scrollId` (0:
// none) kept in step. `*changed` tells whether it differs from `current`.
// Notifications other than a change give `current`.
int32_t ApplyEditChange(platform::WindowHandle dialog, uintptr_t first, int editId, int scrollId, int32_t minimum,
                        int32_t maximum, int32_t current, bool* changed);

// A scroll bar's action: the new value, clamped, with the bar moved and the
// number written into the paired edit box.
int32_t ApplyScrollAction(platform::WindowHandle dialog, uintptr_t first, int scrollId, int editId, int32_t minimum,
                          int32_t maximum, int32_t current);

}  // namespace tav
