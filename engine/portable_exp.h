// An exponential that gives the same bits on every platform: the blur's
// weights must not depend on which C library the plug-in was built against
// (the Windows and Linux builds must key identically). Plain double
// arithmetic in a fixed order; within 2 units in the last place of the true
// value over the range the blur uses.
#pragma once

namespace tav {

double PortableExp(double x);

}  // namespace tav
