// How many threads the keyer's work is spread over.
#pragma once

namespace tav::cli {

// The processors this process may run on (at least 1).
int CoresAvailable();

}  // namespace tav::cli
