// The window's command line: --help and --version print and end the
// program; the other options say how the window starts. Another option is one
// more QCommandLineOption and one more field of WindowOptions.
#pragma once

#include <QStringList>
#include <optional>
#include <string>

#include "ui/production_options.h"

namespace kx {

struct WindowOptions {
  // --port P: the COM Port preselected instead of the one in settings.txt.
  std::optional<std::string> port;
  // --simulator: simulated adapters inside the program stand behind every
  // port (SimulatorMode); the COM Port shows SimulatorMode::kPortName.
  bool simulator = false;
  // --production [FILE] [--port P ...] [--log-db DB] [--values F]
  // [--operator NAME] [--station NAME]: the production window alone, with
  // the station's own arguments over station.txt's.
  std::optional<ProductionOptions> production;
  // --report FIGURES --pdf FILE: draws the shift report (for kx627-cli
  // report --pdf) and ends, without a display.
  std::optional<std::string> reportFigures;
  std::string reportPdf;
};

// What parseWindowCommandLine found: the options to start with, or the exit
// code of a run that ends here (--help, --version, a wrong option) after
// `output` was printed (to standard output when `exitCode` is 0, else to
// standard error).
struct WindowCommandLine {
  WindowOptions options;
  std::optional<int> exitCode;
  std::string output;
};

// Parses `arguments` (the program's name first). Needs a QCoreApplication.
WindowCommandLine parseWindowCommandLine(const QStringList& arguments);

}  // namespace kx
