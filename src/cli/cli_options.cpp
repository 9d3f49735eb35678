#include "cli/cli_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "common/address.h"
#include "common/records.h"
#include "common/text.h"
#include "serial/port_enum.h"

namespace kx::cli {
namespace {

bool isSpeed(long v) {
  static const long kSpeeds[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                 57600, 115200, 230400, 460800, 921600};
  for (long s : kSpeeds)
    if (s == v) return true;
  return false;
}

bool parseNumber(const char* text, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno) return false;
  *out = v;
  return true;
}

}  // namespace

std::string usageText() {
  return "usage: kx627-cli COMMAND [options]\n"
         "\n"
         "Commands:\n"
         "  ports [--json] [--port P]   " + std::string(kPortsListHelp) +
         "  find   --port P             find the adapter: probe, then search every line setting\n"
         "                              (progress on standard error; Ctrl-C cancels) and print\n"
         "                              the line settings found\n"
         "  read   --port P [--json]    read every setting; print it in the settings-file format\n"
         "                              or as JSON\n"
         "  apply  --port P FILE        check every line of a settings file (any problem: each\n"
         "                              listed as FILE:LINE, exit 6, no port opened), program\n"
         "                              the adapter from it, read it back and verify each value\n"
         "                              of the file; with --dry-run print the commands it would\n"
         "                              send, one a line, and send nothing\n"
         "  send   --port P COMMAND     send one AT command (\"AT+NAME?\"), print the answer\n"
         "  pair   --port P             pair the adapter with a second one (asks to swap them)\n"
         "  unpair --port P             undo a pairing (asks to swap them)\n"
         "  inquire --port P [--json]   run a Bluetooth inquiry; print each result line (JSON:\n"
         "                              one object per device: name, address, class, rssi);\n"
         "                              Ctrl-C cancels it\n"
         "  connect --port P ADDRESS    connect to ADDRESS (12 hex digits, hyphens allowed) and\n"
         "                              wait for the CONNECT event; prints \"connected ADDRESS\"\n"
         "  disconnect --port P         drop the connection and wait for the DISCONNECT event\n"
         "                              (2 s when the adapter reported no link: \"not connected\")\n"
         "  remote --port P --remote-baud BPS\n"
         "                              on a connected adapter: handshake with the remote\n"
         "                              adapter, set its speed to BPS (9600 ... 921600), leave\n"
         "                              remote access; a link made by an earlier run is found\n"
         "                              by the handshake (none: \"not connected\", exit 8)\n"
         "  reset  --port P             restore factory settings, find the adapter again at the\n"
         "                              factory line settings and print its settings\n"
         "  station FILE --port P [--port Q ...] --log-db DB\n"
         "                              program unit after unit on every port until Ctrl-C:\n"
         "                              wait for a unit, program and verify it, log it, show\n"
         "                              PASS or FAIL, wait for the next; Ctrl-C finishes the\n"
         "                              units being programmed and prints the shift's summary\n"
         "  log    DB [--csv]           print the unit log (--csv: every column, CSV)\n"
         "  report DB [--from T] [--to T] [--csv | --pdf FILE]\n"
         "                              the shift's figures from the unit log: units passed\n"
         "                              and failed, first-pass yield, units per hour, failure\n"
         "                              reasons, seconds per unit, operators and fixtures;\n"
         "                              T is local time (2026-03-02 08:00, or a date; a final\n"
         "                              Z for UTC), by default the 8 hours up to now. --csv:\n"
         "                              CSV; --pdf: the shift report with its charts (drawn\n"
         "                              by kx627-config, which must lie beside kx627-cli)\n"
         "\n"
         "Options:\n"
         "  --port P         the serial port (" + std::string(kExamplePortName) + ")\n" +
         "  --baud BPS       line speed to try first (default 19200)\n"
         "  --parity none|odd|even      (default none)\n"
         "  --stop 1|2       stop bits (default 1)\n"
         "  --flow on|off    RTS/CTS flow control (default off)\n"
         "  --json           read, find, inquire and report: print JSON\n"
         "  --dry-run        apply: print the commands, send nothing\n"
         "  --timeout S      connect, disconnect: seconds to wait for the event (default 15)\n"
         "  --remote-baud BPS  remote: the remote adapter's new speed\n"
         "  --yes, -y        answer every question OK/Yes (scripted use)\n"
         "  --log FILE       write the trace to FILE\n"
         "  --report FILE    write one JSON object per port (port, address, name, result,\n"
         "                   exit code, mismatched keys, seconds) to FILE\n"
         "\n"
         "JSON is UTF-8; the adapter's 8-bit texts are taken as Latin-1.\n"
         "  --help, -h       this text;  --version  the version\n"
         "\n"
         "Production (apply and station):\n"
         "  --set KEY=VALUE  a settings-file line, over the file's (may be given again)\n"
         "  --values F.csv   one row per unit: the header names settings-file keys; each row\n"
         "                   goes to one unit only, ever (the log keeps which); needs --log-db\n"
         "  --log-db DB      the unit log: an SQLite file, or postgresql://... for a line with\n"
         "                   several stations; a unit it holds as \"ok\" is not programmed again\n"
         "  --reprogram      program units the log holds as \"ok\" all the same\n"
         "  --station NAME   the log's station (default: the host name)\n"
         "  --operator NAME  the log's operator (default: the login name)\n"
         "  Values may hold {address} (the adapter's 12 hex digits), {address:N} (its last N),\n"
         "  {seq} and {seq:N} (the unit's number in the log, N digits); filled values are\n"
         "  checked like the file's before anything is sent.\n"
         "\n"
         "read and apply take several --port options: every port is worked on at once, one\n"
         "child process each, every line prefixed with its port, and a summary table at the\n"
         "end; the exit code is 0 only when every port succeeded. Ctrl-C stops them all.\n"
         "station works on every --port at once too: one live line per port on a terminal,\n"
         "one line per event elsewhere, the shift's count at the end; exit code 0 when no\n"
         "unit failed.\n"
         "\n"
         "Status lines, messages and questions go to standard error; results to standard output.\n"
         "\n"
         "Exit codes:\n"
         "  0    success\n"
         "  1    the adapter refused or did not answer, or the procedure failed\n"
         "  2    bad command line (also a connect address that is not 12 hex digits, or a\n"
         "       command longer than 28 characters)\n"
         "  3    the port could not be opened (--report says why: no such port, not a serial\n"
         "       port, port busy, permission denied)\n"
         "  4    the adapter did not answer with any line settings\n"
         "  5    apply: values read back differ from the file (per-key report on stdout)\n"
         "  6    a settings file could not be read or has lines that cannot be used, or the\n"
         "       log file, the --report file or the output could not be written\n"
         "  7    the adapter runs old firmware that this tool does not support\n"
         "  8    connect, disconnect, remote: the connection was not made or not ended, or the\n"
         "       remote adapter did not confirm a step\n"
         "  9    apply: the unit log holds this adapter as \"ok\" (already provisioned)\n"
         "  10   the adapter went away (unplugged, or its port vanished) while the command ran\n"
         "  130  cancelled (Ctrl-C, or a question answered Cancel)\n";
}

ParseResult parseCommandLine(int argc, const char* const* argv) {
  Options o;
  auto fail = [](std::string text) { return ParseResult{std::nullopt, std::move(text)}; };
  std::string positional[2];
  int positionals = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      o.command = Command::Help;
      return {o, {}};
    }
    if (a == "--version") {
      o.command = Command::Version;
      return {o, {}};
    }
    if (a == "--json") {
      o.json = true;
      continue;
    }
    if (a == "--yes" || a == "-y") {
      o.yes = true;
      continue;
    }
    if (a == "--dry-run") {
      o.dryRun = true;
      continue;
    }
    if (a == "--reprogram") {
      o.reprogram = true;
      continue;
    }
    if (a == "--station-worker") {  // the station's own children; not in --help
      o.stationWorker = true;
      continue;
    }
    if (a == "--fixture" || a == "--simulate") {  // for the station's workers; not in --help
      if (i + 1 >= argc) return fail(a + " needs a value");
      const char* v = argv[++i];
      if (a == "--fixture") {
        if (!*v) return fail("--fixture needs a name");
        o.fixture = v;
        continue;
      }
      long numbers[3] = {0, 0, 0};
      std::string text = v;
      std::size_t count = 0;
      for (; count < 3 && !text.empty(); ++count) {
        const std::size_t comma = text.find(',');
        if (!parseNumber(text.substr(0, comma).c_str(), &numbers[count]) || numbers[count] < 0)
          return fail("--simulate takes UNITS[,FAIL[,SHIFT]]");
        text = comma == std::string::npos ? "" : text.substr(comma + 1);
      }
      if (!text.empty() || numbers[0] < 1 || numbers[0] > 1000)
        return fail("--simulate takes UNITS[,FAIL[,SHIFT]], at most 1000 units");
      o.simulatedUnits = static_cast<int>(numbers[0]);
      o.simulatedFailEvery = static_cast<int>(numbers[1]);
      o.simulatedFailShift = static_cast<int>(numbers[2]);
      continue;
    }
    if (a == "--csv") {
      o.csv = true;
      continue;
    }
    if (a.size() > 1 && a[0] == '-' && a != "-") {
      if (i + 1 >= argc) return fail(a + " needs a value");
      const char* v = argv[++i];
      long n = 0;
      if (a == "--port") {
        if (!*v || std::strlen(v) >= static_cast<std::size_t>(kPortNameSize))
          return fail("bad port name");
        if (o.ports.empty()) o.port = v;
        o.ports.emplace_back(v);
      } else if (a == "--baud") {
        if (!parseNumber(v, &n) || !isSpeed(n)) return fail(std::string("bad speed '") + v + "'");
        o.baud = static_cast<int32_t>(n);
      } else if (a == "--parity") {
        if (!strcasecmp(v, "none")) o.parity = PARITY_NONE_FLAG;
        else if (!strcasecmp(v, "odd")) o.parity = PARITY_ODD_FLAG;
        else if (!strcasecmp(v, "even")) o.parity = PARITY_EVEN_FLAG;
        else return fail(std::string("bad parity '") + v + "'");
      } else if (a == "--stop") {
        if (!parseNumber(v, &n) || (n != 1 && n != 2))
          return fail(std::string("bad stop bits '") + v + "'");
        o.stopBits = static_cast<int32_t>(n);
      } else if (a == "--flow") {
        if (!strcasecmp(v, "on")) o.flow = 1;
        else if (!strcasecmp(v, "off")) o.flow = 0;
        else return fail(std::string("bad flow control '") + v + "'");
      } else if (a == "--remote-baud") {
        static const long kRemoteSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
        bool listed = false;
        if (parseNumber(v, &n))
          for (long s : kRemoteSpeeds) listed = listed || s == n;
        if (!listed) return fail(std::string("bad remote speed '") + v + "'");
        o.remoteBaud = static_cast<int32_t>(n);
      } else if (a == "--timeout") {
        if (!parseNumber(v, &n) || n < 1 || n > 3600) return fail(std::string("bad timeout '") + v + "'");
        o.timeoutMs = static_cast<int>(n * 1000);
      } else if (a == "--report") {
        if (!*v) return fail("--report needs a file name");
        o.reportPath = v;
      } else if (a == "--set") {
        if (!std::strchr(v, '=')) return fail(std::string("--set takes KEY=VALUE, not '") + v + "'");
        o.sets.emplace_back(v);
      } else if (a == "--values") {
        if (!*v) return fail("--values needs a file name");
        o.valuesPath = v;
      } else if (a == "--log-db") {
        if (!*v) return fail("--log-db needs a file name or a postgresql:// address");
        o.logDb = v;
      } else if (a == "--station") {
        if (!*v) return fail("--station needs a name");
        o.station = v;
      } else if (a == "--operator") {
        if (!*v) return fail("--operator needs a name");
        o.operatorName = v;
      } else if (a == "--log") {
        if (!*v) return fail("--log needs a file name");
        o.logPath = v;
      } else if (a == "--from" || a == "--to") {
        if (!*v) return fail(a + " needs a time");
        (a == "--from" ? o.from : o.to) = v;
      } else if (a == "--pdf") {
        if (!*v) return fail("--pdf needs a file name");
        o.pdfPath = v;
      } else if (a == "--time-scale") {
        char* end = nullptr;
        const double s = std::strtod(v, &end);
        if (!*v || *end || !(s > 0.0 && s <= 1.0)) return fail("bad --time-scale");
        o.timeScale = s;
      } else {
        return fail("unknown option " + a);
      }
      continue;
    }
    if (positionals == 2) return fail("too many arguments");
    positional[positionals++] = a;
  }
  if (positionals == 0) return fail("no command given");
  static const struct {
    const char* name;
    Command command;
    bool takesArgument;
  } kCommands[] = {{"ports", Command::Ports, false}, {"find", Command::Find, false},
                   {"read", Command::Read, false},   {"apply", Command::Apply, true},
                   {"send", Command::Send, true},    {"pair", Command::Pair, false},
                   {"unpair", Command::Unpair, false}, {"inquire", Command::Inquire, false},
                   {"connect", Command::Connect, true}, {"disconnect", Command::Disconnect, false},
                   {"remote", Command::Remote, false}, {"reset", Command::Reset, false},
                   {"station", Command::Station, true}, {"log", Command::Log, true},
                   {"report", Command::Report, true}};
  bool known = false;
  for (const auto& c : kCommands) {
    if (positional[0] != c.name) continue;
    known = true;
    o.command = c.command;
    if (c.takesArgument && positionals < 2)
      return fail(positional[0] + (c.command == Command::Connect ? " needs an ADDRESS"
                                   : c.command == Command::Send  ? " needs a COMMAND"
                                                                 : " needs a FILE"));
    if (!c.takesArgument && positionals > 1) return fail("too many arguments");
  }
  if (!known) return fail("unknown command " + positional[0]);
  if (o.command == Command::Apply || o.command == Command::Station || o.command == Command::Log ||
      o.command == Command::Report)
    o.file = positional[1];
  if (o.command == Command::Send) o.atCommand = positional[1];
  if (o.command == Command::Connect) {
    o.address = positional[1];
    if (!isAddressText(o.address))
      return fail("'" + o.address +
                  "' is not an address: connect takes 12 hex digits, hyphens allowed "
                  "(e.g. 0012-6F-123456)");
  }
  // The command and its CR fill a 30-byte buffer; "+++" goes without the CR.
  if (o.command == Command::Send && o.atCommand != "+++" &&
      o.atCommand.size() + 1 > static_cast<std::size_t>(kCommandSize - 1))
    return fail(formatBounded(200,
                              "the command is %zu characters long; at most %d (%d with the "
                              "final CR) can be sent to the adapter",
                              o.atCommand.size(), kCommandSize - 2, kCommandSize - 1));
  if (o.command == Command::Remote && o.remoteBaud == 0) return fail("remote needs --remote-baud");
  if (o.remoteBaud != 0 && o.command != Command::Remote) return fail("--remote-baud goes with remote");
  if (o.dryRun && o.command != Command::Apply) return fail("--dry-run goes with apply");
  if (o.command == Command::Station && !o.reportPath.empty())
    return fail("--report goes with the commands that end; the station's record is its unit log");
  const bool programs = o.command == Command::Apply || o.command == Command::Station;
  const bool readsLog = o.command == Command::Log || o.command == Command::Report;
  if (o.command != Command::Ports && !readsLog && o.port.empty())
    return fail(positional[0] + " needs --port");
  if (o.ports.size() > 1 && o.command != Command::Read && o.command != Command::Ports && !programs)
    return fail("several --port go with ports, read, apply and station");
  if (!programs && (!o.sets.empty() || !o.valuesPath.empty() || !o.logDb.empty() ||
                    o.reprogram || !o.station.empty() || !o.operatorName.empty()))
    return fail("--set, --values, --log-db, --reprogram, --station and --operator go with "
                "apply and station");
  if (o.command == Command::Station && o.logDb.empty()) return fail("station needs --log-db");
  if (!o.valuesPath.empty() && o.logDb.empty())
    return fail("--values needs --log-db: the unit log keeps which rows were given out");
  if (o.csv && !readsLog) return fail("--csv goes with log and report");
  if ((!o.from.empty() || !o.to.empty() || !o.pdfPath.empty()) && o.command != Command::Report)
    return fail("--from, --to and --pdf go with report");
  if (o.csv && !o.pdfPath.empty()) return fail("report takes --csv or --pdf, not both");
  if ((!o.fixture.empty() || o.simulatedUnits > 0) && !o.stationWorker)
    return fail("--fixture and --simulate go with --station-worker");
  if (o.ports.size() > 1 && !o.logPath.empty()) return fail("--log takes one port");
  if (o.json && o.command != Command::Read && o.command != Command::Find &&
      o.command != Command::Inquire && o.command != Command::Ports && o.command != Command::Report)
    return fail("--json goes with ports, read, find, inquire and report");
  if (o.json && (o.csv || !o.pdfPath.empty())) return fail("report takes one of --json, --csv, --pdf");
  return {o, {}};
}

}  // namespace kx::cli
