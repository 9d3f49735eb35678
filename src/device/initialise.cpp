#include "device/initialise.h"
#include "device/port_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "device/settings_file.h"
#include "device/settings_search.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "serial/port_discovery.h"
#include "serial/uart.h"

namespace kx {

const char* const readCommandList[20] = {
    "AT+RESP?\r",  "AT+ECHO?\r", "AT+ROLE?\r", "AT+ADDR?\r", "AT+NAME?\r",
    "AT+PIN?\r",   "AT+DCOV?\r", "AT+ESC?\r",  "AT+SLEEP?\r", "AT+ACON?\r",
    "AT+RCFG?\r",  "AT+VER\r",   "AT+BAUD?\r", "AT+STOP?\r", "AT+PAR?\r",
    "AT+FLOW?\r",  "AT+BOND?\r", "AT+MODEM?\r", "AT+RSERVICE?\r", "AT+RCOD?\r",
};

std::string searchStopHint = " Press Abort to Stop....";

namespace {

std::mutex gWorkerMutex;
std::thread gWorker;
std::atomic<bool> gWorkerRunning{false};
std::atomic<bool> gShutdown{false};  // the window is closing: no more window calls
std::atomic<InitOutcome> gOutcome{InitOutcome::None};
std::atomic<bool> gLeftDataMode{false};

// A status line. The worker's lines go to the user-interface thread and wait
// there; once the window is closing the worker shows nothing more.
void status(const std::string& text) {
  if (WindowInterface* w = mainWindowHandle; w && !w->isUiThread() && gShutdown) return;
  appendStatus(text);
}

// Applies the pending answer to the page on the user-interface thread.
int applyOnUi(FormInterface& page) {
  int result = 0;
  if (gShutdown) {
    std::lock_guard lock(atCommandMutex);
    clearAtCommand();
    return 0;
  }
  if (WindowInterface* w = mainWindowHandle)
    w->invokeOnUi([&] { result = applyCommandResponse(page); });
  else
    result = applyCommandResponse(page);
  return result;
}

// A pending command that will not be applied: drop it with what came of its
// answer.
void dropPending() {
  std::lock_guard lock(atCommandMutex);
  clearAtCommand();
}

// A send that got no complete answer may still have framed part of one (a
// value line and a CR LF that, alone, reads like a responses-off answer).
// Keep the command but not those bytes, so that the response application
// sees a missing answer.
void dropUnfinishedAnswer() {
  std::lock_guard lock(atCommandMutex);
  std::memset(atCommand.response, 0, sizeof atCommand.response);
  std::memset(atCommand.param, 0, sizeof atCommand.param);
  atCommand.rxIndex = 0;
  atCommand.rxState = 0;
}

bool answerIsError() {
  std::lock_guard lock(atCommandMutex);
  return std::string(fieldView(atCommand.response)) == "\r\nERROR\r\n";
}

}  // namespace

void initLocalDevicePage(FormInterface& page) {
  using namespace ctl;
  discoverComPorts(page);
  page.setSelection(kComPortList, comPortSelectionIndex(page));
  // A port the system does not list (a link to a pseudo-terminal that is
  // not there yet, a name typed in an earlier run) stays the choice, as typed.
  const std::string remembered(fieldView(uart.comPort));
  if (!remembered.empty() && comPortRow(page, remembered) < 0) {
    page.setSelection(kComPortList, -1);
    page.setText(kComPortList, remembered);
  }
  // The list is narrow and shows the end of each name: the whole name of
  // the chosen port goes to the status window.
  if (page.rowCount(kComPortList) == 0)
    appendStatus(kNoPortsHelp);
  else
    appendStatus(comPortStatusText(page.text(kComPortList)));
  page.setSelection(kBaudRateList, bpsToBaudIndex(uart.baud));
  page.setSelection(kParityList, parityToIndex(uart.parity));
  setRadio(page, uart.stopBits == 1 ? kStopOne : kStopTwo, {kStopOne, kStopTwo});
  setRadio(page, uart.flow == 1 ? kFlowEnabled : kFlowDisabled, {kFlowEnabled, kFlowDisabled});
  if (localDev.initialised == 0) enableDeviceControls(page, false);
}

bool openPortFromPage(FormInterface& page) {
  using namespace ctl;
  copyField(uart.comPort, page.text(kComPortList));
  uart.baud = static_cast<int32_t>(std::atol(page.text(kBaudRateList).c_str()));
  uart.flow = page.checked(kFlowEnabled) ? 1 : 0;
  uart.stopBits = page.checked(kStopOne) ? 1 : 2;
  switch (page.selection(kParityList)) {
    case 0:
      uart.parity = PARITY_NONE_FLAG;
      break;
    case 1:
      uart.parity = PARITY_ODD_FLAG;
      break;
    case 2:
      uart.parity = PARITY_EVEN_FLAG;
      break;
    default:
      break;
  }
  debugLog("Selected UART Settings %s, baud %d, Flow %d, StopBits H%X, Parity H%X", uart.comPort,
           uart.baud, uart.flow, static_cast<unsigned>(uart.stopBits),
           static_cast<unsigned>(uart.parity));
  atCommandEvent.set();
  if (UartInit() != 0) return false;
  forgetLostAdapter();
  rememberSerialSettings();
  return true;
}

int32_t readAllSettings(FormInterface& page) {
  WaitCursor cursor;
  status("Reading Device Settings...");
  for (const char* command : readCommandList) {
    const std::string c = command;
    if ((c == "AT+MODEM?\r" && isLegacyFirmware()) ||
        (c == "AT+RSERVICE?\r" && !supportsRemoteService()) ||
        (c == "AT+RCOD?\r" && !supportsRemoteCod()))
      continue;
    if (sendATCommand(command, 0, 0, 1000) != 0) dropUnfinishedAnswer();
    if (applyCommandResponse(page) == 0) {
      status("Device Settings read failed. No more settings will be read");
      return 1;
    }
  }
  rememberSerialSettings();
  status("Device Settings read complete");
  // The Pairing page shows the local adapter as read.
  sendNotify(NOTIFY_SHOW_PAIR_DEVICES);
  return 0;
}

namespace {

// How long the probe waits for an answer to each of its transmissions.
constexpr int32_t kProbeWaitMs = 1000;

// The probe; a second one when the first is refused. True when the adapter
// answered at all (two refusals end the initialisation without a search).
bool probe(FormInterface& page) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int32_t r = sendATCommand("AT+RESP?\r", 0, 0, kProbeWaitMs);
    if (r != 0 && r != 2) return attempt > 0;
    if (!answerIsError()) {
      applyOnUi(page);
      return true;
    }
    // A refused probe is not applied, so it is dropped here.
    dropPending();
  }
  return true;
}

// An adapter left in data mode (connected by an earlier run, or connected
// to its partner by itself after a pairing) hears the probe as data and
// stays silent at the right line settings. One escape sequence brings it
// back to command mode before the search tries every other setting.
bool leaveDataMode(FormInterface& page) {
  if (localDev.abortOp == 1 || gShutdown) return false;
  status("No response received for init command. Sending the escape sequence in case the "
         "adapter is in data mode....");
  // The unanswered probe has just kept the line silent for its whole wait,
  // the guard time the adapter needs before "+++"; its OK comes at once.
  static_assert(kProbeWaitMs >= kEscapeGuardMs);
  if (sendEscape(1000, 0) != 0) {
    dropPending();
    return false;
  }
  applyOnUi(page);
  // Data mode exists only over a connection: the link is still up.
  localDev.connected = 1;
  gLeftDataMode = true;
  if (!gShutdown) postNotify(NOTIFY_REFRESH_INDICATORS);
  status(kLeftDataModeStatus);
  return true;
}

}  // namespace

void initialiseDevice(FormInterface& page) {
  resetSettingsSearch();
  bool answered = probe(page);
  if (!answered && leaveDataMode(page)) answered = probe(page);
  if (!answered) {
    status("No response received for init command. Trying all settings." + searchStopHint);
    while (localDev.initialised == 0) {
      if (localDev.abortOp == 1 || gShutdown) {
        if (!gShutdown) sendNotify(NOTIFY_ENABLE_ABORT, 0);
        break;
      }
      // The progress line names the step about to be tried; the call after
      // the last step only reports the end of the search.
      const int32_t step = searchStepNumber;
      if (!gShutdown && step <= searchStepCount())
        if (WindowInterface* w = mainWindowHandle) w->sendSpinner(step);
      const int32_t r = tryIterations();
      if (r == 1) break;
      if (r == 8) {
        const int32_t again = sendATCommand("AT+RESP?\r", 0, 0, 1000);
        if (again == 0 || again == 2) applyOnUi(page);
        break;
      }
    }
  }
  if (localDev.initialised == 1) {
    gOutcome = InitOutcome::Initialised;
    if (!gShutdown) postNotify(NOTIFY_DEVICE_INITIALISED);
  } else if (localDev.abortOp == 1 || gShutdown) {
    gOutcome = InitOutcome::Aborted;
    localDev.abortOp = 0;
    status("Initialization operation aborted");
    UartDeinit();
  } else {
    gOutcome = InitOutcome::NotFound;
    status("Initializion failed. All Settings tried. Please check the following");
    status("1. COM Port Number is correct");
    status("2. Change slide switch position and try again");
    status("3.Adapter connection to serial port is not loose");
    if (!gShutdown) sendNotify(NOTIFY_ENABLE_ABORT, 0);
    UartDeinit();
  }
  gWorkerRunning = false;
}

void onReadSettings(FormInterface& page) {
  // A search already under way goes on; an Abort pressed during it stands.
  if (initialisationRunning()) return;
  WaitCursor cursor;
  localDev.abortOp = 0;
  localDev.oldFirmware = 0;
  gOutcome = InitOutcome::None;
  gLeftDataMode = false;
  if (uart.isUartActive == 0 && !openPortFromPage(page)) {
    gOutcome = InitOutcome::PortFailed;
    status("Failed to initialise UART");
    return;
  }
  if (localDev.initialised == 1) {
    gOutcome = readAllSettings(page) == 0 ? InitOutcome::Initialised : InitOutcome::ReadFailed;
    return;
  }
  status("Checking support for firmware version...");
  CheckOldFirmware(page);
  if (localDev.oldFirmware == 1) {
    gOutcome = InitOutcome::OldFirmware;
    showMessageBox(
        "The adapter is running an old firmware version.\n"
        "Please download the version of the KX627 Configuration Tool for this firmware from the "
        "KX627 downloads page.",
        MsgButtons::Ok);
    return;
  }
  status("Firmware version supported");
  sendNotify(NOTIFY_ENABLE_ABORT, 1);
  status("Connecting to Device...");
  std::lock_guard lock(gWorkerMutex);
  if (gWorker.joinable()) gWorker.join();  // a finished earlier worker
  gShutdown = false;
  gWorkerRunning = true;
  gWorker = std::thread([&page] { initialiseDevice(page); });
}

void onAbort() {
  debugLog("Setting localDev.abortOp = TRUE");
  localDev.abortOp = 1;
}

void clearLocalDevicePage(FormInterface& page) {
  using namespace ctl;
  setRadio(page, kSlave, {kSlave, kMaster});
  for (int id : {kDeviceAddress, kDeviceName, kPinCode, kBondedAddress, kRemoteService, kRemoteCod})
    page.setText(id, "");
  for (int id : {kEchoMode, kCommandResponse, kEscapeMode, kSleepMode, kAutoConnect,
                 kDisableAuthentication, kRemoteConfiguration})
    page.setChecked(id, false);
  setRadio(page, kNonDiscoverable, {kNonDiscoverable, kDiscoverable});
  page.setSelection(kModemSignalList, 0);
}

void onReinitialize(FormInterface& page) {
  {
    WaitCursor cursor;
    UartDeinit();
    clearLocalDev();
    clearPair();
    clearInquiry();
    clearRemote();
    sendNotify(NOTIFY_REFRESH_INDICATORS);
    clearLocalDevicePage(page);
    sendNotify(NOTIFY_SHOW_PAIR_DEVICES);
    sendNotify(NOTIFY_CLEAR_INQUIRY);
    sendNotify(NOTIFY_CONNECTION_BUTTONS);
    enableDeviceControls(page, false);
    sleepMs(1000);
  }
  onReadSettings(page);
}

bool initialisationRunning() { return gWorkerRunning.load(); }

InitOutcome initialisationOutcome() { return gOutcome.load(); }
bool initialisationLeftDataMode() { return gLeftDataMode.load(); }

bool stopInitialisation() {
  std::lock_guard lock(gWorkerMutex);
  if (gWorkerRunning) {
    gShutdown = true;
    localDev.abortOp = 1;
    return false;
  }
  if (gWorker.joinable()) gWorker.join();
  // The worker is gone: later operations report to the window again.
  gShutdown = false;
  return true;
}

}  // namespace kx
