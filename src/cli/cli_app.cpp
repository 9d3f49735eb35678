#include "cli/cli_app.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "device/settings_file.h"
#include "link/main_timers.h"
#include "link/pairing.h"
#include "platform/clock.h"
#include "platform/memory_form.h"
#include "serial/port_discovery.h"
#include "serial/uart.h"

namespace kx::cli {
namespace {

// The local device page and the Pairing page. The engine's apply hook is a
// plain function, so the page it applies to is reached through a global.
MemoryForm* gLocalPage = nullptr;
TerminalWindow* gWindow = nullptr;

// The last answer applied through the hook (timer-driven commands), as the
// adapter sent it.
std::mutex gAnswerMutex;
std::string gTimerAnswer;
bool gTimerAnswered = false;

int32_t applyToLocalPage() {
  {
    std::lock_guard lock(atCommandMutex);
    std::lock_guard answer(gAnswerMutex);
    gTimerAnswer = std::string(fieldView(atCommand.param)) + std::string(fieldView(atCommand.response));
    gTimerAnswered = true;
  }
  return gLocalPage ? applyCommandResponse(*gLocalPage) : 0;
}

const char* parityName(int32_t parity) {
  if (parity == PARITY_ODD_FLAG) return "Odd";
  if (parity == PARITY_EVEN_FLAG) return "Even";
  return "None";
}
const char* onOff(int32_t v) { return v ? "On" : "Off"; }

// The local device page's serial controls, as a user would set them.
void setUpLocalPage(MemoryForm& page, const Options& o) {
  using namespace ctl;
  page.setText(kComPortList, o.port);
  page.setText(kBaudRateList, std::to_string(o.baud));
  for (const char* row : {"None", "Odd", "Even"}) page.addRow(kParityList, row);
  page.setSelection(kParityList, parityToIndex(o.parity));
  setRadio(page, o.stopBits == 1 ? kStopOne : kStopTwo, {kStopOne, kStopTwo});
  setRadio(page, o.flow == 1 ? kFlowEnabled : kFlowDisabled, {kFlowEnabled, kFlowDisabled});
}

class Session {
 public:
  Session(const Options& o, TerminalWindow& w, std::FILE* out, const std::atomic<bool>& cancel)
      : o_(o), w_(w), out_(out), cancel_(cancel) {
    gLocalPage = &page_;
    gWindow = &w;
    installCommandEngine();
    applyResponseHook = &applyToLocalPage;
    w.notificationHandler = [this](const TerminalWindow::Notification& n) { notified(n); };
    w.timerHandler = [this](int32_t id) { onMainTimer(id, connectionPage_, mainControls_); };
    // The spinner turns before each step of the search, so the port still
    // holds the settings of the step before, which went unanswered.
    w.spinnerHandler = [&w](int32_t step) {
      if (step <= 1) {
        w.printLine(formatBounded(200, "Search step %d of 132", step));
        return;
      }
      w.printLine(formatBounded(200, "Search step %d of 132 (no answer at %d bit/s, parity %s, "
                                     "%d stop bit(s), flow control %s)",
                                step, uart.baud, parityName(uart.parity), uart.stopBits,
                                onOff(uart.flow)));
    };
    setUpLocalPage(page_, o);
  }

  ~Session() {
    requestPairingStop();
    while (!stopInitialisation()) w_.processPosted(50);
    UartDeinit();
    w_.notificationHandler = nullptr;
    w_.timerHandler = nullptr;
    w_.spinnerHandler = nullptr;
    applyResponseHook = nullptr;
    uninstallCommandEngine();
    gLocalPage = nullptr;
    gWindow = nullptr;
  }

  int run() {
    switch (o_.command) {
      case Command::Find:
        return find();
      case Command::Read:
        return read();
      case Command::Apply:
        return apply();
      case Command::Send:
        return send();
      case Command::Pair:
      case Command::Unpair:
        return pairing(o_.command == Command::Pair);
      default:
        return kExitUsage;
    }
  }

 private:
  void notified(const TerminalWindow::Notification& n) {
    switch (n.id) {
      case NOTIFY_ENABLE_ABORT:
        if (n.lParam == 1) searchStarted_ = true;
        break;
      case NOTIFY_COMMAND_RESPONSE:
        applyCommandResponse(page_);
        break;
      default:
        break;
    }
  }

  // Read Settings as the page's button does it, waiting for the worker.
  int connect() {
    clearLocalDev();
    clearPair();
    clearInquiry();
    clearRemote();
    onReadSettings(page_);
    bool aborted = false;
    while (initialisationRunning()) {
      if (cancel_ && !aborted) {
        onAbort();
        aborted = true;
      }
      w_.processPosted(100);
    }
    while (!stopInitialisation()) w_.processPosted(50);
    w_.processPosted(0);
    if (localDev.initialised == 1) return kExitOk;
    if (localDev.oldFirmware == 1) return kExitOldFirmware;
    if (!searchStarted_) return kExitPortFailed;
    if (cancel_) return kExitCancelled;
    return kExitNotFound;
  }

  bool readAll() {
    const auto before = completedReads();
    readAllSettings(page_);
    return completedReads() > before;
  }
  std::size_t completedReads() const {
    std::size_t n = 0;
    for (const auto& s : w_.statusTexts()) n += s == "Device Settings read complete";
    return n;
  }

  int connectAndRead() {
    const int c = connect();
    if (c != kExitOk) return c;
    if (cancel_) return kExitCancelled;
    return readAll() ? kExitOk : kExitFailed;
  }

  int find() {
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

  int read() {
    const int c = connectAndRead();
    if (c != kExitOk) return c;
    if (o_.json)
      std::fprintf(out_, "%s\n", settingsJson(false).c_str());
    else
      writeSettings(out_);
    return kExitOk;
  }

  int apply();
  int send();
  int pairing(bool pairNow);

  const Options& o_;
  TerminalWindow& w_;
  std::FILE* out_;
  const std::atomic<bool>& cancel_;
  MemoryForm page_;
  MemoryForm pairPage_;
  // The Connection page and the main window's page buttons, which the
  // inquiry timer's end unlocks; nobody shows them here.
  MemoryForm connectionPage_;
  MemoryForm mainControls_;
  bool searchStarted_ = false;
};

// ------------------------------------------------------------------ apply

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
  switch (e.key) {
    case 1:
      return number(f.baud, uart.baud);
    case 2:
      return number(f.stopBits, uart.stopBits);
    case 3:
      return flag(f.flow, uart.flow);
    case 4:
      return {f.parity == uart.parity ? Check::Match : Check::Mismatch, parityName(f.parity),
              parityName(uart.parity)};
    case 5:
      return flag(f.authDisabled, localDev.authDisabled);
    case 6:
      return text(e.value, fieldView(localDev.name));
    case 7:
      return text(e.value, fieldView(localDev.pin));
    case 8: {
      const std::string have(fieldView(localDev.bondedAddress));
      return {sameAddress(e.value, have) ? Check::Match : Check::Mismatch, e.value, have};
    }
    case 9:
      return flag(f.discoverable, localDev.discoverable);
    case 10:
      return {f.role == localDev.role ? Check::Match : Check::Mismatch,
              f.role == 1 ? "Master" : "Slave",
              localDev.role == 1 ? "Master" : localDev.role == 2 ? "Slave" : "unknown"};
    case 11:
      return flag(f.autoConnect, localDev.autoConnect);
    case 12:
      return flag(f.escapeMode, localDev.escapeMode);
    case 13:
      return flag(f.echo, localDev.echo);
    case 14:
      return flag(f.sleepMode, localDev.sleepMode);
    case 15:
      return flag(f.cmdResponse, localDev.cmdResponse);
    case 16:
      return flag(f.remoteConfig, localDev.remoteConfig);
    case 17: {
      if (isLegacyFirmware()) return {Check::Skipped, "not supported by this firmware", ""};
      const int32_t have = localDev.modemSignal;
      return {f.modemSignal == have ? Check::Match : Check::Mismatch, kModem[f.modemSignal],
              have >= 0 && have <= 2 ? kModem[have] : "unknown"};
    }
    case 18:
      if (!supportsRemoteService()) return {Check::Skipped, "not supported by this firmware", ""};
      return text(e.value, fieldView(localDev.remoteService));
    case 19:
      if (!supportsRemoteCod()) return {Check::Skipped, "not read back by this firmware", ""};
      return text(e.value, fieldView(localDev.remoteCod));
    default:
      return {Check::Skipped, "the PC's setting, not the adapter's", ""};
  }
}

int Session::apply() {
  std::vector<SettingsLine> entries;
  if (!readSettingsEntries(o_.file, &entries)) {
    w_.printLine(settingsOpenErrorText(errno) + ": " + o_.file);
    return kExitFileError;
  }
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  if (LoadSettings(o_.file, 1, &page_) != 1) return kExitFileError;
  if (cancel_) return kExitCancelled;
  w_.printLine("Reading the settings back to verify them...");
  if (!readAll()) return kExitFailed;
  int mismatches = 0, matches = 0;
  for (const SettingsLine& e : entries) {
    const Check r = compareEntry(e);
    const char* key = kSettingsFileKeys[e.key];
    switch (r.kind) {
      case Check::Match:
        ++matches;
        std::fprintf(out_, "%s: ok (%s)\n", key, r.expected.c_str());
        break;
      case Check::Mismatch:
        ++mismatches;
        std::fprintf(out_, "%s: MISMATCH (file %s, adapter %s)\n", key, r.expected.c_str(),
                     r.actual.c_str());
        break;
      case Check::Skipped:
        std::fprintf(out_, "%s: skipped (%s)\n", key, r.expected.c_str());
        break;
    }
  }
  std::fprintf(out_, "%d verified, %d mismatched\n", matches, mismatches);
  return mismatches ? kExitMismatch : kExitOk;
}

// ------------------------------------------------------------------ send

void printAnswer(std::FILE* out, const std::string& answer) {
  std::size_t start = 0;
  while (start < answer.size()) {
    std::size_t end = answer.find_first_of("\r\n", start);
    if (end == std::string::npos) end = answer.size();
    if (end > start) std::fprintf(out, "%s\n", answer.substr(start, end - start).c_str());
    start = end + 1;
  }
}

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
    if (r != 0 && r != 2) return kExitFailed;
    const long long end = monotonicMs() + 30000;
    while (w_.timerArmed(TIMER_AT_COMMAND) && monotonicMs() < end) w_.processPosted(50);
    std::lock_guard lock(gAnswerMutex);
    if (!gTimerAnswered) return kExitFailed;
    printAnswer(out_, gTimerAnswer);
    return kExitOk;
  }

  if (sendATCommand(fits->c_str(), 1, 0, 1000) != 0) {
    w_.printLine(formatBounded(1024, "Failed to send %s command", fits->c_str()));
    return kExitFailed;
  }
  std::string answer, response;
  {
    std::lock_guard lock(atCommandMutex);
    response = std::string(fieldView(atCommand.response));
    answer = std::string(fieldView(atCommand.param)) + response;
  }
  applyCommandResponse(page_);
  printAnswer(out_, answer);
  return response == "\r\nERROR\r\n" ? kExitFailed : kExitOk;
}

// ------------------------------------------------------------------ pairing

int Session::pairing(bool pairNow) {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  refreshPairPage(pairPage_);
  if (pairNow)
    pairDevices(pairPage_, page_);
  else
    unpairDevices(pairPage_, page_);
  if (w_.sawStatus(pairNow ? "Pairing Successful" : "Unpairing successful")) {
    std::fprintf(out_, "Local device %s bonded to %s\n", localDev.address,
                 localDev.bondedAddress);
    return kExitOk;
  }
  if (cancel_ || w_.questionRefused()) return kExitCancelled;
  return kExitFailed;
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (ch < 0x20 || ch == 0x7f)
          out += formatBounded(8, "\\u%04x", ch);
        else
          out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

std::string settingsJson(bool lineOnly) {
  std::vector<std::pair<std::string, std::string>> f;
  auto str = [&](const char* k, std::string_view v) { f.emplace_back(k, jsonString(std::string(v))); };
  auto boolean = [&](const char* k, int32_t v) { f.emplace_back(k, v ? "true" : "false"); };
  str("Port", fieldView(uart.comPort));
  f.emplace_back("Baud", std::to_string(uart.baud));
  f.emplace_back("StopBits", std::to_string(uart.stopBits));
  boolean("FlowControl", uart.flow);
  str("Parity", parityName(uart.parity));
  if (!lineOnly) {
    str("Address", fieldView(localDev.address));
    str("FirmwareVersion", fieldView(localDev.fwVersion));
    str("Name", fieldView(localDev.name));
    str("Pin", fieldView(localDev.pin));
    str("RemoteAddress", fieldView(localDev.bondedAddress));
    boolean("Discoverable", localDev.discoverable);
    boolean("DisablePin", localDev.authDisabled);
    str("Role", localDev.role == 1 ? "Master" : localDev.role == 2 ? "Slave" : "");
    boolean("AutoConnect", localDev.autoConnect);
    boolean("EscapeMode", localDev.escapeMode);
    boolean("EchoMode", localDev.echo);
    boolean("AutoPower", localDev.sleepMode);
    boolean("CommandResponse", localDev.cmdResponse);
    boolean("RemoteConfig", localDev.remoteConfig);
    if (!isLegacyFirmware()) {
      static const char* const kModem[] = {"Disabled", "LocalLoopback", "RemoteTransfer"};
      const int32_t m = localDev.modemSignal;
      if (m >= 0 && m <= 2) str("ModemSignal", kModem[m]);
    }
    if (supportsRemoteService()) str("RemoteService", fieldView(localDev.remoteService));
    if (supportsRemoteCod()) str("RemoteCOD", fieldView(localDev.remoteCod));
  }
  std::string out = "{";
  for (std::size_t i = 0; i < f.size(); ++i)
    out += (i ? ", " : "") + jsonString(f[i].first) + ": " + f[i].second;
  return out + "}";
}

int runCommand(const Options& options, TerminalWindow& window, std::FILE* out,
               const std::atomic<bool>& cancel) {
  if (options.command == Command::Ports) {
    for (const std::string& p : enumeratePorts()) std::fprintf(out, "%s\n", p.c_str());
    return kExitOk;
  }
  setClockScale(options.timeScale);
  Session session(options, window, out, cancel);
  const int result = session.run();
  std::fflush(out);
  return result;
}

}  // namespace kx::cli
