#include "atcmd/transmission.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "atcmd/answer_tracking.h"
#include "atcmd/engine_hooks.h"
#include "atcmd/response_framer.h"
#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "serial/uart.h"

namespace kx {

ManualResetEvent atCommandEvent{true};

namespace {

constexpr std::size_t kSendMessageBound = 1024;
constexpr int kMaxTransmissions = 2;

std::string shown(std::string_view text) { return escapeBytes(text); }

std::string pendingCommandLocked() { return shown(fieldView(atCommand.command)); }

void setMainTimer(int32_t id, int periodMs) {
  if (WindowInterface* w = mainWindowHandle) w->setTimer(id, periodMs);
}

// Waits, bounded, for answers of an earlier timed-out command that may still
// be on their way, so that none of them is taken for the next command's.
void drainLateAnswers(std::unique_lock<std::mutex>& lock) {
  auto& t = detail::answerTracking;
  if (t.stale > 0) {
    debugLog("ATCOMMAND: Waiting for %d late answer(s) to command %s", t.stale,
             pendingCommandLocked().c_str());
    detail::staleAnswerSeen.wait_until(lock, t.staleDeadline, [&] { return t.stale <= 0; });
    if (t.stale > 0)
      debugLog("ATCOMMAND: %d late answer(s) did not arrive. Sending the next command", t.stale);
  }
  t.stale = 0;
}

// Clears the record and fills it for `command`; the next byte written is
// framed against it.
void preparePendingCommand(std::string_view command, int32_t showInStatus, int32_t timerMode,
                           int32_t expectsData) {
  std::unique_lock lock(atCommandMutex);
  drainLateAnswers(lock);
  clearAtCommand();
  detail::clearRecord(detail::trailingFrame);
  copyField(atCommand.command, command);
  atCommand.showInStatus = showInStatus;
  atCommand.timerMode = timerMode;
  atCommand.expectsData = expectsData;
  detail::answerTracking.bytesSinceWrite = false;
}

// Records how many answers of this command may still arrive once it is over.
void finishBlocking(bool answered, int transmissions, int32_t timeoutMs) {
  auto& t = detail::answerTracking;
  int stale = answered ? transmissions - 1 : (t.bytesSinceWrite ? transmissions : 0);
  t.stale = stale;
  t.staleDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

int32_t sendEscapeSequence(int32_t timeoutMs) {
  if (sendEscape(kEscapeGuardMs + timeoutMs) == 0) {
    // The main window applies the answer; OK takes the adapter out of data mode.
    sendNotify(NOTIFY_COMMAND_RESPONSE);
  }
  if (localDev.dataMode.load() == 1) {
    showMessageBox("ESCAPE Sequence failed.", MsgButtons::Ok);
    return 1;
  }
  return 0;
}

}  // namespace

int32_t sendEscape(int32_t timeoutMs, int32_t guardMs) {
  sleepMs(guardMs);  // the adapter only takes "+++" after a silence
  preparePendingCommand("+++", 0, 0, 1);
  {
    std::lock_guard lock(atCommandMutex);
    atCommandEvent.reset();
  }
  // Written once: a second "+++" inside the silence the adapter may want
  // after the first would be data again.
  if (UartWrite("+++", 3) == 0) atCommandEvent.wait(timeoutMs);
  std::lock_guard lock(atCommandMutex);
  const bool answered = atCommand.responseComplete == 1;
  finishBlocking(answered, 1, timeoutMs);
  return answered ? 0 : 1;
}

int32_t commandExpectsData(const char* command) {
  if (!command) return 0;
  const std::string_view c(command, strnlen(command, kCommandSize));
  if (c.find('?') != std::string_view::npos && c != "AT+FIND?\r") return 1;
  if (equalsIgnoreCase(c, "AT+VER\r") || equalsIgnoreCase(c, "+++") ||
      equalsIgnoreCase(c, "AT+FIND-\r"))
    return 1;
  return 0;
}

int timerCommandPeriodMs(int32_t baudCode) {
  switch (baudCode) {
    case 10:
      return 5000;  // 1200 bps
    case 11:
      return 3000;  // 2400 bps
    case 12:
      return 2000;  // 4800 bps
    default:
      return 1000;
  }
}

int32_t sendATCommand(const char* command, int32_t showInStatus, int32_t timerMode,
                      int32_t timeoutMs) {
  const std::size_t length = command ? strnlen(command, kSendMessageBound) : 0;
  const std::string_view cmd(command ? command : "", length);
  if (length == 0) {
    debugLog("ATCOMMAND: trying to send a command %s with 0 length ", "");
    return 1;
  }
  if (length > static_cast<std::size_t>(kMaxCommandLength)) {
    debugLog("ATCOMMAND: Command %s is too long (%zu characters, at most %d). Not sent",
             shown(cmd).c_str(), length, kMaxCommandLength);
    return 1;
  }
  // A line end inside the text would make the adapter see two commands and
  // answer twice; the second answer would be taken for the next command's.
  if (const std::size_t end = cmd.find_first_of("\r\n");
      end != std::string_view::npos && end + 1 != length) {
    debugLog("ATCOMMAND: Command %s holds a line end before its last character. Not sent",
             shown(cmd).c_str());
    return 1;
  }
  {
    std::lock_guard lock(atCommandMutex);
    if (atCommand.timerMode.load() == 1 &&
        equalsIgnoreCase(fieldView(atCommand.command), "AT+ENQ\r")) {
      debugLog("Command %s Processing in progress.Send command failed. Please resend again",
               pendingCommandLocked().c_str());
      return 7;
    }
  }

  if (localDev.dataMode.load() == 1 && !equalsIgnoreCase(cmd, "+++")) {
    if (localDev.escapeMode.load() == 0) {
      const MsgResult answer = showMessageBox(
          "Local Device connected and escape mode is disabled. Command will fail. Power reset "
          "adapter to disconnect.  Do you still want to send command?",
          MsgButtons::YesNo);
      if (answer != MsgResult::Yes) return 1;
    } else {
      const MsgResult answer = showMessageBox(
          "Local Device is in datamode. Do you want to Send Escape Sequence before sending the "
          "command",
          MsgButtons::OkCancel);
      if (answer != MsgResult::Ok) {
        // Nothing was sent, so there is no answer to apply.
        debugLog("ATCOMMAND: Escape sequence declined. Command %s not sent", shown(cmd).c_str());
        return 1;
      }
      if (sendEscapeSequence(timeoutMs) != 0) return 1;
    }
  }

  preparePendingCommand(cmd, showInStatus, timerMode, commandExpectsData(command));
  if (showInStatus == 1)
    appendStatus(formatBounded(kSendMessageBound, "Sending command %s", oneLine(command).c_str()));

  const auto len = static_cast<uint32_t>(length);
  const int32_t result = timerMode == 1 ? sendTimerCommand(command, len)
                                        : sendBlockingCommand(command, len, timeoutMs);
  if (result == 0 || result == 2) return result;
  debugLog("ATCOMMAND: Failed to send ATCommand %s", shown(cmd).c_str());
  return 1;
}

int32_t sendBlockingCommand(const char* buffer, uint32_t length, int32_t timeoutMs) {
  {
    std::lock_guard lock(atCommandMutex);
    atCommandEvent.reset();
    debugLog("ATCOMMAND: +sendBlockingCommand buff %s len %d", pendingCommandLocked().c_str(),
             static_cast<int>(length));
  }
  UartWrite(buffer, length);  // a failed write shows as a missing answer

  int transmissions = 1;
  int retry = 0;
  while (true) {
    atCommandEvent.wait(timeoutMs);
    {
      std::lock_guard lock(atCommandMutex);
      if (atCommand.responseComplete == 1) {
        finishBlocking(true, transmissions, timeoutMs);
        return 0;
      }
      ++retry;
      debugLog("ATCOMMAND: Response to command %s was not received. Retry count %d",
               pendingCommandLocked().c_str(), retry);
      if (retry >= kMaxTransmissions) {
        finishBlocking(false, transmissions, timeoutMs);
        return 1;
      }
      // Start over for the resend, unless an answer is arriving right now:
      // its remaining bytes then complete it as this command's answer.
      if (!(atCommand.rxState == 2 && atCommand.rxIndex > 0)) resetFraming(atCommand);
      atCommandEvent.reset();
    }
    if (UartWrite(buffer, length) != 0) {
      std::lock_guard lock(atCommandMutex);
      debugLog("ATCOMMAND: Failed to send ATCommand %s", pendingCommandLocked().c_str());
      finishBlocking(false, transmissions, timeoutMs);
      return 1;
    }
    ++transmissions;
    std::lock_guard lock(atCommandMutex);
    debugLog("ATCOMMAND: Retry command %s", pendingCommandLocked().c_str());
  }
}

int32_t sendTimerCommand(const char* buffer, uint32_t length) {
  debugLog("ATCOMMAND: +sendTimerCommand buff %s len %d",
           shown(std::string_view(buffer, length)).c_str(), static_cast<int>(length));
  const int32_t result = UartWrite(buffer, length);
  setMainTimer(TIMER_AT_COMMAND, timerCommandPeriodMs(localDev.baudCode.load()));
  return result;
}

void completeTimerCommand() {
  std::string command;
  bool nothingArrived;
  {
    // The collection ends here, under the same lock as the collecting: a
    // chunk arriving from now on is framed apart from the collected answer.
    std::lock_guard lock(atCommandMutex);
    atCommand.timerMode = 0;
    command = std::string(fieldView(atCommand.command));
    nothingArrived = atCommand.rxIndex <= 0;
    if (!nothingArrived) atCommand.responseComplete = 1;
    if (!nothingArrived) {
      const int32_t end = std::min<int32_t>(atCommand.rxIndex, kResponseSize - 1);
      const char* r = atCommand.response;
      // An echoed command ends at the first CR; the answer starts there.
      int32_t start = -1;
      if (r[0] == '\r') {
        start = 0;
      } else {
        for (int32_t i = 0; i < end; ++i)
          if (r[i] == '\r') {
            start = i + 1;
            break;
          }
      }
      char line[kResponseSize] = {};
      char rest[kResponseSize] = {};
      int32_t n = 0;
      if (start >= 0) {
        int32_t i = start;
        for (; i < end; ++i) {
          line[n++] = r[i];
          if (r[i] == '\n' && i != start) {
            ++i;
            break;
          }
        }
        int32_t m = 0;
        for (; i < end; ++i)
          if (r[i] != '\0') rest[m++] = r[i];
      }
      std::memcpy(atCommand.param, rest, sizeof rest);
      std::memcpy(atCommand.response, line, sizeof line);
      atCommand.rxIndex = n;
    }
  }
  if (nothingArrived) {
    const std::string text =
        formatBounded(kSendMessageBound, "Failed to send %s command", oneLine(command).c_str());
    appendStatus(text);
    showMessageBox(text, MsgButtons::Ok);
    return;
  }
  if (const auto applied = applyResponseHook.tryCall()) {
    if (*applied == 0) {
      std::lock_guard lock(atCommandMutex);
      debugLog("ATCOMMAND: Failed to parse AT Response. command %s, response %s param %s",
               pendingCommandLocked().c_str(), shown(fieldView(atCommand.response)).c_str(),
               shown(fieldView(atCommand.param)).c_str());
    }
  }
  std::lock_guard lock(atCommandMutex);
  clearAtCommand();
}

void onAtCommandTimer() {
  debugLog("ATCommandTimer expired");
  if (WindowInterface* w = mainWindowHandle) w->killTimer(TIMER_AT_COMMAND);
  completeTimerCommand();
}

int32_t sendOldFirmwareCommand() {
  static constexpr char kProbe[] = "ATI0\r";
  constexpr uint32_t kProbeLength = sizeof kProbe - 1;
  // Cleared first, so that an answer left from an earlier command is not
  // taken for the probe's.
  preparePendingCommand(kProbe, 0, 0, 1);
  {
    std::lock_guard lock(atCommandMutex);
    atCommandEvent.reset();
  }
  debugLog("ATCOMMAND: sendOldFirmwareCommand - buff %s len %d", shown(kProbe).c_str(),
           static_cast<int>(kProbeLength));
  for (uint32_t i = 0; i < kProbeLength; ++i) {
    if (UartWrite(&kProbe[i], 1) == 1) {
      debugLog("ATCOMMAND: sendOldFirmwareCommand - Failed to write command");
      return 1;
    }
    sleepMs(kOldFirmwareByteGapMs);
  }
  atCommandEvent.wait(kOldFirmwareWaitMs);
  std::lock_guard lock(atCommandMutex);
  return atCommand.responseComplete == 1 ? 0 : 1;
}

int32_t sendRemoteData(const void* buffer, uint32_t size,
                       const std::function<void()>& armReceiver) {
  if (localDev.dataMode.load() == 0) {
    const MsgResult answer = showMessageBox(
        "Local Device needs to be set to data mode before sending remote configuration command",
        MsgButtons::OkCancel);
    if (answer != MsgResult::Ok) return 1;
    if (sendATCommand("AT+AUTO\r", 0, 0, 1000) == 0) sendNotify(NOTIFY_COMMAND_RESPONSE);
    if (localDev.dataMode.load() == 0) {
      showMessageBox("Device failed to switched to Data Mode.", MsgButtons::Ok);
      return 1;
    }
  }
  debugLog("ATCOMMAND: Sending %d bytes of data", static_cast<int>(size));
  if (armReceiver) armReceiver();
  setMainTimer(TIMER_HANDSHAKE, kHandshakeTimerMs);
  return UartWrite(buffer, size);
}

}  // namespace kx
