// Where each input's result goes, worked out and checked before anything is
// keyed or written: no output may be an input or another input's output, and
// the settings file may be written only where nothing is lost.
#pragma once

#include <string>
#include <vector>

#include "keyer/options.h"

namespace tav::cli {

// The output path of every input, in the order of the inputs (none for raw
// frames, which go to standard output); or, after a usage error (reported),
// the exit code 2 in `code`.
struct Plan {
    std::vector<std::string> outputs;
    int code = -1;
};
Plan PlanOutputs(const Options& options);

}  // namespace tav::cli
