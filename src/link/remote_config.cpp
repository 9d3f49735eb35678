#include "link/remote_config.h"

#include <mutex>

#include "atcmd/engine_hooks.h"
#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "platform/window.h"

namespace kx {
namespace {

bool connectedOrExplain() {
  if (localDev.connected == 0) {
    showMessageBox(
        "Local Device is not connected. Please connect the device and then try handshake.",
        MsgButtons::Ok);
    return false;
  }
  return true;
}

void killHandshakeTimer() {
  if (WindowInterface* w = mainWindowHandle) w->killTimer(TIMER_HANDSHAKE);
}

OutcomeCounter<RemoteOutcome> gOutcomes;

void noteOutcome(RemoteOutcome outcome) { gOutcomes.note(outcome); }

// Handles a complete two-byte answer; remoteMutex is held.
void handleAnswer() {
  const uint8_t first = remote.handshakeResp[0];
  const uint8_t second = remote.handshakeResp[1];
  if (remote.handshakeState == HANDSHAKE_STARTED) {
    debugLog("handshakeResp[0] = 0x%X handshakeResp[1] = 0x%X", first, second);
    if (first == 0xAA && second == 0xAA) {
      remote.handshakeState = HANDSHAKE_COMPLETE;
      debugLog("ATCOMMAND: Handshake Complete..");
      postNotify(NOTIFY_STATUS_TEXT, 0, "Handshake Complete...");
      postNotify(NOTIFY_REMOTE_PAGE);
      noteOutcome(RemoteOutcome::HandshakeComplete);
    } else {
      remote.handshakeState = HANDSHAKE_IDLE;
      debugLog("ATCOMMAND: Handshake Failed..");
      postNotify(NOTIFY_STATUS_TEXT, 0, "Handshake Failed...");
      noteOutcome(RemoteOutcome::HandshakeFailed);
    }
    localDev.handshaked = 0;
    remote.handshakeRespLen = 0;
    debugLog("Handshake response handled. Killing Handshake timer");
    killHandshakeTimer();
    return;
  }
  switch (remote.pendingRemoteCommand.load()) {
    case 0:
      if (second == 0x00) {
        remote.handshakeState = HANDSHAKE_IDLE;
        debugLog("ATCOMMAND: Remote Access Mode Exited.");
        postNotify(NOTIFY_STATUS_TEXT, 0, "Remote Access Mode Exited.");
        postNotify(NOTIFY_REMOTE_PAGE);
        noteOutcome(RemoteOutcome::AccessExited);
      } else {
        debugLog("ATCOMMAND: Exit Remote Access Mode failed.");
        postNotify(NOTIFY_STATUS_TEXT, 0, "Exit Remote Access Mode failed.");
        noteOutcome(RemoteOutcome::ExitFailed);
      }
      break;
    case 1:
      if (second == 0x00) {
        debugLog("ATCOMMAND: Remote Device Baud rate changed.");
        postNotify(NOTIFY_STATUS_TEXT, 0, "Remote Device Baud rate changed.");
        noteOutcome(RemoteOutcome::BaudChanged);
      } else {
        debugLog("ATCOMMAND: Remote Device Baud rate change failed.");
        postNotify(NOTIFY_STATUS_TEXT, 0, "Remote Device Baud rate change failed.");
        noteOutcome(RemoteOutcome::BaudChangeFailed);
      }
      break;
    default:
      debugLog("Unknown Handshake Command H%X",
               static_cast<unsigned>(remote.pendingRemoteCommand.load()));
      noteOutcome(RemoteOutcome::None);
      break;
  }
  localDev.handshaked = 0;
  remote.handshakeRespLen = 0;
  debugLog("Handshake Command handled. Killing Handshake timer");
  killHandshakeTimer();
}

}  // namespace

void initRemotePage(FormInterface& page) {
  page.setEnabled(ctl::kRemoteProgram, false);
  page.setEnabled(ctl::kRemoteExit, false);
  page.setSelection(ctl::kRemoteBaudList, 0);
}

void onHandshakeTimer() {
  debugLog("Handshake Command Timer Expired.");
  bool handshaking;
  {
    std::lock_guard lock(remoteMutex);
    handshaking = remote.handshakeState.load() == HANDSHAKE_STARTED;
    remote.handshakeState = HANDSHAKE_IDLE;
    localDev.handshaked = 0;
  }
  appendStatus(handshaking ? "Handshake failed." : "Handshake command failed.");
  killHandshakeTimer();
  noteOutcome(RemoteOutcome::NoAnswer);
}

void onHandshake() {
  if (localDev.initialised == 0) {
    showMessageBox(
        "Local Device is not initialised. Please initialise and connect the device and then try "
        "handshake .",
        MsgButtons::Ok);
    return;
  }
  if (!connectedOrExplain()) return;
  appendStatus("Handshake started...");
  // The answer may come back before the send returns: the receiver is armed
  // just before the bytes go out (after any switch to data mode, so nothing
  // the adapter says meanwhile reaches it) and put back if they were not sent.
  HandshakeState before;
  {
    std::lock_guard lock(remoteMutex);
    before = static_cast<HandshakeState>(remote.handshakeState.load());
  }
  static const uint8_t kHandshake[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  const auto arm = [] {
    std::lock_guard lock(remoteMutex);
    remote.handshakeState = HANDSHAKE_STARTED;
    remote.handshakeResp[0] = remote.handshakeResp[1] = remote.handshakeResp[2] = 0;
    remote.handshakeRespLen = 0;
    localDev.handshaked = 1;
  };
  if (sendRemoteData(kHandshake, sizeof kHandshake, arm) == 1) {
    {
      std::lock_guard lock(remoteMutex);
      remote.handshakeState = before;
      localDev.handshaked = 0;
    }
    appendStatus("Failed to start Handshake");
    noteOutcome(RemoteOutcome::NotSent);
  }
}

namespace {

// A remote command: the answer is awaited from just before the first byte
// goes out. When nothing was sent (data mode refused) no answer and no timer
// will come, so the wait is called off at once; left standing it would hand
// every later byte from the adapter, connect and disconnect events included,
// to the answer receiver.
void sendRemoteCommand(const uint8_t* message, uint32_t size, int32_t code) {
  const auto arm = [code] {
    std::lock_guard lock(remoteMutex);
    localDev.handshaked = 1;
    remote.pendingRemoteCommand = code;
  };
  if (sendRemoteData(message, size, arm) == 1) {
    {
      std::lock_guard lock(remoteMutex);
      localDev.handshaked = 0;
    }
    noteOutcome(RemoteOutcome::NotSent);
  }
}

}  // namespace

void onProgramRemoteDevice(FormInterface& page) {
  if (!connectedOrExplain()) return;
  const int position = page.selection(ctl::kRemoteBaudList);
  const uint8_t message[2] = {0x01, static_cast<uint8_t>((position < 0 ? 0 : position) + 1)};
  sendRemoteCommand(message, sizeof message, 1);
}

void onExitRemoteAccess() {
  if (!connectedOrExplain()) return;
  static const uint8_t kExit[2] = {0x00, 0x80};
  sendRemoteCommand(kExit, sizeof kExit, 0);
}

void refreshRemotePage(FormInterface& page, FormInterface& localPage) {
  std::string address;
  const bool complete = remote.handshakeState == HANDSHAKE_COMPLETE;
  {
    std::lock_guard lock(remoteMutex);
    address = std::string(fieldView(remote.peerAddress));
  }
  page.setEnabled(ctl::kRemoteHandshake, !complete);
  page.setEnabled(ctl::kRemoteProgram, complete);
  page.setEnabled(ctl::kRemoteExit, complete);
  const int mode = complete                   ? ctl::kModeRemote
                   : localDev.connected == 1 ? ctl::kModeData
                                              : ctl::kModeCommand;
  setRadio(localPage, mode, {ctl::kModeCommand, ctl::kModeData, ctl::kModeRemote});
  page.setText(ctl::kRemoteAddress, address);
}

void processHandshakeData(const uint8_t* data, uint32_t count) {
  std::lock_guard lock(remoteMutex);
  for (uint32_t i = 0; i < count; ++i) {
    switch (remote.handshakeState.load()) {
      case HANDSHAKE_IDLE:
        debugLog("ATCOMMAND: Data received in unexpected state - HANDSHAKE_IDLE");
        break;
      case HANDSHAKE_STARTED:
      case HANDSHAKE_COMPLETE:
        // Only two bytes make an answer; the record has room for four.
        if (remote.handshakeRespLen < 2) remote.handshakeResp[remote.handshakeRespLen++] = data[i];
        if (remote.handshakeRespLen == 2) handleAnswer();
        break;
      default:
        debugLog("ATCOMMAND: Unknown state %d", remote.handshakeState.load());
        break;
    }
  }
}

void onRemoteLinkLost() {
  bool handshaking;
  {
    std::lock_guard lock(remoteMutex);
    handshaking = remote.handshakeState.load() == HANDSHAKE_STARTED;
    remote.handshakeRespLen = 0;
    localDev.handshaked = 0;
  }
  killHandshakeTimer();
  const char* text = handshaking
                         ? "Handshake failed: the link to the remote device was lost."
                         : "Handshake command failed: the link to the remote device was lost.";
  debugLog("ATCOMMAND: %s", text);
  postNotify(NOTIFY_STATUS_TEXT, 0, text);
  noteOutcome(RemoteOutcome::LinkLost);
}

void installRemoteConfiguration() {
  remoteAnswerReceiver = &processHandshakeData;
  remoteLinkLost = &onRemoteLinkLost;
}

RemoteOutcomeNote remoteOutcome() { return gOutcomes.read(); }

}  // namespace kx
