// kx627-cli log FILE [--csv]: the unit log's rows, oldest first.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace kx::cli {

// Prints the log named by options.file: a table (every column but the
// settings read back), or with options.csv every column as CSV with a
// header row. Returns the exit code.
int printUnitLog(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace kx::cli
