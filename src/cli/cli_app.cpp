#include "cli/cli_app.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <vector>

#include <nlohmann/json.hpp>

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
#include "platform/serial_device.h"
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

int Session::apply() {
  // The file was checked before the port was opened; a file changed since
  // is checked again, and nothing is sent from a file with a problem.
  const SettingsFileCheck check = checkSettingsFile(o_.file);
  if (!check.usable() || !check.problems.empty()) {
    std::vector<std::string> messages;
    const int r = checkSettingsFileFirst(o_.file, &messages);
    for (const std::string& m : messages) w_.printLine(m);
    return r == kExitOk ? kExitFileError : r;
  }
  const int c = connectAndRead();
  if (c != kExitOk) return c;
  // The plan is the dry run's output and the total of the progress line.
  std::vector<std::string> plan;
  programSettings(check.entries, 1, &page_, &plan);
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
  };
  programSettings(check.entries, 1, &page_);
  settingsCommandHook = nullptr;
  if (cancel_) return kExitCancelled;
  w_.printLine("Reading the settings back to verify them...");
  if (!readAll()) return kExitFailed;
  // A key given twice is verified once, with its last value, as the adapter
  // was left with it.
  std::vector<SettingsLine> entries;
  for (const SettingsLine& e : check.entries) {
    auto same = std::find_if(entries.begin(), entries.end(),
                             [&](const SettingsLine& x) { return x.key == e.key; });
    if (same != entries.end()) *same = e;
    else entries.push_back(e);
  }
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
    if (!o_.json) {
      std::fprintf(out_, "%s\n", line.c_str());
      continue;
    }
    // A device line: name (20 columns), class of device, signal strength,
    // then the address at column 34. Other lines (the header, the end) are
    // not devices.
    const std::string address = line.size() > 34 ? line.substr(34, 14) : std::string();
    if (!isAddressText(address)) continue;
    auto column = [&](std::size_t from, std::size_t length) {
      std::string v = line.substr(from, length);
      while (!v.empty() && v.back() == ' ') v.pop_back();
      while (!v.empty() && v.front() == ' ') v.erase(v.begin());
      return latin1ToUtf8(v);
    };
    nlohmann::ordered_json device;
    device["name"] = column(0, 20);
    device["address"] = address;
    device["class"] = column(21, 6);
    int rssi = 0;
    if (std::sscanf(line.c_str() + 28, "%d", &rssi) == 1) device["rssi"] = rssi;
    std::fprintf(out_, "%s\n", device.dump().c_str());
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
  // The adapter reports a link by being in data mode when it was found (the
  // escape brought it back) or by a CONNECT since. Without either, AT+DROP
  // still goes out, in case the link came up otherwise, but its DISCONNECT
  // would follow the OK at once: a short wait, not the whole time-out.
  const bool linkKnown = localDev.connected == 1 || w_.sawStatus(kLeftDataModeStatus);
  constexpr int kNoLinkWaitMs = 2000;
  const std::size_t mark = statusMark();
  onDisconnect(page_);
  const int r = waitForStatus(mark, {"Local Device disconnected from remote device"},
                              linkKnown ? o_.timeoutMs : kNoLinkWaitMs);
  if (r == 0) {
    std::fprintf(out_, "disconnected\n");
    return kExitOk;
  }
  if (cancel_) return kExitCancelled;
  if (!linkKnown) {
    w_.printLine("not connected: the adapter has no link to drop");
    return kExitLinkFailed;
  }
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

int checkSettingsFileFirst(const std::string& path, std::vector<std::string>* messages) {
  const SettingsFileCheck check = checkSettingsFile(path);
  if (check.readError != 0) {
    messages->push_back("kx627-cli: cannot read the settings file " + path + ": " +
                        errnoText(check.readError));
    return kExitFileError;
  }
  if (check.problems.empty()) return kExitOk;
  for (const SettingsProblem& p : check.problems)
    messages->push_back(describeSettingsProblem(path, p));
  messages->push_back(formatBounded(1024, "kx627-cli: %zu problem(s) in %s; no port was opened",
                                    check.problems.size(), path.c_str()));
  return kExitFileError;
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
  if (options.command == Command::Ports) {
    for (const std::string& p : enumeratePorts()) std::fprintf(out, "%s\n", p.c_str());
    return kExitOk;
  }
  setClockScale(options.timeScale);
  const long long started = monotonicMs();
  gReport = RunReport{};
  gReport.port = options.port;
  int result;
  if (options.command == Command::Apply) {
    std::vector<std::string> messages;
    result = checkSettingsFileFirst(options.file, &messages);
    for (const std::string& m : messages) window.printLine(m);
    if (result != kExitOk) {
      gReport.exitCode = result;
      gReport.result = "file error";
      return result;
    }
  }
  {
    Session session(options, window, out, cancel);
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
  j["seconds"] = static_cast<double>(static_cast<long long>(r.seconds * 10 + 0.5)) / 10;
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
