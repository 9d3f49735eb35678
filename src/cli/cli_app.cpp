// What every command shares: the run with its report, the settings file's
// check before any port opens, the settings as JSON and the result words.
#include "cli/cli_app.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/log_command.h"
#include "cli/ports_command.h"
#include "cli/report_command.h"
#include "cli/session.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/settings_file.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/uart.h"

namespace kx::cli {

namespace {

int loadValues(const Options& o, UnitTemplate* values, std::vector<std::string>* messages) {
  const std::size_t before = messages->size();
  if (!loadUnitTemplate(o.file, o.sets, o.valuesPath, values, messages)) {
    const std::size_t problems = messages->size() - before;
    // A file that cannot be read at all has said so in its one line.
    if (problems > 1 || messages->back().rfind("kx627-cli: ", 0) != 0)
      messages->push_back(formatBounded(1024, "kx627-cli: %zu problem(s) in %s%s; no port was opened",
                                        problems, o.file.c_str(),
                                        o.sets.empty() && o.valuesPath.empty()
                                            ? ""
                                            : ", --set or the values list"));
    return kExitFileError;
  }
  if (values->usesSeq && o.logDb.empty()) {
    messages->push_back("kx627-cli: {seq} needs --log-db: the unit numbers are kept in the unit log");
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

int checkSettingsFileFirst(const Options& options, std::vector<std::string>* messages) {
  UnitTemplate values;
  return loadValues(options, &values, messages);
}

int checkProductionFirst(const Options& options, std::vector<std::string>* messages) {
  const int checked = checkSettingsFileFirst(options, messages);
  if (checked != kExitOk || options.logDb.empty()) return checked;
  std::string error;
  if (!UnitLog::open(options.logDb, &error)) {
    messages->push_back("kx627-cli: cannot open the unit log " + shownAddress(options.logDb) +
                        ": " + error);
    return kExitFileError;
  }
  return kExitOk;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char ch : text) {
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else {
      out += static_cast<char>(0xC0 | (ch >> 6));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

std::string settingsJson(bool lineOnly) {
  nlohmann::ordered_json j;
  auto text = [&](const char* key, std::string_view v) { j[key] = latin1ToUtf8(v); };
  auto flag = [&](const char* key, int32_t v) { j[key] = v != 0; };
  text("Port", fieldView(uart.comPort));
  j["Baud"] = uart.baud;
  j["StopBits"] = uart.stopBits;
  flag("FlowControl", uart.flow);
  text("Parity", parityName(uart.parity));
  if (!lineOnly) {
    text("Address", fieldView(localDev.address));
    text("FirmwareVersion", fieldView(localDev.fwVersion));
    text("Name", fieldView(localDev.name));
    text("Pin", fieldView(localDev.pin));
    text("RemoteAddress", fieldView(localDev.bondedAddress));
    flag("Discoverable", localDev.discoverable);
    flag("DisablePin", localDev.authDisabled);
    text("Role", localDev.role == 1 ? "Master" : localDev.role == 2 ? "Slave" : "");
    flag("AutoConnect", localDev.autoConnect);
    flag("EscapeMode", localDev.escapeMode);
    flag("EchoMode", localDev.echo);
    flag("AutoPower", localDev.sleepMode);
    flag("CommandResponse", localDev.cmdResponse);
    flag("RemoteConfig", localDev.remoteConfig);
    if (!isLegacyFirmware()) {
      static const char* const kModem[] = {"Disabled", "LocalLoopback", "RemoteTransfer"};
      const int32_t m = localDev.modemSignal;
      if (m >= 0 && m <= 2) text("ModemSignal", kModem[m]);
    }
    if (supportsRemoteService()) text("RemoteService", fieldView(localDev.remoteService));
    if (supportsRemoteCod()) text("RemoteCOD", fieldView(localDev.remoteCod));
  }
  return j.dump();
}

int runCommand(const Options& options, TerminalWindow& window, std::FILE* out,
               const std::atomic<bool>& cancel) {
  if (options.command == Command::Ports) return listPorts(options, out);
  if (options.command == Command::Log) return printUnitLog(options, out, stderr);
  if (options.command == Command::Report) return printShiftReport(options, out, stderr);
  setClockScale(options.timeScale);
  const long long started = monotonicMs();
  gReport = RunReport{};
  gReport.port = options.port;
  int result;
  Production production;
  std::unique_ptr<UnitLog> log;
  if (options.command == Command::Apply || options.command == Command::Station) {
    std::vector<std::string> messages;
    result = loadValues(options, &production.values, &messages);
    for (const std::string& m : messages) window.printLine(m);
    if (result == kExitOk && !options.logDb.empty()) {
      std::string error;
      log = UnitLog::open(options.logDb, &error);
      if (!log) {
        window.printLine("kx627-cli: cannot open the unit log " + shownAddress(options.logDb) +
                         ": " + error);
        result = kExitFileError;
      }
    }
    if (result != kExitOk) {
      gReport.exitCode = result;
      gReport.result = resultWord(result);
      return result;
    }
    production.log = log.get();
    production.station = options.station.empty() ? hostName() : options.station;
    production.operatorName = options.operatorName.empty() ? loginName() : options.operatorName;
  }
  {
    // A station's port is not cancelled by Ctrl-C: it stops after its unit.
    static const std::atomic<bool> kNeverCancelled{false};
    const bool station = options.command == Command::Station;
    if (station) production.stopAfterUnit = &cancel;
    Session session(options, window, out, station ? kNeverCancelled : cancel, &production);
    result = session.run();
    gReport.address = std::string(fieldView(localDev.address));
    gReport.name = std::string(fieldView(localDev.name));
  }
  std::fflush(out);
  gReport.exitCode = result;
  if (result == kExitPortFailed) gReport.result = portFailureWord(UartLastOpenError());
  gReport.seconds = static_cast<double>(monotonicMs() - started) / 1000.0;
  return result;
}

RunReport lastRunReport() { return gReport; }

bool writeWholeFile(const std::string& path, const std::string& text, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *error = errnoText(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = written ? 0 : errno;
  if (std::fclose(f) != 0 && err == 0) err = errno;
  if (written && err == 0) return true;
  *error = errnoText(err == 0 ? EIO : err);
  return false;
}

int finishOutput(std::FILE* out, int result) {
  const bool flushed = std::fflush(out) == 0;
  const int err = errno;
  if (flushed && !std::ferror(out)) return result;
  std::fprintf(stderr, "kx627-cli: cannot write the results to standard output: %s\n",
               errnoText(flushed ? EIO : err).c_str());
  return result == kExitOk ? kExitFileError : result;
}

const char* resultWord(int exitCode) {
  switch (exitCode) {
    case kExitOk:
      return "ok";
    case kExitFailed:
      return "failed";
    case kExitUsage:
      return "usage";
    case kExitPortFailed:
      return "port failed";
    case kExitNotFound:
      return "not found";
    case kExitMismatch:
      return "mismatch";
    case kExitFileError:
      return "file error";
    case kExitOldFirmware:
      return "old firmware";
    case kExitLinkFailed:
      return "link failed";
    case kExitAlreadyProvisioned:
      return "already provisioned";
    case kExitDeviceLost:
      return "adapter gone";
    case kExitCancelled:
      return "cancelled";
    default:
      return "error";
  }
}

const char* portFailureWord(int err) {
  switch (err) {
    case EBUSY:
      return "port busy";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such port";
    case EISDIR:
    case ENOTTY:
    case EINVAL:
      return "not a serial port";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return "port failed";
  }
}

std::string reportJson(const RunReport& r) {
  nlohmann::ordered_json j;
  j["port"] = latin1ToUtf8(r.port);
  j["address"] = latin1ToUtf8(r.address);
  j["name"] = latin1ToUtf8(r.name);
  j["result"] = r.result.empty() ? resultWord(r.exitCode) : r.result;
  j["exit"] = r.exitCode;
  j["mismatched"] = r.mismatched;
  // One decimal, as a number.
  j["seconds"] = static_cast<double>(std::llround(r.seconds * 10)) / 10;
  return j.dump();
}

std::optional<RunReport> parseReportJson(const std::string& text) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  RunReport r;
  r.port = j.value("port", "");
  r.address = j.value("address", "");
  r.name = j.value("name", "");
  r.result = j.value("result", "");
  r.exitCode = j.value("exit", 0);
  r.seconds = j.value("seconds", 0.0);
  if (const auto m = j.find("mismatched"); m != j.end() && m->is_array())
    for (const auto& key : *m)
      if (key.is_string()) r.mismatched.push_back(key.get<std::string>());
  return r;
}

}  // namespace kx::cli
