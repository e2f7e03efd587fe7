// GIMP as a host of the filter: a drawable's filtered area (the selection's
// bounds within it) goes to the filter as an 8-bit R'G'B'A layer with
// editable transparency, through ENTRYPOINT and the in-process host, and the
// result comes back through the shadow buffer, merged with the selection in
// one undo step.
#pragma once

#include <libgimp/gimp.h>

#include <chrono>
#include <string>

#include "hosts/gimp/settings.h"

namespace tav::gimp {

enum class RunKind {
    Dialog,      // RUN-INTERACTIVE: the filter's dialog, opened on the settings given
    Direct,      // RUN-NONINTERACTIVE: the settings given, nothing shown
    LastValues,  // RUN-WITH-LAST-VALS: the repeated filter, from the stored settings
};

struct KeyRequest {
    gint32 image;
    gint32 drawable;
    RunKind kind;
    Settings settings;  // on top of the filter's defaults
};

struct Outcome {
    GimpPDBStatusType status;
    std::string message;  // for GIMP to show when the run failed
};

Outcome KeyDrawable(const KeyRequest& request);

// When the program started (its main function), for the timings.
std::chrono::steady_clock::time_point ProgramStart();

}  // namespace tav::gimp
