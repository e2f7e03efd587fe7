// The exponential the blur's weights come from: e^x rounded once to the
// nearest double. The Windows and Linux builds must key identically, so it
// cannot come from the C library (whose exp differs between platforms and is
// not always correctly rounded); it is plain double arithmetic in a fixed
// order and gives the same bits on every target.
#pragma once

namespace tav {

// e^x to the nearest double. Carried in double-double arithmetic (about 104
// correct bits) and rounded once at the end, so the result is the correctly
// rounded one unless e^x lies within about 2^-104 of its own size from a
// point halfway between two doubles (none of the blur's weights comes closer
// than 2^-17 of a unit in the last place). 0 gives exactly 1; results below the
// normal range are rounded once onto the subnormal grid, and those below half
// the smallest subnormal (x below about -745.13) are 0; x above about 709.78
// gives +infinity; NaN gives NaN.
double CorrectlyRoundedExp(double x);

}  // namespace tav
