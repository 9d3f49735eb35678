// kx627-cli station FILE --port A [--port B ...] --log-db DB: programs unit
// after unit on every port until Ctrl-C.
//
// The program the operator starts draws the shift: one child process per
// port (the core holds one port per process) runs that port's loop and tells
// it what happens as JSON lines on its standard output; on a terminal each
// port has one live line (port, state, unit, elapsed, last result) under a
// running count, elsewhere each event is one plain line. Ctrl-C lets every
// port finish the unit it is programming; a second one stops them at once.
// The shift's summary comes last; the exit code is 0 when no unit failed.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace kx::cli {

// The operator's program. argv: its own command line, repeated for each
// port's child with that --port alone.
int runStation(const Options& options, const std::vector<std::string>& argv);

}  // namespace kx::cli
