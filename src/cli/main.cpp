// kx627-cli: the adapter's provisioning tool for the terminal and for scripts.
// See `kx627-cli --help` and the README's "Command-line tool" section.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/parallel.h"
#include "cli/station.h"
#include "cli/terminal_window.h"
#include "common/debug_log.h"
#include "device/initialise.h"
#include "link/pairing.h"
#include "platform/serial_device.h"

namespace {

std::atomic<bool> gCancel{false};
bool gStationWorker = false;  // set before the interrupt watch starts

// The first Ctrl-C cancels what runs (the search through its abort flag, the
// pairing through its stop request, a question as Cancel); a second one ends
// the program at once.
void onInterrupt(kx::cli::TerminalWindow& window) {
  if (gCancel.exchange(true)) std::_Exit(kx::cli::kExitCancelled);
  if (gStationWorker) {
    // A station's port finishes the unit it is programming, then stops.
    window.wake();
    return;
  }
  window.printLine("Cancelling... (press Ctrl-C again to quit at once)");
  kx::onAbort();
  kx::requestPairingStop();
  window.wake();
}

int run(int argc, char** argv) {
  using namespace kx::cli;
  const ParseResult parsed = parseCommandLine(argc, argv);
  if (!parsed.options) {
    std::fprintf(stderr, "kx627-cli: %s\n(kx627-cli --help lists the commands)\n",
                 parsed.error.c_str());
    return kExitUsage;
  }
  const Options& o = *parsed.options;
  if (o.command == Command::Help) {
    std::fputs(usageText().c_str(), stdout);
    return kExitOk;
  }
  if (o.command == Command::Version) {
    std::printf("kx627-cli %s\n", KX_VERSION);
    return kExitOk;
  }
  if (o.command == Command::Station && !o.stationWorker) {
    // The values and the log are checked once, before any port opens.
    std::vector<std::string> messages;
    const int checked = checkProductionFirst(o, &messages);
    for (const std::string& m : messages) std::fprintf(stderr, "%s\n", m.c_str());
    if (checked != kExitOk) return checked;
    return runStation(o, std::vector<std::string>(argv, argv + argc));
  }
  gStationWorker = o.stationWorker;
  if (o.ports.size() > 1) {
    // A settings file with a problem stops the run before any port opens.
    if (o.command == Command::Apply) {
      std::vector<std::string> messages;
      const int checked = checkSettingsFileFirst(o, &messages);
      for (const std::string& m : messages) std::fprintf(stderr, "%s\n", m.c_str());
      if (checked != kExitOk) return checked;
    }
    return runOnEveryPort(o, std::vector<std::string>(argv, argv + argc));
  }
  if (!o.logPath.empty()) {
    int err = 0;
    if (!kx::openDebugLogAt(o.logPath, &err)) {
      std::fprintf(stderr, "kx627-cli: cannot create the log %s: %s\n", o.logPath.c_str(),
                   kx::errnoText(err).c_str());
      return kExitFileError;
    }
  }

  holdInterrupts();  // before any thread starts
  // The command line has no Abort button; Ctrl-C ends the search (not on a
  // station's port, which finishes its unit).
  kx::searchStopHint = gStationWorker ? "" : " Ctrl-C stops it.";

  int result;
  {
    // A station's worker reads its station's "stop" on standard input, so
    // no question may take that input.
    TerminalWindow window(stderr, gStationWorker ? nullptr : stdin, o.yes);
    window.setCancelFlag(&gCancel);
    kx::mainWindowHandle = &window;
    {
      InterruptWatch interrupts([&window] { onInterrupt(window); });
      std::optional<StopLineWatch> stopLine;
      if (gStationWorker)
        stopLine.emplace([&window] {
          gCancel = true;
          window.wake();
        });
      result = runCommand(o, window, stdout, gCancel);
    }
    kx::mainWindowHandle = nullptr;
  }
  if (!kx::closeDebugLog()) {
    std::fprintf(stderr, "kx627-cli: the log %s could not be written completely\n",
                 o.logPath.c_str());
    if (result == kExitOk) result = kExitFileError;
  }
  std::string error;
  if (!o.reportPath.empty() &&
      !writeWholeFile(o.reportPath, reportJson(lastRunReport()) + "\n", &error)) {
    std::fprintf(stderr, "kx627-cli: cannot write the report %s: %s\n", o.reportPath.c_str(),
                 error.c_str());
    return result == kExitOk ? kExitFileError : result;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever the command, results that could not be written are no success.
  return kx::cli::finishOutput(stdout, run(argc, argv));
}
