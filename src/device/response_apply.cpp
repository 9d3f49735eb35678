#include "device/response_apply.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

#include "atcmd/command_table.h"
#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "serial/uart.h"

namespace kx {
namespace {

constexpr int kFactoryRestartMs = 3000;

// The answer being applied, copied out of atCommand.
struct Answer {
  std::string command;
  std::string response;
  std::string param;
  bool showInStatus = false;
  bool isQuery() const { return !param.empty(); }
};

Answer takeSnapshot() {
  std::lock_guard lock(atCommandMutex);
  Answer a;
  a.command = std::string(fieldView(atCommand.command));
  a.response = std::string(fieldView(atCommand.response));
  a.param = std::string(fieldView(atCommand.param));
  a.showInStatus = atCommand.showInStatus == 1;
  return a;
}

void clearRecord() {
  std::lock_guard lock(atCommandMutex);
  clearAtCommand();
}

bool iequals(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

void updateIndicators() { sendNotify(NOTIFY_REFRESH_INDICATORS); }

// A query changes nothing: the link stays as it is, and so does its LED.
void linkResetAfter(bool query) {
  if (!query) linkReset();
}

void unknownParameter(const Answer& a) {
  debugLog("AT_COMMAND: Unknown parameter %s received in response to %s", a.param.c_str(),
           a.command.c_str());
}

void unknownCommand(const Answer& a) {
  debugLog("AT_COMMAND: Unknown command %s", a.command.c_str());
}

int twoState(const Answer& a, const char* key) {
  return decodeTwoState(a.command, a.param, key);
}

// Looks a value up in {answer, command, value} rows.
struct Choice {
  const char* answer;
  const char* command;
  int32_t value;
};

template <std::size_t N>
bool choose(const Answer& a, const Choice (&rows)[N], int32_t* out) {
  for (const Choice& c : rows) {
    if (a.isQuery() ? iequals(a.param, c.answer) : iequals(a.command, c.command)) {
      *out = c.value;
      return true;
    }
  }
  return false;
}

// For a set acknowledgement of a line setting the adapter already runs the
// new value: the PC port follows at once.
void retunePort(bool isSet, const std::string& failure) {
  if (isSet && UartChangeSettings() != 0) showMessageBox(failure, MsgButtons::Ok);
}

int32_t numberIn(const std::string& text) { return static_cast<int32_t>(std::atol(text.c_str())); }

void checkLocalVersusBonded() {
  if (strcasecmp(localDev.address, localDev.bondedAddress) == 0)
    showMessageBox(
        "ERROR! Local Address and Bonded address cannot be same. Please remove bonding",
        MsgButtons::Ok);
}

void showPin(FormInterface& page) {
  if (localDev.authDisabled == 0) {
    page.setText(ctl::kPinCode, std::string(fieldView(localDev.pin)));
    page.setEnabled(ctl::kPinCode, true);
  } else {
    page.setText(ctl::kPinCode, "");
    page.setEnabled(ctl::kPinCode, false);
  }
  page.setChecked(ctl::kDisableAuthentication, localDev.authDisabled == 1);
}

void setOperationMode(FormInterface& page, int id) {
  setRadio(page, id, {ctl::kModeCommand, ctl::kModeData, ctl::kModeRemote});
}

void applyRule(int index, const Answer& a, FormInterface& page) {
  using namespace ctl;
  const bool query = a.isQuery();
  switch (index) {
    case CMD_ECHO: {
      const int v = twoState(a, "ECHO");
      if (v >= 0) localDev.echo = v;
      page.setChecked(kEchoMode, localDev.echo == 1);
      break;
    }
    case CMD_RESP: {
      if (query && localDev.initialised == 0) {
        // The first answer to the probe only tells that the adapter is there;
        // the read list's own "AT+RESP?" stores the value.
        localDev.initialised = 1;
        updateIndicators();
        appendStatus("Local Device initialised successfully");
        sendNotify(NOTIFY_ENABLE_ABORT, 0);
        setOperationMode(page, kModeCommand);
      } else {
        const int v = twoState(a, "RESP");
        if (v >= 0) localDev.cmdResponse = v;
      }
      page.setChecked(kCommandResponse, localDev.cmdResponse == 1);
      break;
    }
    case CMD_DCOV: {
      const int v = twoState(a, "DCOV");
      if (v >= 0) localDev.discoverable = v;
      linkResetAfter(query);
      setRadio(page, localDev.discoverable == 1 ? kDiscoverable : kNonDiscoverable,
               {kDiscoverable, kNonDiscoverable});
      break;
    }
    case CMD_ACON: {
      const int v = twoState(a, "ACON");
      if (v >= 0) localDev.autoConnect = v;
      linkResetAfter(query);
      page.setChecked(kAutoConnect, localDev.autoConnect == 1);
      break;
    }
    case CMD_ESC: {
      const int v = twoState(a, "ESC");
      if (v >= 0) localDev.escapeMode = v;
      page.setChecked(kEscapeMode, localDev.escapeMode == 1);
      break;
    }
    case CMD_RCFG: {
      const int v = twoState(a, "RCFG");
      if (v >= 0) localDev.remoteConfig = v;
      page.setChecked(kRemoteConfiguration, localDev.remoteConfig == 1);
      break;
    }
    case CMD_SLEEP: {
      const int v = twoState(a, "SLEEP");
      if (v >= 0) localDev.sleepMode = v;
      page.setChecked(kSleepMode, localDev.sleepMode == 1);
      break;
    }
    case CMD_ROLE: {
      const int32_t v = decodeRole(a.command, a.param);
      if (v > 0) localDev.role = v;
      linkResetAfter(query);
      setRadio(page, localDev.role == 1 ? kMaster : kSlave, {kMaster, kSlave});
      break;
    }
    case CMD_BAUD: {
      if (query) {
        // "\r\nBAUD17\r\n": skip the CR LF and "BAUD", drop the closing CR LF.
        const std::string v = a.param.size() > 8 ? a.param.substr(6, a.param.size() - 8) : "";
        localDev.baudCode = numberIn(v);
      } else {
        // "AT+BAUD17\r": from the eighth character up to the CR.
        const std::string v = a.command.size() > 8 ? a.command.substr(7, a.command.size() - 8) : "";
        localDev.baudCode = numberIn(v);
      }
      uart.baud = baudCodeToBps(localDev.baudCode);
      retunePort(!query, formatBounded(1024, "Failed to set PC COMPort baudrate to %d", uart.baud));
      page.setSelection(kBaudRateList, localDev.baudCode - 10);
      break;
    }
    case CMD_STOP: {
      static const Choice rows[] = {{"\r\nSTOP1\r\n", "AT+STOP1\r", 1},
                                    {"\r\nSTOP2\r\n", "AT+STOP2\r", 2}};
      int32_t v;
      if (choose(a, rows, &v))
        uart.stopBits = v;
      else if (query)
        unknownParameter(a);
      else
        unknownCommand(a);
      retunePort(!query, formatBounded(1024, "Failed to set stopBits %d", uart.stopBits));
      setRadio(page, uart.stopBits == 1 ? kStopOne : kStopTwo, {kStopOne, kStopTwo});
      break;
    }
    case CMD_PAR: {
      static const Choice rows[] = {{"\r\nPAR0\r\n", "AT+PAR0\r", PARITY_NONE_FLAG},
                                    {"\r\nPAR1\r\n", "AT+PAR1\r", PARITY_ODD_FLAG},
                                    {"\r\nPAR2\r\n", "AT+PAR2\r", PARITY_EVEN_FLAG}};
      int32_t v;
      if (choose(a, rows, &v))
        uart.parity = v;
      else if (query)
        unknownParameter(a);
      else
        debugLog("AT_COMMAND: Unknown command");
      retunePort(!query, formatBounded(1024, "Failed to set parity %d", uart.parity));
      page.setSelection(kParityList, parityToIndex(uart.parity));
      break;
    }
    case CMD_FLOW: {
      static const Choice rows[] = {{"\r\nFLOW+\r\n", "AT+FLOW+\r", 1},
                                    {"\r\nFLOW-\r\n", "AT+FLOW-\r", 0}};
      int32_t v;
      if (choose(a, rows, &v))
        uart.flow = v;
      else if (query)
        unknownParameter(a);
      else
        unknownCommand(a);
      retunePort(!query, formatBounded(1024, "Failed to set flow control %d", uart.flow));
      linkResetAfter(query);
      {
        rtsBoxEnabledHook(uart.flow != 1);
      }
      setRadio(page, uart.flow == 1 ? kFlowEnabled : kFlowDisabled,
               {kFlowEnabled, kFlowDisabled});
      break;
    }
    case CMD_VER:
      if (query) {
        copyField(localDev.fwVersion, framedValue(a.param));
        page.setText(kFwVersionLabel, std::string(fieldView(localDev.fwVersion)));
      }
      break;
    case CMD_ADDR:
      if (query) {
        copyField(localDev.address, framedValue(a.param));
        page.setText(kDeviceAddress, std::string(fieldView(localDev.address)));
        checkLocalVersusBonded();
      }
      break;
    case CMD_NAME:
      copyField(localDev.name, query ? framedValue(a.param) : commandValue(a.command));
      page.setText(kDeviceName, std::string(fieldView(localDev.name)));
      break;
    case CMD_BOND:
      copyField(localDev.bondedAddress, decodeBond(a.command, a.param));
      localDev.bonded = strcasecmp(localDev.bondedAddress, kNoBondAddress) != 0 ? 1 : 0;
      page.setText(kBondedAddress, std::string(fieldView(localDev.bondedAddress)));
      if (query) checkLocalVersusBonded();
      break;
    case CMD_RSERVICE:
      if (query)
        copyField(localDev.remoteService, framedValue(a.param));
      else if (iequals(a.command, "AT+RSERVICE-\r"))
        copyField(localDev.remoteService, "NULL");
      else
        copyField(localDev.remoteService, commandValue(a.command));
      page.setText(kRemoteService, std::string(fieldView(localDev.remoteService)));
      break;
    case CMD_RCOD:
      if (query)
        copyField(localDev.remoteCod, framedValue(a.param));
      else if (iequals(a.command, "AT+RCOD-\r"))
        copyField(localDev.remoteCod, "000000");
      else
        copyField(localDev.remoteCod, commandValue(a.command));
      page.setText(kRemoteCod, std::string(fieldView(localDev.remoteCod)));
      break;
    case CMD_PIN:
      if (query) {
        const std::string v = framedValue(a.param);
        if (iequals(v, "NULL")) {
          localDev.authDisabled = 1;
        } else {
          localDev.authDisabled = 0;
          copyField(localDev.pin, v);
        }
      } else if (iequals(a.command, "AT+PIN-\r")) {
        localDev.authDisabled = 1;
      } else if (a.command.find('=') != std::string::npos) {
        copyField(localDev.pin, commandValue(a.command));
        localDev.authDisabled = 0;
      }
      showPin(page);
      break;
    case CMD_MODEM: {
      static const Choice rows[] = {{"\r\nMODEM-\r\n", "AT+MODEM-\r", 0},
                                    {"\r\nMODEML\r\n", "AT+MODEML\r", 1},
                                    {"\r\nMODEMR\r\n", "AT+MODEMR\r", 2}};
      int32_t v;
      if (choose(a, rows, &v))
        localDev.modemSignal = v;
      else if (query)
        unknownParameter(a);
      else
        unknownCommand(a);
      debugLog("AT+MODEM command received. localDev.modemSignal = %d", localDev.modemSignal.load());
      page.setSelection(kModemSignalList, localDev.modemSignal);
      break;
    }
    case CMD_RESET: {
      uart.baud = 19200;
      uart.stopBits = 1;
      uart.parity = PARITY_NONE_FLAG;
      uart.flow = isLegacyFirmware() ? 1 : 0;
      if (UartChangeSettings() != 0)
        showMessageBox(
            "Failed to set default uart settings baud 19200, parity NONE, stopBits 1, "
            "flowcontrol ENABLED",
            MsgButtons::Ok);
      appendStatus("Factory settings restored on Local Device. Settings will be read automatically");
      sleepMs(kFactoryRestartMs);
      postNotify(NOTIFY_READ_SETTINGS);
      updateIndicators();
      break;
    }
    case CMD_FIND:
      if (!query) {
        if (iequals(a.command, "AT+FIND?\r")) {
          localDev.inquiryActive = 1;
          clearInquiry();
          inquiry.skipNext = 1;
          sendNotify(NOTIFY_CLEAR_INQUIRY);
          appendStatus("Inquiry started....");
          if (WindowInterface* w = mainWindowHandle) w->setTimer(TIMER_INQUIRY, 1000);
          sendNotify(NOTIFY_CONNECTION_BUTTONS);
        } else if (iequals(a.command, "AT+FIND-\r")) {
          localDev.inquiryActive = 0;
          appendStatus("Inquiry cancelled");
        } else {
          unknownCommand(a);
        }
      } else if (iequals(a.command, "AT+FIND-\r") && iequals(a.param, "\r\nInquiry Cancelled")) {
        localDev.inquiryActive = 0;
        appendStatus("Inquiry cancelled");
      }
      break;
    case CMD_AUTO:
      localDev.dataMode = 1;
      appendStatus("Device switched from Command to Data Mode");
      setOperationMode(page, kModeData);
      break;
    case CMD_ESCAPE:
      localDev.dataMode = 0;
      appendStatus("Escape Sequence +++ received. Device switched from Data to Command Mode");
      setOperationMode(page, kModeCommand);
      break;
    case CMD_CONN:
      debugLog("ATCOMMAND: AT+CONN command response received successfully");
      break;
    case CMD_DROP:
      debugLog("ATCOMMAND: AT+DROP command response received successfully");
      break;
    case CMD_UPGRADE:
      debugLog("AT+UPGRADE command received");
      appendStatus("Device entered upgrade mode");
      break;
    case CMD_ATI0:
      debugLog("ATI0 command received");
      localDev.oldFirmware = 1;
      appendStatus(formatBounded(1024, "Old firmware version %s found", a.param.c_str()));
      break;
    default:
      break;  // AT, AT+ENQ, AT+RSSI, CONNECT, DISCONNECT: nothing more
  }
}

}  // namespace

std::string framedValue(const std::string& param) {
  if (param.size() <= 4) return {};
  return param.substr(2, param.size() - 4);
}

int32_t decodeTwoState(const std::string& command, const std::string& param, const char* key) {
  const std::string k = key;
  if (!param.empty()) {
    if (iequals(param, ("\r\n" + k + "+\r\n").c_str())) return 1;
    if (iequals(param, ("\r\n" + k + "-\r\n").c_str())) return 0;
    debugLog("AT_COMMAND: Unknown parameter %s received in response to %s", param.c_str(),
             command.c_str());
    return -1;
  }
  if (iequals(command, ("AT+" + k + "+\r").c_str())) return 1;
  if (iequals(command, ("AT+" + k + "-\r").c_str())) return 0;
  debugLog("AT_COMMAND: Unknown command %s", command.c_str());
  return -1;
}

int32_t decodeRole(const std::string& command, const std::string& param) {
  const bool query = !param.empty();
  if (query ? iequals(param, "\r\nROLEM\r\n") : iequals(command, "AT+ROLEM\r")) return 1;
  if (query ? iequals(param, "\r\nROLES\r\n") : iequals(command, "AT+ROLES\r")) return 2;
  if (query)
    debugLog("AT_COMMAND: Unknown parameter %s received in response to %s", param.c_str(),
             command.c_str());
  else
    debugLog("AT_COMMAND: Unknown command %s", command.c_str());
  return -1;
}

std::string decodeBond(const std::string& command, const std::string& param) {
  if (!param.empty()) return framedValue(param);
  if (iequals(command, "AT+BOND-\r")) return kNoBondAddress;
  if (command.find('=') != std::string::npos) return hyphenatedAddress(commandValue(command));
  return {};
}

void linkReset() {
  if (localDev.connected == 1) {
    localDev.connected = 0;
    localDev.dataMode = 0;
    localDev.handshaked = 0;
    sendNotify(NOTIFY_REFRESH_INDICATORS);
  }
}

std::string commandValue(const std::string& command) {
  const auto eq = command.find('=');
  if (eq == std::string::npos) return {};
  const auto cr = command.find('\r', eq + 1);
  return command.substr(eq + 1, cr == std::string::npos ? std::string::npos : cr - eq - 1);
}

Hook<void(bool)> rtsBoxEnabledHook;

int applyCommandResponse(FormInterface& page, AnswerKind* kind) {
  const Answer a = takeSnapshot();
  AnswerKind ignored;
  AnswerKind& outcome = kind ? *kind : ignored;
  outcome = AnswerKind::Invalid;

  if (a.command != "+++" && localDev.dataMode == 1) {
    debugLog("Received a response while data mode was enabled. Disabling data mode");
    localDev.dataMode = 0;
  }
  if (a.response == "\r\nERROR\r\n") {
    if (localDev.initialised == 1) {
      const std::string text = formatBounded(1024, "Command %s failed. Response ERROR", oneLine(a.command).c_str());
      debugLog("%s", text.c_str());
      if (a.command != "ATI0\r") appendStatus(text);
      showLocalDevice(page);
    }
    clearRecord();
    outcome = AnswerKind::Refused;
    return 1;
  }
  if (a.response != "\r\nOK\r\n" && a.response != "\r\n") {
    if (localDev.initialised == 1) {
      appendStatus(formatBounded(1024, "Command %s failed. Response Invalid", oneLine(a.command).c_str()));
      showLocalDevice(page);
    }
    clearRecord();
    return 0;
  }
  const int index = getCommandIndex(a.command.c_str());
  if (index == 0) {
    appendStatus(formatBounded(1024, "Invalid Command %s", oneLine(a.command).c_str()));
    showLocalDevice(page);
    clearRecord();
    return 0;
  }
  if (a.showInStatus)
    appendStatus(formatBounded(1024, "Received Response %s %s for command %s", oneLine(a.response).c_str(), oneLine(a.param).c_str(),
             oneLine(a.command).c_str()));
  applyRule(index, a, page);
  clearRecord();
  outcome = AnswerKind::Accepted;
  return 1;
}

int32_t sendAndApplyCommand(const char* command, FormInterface& page) {
  const int32_t result = sendATCommand(command, 0, 0, 1000);
  if (result == 0) applyCommandResponse(page);
  return result;
}

}  // namespace kx
