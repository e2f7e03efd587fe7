// The composer working ahead of the host's tiles, on other processors: the
// host hands out one output tile at a time and takes it back at its next
// request, so a tile cannot be shared out; instead helper threads compose
// whole bands of the area (a row of tiles each) into staging rows laid out as
// the host's pixels, while the host's thread copies each tile out of its
// band. A band no helper has begun when the host's thread reaches it is
// composed tile by tile there, as without helpers. The bytes are those of
// ComposeTile: the bands are composed by the same kernels (ComposeRows).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

struct PluginState;

constexpr int32_t kMaxComposeHelpers = 3;

struct ComposeAhead {
    PluginState* state;
    int32_t bands;        // rows of tiles in the area
    int32_t slots;        // bands of staging
    size_t slotBytes;
    uint8_t* staging;     // null: nothing is composed ahead
    int32_t helpers;      // started
    intptr_t helperHandles[kMaxComposeHelpers];
    // Shared with the helpers, through LoadShared and StoreShared.
    intptr_t nextBand;    // the next band not yet taken by a thread
    intptr_t consumed;    // bands whose tiles the host's thread is done with
    intptr_t stop;        // the walk ended early: helpers take no more bands
    intptr_t ready[kMaxComposeHelpers + 2];  // the band composed in each slot, -1: none
    // The host's thread: the band of the tiles it is at, and whether it was
    // composed ahead.
    int32_t band;
    bool staged;
};

// Starts composing ahead for the run's output with `helpers` helper threads
// (0: one a processor the process may run on, less the host's, at most
// kMaxComposeHelpers), when the output method writes every byte from the
// result alone (ComposesFromResultAlone) and there is memory for the staging.
// Otherwise nothing is composed ahead, and ComposeTile composes every tile.
void StartComposeAhead(ComposeAhead* ahead, PluginState* state, int32_t helpers);

// ComposeTile for the tile of the run's walk (FirstTile, NextTile) that the
// host has just handed out, taken from the bands composed ahead where they
// are.
void ComposeTile(PluginState* state, ComposeAhead* ahead);

// Stops the helpers, waits until they have ended and releases the staging;
// after every StartComposeAhead, however the walk ended.
void EndComposeAhead(ComposeAhead* ahead);

}  // namespace tav
