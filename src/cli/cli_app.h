// The commands of kx627-cli, run on the program's main thread as the
// window's user-interface thread would run them, on the same core: the
// initialisation (onReadSettings with its worker), readAllSettings, the
// settings file's LoadSettings and writer, the typed-command rules and the
// pairing procedures. The local device page and the Pairing page are forms
// kept in memory.
#pragma once

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"

namespace kx::cli {

// Runs one command; results go to `out`, everything else to the window.
// `cancel` becomes true when the user presses Ctrl-C (the caller also calls
// onAbort() and requestPairingStop() then). Returns the exit code.
int runCommand(const Options& options, TerminalWindow& window, std::FILE* out,
               const std::atomic<bool>& cancel);

// Checks the settings file of apply and station, the --set values and the
// values list before any port is opened: the lines to show (FILE:LINE:
// problem, one each, and a summary) are appended to `messages`. kExitOk when
// they can be used, kExitUsage for {seq} without a unit log, else
// kExitFileError.
int checkSettingsFileFirst(const Options& options, std::vector<std::string>* messages);
// The same, and the unit log of --log-db opened (its tables created) once.
int checkProductionFirst(const Options& options, std::vector<std::string>* messages);

// What one run did, as --report writes it: a JSON object on one line.
struct RunReport {
  std::string port, address, name;
  std::string result;  // the result word; empty: the exit code's word
  int exitCode = 0;
  std::vector<std::string> mismatched;  // apply: the keys read back different
  double seconds = 0;
  std::string reason;  // why a unit failed, in a few words (not in the JSON)
};
std::string reportJson(const RunReport& report);
std::optional<RunReport> parseReportJson(const std::string& text);
// The word for an exit code in reports and the summary ("ok", "not found").
const char* resultWord(int exitCode);
// The word for a port that did not open, from the errno that stopped it
// ("port busy", "no such port", "not a serial port", "permission denied").
const char* portFailureWord(int err);
// The RunReport of the last runCommand (port, adapter, mismatched keys).
RunReport lastRunReport();

// Writes `text` as the whole of a new file at `path`; false, with the
// reason in *error, when any of it could not be written.
bool writeWholeFile(const std::string& path, const std::string& text, std::string* error);
// The exit code once the results have gone to `out` (standard output): what
// could not be written is an error (kExitFileError, reported on standard
// error) whatever the command did; nothing claims success for lost output.
int finishOutput(std::FILE* out, int result);

// The settings of `localDev` and `uart` as one JSON object (read --json), and
// the line settings alone (find --json).
// Texts are the adapter's 8-bit bytes, taken as Latin-1, so the JSON is valid
// UTF-8 whatever the adapter holds.
std::string settingsJson(bool lineOnly);
std::string latin1ToUtf8(std::string_view text);

}  // namespace kx::cli
