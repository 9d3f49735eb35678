#include "cli/session.h"

#include <mutex>

#include "atcmd/engine_hooks.h"
#include "atcmd/connect_event.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "device/settings_search.h"
#include "link/connection.h"
#include "link/main_timers.h"
#include "link/pairing.h"
#include "link/remote_config.h"
#include "platform/clock.h"
#include "serial/uart.h"

namespace kx::cli {

RunReport gReport;

std::mutex gAnswerMutex;
std::string gTimerAnswer;
bool gTimerAnswered = false;

namespace {

// The local device page and the Pairing page. The engine's apply hook is a
// plain function, so the page it applies to is reached through a global.
MemoryForm* gLocalPage = nullptr;
TerminalWindow* gWindow = nullptr;

int32_t applyToLocalPage() {
  {
    std::lock_guard lock(atCommandMutex);
    std::lock_guard answer(gAnswerMutex);
    gTimerAnswer = std::string(fieldView(atCommand.param)) + std::string(fieldView(atCommand.response));
    gTimerAnswered = true;
  }
  return gLocalPage ? applyCommandResponse(*gLocalPage) : 0;
}

}  // namespace

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

Session::Session(const Options& o, TerminalWindow& w, std::FILE* out, const std::atomic<bool>& cancel,
                 const Production* production)
    : o_(o), w_(w), out_(out), cancel_(cancel), production_(production) {
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
    const std::string heading = searchStepHeading(step);
    if (step <= 1) {
      w.printProgress(formatBounded(200, "%s, %llds", heading.c_str(), elapsed));
      return;
    }
    w.printProgress(formatBounded(200, "%s, %llds (no answer at %d bit/s, "
                                       "parity %s, %d stop bit(s), flow control %s)",
                                  heading.c_str(), elapsed, uart.baud, parityName(uart.parity),
                                  uart.stopBits, onOff(uart.flow)));
  };
  setUpLocalPage(page_, o.baud, o.parity, o.stopBits, o.flow, o.port);
}

Session::~Session() {
  remoteLinkLost = nullptr;
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

int Session::run() {
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
    case Command::Station:
      return station();
    default:
      return kExitUsage;
  }
}

bool Session::adapterGone() const { return UartDeviceLost(); }

int Session::endedEarly(int otherwise) const {
  if (cancel_) return kExitCancelled;
  if (adapterGone()) {
    w_.printLine("kx627-cli: the adapter on " + o_.port + " went away (unplugged?)");
    return kExitDeviceLost;
  }
  return otherwise;
}

void Session::notified(const TerminalWindow::Notification& n) {
  switch (n.id) {
    case NOTIFY_COMMAND_RESPONSE:
      applyCommandResponse(page_);
      break;
    default:
      break;
  }
}

// Read Settings as the page's button does it, waiting for the worker.
int Session::connect() {
  clearLocalDev();
  clearPair();
  clearInquiry();
  clearRemote();
  onReadSettings(page_);
  bool aborted = false;
  while (initialisationRunning()) {
    // A search for an adapter that has gone would only try every setting
    // on a dead port.
    if ((cancel_ || adapterGone()) && !aborted) {
      onAbort();
      aborted = true;
    }
    w_.processPosted(100);
  }
  while (!stopInitialisation()) w_.processPosted(50);
  w_.processPosted(0);
  switch (initialisationOutcome()) {
    case InitOutcome::Initialised:
      return adapterGone() ? endedEarly(kExitFailed) : kExitOk;
    case InitOutcome::OldFirmware:
      return kExitOldFirmware;
    case InitOutcome::PortFailed:
      return kExitPortFailed;
    case InitOutcome::NotFound:
      return endedEarly(kExitNotFound);
    default:
      return endedEarly(kExitFailed);
  }
}

bool Session::readAll() { return readAllSettings(page_) == 0 && !adapterGone(); }

int Session::connectAndRead() {
  const int c = connect();
  if (c != kExitOk) return c;
  if (cancel_) return kExitCancelled;
  return readAll() ? kExitOk : endedEarly(kExitFailed);
}

bool Session::waitUntil(const std::function<bool()>& done, int timeoutMs) {
  const long long end = monotonicMs() + timeoutMs;
  while (true) {
    if (done()) return true;
    if (cancel_ || adapterGone() || monotonicMs() >= end) return false;
    w_.processPosted(50);
  }
}

}  // namespace kx::cli