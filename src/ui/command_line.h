// The window's command line: --help and --version print and end the
// program; the other options say how the window starts. Another option is one
// more QCommandLineOption and one more field of WindowOptions.
#pragma once

#include <QStringList>
#include <optional>
#include <string>

namespace kx {

struct WindowOptions {
  // --port P: the COM Port preselected instead of the one in settings.txt.
  std::optional<std::string> port;
  // --simulator: simulated adapters inside the program stand behind every
  // port (SimulatorMode); the COM Port shows SimulatorMode::kPortName.
  bool simulator = false;
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
