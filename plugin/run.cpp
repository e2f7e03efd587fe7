// The start selector: checks what the host offers, runs the dialog or goes
// straight to work with the stored settings, has the worker compute the
// matte and foreground of the whole area on every core, then writes the
// output tile by tile.
#include "plugin/run.h"

#include "runtime/allocator.h"
#include "runtime/capture.h"
#include "runtime/matte_run.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "output/compose_ahead.h"
#include "platform/debugger.h"
#include "plugin/entry.h"
#include "resources/strings.h"
#include "ui/parameters_dialog.h"
#include "ui/registry.h"

namespace tav {
namespace {

void DebugHook() {
    if (ReadSettingsInt(kUserSettingsKey, "debug", 0) != 0 && platform::DebuggerAttached())
        platform::BreakIntoDebugger();
}

// The dialog path: the dialog captures the image, builds the level table and
// starts the worker; whatever its outcome the next run shows no dialog.
void RunDialogPath(PluginState* state, ParameterRecord* parameters) {
    RunParametersDialog(state);
    parameters->ShowDialog = 0;
}

// The direct path: capture, then the level table from the stored settings.
void PrepareDirectPath(PluginState* state) {
    if (!CaptureImage(state)) {
        // No memory for the buffers, or the host refused a tile: its code.
        state->result = state->captureIncomplete != 0 ? int16_t(state->captureIncomplete) : int16_t(memFullErr);
        return;
    }
    PrefaultWorkerBuffers(state);
    BuildMatteTable(state);
}

// Has the worker finish a run for the current settings; false when there is
// no complete result (no image, no thread).
bool ComputeResult(PluginState* state) {
    StoreShared(state->worker.reportProgress, 1);
    WaitForWorker(state);
    if (LoadShared(state->worker.workerFinished) == 0) {
        RestartWorker(state);
        WaitForWorker(state);
    }
    return LoadShared(state->worker.workerFinished) != 0;
}

void WriteTiles(PluginState* state, ComposeAhead* ahead) {
    FilterRecord* record = state->filterRecord;
    FirstTile(state);
    do {
        if (record->abortProc != nullptr && record->abortProc()) {
            state->result = 1;
            return;
        }
        state->result = record->advanceState();
        if (state->result != noErr) return;
        ComposeTile(state, ahead);
    } while (NextTile(state));
}

// The tiles are written one at a time on the host's thread, while helpers
// compose the bands of tiles ahead of it.
void WriteOutput(PluginState* state) {
    const ParameterRecord* parameters = GetParameters(state->filterRecord);
    if (parameters != nullptr && parameters->OutputMethod == kOutputBackground) ReadBackgroundPicture(state);
    ComposeAhead ahead;
    StartComposeAhead(&ahead, state, 0);
    WriteTiles(state, &ahead);
    EndComposeAhead(&ahead);
}

void CancelRun(PluginState* state) {
    int16_t result = state->result;
    ReleaseRunBuffers(state);
    state->result = result;
}

}  // namespace

void StartRun(PluginState* state) {
    FilterRecord* record = state->filterRecord;
    DebugHook();
    // A host that never sent the parameters selector gets the defaults.
    if (record->parameters == nullptr) CreateDefaultParameters(state);
    ParameterRecord* parameters = GetParameters(record);
    if (!CheckHostCallback(reinterpret_cast<const void*>(record->advanceState))) {
        state->result = 1;
    } else if (parameters == nullptr) {
        state->result = memFullErr;
    } else if (parameters->ShowDialog != 0) {
        if (record->displayPixels == nullptr) {
            ShowHostRequirementMessage(IDS_NEEDS_HOST);
            state->result = 1;
        } else {
            RunDialogPath(state, parameters);
            if (state->result != noErr) CancelRun(state);
        }
    } else {
        PrepareDirectPath(state);
    }

    if (state->result == noErr) {
        if (!ComputeResult(state)) state->result = memFullErr;
        else WriteOutput(state);
    }

    // Hosts stop asking when every requested rectangle is empty.
    SetHostRect(&record->inRect, 0, 0, 0, 0);
    SetHostRect(&record->outRect, 0, 0, 0, 0);
    SetHostRect(&record->maskRect, 0, 0, 0, 0);
}

}  // namespace tav
