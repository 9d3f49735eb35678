// Several ports at once: `read` and `apply` with more than one --port run one
// child process of this program per port (the core holds one port per
// process), all at the same time. Every line a child writes is passed on
// prefixed with its port ("/dev/ttyUSB0: ..."), standard error to standard
// error and standard output to standard output; at the end comes a summary
// table, and --report gets one JSON object per port. A port that fails or
// hangs (past --port-timeout) never holds up the others. Ctrl-C is passed to
// every child once, which then cancels and reports what it did.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace kx::cli {

// argv: the program's own command line, repeated for each child with one
// --port. Returns 0 only when every port succeeded, else the first failing
// port's exit code.
int runOnEveryPort(const Options& options, const std::vector<std::string>& argv);

}  // namespace kx::cli
