// kx627-cli ports [--json] [--port P ...]: the serial ports of this PC and
// what they are.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace kx::cli {

// Prints each port the system lists (or each --port given): its
// description, USB vendor and product id, serial number, the /dev/serial
// by-id and by-path names that point to it, and the programs that hold it
// open. One block per port, or one JSON object per line. Returns the exit
// code.
int listPorts(const Options& options, std::FILE* out);

}  // namespace kx::cli
