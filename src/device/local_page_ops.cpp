#include "device/local_page_ops.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "platform/window.h"

namespace kx {
namespace {

using namespace ctl;

constexpr int kCommandWaitMs = 1000;
constexpr const char* kDefaultPin = "8942";

// Sends and applies; false when no answer came (a refused command counts as
// answered: the response application reports it and restores the control).
bool sendAndApply(FormInterface& page, const std::string& command) {
  const auto fits = checkCommandLength(command);
  if (!fits) return false;  // refused here and explained; the save did not do it all
  return sendAndApplyCommand(fits->c_str(), page) == 0;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::optional<std::string> checkCommandLength(const std::string& command) {
  if (command.size() <= static_cast<std::size_t>(kCommandSize - 1)) return command;
  std::string shown = command;
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  debugLog("ATCOMMAND: Command %s is longer than %d characters and is not sent", shown.c_str(),
           kCommandSize - 1);
  // Counted as the user types it: the carriage return is the tool's.
  showMessageBox(formatBounded(1024,
                               "The command %s is %zu characters long; at most %d characters can "
                               "be sent to the device (the carriage return is added). Command "
                               "will not be sent",
                               shown.c_str(), shown.size(), kCommandSize - 2),
                 MsgButtons::Ok);
  return std::nullopt;
}

void onSaveSettings(FormInterface& page) {
  WaitCursor cursor;
  appendStatus("Saving Settings...");
  bool failed = false;
  auto send = [&](const std::string& command) { failed = !sendAndApply(page, command) || failed; };

  const std::string name = page.text(kDeviceName);
  if (name != fieldView(localDev.name)) send("AT+NAME=" + name + "\r");

  const std::string pin = page.text(kPinCode);
  if (!pin.empty() && pin != fieldView(localDev.pin)) send("AT+PIN=" + pin + "\r");

  const std::string bond = page.text(kBondedAddress);
  if (bond != fieldView(localDev.bondedAddress)) {
    const std::string digits = addressDigits(bond);
    const std::string own = addressDigits(std::string(fieldView(localDev.address)));
    if (strcasecmp(digits.c_str(), own.c_str()) == 0) {
      showMessageBox(
          "Local Address and Remote Address can not be same. AT+BOND command will not be sent",
          MsgButtons::Ok);
      page.setText(kBondedAddress, std::string(fieldView(localDev.bondedAddress)));
    } else {
      send("AT+BOND=" + digits + "\r");
    }
  }

  struct TwoState {
    int control;
    Flag* field;
    const char* on;
    const char* off;
  };
  const TwoState twoStates[] = {
      {kEchoMode, &localDev.echo, "AT+ECHO+\r", "AT+ECHO-\r"},
      {kEscapeMode, &localDev.escapeMode, "AT+ESC+\r", "AT+ESC-\r"},
      {kSleepMode, &localDev.sleepMode, "AT+SLEEP+\r", "AT+SLEEP-\r"},
      {kRemoteConfiguration, &localDev.remoteConfig, "AT+RCFG+\r", "AT+RCFG-\r"},
      {kCommandResponse, &localDev.cmdResponse, "AT+RESP+\r", "AT+RESP-\r"},
  };
  for (const TwoState& t : twoStates) {
    const bool checked = page.checked(t.control);
    if (checked && t.field->load() == 0) send(t.on);
    if (!checked && t.field->load() == 1) send(t.off);
  }

  const int32_t speed = static_cast<int32_t>(std::atol(page.text(kBaudRateList).c_str()));
  if (speed > 230400 && isLegacyFirmware()) {
    showMessageBox(formatBounded(1024,
                                 "Baudrate > 230400 bps not supported on firmware version %s. "
                                 "Baudrate will not be changed",
                                 localDev.fwVersion),
                   MsgButtons::Ok);
    page.setSelection(kBaudRateList, localDev.baudCode - 10);
  } else if (speed != uart.baud) {
    send("AT+BAUD" + std::to_string(bpsToBaudIndex(speed) + 10) + "\r");
  }

  const int parityIndex = page.selection(kParityList);
  if (parityIndex >= 0 && parityIndex <= 2 && parityIndex != parityToIndex(uart.parity))
    send("AT+PAR" + std::to_string(parityIndex) + "\r");

  const int stopBits = page.checked(kStopOne) ? 1 : 2;
  if (stopBits != uart.stopBits) send("AT+STOP" + std::to_string(stopBits) + "\r");

  if (!isLegacyFirmware()) {
    static const char* const modem[] = {"AT+MODEM-\r", "AT+MODEML\r", "AT+MODEMR\r"};
    const int index = page.selection(kModemSignalList);
    if (index >= 0 && index <= 2 && index != localDev.modemSignal) send(modem[index]);
  }

  if (supportsRemoteService()) {
    const std::string service = page.text(kRemoteService);
    if (service != fieldView(localDev.remoteService)) send("AT+RSERVICE=" + service + "\r");
    if (supportsRemoteCod()) {
      const std::string cod = page.text(kRemoteCod);
      if (cod != fieldView(localDev.remoteCod)) send("AT+RCOD=" + cod + "\r");
    }
  }

  if (page.checked(kDiscoverable) && localDev.discoverable == 0) send("AT+DCOV+\r");
  if (page.checked(kNonDiscoverable) && localDev.discoverable == 1) send("AT+DCOV-\r");

  if (page.checked(kSlave) && localDev.role == 1) send("AT+ROLES\r");
  if (page.checked(kMaster) && localDev.role == 2) send("AT+ROLEM\r");

  const bool autoConnect = page.checked(kAutoConnect);
  if (autoConnect && localDev.autoConnect == 0) send("AT+ACON+\r");
  if (!autoConnect && localDev.autoConnect == 1) send("AT+ACON-\r");

  const int flow = page.checked(kFlowEnabled) ? 1 : 0;
  if (flow != uart.flow) send(flow ? "AT+FLOW+\r" : "AT+FLOW-\r");

  if (failed) {
    appendStatus("Settings saved failed");
    showLocalDevice(page);
  } else {
    appendStatus("Settings Saved");
  }
}

int32_t onRestoreFactorySettings(FormInterface& page) {
  WaitCursor cursor;
  if (sendATCommand("AT+RESET\r", 0, 0, kCommandWaitMs) != 0) {
    showMessageBox("Reset Failed!!", MsgButtons::Ok);
    return 1;
  }
  AnswerKind kind;
  applyCommandResponse(page, &kind);
  return kind == AnswerKind::Accepted ? 0 : 1;
}

const char* typedCommandRefusal(const std::string& command) {
  const std::string copy = upper(command);
  const char* refusal = nullptr;
  if ((copy == "AT+BAUD19" || copy == "AT+BAUD20") && isLegacyFirmware())
    refusal = "Baudrate > 230400 bps not supported on this firmware. Command will not be sent";
  else if (copy.find("AT+MODEM") != std::string::npos && isLegacyFirmware())
    refusal =
        "Modem signal commands (AT+MODEM) not supported on this firmware. Command will not be "
        "sent";
  else if (copy.find("AT+RSERVICE") != std::string::npos && !supportsRemoteService())
    refusal =
        "Remote Service command (AT+RSERVICE) not supported on this firmware. Command will not "
        "be sent";
  else if (copy.find("AT+RCOD") != std::string::npos && !supportsRemoteCod())
    refusal =
        "Remote Class of Device command (AT+RCOD) not supported on this firmware. Command will "
        "not be sent";
  return refusal;
}

void onSendAtCommand(FormInterface& page) {
  std::string command = page.text(kAtCommand);
  if (command.empty()) return;
  const char* refusal = typedCommandRefusal(command);
  if (refusal) {
    showMessageBox(refusal, MsgButtons::Ok);
    return;
  }
  if (command != "+++") command += "\r";
  const auto fits = checkCommandLength(command);
  if (!fits) return;

  WaitCursor cursor;
  if (strcasecmp(command.c_str(), "AT+ENQ\r") == 0) {
    sendATCommand(command.c_str(), 1, 1, kCommandWaitMs);
    return;
  }
  if (sendATCommand(command.c_str(), 1, 0, kCommandWaitMs) == 0) {
    applyCommandResponse(page);
  } else {
    const std::string text = formatBounded(1024, "Failed to send %s command", oneLine(command).c_str());
    appendStatus(text);
    showMessageBox(text, MsgButtons::Ok);
  }
}

void onDisableAuthentication(FormInterface& page) {
  const bool checked = page.checked(kDisableAuthentication);
  std::string command;
  if (checked && localDev.authDisabled == 0) {
    command = "AT+PIN-\r";
  } else if (!checked && localDev.authDisabled == 1) {
    const std::string pin(fieldView(localDev.pin));
    command = "AT+PIN=" + (pin.empty() ? std::string(kDefaultPin) : pin) + "\r";
  } else {
    return;
  }
  if (sendATCommand(command.c_str(), 0, 0, kCommandWaitMs) == 0)
    applyCommandResponse(page);
  else
    showLocalDevice(page);
}

}  // namespace kx
