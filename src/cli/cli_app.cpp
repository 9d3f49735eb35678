#include "cli/cli_app.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
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
#include "link/connection.h"
#include "link/main_timers.h"
#include "link/pairing.h"
#include "link/remote_config.h"
#include "platform/clock.h"
#include "platform/memory_form.h"
#include "serial/port_discovery.h"
#include "serial/uart.h"

namespace kx::cli {
namespace {

// What the current run did, for --report.
RunReport gReport;

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
void setUpLocalPage(MemoryForm& page, int32_t baud, int32_t parity, int32_t stopBits,
                    int32_t flow, const std::string& port) {
  using namespace ctl;
  page.setText(kComPortList, port);
  page.setText(kBaudRateList, std::to_string(baud));
  page.clearRows(kParityList);
  for (const char* row : {"None", "Odd", "Even"}) page.addRow(kParityList, row);
  page.setSelection(kParityList, parityToIndex(parity));
  setRadio(page, stopBits == 1 ? kStopOne : kStopTwo, {kStopOne, kStopTwo});
  setRadio(page, flow == 1 ? kFlowEnabled : kFlowDisabled, {kFlowEnabled, kFlowDisabled});
}

class Session {
 public:
  Session(const Options& o, TerminalWindow& w, std::FILE* out, const std::atomic<bool>& cancel)
      : o_(o), w_(w), out_(out), cancel_(cancel) {
    gLocalPage = &page_;
    gWindow = &w;
    installCommandEngine();
    installRemoteConfiguration();
    applyResponseHook = &applyToLocalPage;
    w.notificationHandler = [this](const TerminalWindow::Notification& n) { notified(n); };
    w.timerHandler = [this](int32_t id) { onMainTimer(id, connectionPage_, mainControls_); };
    // The spinner turns before each step of the search, so the port still
    // holds the settings of the step before, which went unanswered.
    w.spinnerHandler = [this, &w](int32_t step) {
      if (!initialisationRunning()) return;  // the inquiry turns it too
      if (searchStartedMs_ == 0) searchStartedMs_ = monotonicMs();
      const long long elapsed = (monotonicMs() - searchStartedMs_) / 1000;
      if (step <= 1) {
        w.printProgress(formatBounded(200, "Search step %d of 132, %llds", step, elapsed));
        return;
      }
      w.printProgress(formatBounded(200, "Search step %d of 132, %llds (no answer at %d bit/s, "
                                         "parity %s, %d stop bit(s), flow control %s)",
                                    step, elapsed, uart.baud, parityName(uart.parity),
                                    uart.stopBits, onOff(uart.flow)));
    };
    setUpLocalPage(page_, o.baud, o.parity, o.stopBits, o.flow, o.port);
  }

  ~Session() {
    requestPairingStop();
    while (!stopInitialisation()) w_.processPosted(50);
    UartDeinit();
    w_.notificationHandler = nullptr;
    w_.timerHandler = nullptr;
    w_.spinnerHandler = nullptr;
    applyResponseHook = nullptr;
    remoteAnswerReceiver = nullptr;
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
      case Command::Inquire:
        return inquire();
      case Command::Connect:
        return connectTo();
      case Command::Disconnect:
        return disconnect();
      case Command::Remote:
        return remoteConfigure();
      case Command::Reset:
        return reset();
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
  int inquire();
  int connectTo();
  int disconnect();
  int remoteConfigure();
  int reset();

  // Processes posts until one of `texts` appears among the status lines
  // shown from `mark` on (an index into statusTexts()), or timeoutMs passes
  // (Ctrl-C too). The index of the text found, or -1.
  int waitForStatus(std::size_t mark, std::initializer_list<const char*> texts, int timeoutMs) {
    const long long end = monotonicMs() + timeoutMs;
    while (true) {
      const auto status = w_.statusTexts();
      for (std::size_t i = mark; i < status.size(); ++i) {
        int k = 0;
        for (const char* t : texts) {
          if (status[i].rfind(t, 0) == 0) return k;
          ++k;
        }
      }
      if (cancel_ || monotonicMs() >= end) return -1;
      w_.processPosted(50);
    }
  }
  std::size_t statusMark() const { return w_.statusTexts().size(); }

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
  MemoryForm remotePage_;
  bool searchStarted_ = false;
  long long searchStartedMs_ = 0;
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
  if (o_.dryRun) {
    std::vector<std::string> plan;
    if (LoadSettings(o_.file, 1, &page_, &plan) != 1) return kExitFileError;
    for (std::string command : plan) {
      if (!command.empty() && command.back() == '\r') command.pop_back();
      std::fprintf(out_, "%s\n", command.c_str());
    }
    return kExitOk;
  }
  // The plan gives the total for the progress line.
  std::vector<std::string> plan;
  if (LoadSettings(o_.file, 1, &page_, &plan) != 1) return kExitFileError;
  int sent = 0;
  const long long started = monotonicMs();
  settingsCommandHook = [&](const std::string& command) {
    std::string shown = command;
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    w_.printProgress(formatBounded(200, "Programming %d of %zu, %llds (%s)", ++sent, plan.size(),
                                   (monotonicMs() - started) / 1000, shown.c_str()));
  };
  const int loaded = LoadSettings(o_.file, 1, &page_);
  settingsCommandHook = nullptr;
  if (loaded != 1) return kExitFileError;
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

// ------------------------------------------------------------------ radio

int Session::inquire() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  onInquireDevices(connectionPage_, page_);
  if (localDev.inquiryActive == 0) return kExitFailed;  // the refusal has been reported
  // The inquiry timer ends the display after 61 ticks even if the adapter
  // never reports the end; wait a little longer than that.
  const long long end = monotonicMs() + 70000;
  bool cancelled = false;
  while (localDev.inquiryActive == 1 && monotonicMs() < end) {
    if (cancel_ && !cancelled) {
      cancelled = true;
      onCancelInquiry(page_);
    }
    w_.processPosted(100);
  }
  w_.processPosted(0);
  std::vector<std::string> lines;
  {
    std::lock_guard lock(inquiryMutex);
    const int count = std::min<int>(inquiry.count, kMaxInquiryResults);
    for (int i = 0; i < count; ++i) lines.emplace_back(fieldView(inquiry.results[i]));
  }
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (o_.json) {
      const std::string address = line.size() > 34 ? line.substr(34, 14) : std::string();
      std::fprintf(out_, "{\"line\": %s, \"address\": %s}\n", jsonString(line).c_str(),
                   jsonString(address).c_str());
    } else {
      std::fprintf(out_, "%s\n", line.c_str());
    }
  }
  return cancelled ? kExitCancelled : kExitOk;
}

int Session::connectTo() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  connectionPage_.setText(ctl::kSelectedDevice, addressDigits(o_.address));
  const std::size_t mark = statusMark();
  onConnect(connectionPage_, page_);
  const int r = waitForStatus(mark,
                              {"Local Device connected to remote device with address",
                               "Local Device failed to connect to remote device."},
                              o_.timeoutMs);
  if (r == 0 && localDev.connected == 1) {
    std::string peer;
    {
      std::lock_guard lock(remoteMutex);
      peer = std::string(fieldView(remote.peerAddress));
    }
    std::fprintf(out_, "connected %s\n", peer.c_str());
    return kExitOk;
  }
  if (cancel_) return kExitCancelled;
  if (r < 0) w_.printLine("No CONNECT event within the time-out");
  return kExitLinkFailed;
}

int Session::disconnect() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  const std::size_t mark = statusMark();
  onDisconnect(page_);
  const int r = waitForStatus(mark, {"Local Device disconnected from remote device"}, o_.timeoutMs);
  if (r == 0) {
    std::fprintf(out_, "disconnected\n");
    return kExitOk;
  }
  if (cancel_) return kExitCancelled;
  w_.printLine("No DISCONNECT event within the time-out (is the adapter connected?)");
  return kExitLinkFailed;
}

int Session::remoteConfigure() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  initRemotePage(remotePage_);
  // Reading the role and the auto-connect setting drops the tool's link
  // flags; the escape from data mode at the start showed the link is up.
  if (w_.sawStatus(kLeftDataModeStatus)) localDev.connected = 1;
  // The handshake's, the speed change's and the exit's answers, or the
  // 4-second timer's verdict; a little longer than the timer to be sure.
  constexpr int kAnswerWaitMs = 6000;
  std::size_t mark = statusMark();
  onHandshake();
  if (remote.handshakeState != HANDSHAKE_STARTED && remote.handshakeState != HANDSHAKE_COMPLETE)
    return w_.questionRefused() ? kExitCancelled : kExitLinkFailed;
  if (waitForStatus(mark, {"Handshake Complete...", "Handshake Failed...", "Handshake failed."},
                    kAnswerWaitMs) != 0)
    return cancel_ ? kExitCancelled : kExitLinkFailed;

  bool confirmed = true;
  // The page's Baud Rate list: the position + 1 is the remote speed code.
  static const int32_t kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
  remotePage_.clearRows(ctl::kRemoteBaudList);
  for (int32_t speed : kSpeeds) remotePage_.addRow(ctl::kRemoteBaudList, std::to_string(speed));
  for (int i = 0; i < 8; ++i)
    if (kSpeeds[i] == o_.remoteBaud) remotePage_.setSelection(ctl::kRemoteBaudList, i);
  mark = statusMark();
  onProgramRemoteDevice(remotePage_);
  confirmed = waitForStatus(mark,
                            {"Remote Device Baud rate changed.",
                             "Remote Device Baud rate change failed.", "Handshake command failed."},
                            kAnswerWaitMs) == 0;
  // Remote access is always left again once the handshake was made.
  mark = statusMark();
  onExitRemoteAccess();
  confirmed = waitForStatus(mark,
                            {"Remote Access Mode Exited.", "Exit Remote Access Mode failed.",
                             "Handshake command failed."},
                            kAnswerWaitMs) == 0 &&
              confirmed;
  if (cancel_) return kExitCancelled;
  return confirmed ? kExitOk : kExitLinkFailed;
}

int Session::reset() {
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  const std::size_t mark = statusMark();
  onRestoreFactorySettings(page_);
  if (waitForStatus(mark, {"Factory settings restored on Local Device."}, 0) != 0)
    return kExitFailed;
  w_.processPosted(0);
  // The link now runs the factory line settings; read the adapter there, or
  // find it again if it is not back yet.
  if (!readAll()) {
    UartDeinit();
    localDev.initialised = 0;
    setUpLocalPage(page_, uart.baud, uart.parity, uart.stopBits, uart.flow, o_.port);
    const int again = connectAndRead();
    if (again != kExitOk) return again;
  }
  writeSettings(out_);
  return kExitOk;
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
  const long long started = monotonicMs();
  gReport = RunReport{};
  gReport.port = options.port;
  int result;
  {
    Session session(options, window, out, cancel);
    result = session.run();
    gReport.address = std::string(fieldView(localDev.address));
    gReport.name = std::string(fieldView(localDev.name));
  }
  std::fflush(out);
  gReport.exitCode = result;
  gReport.seconds = static_cast<double>(monotonicMs() - started) / 1000.0;
  return result;
}

RunReport lastRunReport() { return gReport; }

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
    case kExitCancelled:
      return "cancelled";
    default:
      return "error";
  }
}

std::string reportJson(const RunReport& r) {
  std::string keys = "[";
  for (std::size_t i = 0; i < r.mismatched.size(); ++i)
    keys += (i ? ", " : "") + jsonString(r.mismatched[i]);
  keys += "]";
  return formatBounded(4096,
                       "{\"port\": %s, \"address\": %s, \"name\": %s, \"result\": %s, "
                       "\"exit\": %d, \"mismatched\": %s, \"seconds\": %.1f}",
                       jsonString(r.port).c_str(), jsonString(r.address).c_str(),
                       jsonString(r.name).c_str(), jsonString(resultWord(r.exitCode)).c_str(),
                       r.exitCode, keys.c_str(), r.seconds);
}

}  // namespace kx::cli
