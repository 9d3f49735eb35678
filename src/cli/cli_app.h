// The commands of kx627-cli, run on the program's main thread as the
// window's user-interface thread would run them, on the same core: the
// initialisation (onReadSettings with its worker), readAllSettings, the
// settings file's LoadSettings and writer, the typed-command rules and the
// pairing procedures. The local device page and the Pairing page are forms
// kept in memory.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"

namespace kx::cli {

// Runs one command; results go to `out`, everything else to the window.
// `cancel` becomes true when the user presses Ctrl-C (the caller also calls
// onAbort() and requestPairingStop() then). Returns the exit code.
int runCommand(const Options& options, TerminalWindow& window, std::FILE* out,
               const std::atomic<bool>& cancel);

// What one run did, as --report writes it: a JSON object on one line.
struct RunReport {
  std::string port, address, name;
  int exitCode = 0;
  std::vector<std::string> mismatched;  // apply: the keys read back different
  double seconds = 0;
};
std::string reportJson(const RunReport& report);
// The word for an exit code in reports and the summary ("ok", "not found").
const char* resultWord(int exitCode);
// The RunReport of the last runCommand (port, adapter, mismatched keys).
RunReport lastRunReport();

// The settings of `localDev` and `uart` as one JSON object (read --json), and
// the line settings alone (find --json).
std::string settingsJson(bool lineOnly);
std::string jsonString(const std::string& text);

}  // namespace kx::cli
