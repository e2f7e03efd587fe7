// The filter the program hosts: libtavrsk.so from the program's own folder,
// loaded as hosts load a plug-in, and its one export.
#pragma once

#include <string>

#include "hosts/inprocess/inprocess_host.h"

namespace tav::gimp {

// ENTRYPOINT of the library beside the program; null, with the reason, when
// it cannot be loaded.
inprocess::EntryPoint LoadFilter(std::string* error);

}  // namespace tav::gimp
