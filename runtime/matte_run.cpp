#include "runtime/matte_run.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "engine/matte_table.h"
#include "engine/worker.h"
#include "runtime/parameters.h"
#include "runtime/plugin_state.h"

namespace tav {
namespace {

// The worker's progress, handed to the host.
void ReportToHost(void* context, int32_t done, int32_t total) {
    ProgressProc progress = static_cast<const FilterRecord*>(context)->progressProc;
    if (progress != nullptr) progress(done, total);
}

// A completed run that choked delivered its matte into the other buffer.
void TakeResult(PluginState* state) {
    MatteJob& job = state->worker;
    if (LoadShared(job.workerFinished) == 0 || !job.mattesExchanged) return;
    std::swap(state->rawMatte, state->finalMatte);
    job.mattesExchanged = 0;
}

}  // namespace

MatteSettings MatteSettingsOf(const ParameterRecord& p) {
    MatteSettings s{};
    s.screenColor = p.ScreenColor;
    s.correctionR = p.CorrectionR;
    s.correctionG = p.CorrectionG;
    s.correctionB = p.CorrectionB;
    s.protection = p.Protection;
    s.restoreR = p.RestoreR;
    s.restoreG = p.RestoreG;
    s.restoreB = p.RestoreB;
    s.blueRemoval = p.BlueRemoval;
    s.matteBlur = p.MatteBlur;
    s.matteChoke = p.MatteChoke;
    return s;
}

void BuildMatteTable(PluginState* state) {
    const ParameterRecord* p = GetParameters(state->filterRecord);
    if (p == nullptr) return;
    const int32_t green = p->ScreenColor != 0 ? 1 : 0;
    if (p->DynamicRange && (!state->keyRangeTaken || state->keyRangeGreen != green) &&
        state->sourceImage != nullptr && !state->captureIncomplete) {
        // The capture measured the extremes of both screens' keys as it
        // copied the image; the dialog may change the screen after.
        const CaptureStatistics& c = state->captured;
        state->keyRange = green ? KeyRangeOf(c.leastGreenKey, c.mostGreenKey) : KeyRangeOf(c.leastBlueKey, c.mostBlueKey);
        state->keyRangeGreen = green;
        state->keyRangeTaken = 1;
    }
    const KeyRange range = state->keyRangeTaken ? state->keyRange : kNoKeyRange;
    ComputeMatteTable(state->matteTable, p->ForceBlack, p->ForceWhite, p->Gamma, p->DynamicRange != 0,
                      range.minimum, range.maximum);
}

void RestartWorker(PluginState* state) {
    MatteJob& job = state->worker;
    StopWorker(state);
    const ParameterRecord* p = GetParameters(state->filterRecord);
    if (p == nullptr) return;
    const Rect& area = state->filterRecord->filterRect;
    job.sourceImage = state->captureIncomplete ? nullptr : state->sourceImage;
    job.foregroundImage = state->foregroundImage;
    job.rawMatte = state->rawMatte;
    job.finalMatte = state->finalMatte;
    job.width = state->width;
    job.height = state->height;
    job.insideLeft = state->contentLeft - area.left;
    job.insideRight = state->contentRight - area.left;
    job.insideTop = state->contentTop - area.top;
    job.insideBottom = state->contentBottom - area.top;
    job.settings = MatteSettingsOf(*p);
    std::copy(std::begin(state->matteTable), std::end(state->matteTable), std::begin(job.matteTable));
    job.progress = ReportToHost;
    job.progressContext = state->filterRecord;
    StartWorker(&job);
}

void WaitForWorker(PluginState* state) {
    WaitForWorker(&state->worker);
    TakeResult(state);
}

void StopWorker(PluginState* state) { StopWorker(&state->worker); }

}  // namespace tav
