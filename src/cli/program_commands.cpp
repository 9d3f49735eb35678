// Reading and programming: find, read, apply (with its read-back check),
// send and reset.
#include <strings.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "atcmd/engine_hooks.h"
#include "atcmd/transmission.h"
#include "cli/session.h"
#include "common/address.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "device/settings_file.h"
#include "platform/clock.h"
#include "serial/uart.h"

namespace kx::cli {

int Session::find() {
  const int c = connect();
  if (c != kExitOk) return c;
  if (o_.json) {
    std::fprintf(out_, "%s\n", settingsJson(true).c_str());
  } else {
    std::fprintf(out_, "Port = %s\nBaud = %d\nStopBits = %d\nFlowControl = %s\nParity = %s\n",
                 uart.comPort, uart.baud, uart.stopBits, onOff(uart.flow),
                 parityName(uart.parity));
  }
  return kExitOk;
}

int Session::read() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  if (o_.json)
    std::fprintf(out_, "%s\n", settingsJson(false).c_str());
  else
    writeSettings(out_);
  return kExitOk;
}

namespace {

// The same address however its digits are separated, in either letter case.
bool sameAddress(std::string_view a, std::string_view b) {
  return equalsIgnoreCase(addressDigits(a), addressDigits(b));
}

struct Check {
  enum Kind { Match, Mismatch, Skipped } kind;
  std::string expected, actual;
};

Check compareEntry(const SettingsLine& e) {
  const FileSettings& f = fileSettings;
  auto number = [](int32_t want, int32_t have) {
    return Check{want == have ? Check::Match : Check::Mismatch, std::to_string(want),
                 std::to_string(have)};
  };
  auto flag = [](int32_t want, int32_t have) {
    return Check{want == have ? Check::Match : Check::Mismatch, onOff(want), onOff(have)};
  };
  auto text = [](const std::string& want, std::string_view have) {
    return Check{want == have ? Check::Match : Check::Mismatch, want, std::string(have)};
  };
  static const char* const kModem[] = {"Disabled", "LocalLoopback", "RemoteTransfer"};
  const Check notSet{Check::Skipped, "not set in the file", ""};
  switch (e.key) {
    case kKeyBaud:
      return f.baud == 0 ? notSet : number(f.baud, uart.baud);
    case kKeyStopBits:
      return f.stopBits == 0 ? notSet : number(f.stopBits, uart.stopBits);
    case kKeyFlowControl:
      return flag(f.flow, uart.flow);
    case kKeyParity:
      return {f.parity == uart.parity ? Check::Match : Check::Mismatch, parityName(f.parity),
              parityName(uart.parity)};
    case kKeyDisablePin:
      return flag(f.authDisabled, localDev.authDisabled);
    case kKeyName:
      return text(e.value, fieldView(localDev.name));
    case kKeyPin:
      return text(e.value, fieldView(localDev.pin));
    case kKeyRemoteAddress: {
      if (e.value.empty()) return notSet;
      const std::string have(fieldView(localDev.bondedAddress));
      return {sameAddress(e.value, have) ? Check::Match : Check::Mismatch, e.value, have};
    }
    case kKeyDiscoverable:
      return flag(f.discoverable, localDev.discoverable);
    case kKeyRole:
      return {f.role == localDev.role ? Check::Match : Check::Mismatch,
              f.role == 1 ? "Master" : "Slave",
              localDev.role == 1 ? "Master" : localDev.role == 2 ? "Slave" : "unknown"};
    case kKeyAutoConnect:
      return flag(f.autoConnect, localDev.autoConnect);
    case kKeyEscapeMode:
      return flag(f.escapeMode, localDev.escapeMode);
    case kKeyEchoMode:
      return flag(f.echo, localDev.echo);
    case kKeyAutoPower:
      return flag(f.sleepMode, localDev.sleepMode);
    case kKeyCommandResponse:
      return flag(f.cmdResponse, localDev.cmdResponse);
    case kKeyRemoteConfig:
      return flag(f.remoteConfig, localDev.remoteConfig);
    case kKeyModemSignal: {
      if (isLegacyFirmware()) return {Check::Skipped, "not supported by this firmware", ""};
      const int32_t have = localDev.modemSignal;
      return {f.modemSignal == have ? Check::Match : Check::Mismatch, kModem[f.modemSignal],
              have >= 0 && have <= 2 ? kModem[have] : "unknown"};
    }
    case kKeyRemoteService:
      if (!supportsRemoteService()) return {Check::Skipped, "not supported by this firmware", ""};
      return text(e.value, fieldView(localDev.remoteService));
    case kKeyRemoteCod:
      if (!supportsRemoteCod()) return {Check::Skipped, "not read back by this firmware", ""};
      return text(e.value, fieldView(localDev.remoteCod));
    default:
      return {Check::Skipped, "the PC's setting, not the adapter's", ""};
  }
}

}  // namespace

int Session::apply() {
  // The settings file, --set and the values list were read and checked
  // before the port was opened.
  unitStartedMs_ = monotonicMs();
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  return programUnit();
}

namespace {

std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The values sent, as the log keeps them: {"Name":"Unit-3A","Pin":"0042"}.
std::string appliedJson(const std::vector<SettingsLine>& entries) {
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  for (const SettingsLine& e : entries) j[kSettingsFileKeys[e.key]] = latin1ToUtf8(e.value);
  return j.dump();
}

}  // namespace

UnitRecord Session::unitRecord(const std::string& address) const {
  UnitRecord record;
  record.port = o_.port;
  record.fixture = o_.fixture.empty() ? o_.port : o_.fixture;
  record.address = address;
  record.station = production_->station;
  record.operatorName = production_->operatorName;
  return record;
}

int Session::logUnit(UnitRecord& record, int code, const std::string& result,
                     const std::string& reason) {
  const std::string word = result.empty() ? resultWord(code) : result;
  gReport.result = result;
  gReport.reason = reason.empty() ? word : reason;
  UnitLog* log = production_->log;
  if (!log || o_.dryRun) return code;
  record.time = utcTimestamp();
  record.result = word;
  record.exitCode = code;
  record.reason = code == kExitOk ? "" : latin1ToUtf8(gReport.reason);
  record.seconds = static_cast<double>(monotonicMs() - unitStartedMs_) / 1000.0;
  if (!log->add(record)) {
    w_.printLine("kx627-cli: cannot write the unit's row to the unit log " +
                 shownAddress(o_.logDb) + ": " + log->error());
    gReport.result = "log failed";
    gReport.reason = "not logged: " + log->error();
    return kExitFileError;
  }
  return code;
}

int Session::programUnit() {
  const Production& p = *production_;
  const std::string address(fieldView(localDev.address));
  gReport.address = address;
  gReport.name = std::string(fieldView(localDev.name));
  gReport.mismatched.clear();
  gReport.reason.clear();
  UnitRecord record = unitRecord(address);
  record.firmware = std::string(fieldView(localDev.fwVersion));
  // Every unit that was read gets its row, whatever came of it (the settings
  // as read, until they are read back); a dry run writes nothing.
  record.settings = settingsJson(false);
  auto finish = [&](int code, const std::string& result, const std::string& reason) -> int {
    return logUnit(record, code, result, reason);
  };

  UnitAssignment given;
  if (p.log) {
    auto logFailed = [&] {
      w_.printLine("kx627-cli: cannot use the unit log " + shownAddress(o_.logDb) + ": " +
                   p.log->error());
      gReport.result = "log failed";
      gReport.reason = "unit log: " + p.log->error();
      return kExitFileError;
    };
    bool provisioned = false;
    if (!p.log->provisioned(address, &provisioned)) return logFailed();
    // A unit already provisioned is given nothing new.
    if (provisioned && !o_.reprogram) {
      w_.printLine(address + " is already provisioned (the unit log has it as \"ok\"); "
                   "--reprogram programs it again");
      return finish(kExitAlreadyProvisioned, "already provisioned", "");
    }
    if (!p.log->assign(address, p.values.values ? baseName(p.values.values->path) : "",
                       p.values.values ? p.values.values->lastRow() : 0, !o_.dryRun, &given))
      return logFailed();
    record.valuesRow = given.valuesRow;
    if (p.values.values && !given.valuesRow) {
      const std::string text = "no unused row left in " + baseName(p.values.values->path);
      w_.printLine(text);
      return finish(kExitFailed, text, "");
    }
  }
  std::string problem;
  const auto entries =
      unitSettings(p.values, given.valuesRow.value_or(0), address, given.seq, &problem);
  if (!entries) {
    w_.printLine(address + ": " + problem + "; nothing was sent");
    return finish(kExitFileError, "bad value", problem);
  }
  record.applied = appliedJson(*entries);

  // The plan is the dry run's output and the total of the progress line.
  std::vector<std::string> plan;
  programSettings(*entries, 1, &page_, &plan);
  if (o_.dryRun) {
    for (std::string command : plan) {
      if (!command.empty() && command.back() == '\r') command.pop_back();
      std::fprintf(out_, "%s\n", command.c_str());
    }
    return kExitOk;
  }
  int sent = 0;
  const long long started = monotonicMs();
  settingsCommandHook = [&](const std::string& command) {
    std::string shown = command;
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    w_.printProgress(formatBounded(200, "Programming %d of %zu, %llds (%s)", ++sent, plan.size(),
                                   (monotonicMs() - started) / 1000, shown.c_str()));
    if (unitStep_) unitStep_(formatBounded(60, "programming %d of %zu", sent, plan.size()));
  };
  programSettings(*entries, 1, &page_);
  settingsCommandHook = nullptr;
  if (cancel_) return finish(kExitCancelled, "", "");
  if (adapterGone()) return finish(endedEarly(kExitFailed), "", "the adapter went away");
  w_.printLine("Reading the settings back to verify them...");
  if (unitStep_) unitStep_("verifying");
  if (!readAll())
    return finish(endedEarly(kExitFailed), "",
                  adapterGone() ? "the adapter went away" : "the read-back failed");
  gReport.name = std::string(fieldView(localDev.name));
  record.settings = settingsJson(false);
  // A key given twice is verified once, with its last value, as the adapter
  // was left with it.
  std::vector<SettingsLine> verified;
  for (const SettingsLine& e : *entries) {
    auto same = std::find_if(verified.begin(), verified.end(),
                             [&](const SettingsLine& x) { return x.key == e.key; });
    if (same != verified.end()) *same = e;
    else verified.push_back(e);
  }
  int mismatches = 0, matches = 0;
  for (const SettingsLine& e : verified) {
    const Check r = compareEntry(e);
    const char* key = kSettingsFileKeys[e.key];
    switch (r.kind) {
      case Check::Match:
        ++matches;
        std::fprintf(out_, "%s: ok (%s)\n", key, r.expected.c_str());
        break;
      case Check::Mismatch:
        ++mismatches;
        gReport.mismatched.emplace_back(key);
        std::fprintf(out_, "%s: MISMATCH (file %s, adapter %s)\n", key, r.expected.c_str(),
                     r.actual.c_str());
        break;
      case Check::Skipped:
        std::fprintf(out_, "%s: skipped (%s)\n", key, r.expected.c_str());
        break;
    }
  }
  std::fprintf(out_, "%d verified, %d mismatched\n", matches, mismatches);
  std::fflush(out_);
  if (mismatches == 0) return finish(kExitOk, "", "");
  std::string keys;
  for (const std::string& k : gReport.mismatched) keys += (keys.empty() ? "" : ", ") + k;
  return finish(kExitMismatch, "", "read back different: " + keys);
}

// ------------------------------------------------------------------ send

namespace {

void printAnswer(std::FILE* out, const std::string& answer) {
  std::size_t start = 0;
  while (start < answer.size()) {
    std::size_t end = answer.find_first_of("\r\n", start);
    if (end == std::string::npos) end = answer.size();
    if (end > start) std::fprintf(out, "%s\n", answer.substr(start, end - start).c_str());
    start = end + 1;
  }
}

}  // namespace

int Session::send() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  std::string command = o_.atCommand;
  if (const char* refusal = typedCommandRefusal(command)) {
    showMessageBox(refusal, MsgButtons::Ok);
    return kExitFailed;
  }
  if (command != "+++") command += "\r";
  const auto fits = checkCommandLength(command);
  if (!fits) return kExitUsage;

  if (strcasecmp(command.c_str(), "AT+ENQ\r") == 0) {
    // Timer-driven: the answer is collected until TIMER_AT_COMMAND expires.
    {
      std::lock_guard lock(gAnswerMutex);
      gTimerAnswered = false;
    }
    const int32_t r = sendATCommand(fits->c_str(), 1, 1, 1000);
    if (r != 0 && r != 2) return endedEarly(kExitFailed);
    // The command's timer collects the answer; its expiry, handled here on
    // the main thread, applies it.
    if (!waitUntil([this] { return !w_.timerArmed(TIMER_AT_COMMAND); }, 30000))
      return endedEarly(kExitFailed);
    std::lock_guard lock(gAnswerMutex);
    if (!gTimerAnswered) return kExitFailed;
    printAnswer(out_, gTimerAnswer);
    return kExitOk;
  }

  if (sendATCommand(fits->c_str(), 1, 0, 1000) != 0) {
    w_.printLine(formatBounded(1024, "Failed to send %s command", fits->c_str()));
    return endedEarly(kExitFailed);
  }
  std::string answer;
  {
    std::lock_guard lock(atCommandMutex);
    answer = std::string(fieldView(atCommand.param)) + std::string(fieldView(atCommand.response));
  }
  AnswerKind kind;
  applyCommandResponse(page_, &kind);
  printAnswer(out_, answer);
  return kind == AnswerKind::Accepted ? kExitOk : kExitFailed;
}

int Session::reset() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  if (onRestoreFactorySettings(page_) != 0) return endedEarly(kExitFailed);
  w_.processPosted(0);
  // The link now runs the factory line settings; read the adapter there, or
  // find it again, from those settings, if it is not back yet.
  if (!readAll()) {
    if (adapterGone()) return endedEarly(kExitFailed);
    UartDeinit();
    localDev.initialised = 0;
    setUpLocalPage(page_, uart.baud, uart.parity, uart.stopBits, uart.flow, o_.port);
    const int again = connectAndRead();
    if (again != kExitOk) return again;
  }
  writeSettings(out_);
  return kExitOk;
}

}  // namespace kx::cli
