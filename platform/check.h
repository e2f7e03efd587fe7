// Checks of the system's own invariants, on in debug and test builds
// (TAVRISK_CHECKS): a failed check names itself and ends the process. Off in
// release builds, where it costs nothing.
#pragma once

#include <cstdio>
#include <cstdlib>

#if defined(TAVRISK_CHECKS) && TAVRISK_CHECKS
#define TAV_CHECK(condition)                                                                      \
    ((condition) ? void(0)                                                                        \
                 : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), \
                    std::abort()))
#else
#define TAV_CHECK(condition) void(0)
#endif
