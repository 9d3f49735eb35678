// kx627-cli ports: the serial ports of this PC.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace kx::cli {

// Prints every port the system lists, one a line. Returns the exit code.
int listPorts(const Options& options, std::FILE* out);

}  // namespace kx::cli
