// kx627-cli report DB [--from T] [--to T] [--csv | --json | --pdf FILE]: the
// figures of a span of the unit log (production/shift_figures.h) as text, as
// CSV, as JSON (what the production window reads) or as the shift report's
// PDF. The PDF is drawn by the window's program: kx627-cli stays free of Qt
// and hands the figures to `kx627-config --report FIGURES --pdf FILE`, found
// beside it, which runs without a display.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace kx::cli {

// Returns the exit code.
int printShiftReport(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace kx::cli
