#include "output/compose_ahead.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <new>

#include "engine/worker.h"
#include "runtime/capture.h"
#include "runtime/handoff.h"
#include "runtime/plugin_state.h"
#include "output/compose.h"
#include "platform/thread.h"

namespace tav {
namespace {

int32_t BandRows(const ComposeAhead& a, intptr_t band) {
    return std::min<int32_t>(kTileSize, a.state->height - int32_t(band) * kTileSize);
}

uint8_t* Slot(const ComposeAhead& a, intptr_t band) { return a.staging + size_t(band % a.slots) * a.slotBytes; }

// A helper: takes the next band no thread has taken and composes it into
// its slot once the host's thread is done with the band that used the slot
// before.
void ComposeBands(void* argument) {
    ComposeAhead& a = *static_cast<ComposeAhead*>(argument);
    while (LoadShared(a.stop) == 0) {
        const intptr_t band = std::atomic_ref<intptr_t>(a.nextBand).fetch_add(1, std::memory_order_acq_rel);
        if (band >= a.bands) return;
        WaitUntilAtLeast(&a.consumed, band - a.slots + 1, &a.stop);
        if (LoadShared(a.stop) != 0) return;
        ComposeRows(a.state, int32_t(band) * kTileSize, BandRows(a, band), Slot(a, band));
        intptr_t& ready = a.ready[band % a.slots];
        StoreShared(ready, band);
        platform::WakeWordWaiters(&ready);
    }
}

// The host's thread moves on to `band`: the band it leaves is done with, and
// the new one is either taken over (composed tile by tile, when no helper
// has begun it) or awaited from the helper that has.
void EnterBand(ComposeAhead* a, int32_t band) {
    if (band == a->band) return;
    if (a->band >= 0 && LoadShared(a->consumed) == a->band) {
        StoreShared(a->consumed, intptr_t(a->band) + 1);
        platform::WakeWordWaiters(&a->consumed);
    }
    a->band = band;
    a->staged = false;
    // Only the next band in order: the run's walk visits no other.
    if (band != LoadShared(a->consumed)) return;
    intptr_t untaken = band;
    if (std::atomic_ref<intptr_t>(a->nextBand).compare_exchange_strong(untaken, untaken + 1)) return;
    WaitUntilAtLeast(&a->ready[band % a->slots], band, &a->stop);
    a->staged = LoadShared(a->ready[band % a->slots]) == band;
}

}  // namespace

void StartComposeAhead(ComposeAhead* ahead, PluginState* state, int32_t helpers) {
    ComposeAhead& a = *ahead;
    a = ComposeAhead{};
    a.state = state;
    a.band = -1;
    if (!ComposesFromResultAlone(state) || state->width <= 0 || state->height <= 0) return;
    a.bands = (state->height + kTileSize - 1) / kTileSize;
    if (helpers <= 0) helpers = platform::UsableProcessorCount() - 1;
    // The host's thread takes the first band itself: one band alone is
    // composed there.
    helpers = std::min({helpers, kMaxComposeHelpers, a.bands - 1});
    if (helpers <= 0) return;
    a.slots = helpers + 2;
    a.slotBytes = size_t(state->width) * kTileSize * size_t(state->filterRecord->planes);
    a.staging = new (std::nothrow) uint8_t[size_t(a.slots) * a.slotBytes];
    if (a.staging == nullptr) return;
    std::fill(std::begin(a.ready), std::end(a.ready), intptr_t(-1));
    for (int32_t i = 0; i < helpers; ++i) {
        const platform::ThreadHandle handle = platform::StartHelperThread(ComposeBands, &a);
        if (handle == platform::kNoThread) break;
        a.helperHandles[a.helpers++] = handle;
    }
    if (a.helpers == 0) {
        delete[] a.staging;
        a.staging = nullptr;
    }
}

void ComposeTile(PluginState* state, ComposeAhead* ahead) {
    const FilterRecord* record = state->filterRecord;
    if (ahead == nullptr || ahead->staging == nullptr || record == nullptr) {
        ComposeTile(state);
        return;
    }
    const Rect& area = record->filterRect;
    const Rect& tile = record->inRect;
    const int32_t row = tile.top - area.top, column = tile.left - area.left;
    if (row >= 0) EnterBand(ahead, row / kTileSize);
    const int32_t rows = tile.bottom - tile.top, columns = tile.right - tile.left;
    const bool inBand = row >= 0 && row % kTileSize + rows <= BandRows(*ahead, row / kTileSize);
    if (!ahead->staged || !inBand || record->inData == nullptr || record->outData == nullptr || columns <= 0 ||
        rows <= 0 || column < 0 || tile.right - area.left > state->width) {
        ComposeTile(state);  // and what it leaves alone stays so
        return;
    }
    const size_t pixel = size_t(record->planes);
    const uint8_t* from = Slot(*ahead, ahead->band) + (size_t(row % kTileSize) * size_t(state->width) + size_t(column)) * pixel;
    auto* to = static_cast<uint8_t*>(record->outData);
    for (int32_t k = 0; k < rows; ++k)
        std::memcpy(to + int64_t(k) * record->outRowBytes, from + size_t(k) * size_t(state->width) * pixel,
                    size_t(columns) * pixel);
}

void EndComposeAhead(ComposeAhead* ahead) {
    ComposeAhead& a = *ahead;
    if (a.staging == nullptr) return;
    StoreShared(a.stop, intptr_t(1));
    platform::WakeWordWaiters(&a.consumed);
    for (int32_t i = 0; i < a.helpers; ++i) platform::JoinHelperThread(a.helperHandles[i]);
    delete[] a.staging;
    a.staging = nullptr;
    a.helpers = 0;
}

}  // namespace tav
