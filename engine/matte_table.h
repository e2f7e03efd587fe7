// The matte level curve: a 256-entry table from raw matte value to matte
// value, built from force black, force white, gamma and, with dynamic range
// on, the key range measured on the image once per run.
#pragma once

#include <cstdint>

namespace tav {

struct PluginState;
struct ParameterRecord;

// The table for the current settings; written only by BuildMatteTable.
extern int32_t MatteTable[256];

// The smallest and largest raw matte value of the filtered area, as the last
// scan found them (255 / 0 before any scan).
struct KeyRange {
    int32_t minimum;
    int32_t maximum;
};
extern KeyRange g_keyRange;

// Measures the key range, once per run (keyRangeScanned), capturing the
// image if needed. On the host's thread only.
void ScanKeyRange(PluginState* state);

// Rewrites MatteTable from the Parameter record's settings.
void BuildMatteTable(PluginState* state);

// The table for the given settings and key range (lo, hi are used only with
// dynamic range on).
void ComputeMatteTable(int32_t table[256], int forceBlack, int forceWhite, int gamma,
                       bool dynamicRange, int32_t lo, int32_t hi);

}  // namespace tav
