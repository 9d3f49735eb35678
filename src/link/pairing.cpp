#include "link/pairing.h"

#include <strings.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "atcmd/command_table.h"
#include "atcmd/transmission.h"
#include "common/address.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/local_page_ops.h"
#include "device/response_apply.h"
#include "device/settings_search.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "serial/uart.h"

namespace kx {
namespace {

constexpr int kWaitMs = 1000;
constexpr int kBondSettleMs = 3000;

std::atomic<bool> gStopRequested{false};
std::atomic<bool> gRunning{false};

// A status line (the status window also writes it to the log).
void box(const std::string& text) {
  if (!gStopRequested) showMessageBox(text, MsgButtons::Ok);
}

// The OK/Cancel prompt to swap adapters; false for anything but OK, and when
// the window is closing.
bool prompt(int device) {
  if (gStopRequested) return false;
  const std::string text =
      formatBounded(1024, "Connect Device %d to %s and then Press OK", device, uart.comPort);
  return showMessageBox(text, MsgButtons::OkCancel) == MsgResult::Ok && !gStopRequested;
}

struct SavedLine {
  int32_t baud, parity, flow, stopBits;
};

SavedLine saveLine() { return {uart.baud, uart.parity, uart.flow, uart.stopBits}; }

int32_t restore(const SavedLine& s) {
  return restoreUartSettings(s.baud, s.parity, s.flow, s.stopBits);
}

bool isError() {
  std::lock_guard lock(atCommandMutex);
  return std::strcmp(atCommand.response, "\r\nERROR\r\n") == 0;
}

// Reaches Device 2: the probe, a second one after an ERROR, and the search
// through all line settings when it stays silent. Returns whether a search
// was made.
bool reachDevice2(FormInterface& pairPage, FormInterface& localPage) {
  int errors = 0;
  while (true) {
    const int32_t r = sendATCommand("AT+RESP?\r", 0, 0, kWaitMs);
    if (r == 0 || r == 2) {
      if (isError()) {
        std::lock_guard lock(atCommandMutex);
        clearAtCommand();
        if (++errors < 2) continue;
        return false;
      }
      processPairResponse(pairPage, localPage);
      return false;
    }
    break;
  }
  resetSettingsSearch();
  while (!gStopRequested) {
    const int32_t step = searchStepNumber;
    if (step <= searchStepCount())
      if (WindowInterface* w = mainWindowHandle) w->sendSpinner(step);
    const int32_t r = tryIterations();
    if (r == 1) break;
    if (r == 8) {
      const int32_t again = sendATCommand("AT+RESP?\r", 0, 0, kWaitMs);
      if (again == 0 || again == 2) processPairResponse(pairPage, localPage);
      break;
    }
  }
  return true;
}

void showBond(FormInterface& localPage) {
  localPage.setText(ctl::kBondedAddress, std::string(fieldView(localDev.bondedAddress)));
}

// Switches Device 1's command responses on for the procedure when they are
// off, so that its answers can be judged; false (reported, procedure over)
// when the adapter does not take it. `procedure` is "Pairing" or "Unpairing".
bool enableDevice1Responses(const std::string& procedure, FormInterface& pairPage,
                            FormInterface& localPage) {
  if (localDev.cmdResponse != 0) return true;
  appendStatus("Temporarily enabling Command Response on Device 1");
  sendPairCommand("AT+RESP+\r", pairPage, localPage);
  if (localDev.cmdResponse == 0) {
    box("ERROR: Failed to enable Response Mode on Device 1. Aborting " + procedure);
    appendStatus("Failed to enable Response Mode on Device 1");
    pair.state = PAIR_IDLE;
    appendStatus(procedure + " Unsuccessful");
    return false;
  }
  pair.dev1RespTempEnabled = 1;
  return true;
}

// Switches Device 2's command responses off again when the procedure turned
// them on; false (reported, serial settings restored, procedure over) when
// the adapter does not take it.
bool redisableDevice2Responses(const SavedLine& saved, FormInterface& pairPage,
                               FormInterface& localPage) {
  if (pair.dev2RespTempEnabled != 1) return true;
  appendStatus("Re-disabling Command Response on Device 2");
  sendPairCommand("AT+RESP-\r", pairPage, localPage);
  if (pair.dev2CmdResponse == 1) {
    appendStatus("Failed to re-disable Command Response on Device 2");
    pair.state = PAIR_IDLE;
    box("ERROR: Failed to re-disable Command Response on Device 2 ");
    if (restore(saved) != 0) box("ERROR: Failed to restore UART Settings");
    return false;
  }
  pair.dev2RespTempEnabled = 0;
  return true;
}

struct RunningGuard {
  RunningGuard() {
    gStopRequested = false;
    gRunning = true;
  }
  ~RunningGuard() {
    gRunning = false;
    gStopRequested = false;  // a stop asked for this run must not silence the next one
  }
};

// The failure exits of the pairing procedure.
PairingOutcome exitF2(const SavedLine& saved) {
  pair.state = PAIR_IDLE;
  if (restore(saved) != 0) box("ERROR: Failed to restore UART Settings");
  appendStatus("Pairing Unsuccessful");
  return PairingOutcome::Failed;
}

PairingOutcome exitF1(const SavedLine& saved, FormInterface& pairPage, FormInterface& localPage) {
  if (pair.dev2RespTempEnabled == 1) {
    appendStatus("Re-disabling Command Response on Device 2");
    sendPairCommand("AT+RESP-\r", pairPage, localPage);
    if (pair.dev2CmdResponse == 1)
      box("ERROR: Failed to re-disable Command Response on Device 2 address");
  }
  return exitF2(saved);
}

PairingOutcome exitF3(FormInterface& pairPage, FormInterface& localPage) {
  if (pair.dev1RespTempEnabled == 1) {
    appendStatus("Re-disabling Command Response on Device 1");
    sendPairCommand("AT+RESP-\r", pairPage, localPage);
    if (localDev.cmdResponse == 1)
      box("ERROR: Failed to re-disable Command Response on Device 1 address");
  }
  pair.state = PAIR_IDLE;
  appendStatus("Pairing Unsuccessful");
  return PairingOutcome::Failed;
}

}  // namespace

// Only a running procedure can be stopped; with none running there is
// nothing to end, and a later procedure must not start stopped.
void requestPairingStop() {
  if (gRunning) gStopRequested = true;
}
bool pairingRunning() { return gRunning.load(); }

int32_t restoreUartSettings(int32_t baud, int32_t parity, int32_t flow, int32_t stopBits) {
  uart.baud = baud;
  uart.flow = flow;
  uart.stopBits = stopBits;
  uart.parity = parity;
  debugLog("PAIRING: Restoring UART Settings baud %d, parity %d, flow %d, stopbits %d", baud,
           parity, flow, stopBits);
  return UartChangeSettings() == 0 ? 0 : 1;
}

int32_t sendPairCommand(const char* command, FormInterface& pairPage, FormInterface& localPage) {
  if (gStopRequested) return 1;  // the window is closing: no more commands
  const int32_t r = sendATCommand(command, 0, 0, kWaitMs);
  if (r == 0) processPairResponse(pairPage, localPage);
  return r;
}

int processPairResponse(FormInterface& pairPage, FormInterface& localPage) {
  std::string command, response, param;
  bool showInStatus;
  {
    std::lock_guard lock(atCommandMutex);
    command = std::string(fieldView(atCommand.command));
    response = std::string(fieldView(atCommand.response));
    param = std::string(fieldView(atCommand.param));
    showInStatus = atCommand.showInStatus == 1;
  }
  auto finish = [](int result) {
    std::lock_guard lock(atCommandMutex);
    clearAtCommand();
    return result;
  };
  if (response == "\r\nERROR\r\n") {
    if (localDev.initialised == 1) {
      const std::string text = formatBounded(1024, "Command %s failed. Response ERROR", oneLine(command).c_str());
      debugLog("%s", text.c_str());
      if (command != "ATI0\r") appendStatus(text);
    }
    return finish(1);
  }
  if (response != "\r\nOK\r\n" && response != "\r\n") {
    if (localDev.initialised == 1)
      appendStatus(formatBounded(1024, "Command %s failed. Response Invalid", oneLine(command).c_str()));
    return finish(0);
  }
  const int index = getCommandIndex(command.c_str());
  if (index == 0) {
    appendStatus(formatBounded(1024, "Invalid Command %s", oneLine(command).c_str()));
    return finish(0);
  }
  if (showInStatus)
    appendStatus(formatBounded(1024, "Received Response %s %s for command %s", oneLine(response).c_str(),
                         oneLine(param).c_str(), oneLine(command).c_str()));
  const bool hasValue = !param.empty();
  const int32_t state = pair.state;

  switch (index) {
    case CMD_RESP:
      if (hasValue) {
        if (state == PAIRING_STARTED) pair.state = DEV2_INITIALISED;
        if (state == DEV1_UNBONDED) pair.state = DEV2_UNPAIRING;
        if (const int32_t v = decodeTwoState(command, param, "RESP"); v >= 0)
          pair.dev2CmdResponse = v;
      } else {
        const bool toLocal = pair.dev2RespTempEnabled == 0 &&
                             (state == DEV2_BONDED || state == DEV1_BONDED ||
                              state == UNPAIRING_STARTED || state == DEV1_UNBONDED);
        Flag& field = toLocal ? localDev.cmdResponse : pair.dev2CmdResponse;
        if (const int32_t v = decodeTwoState(command, param, "RESP"); v >= 0) field = v;
        if (toLocal) localPage.setChecked(ctl::kCommandResponse, localDev.cmdResponse == 1);
      }
      break;
    case CMD_ROLE: {
      const int32_t role = decodeRole(command, param);
      if (!hasValue && (state == DEV2_INITIALISED || state == DEV2_UNPAIRING)) {
        debugLog("Setting Device 2 as slave. Ignore this response");
        if (role > 0) pair.dev2Role = role;
      } else {
        if (role > 0) localDev.role = role;
        linkReset();
        showLocalDevice(localPage);
      }
      break;
    }
    case CMD_ADDR:
      if (hasValue && state == DEV2_INITIALISED) {
        copyField(pair.dev2Address, framedValue(param));
        refreshPairPage(pairPage);
      }
      break;
    case CMD_NAME:
      if (hasValue && state == DEV2_INITIALISED) {
        copyField(pair.dev2Name, framedValue(param));
        refreshPairPage(pairPage);
      }
      break;
    case CMD_BOND: {
      const std::string bond = decodeBond(command, param);
      auto bondLocal = [&] {
        copyField(localDev.bondedAddress, bond);
        localDev.bonded = strcasecmp(localDev.bondedAddress, kNoBondAddress) != 0 ? 1 : 0;
        showBond(localPage);
      };
      if (hasValue) {
        bondLocal();
      } else if (strcasecmp(command.c_str(), "AT+BOND-\r") == 0) {
        if (state == UNPAIRING_STARTED) {
          pair.state = DEV1_UNBONDED;
          bondLocal();
        } else if (state == DEV2_UNPAIRING) {
          pair.state = DEV2_UNBONDED;
        } else {
          bondLocal();
        }
      } else if (command.find('=') != std::string::npos) {
        if (state == DEV2_INITIALISED) {
          pair.state = DEV2_BONDED;
        } else {
          if (state == DEV2_BONDED) pair.state = DEV1_BONDED;
          bondLocal();
        }
      } else {
        showBond(localPage);
      }
      break;
    }
    case CMD_ACON:
      if (const int32_t v = decodeTwoState(command, param, "ACON"); v >= 0)
        localDev.autoConnect = v;
      linkReset();
      localPage.setChecked(ctl::kAutoConnect, localDev.autoConnect == 1);
      break;
    default:
      break;
  }
  return finish(1);
}

void refreshPairPage(FormInterface& pairPage) {
  pairPage.setText(ctl::kPairDevice1Address, std::string(fieldView(localDev.address)));
  pairPage.setText(ctl::kPairDevice2Address, std::string(fieldView(pair.dev2Address)));
  pairPage.setText(ctl::kPairDevice1Name, std::string(fieldView(localDev.name)));
  pairPage.setText(ctl::kPairDevice2Name, std::string(fieldView(pair.dev2Name)));
}

void clearPairPage(FormInterface& pairPage) {
  for (int id : {ctl::kPairDevice1Address, ctl::kPairDevice2Address, ctl::kPairDevice1Name,
                 ctl::kPairDevice2Name})
    pairPage.setText(id, "");
}

PairingOutcome pairDevices(FormInterface& pairPage, FormInterface& localPage) {
  if (localDev.initialised == 0) {
    box("ERROR: Local Device not initialised. Pairing Failed");
    return PairingOutcome::NotStarted;
  }
  RunningGuard running;
  WaitCursor cursor;
  clearPair();
  appendStatus("Pairing started....");
  pair.state = PAIRING_STARTED;

  if (!prompt(2)) {
    box("ERROR: Pairing Procedure aborted. Pairing incomplete");
    appendStatus("Pairing Procedure aborted. Pairing incomplete");
    pair.state = PAIR_IDLE;
    appendStatus("Pairing Unsuccessful");
    return PairingOutcome::Cancelled;
  }
  const SavedLine saved = saveLine();
  debugLog("PAIRING: Saved UART Settings baud %d, parity %d, flow %d, stopbits %d", saved.baud,
           saved.parity, saved.flow, saved.stopBits);

  const bool searched = reachDevice2(pairPage, localPage);
  if (pair.state != DEV2_INITIALISED) {
    box("ERROR: Failed to communicate with Device 2. Please check it is connected properly and "
        "switch is towards the connector. Aborting Pairing");
    appendStatus("Failed to communicate with Device 2");
    return exitF2(saved);
  }
  if (pair.dev2CmdResponse == 0) {
    appendStatus("Temporarily enabling Command Response on Device 2");
    sendPairCommand("AT+RESP+\r", pairPage, localPage);
    if (pair.dev2CmdResponse == 0) {
      box("ERROR: Failed to enable Response Mode on Device 2. Aborting Pairing");
      appendStatus("Failed to enable Response Mode on Device 2");
      return exitF2(saved);
    }
    pair.dev2RespTempEnabled = 1;
  }
  sendPairCommand("AT+ADDR?\r", pairPage, localPage);
  if (pair.dev2Address[0] == '\0') {
    box("ERROR: Failed to get Device 2 address.Aborting Pairing");
    return exitF1(saved, pairPage, localPage);
  }
  if (strcasecmp(pair.dev2Address, localDev.address) == 0) {
    box("ERROR: Device 2 address cannot be same as Local Address. Device 2 was not connected "
        "before pressing OK. Aborting Pairing");
    appendStatus("Device 2 same as Local Address");
    return exitF1(saved, pairPage, localPage);
  }
  sendPairCommand("AT+NAME?\r", pairPage, localPage);
  if (pair.dev2Name[0] == '\0') {
    box("ERROR: Failed to get Device 2 Name.Aborting Pairing");
    appendStatus("Failed to get Device 2 Name");
    return exitF1(saved, pairPage, localPage);
  }
  sendPairCommand("AT+ROLES\r", pairPage, localPage);
  if (pair.dev2Role != 2) {
    box("ERROR: Failed to set Device 2 to Slave Mode. Aborting Pairing");
    appendStatus("Failed to set Device 2 to Slave Mode");
    return exitF1(saved, pairPage, localPage);
  }
  sleepMs(kBondSettleMs);
  {
    const auto command = checkCommandLength(
        "AT+BOND=" + addressDigits(fieldView(localDev.address)) + "\r");
    if (command) sendPairCommand(command->c_str(), pairPage, localPage);
  }
  if (pair.state != DEV2_BONDED) {
    box("ERROR: Failed to Bond Device 2.Aborting Pairing");
    appendStatus("Failed to Bond Device 2");
    return exitF1(saved, pairPage, localPage);
  }
  if (!redisableDevice2Responses(saved, pairPage, localPage)) return PairingOutcome::Failed;
  if (searched && restore(saved) != 0) {
    appendStatus("Failed to restore UART Settings");
    pair.state = PAIR_IDLE;
    box("ERROR: Failed to restore UART Settings. Aborting Pairing. You may need to restart "
        "Device");
    appendStatus("Pairing Unsuccessful");
    return PairingOutcome::Failed;
  }
  if (!prompt(1)) {
    box("ERROR: Pairing Procedure aborted. Pairing incomplete");
    appendStatus("Pairing Procedure aborted");
    pair.state = PAIR_IDLE;
    appendStatus("Pairing Unsuccessful");
    return PairingOutcome::Cancelled;
  }
  if (!enableDevice1Responses("Pairing", pairPage, localPage)) return PairingOutcome::Failed;
  sendPairCommand("AT+ROLEM\r", pairPage, localPage);
  if (localDev.role != 1) {
    box("ERROR: Failed to changed Device 1 to Master. Aborting Pairing");
    appendStatus("Failed to changed Device 1 to Master");
    return exitF3(pairPage, localPage);
  }
  sleepMs(kBondSettleMs);
  {
    const auto command =
        checkCommandLength("AT+BOND=" + addressDigits(fieldView(pair.dev2Address)) + "\r");
    if (command) sendPairCommand(command->c_str(), pairPage, localPage);
  }
  if (pair.state != DEV1_BONDED) {
    box("ERROR: Failed to Bond Device 1.Aborting Pairing");
    appendStatus("Failed to Bond Device 1");
    return exitF3(pairPage, localPage);
  }
  if (localDev.autoConnect == 0) {
    sendPairCommand("AT+ACON+\r", pairPage, localPage);
    if (localDev.autoConnect == 0) {
      box("ERROR: Failed to enable Auto Connect on Device 1.");
      appendStatus("Failed to enable Auto Connect on Device 1");
      return exitF3(pairPage, localPage);
    }
  }
  box("Pairing completed successfully");
  appendStatus("Pairing Successful");
  if (pair.dev1RespTempEnabled == 1) {
    appendStatus("Re-disabling Command Response on Device 1");
    sendPairCommand("AT+RESP-\r", pairPage, localPage);
    if (localDev.cmdResponse == 1) {
      box("ERROR: Failed to re-disable Command Response on Device 1 address");
      appendStatus("Failed to Re-disable Command Response on Device 1");
    }
  }
  return PairingOutcome::Succeeded;
}

PairingOutcome unpairDevices(FormInterface& pairPage, FormInterface& localPage) {
  if (localDev.initialised == 0) {
    box("ERROR: Local Device not initialised. Unpairing Failed.");
    return PairingOutcome::NotStarted;
  }
  if (localDev.bonded == 0) {
    box("ERROR: Local Device not bonded. Unpairing will not be carried out");
    return PairingOutcome::NotStarted;
  }
  RunningGuard running;
  WaitCursor cursor;
  const SavedLine saved = saveLine();
  appendStatus("Unpairing started....");
  pair.state = UNPAIRING_STARTED;

  auto fail = [&](const char* message, const char* line) {
    box(message);
    appendStatus(line);
    pair.state = PAIR_IDLE;
    appendStatus("Unpairing unsuccessful");
    return PairingOutcome::Failed;
  };
  auto exitG = [&] {
    if (restore(saved) != 0) box("ERROR: Failed to restore UART Settings.");
    pair.state = PAIR_IDLE;
    appendStatus("Unpairing unsuccessful");
    return PairingOutcome::Failed;
  };

  if (!enableDevice1Responses("Unpairing", pairPage, localPage)) return PairingOutcome::Failed;
  sendPairCommand("AT+BOND-\r", pairPage, localPage);
  if (pair.state != DEV1_UNBONDED)
    return fail("ERROR: Failed to Unbond Device 1.Aborting Unpairing", "Failed to Unbond Device 1");
  sendPairCommand("AT+ROLES\r", pairPage, localPage);
  if (localDev.role != 2)
    return fail("ERROR: Failed to change Device 1 to slave mode.Aborting Unpairing",
                "Failed to change Device 1 to slave mode");
  sleepMs(kBondSettleMs);
  if (pair.dev1RespTempEnabled == 1) {
    appendStatus("Re-disabling Command Response on Device 1");
    sendPairCommand("AT+RESP-\r", pairPage, localPage);
    if (localDev.cmdResponse == 1)
      return fail("ERROR: Failed to re-disable Command Response on Device 1 address",
                  "Failed to Re-disable Command Response on Device 1");
    pair.dev1RespTempEnabled = 0;
  }
  if (!prompt(2)) {
    box("ERROR: Unpairing Procedure Aborted. Unpairing Incomplete.");
    pair.state = PAIR_IDLE;
    appendStatus("Unpairing unsuccessful");
    return PairingOutcome::Cancelled;
  }
  const bool searched = reachDevice2(pairPage, localPage);
  if (pair.state != DEV2_UNPAIRING) {
    box("ERROR: Failed to establish communication with Device 2.Aborting Unpairing");
    appendStatus("Failed to establish communication with Device 2");
    return exitG();
  }
  if (pair.dev2CmdResponse == 0) {
    appendStatus("Temporarily enabling Command Response on Device 2");
    sendPairCommand("AT+RESP+\r", pairPage, localPage);
    if (pair.dev2CmdResponse == 0) {
      box("ERROR: Failed to enable Response Mode on Device 2. Aborting Unpairing");
      appendStatus("Failed to enable Response Mode on Device 2");
      pair.state = PAIR_IDLE;
      if (restore(saved) != 0) box("ERROR: Failed to restore UART Settings");
      appendStatus("Unpairing unsuccessful");
      return PairingOutcome::Failed;
    }
    pair.dev2RespTempEnabled = 1;
  }
  // A role left by an earlier pairing must not stand in for this answer.
  pair.dev2Role = 0;
  sendPairCommand("AT+ROLES\r", pairPage, localPage);
  if (pair.dev2Role != 2) {
    box("ERROR: Failed to change Device 2 to slave mode.Aborting Unpairing");
    appendStatus("Failed to change Device 2 to slave mode");
    return exitG();
  }
  sleepMs(kBondSettleMs);
  sendPairCommand("AT+BOND-\r", pairPage, localPage);
  if (pair.state != DEV2_UNBONDED) {
    box("ERROR: Failed to Unbond Device 2.Aborting Unpairing");
    appendStatus("Failed to Unbond Device 2");
    return exitG();
  }
  if (!redisableDevice2Responses(saved, pairPage, localPage)) return PairingOutcome::Failed;
  if (searched && restore(saved) != 0) box("ERROR: Failed to restore port settings for Device 1");
  pair.state = PAIR_IDLE;
  box("Unpairing completed successfully. Connect back Device 1");
  appendStatus("Unpairing successful");
  clearPair();
  clearPairPage(pairPage);
  return PairingOutcome::Succeeded;
}

}  // namespace kx
