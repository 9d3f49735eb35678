// The command line of kx627-cli: commands, options and exit codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::cli {

// Exit codes; the README's "Command-line tool" section and --help list them.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,          // the adapter refused or did not answer a command, or a procedure failed
  kExitUsage = 2,           // bad command line
  kExitPortFailed = 3,      // the port could not be opened
  kExitNotFound = 4,        // no answer with any line settings
  kExitMismatch = 5,        // apply: a value read back differs from the file
  kExitFileError = 6,       // a settings or log file, a report or the output could not be read or written
  kExitOldFirmware = 7,     // the adapter runs old, unsupported firmware
  kExitLinkFailed = 8,      // connect, disconnect or remote: the radio link step failed
  kExitAlreadyProvisioned = 9,  // the unit log holds an "ok" row for this adapter
  kExitDeviceLost = 10,     // the adapter went away (unplugged) while the command ran
  kExitCancelled = 130,     // Ctrl-C, or a question answered Cancel
};

enum class Command {
  None, Help, Version, Ports, Find, Read, Apply, Send, Pair, Unpair,
  Inquire, Connect, Disconnect, Remote, Reset, Station, Log, Report
};

struct Options {
  Command command = Command::None;
  std::string port;                // the first --port
  std::vector<std::string> ports;  // every --port, in order (read, apply: several)
  std::string reportPath;          // --report: one JSON object per port
  int32_t baud = 19200;
  int32_t parity = 0x100;  // PARITY_*_FLAG
  int32_t stopBits = 1;
  int32_t flow = 0;
  bool json = false;
  bool yes = false;
  std::string file;       // apply, station: the settings file; log: the unit log
  std::vector<std::string> sets;  // --set KEY=VALUE, in order
  std::string valuesPath;  // --values: one row per unit
  std::string logDb;       // --log-db: an SQLite file or a postgresql:// URI
  std::string station;     // --station, else the host name
  std::string operatorName;  // --operator, else the login name
  bool reprogram = false;  // program units the log has as "ok" again
  bool csv = false;        // log, report: CSV instead of a table
  std::string from, to;    // report: the span, as typed (local time, or UTC with Z)
  std::string pdfPath;     // report --pdf: the shift report
  bool stationWorker = false;  // --station-worker: one port of a station (internal)
  std::string fixture;     // --fixture: the station's name for the port (internal)
  // --simulate UNITS[,FAIL[,SHIFT]]: a station worker in front of UNITS
  // simulated units put in one after another, every FAIL-th failing, counted
  // from unit 1 + SHIFT (internal: the production window's --simulator)
  int simulatedUnits = 0;
  int simulatedFailEvery = 0;
  int simulatedFailShift = 0;
  std::string atCommand;  // send
  std::string address;    // connect
  int32_t remoteBaud = 0; // remote: the remote adapter's new speed
  bool dryRun = false;    // apply: print the commands, send nothing
  int timeoutMs = 15000;  // connect, disconnect: the wait for the event
  std::string logPath;
  double timeScale = 1.0;  // scales the fixed waits (tests)
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // set when options is empty
};

ParseResult parseCommandLine(int argc, const char* const* argv);

// The --help text, with the exit codes.
std::string usageText();

}  // namespace kx::cli
