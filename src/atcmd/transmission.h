// Sending AT commands: one command at a time, blocking with one resend, timer
// driven for the long answer of "AT+ENQ\r", byte by byte for the old-firmware
// probe, and raw data to a connected remote adapter.
//
// Result codes (int32):
//   0  answered (blocking: the answer lies in `atCommand`), or written
//      (timer-driven, remote data)
//   1  failure or no answer: empty or overlong command, a CR or LF before
//      the command's last character (it would make two commands), no answer after the
//      resend, write failure, escape sequence failed, the user refused to send
//      in data mode, or the user declined the escape prompt. Nothing in
//      `atCommand` is to be applied.
//   2  written, completion pending (timer-driven; our serial link completes
//      writes at once, so it is passed on but not produced)
//   7  refused: a timer-driven "AT+ENQ\r" is still being collected; nothing
//      was written
//
// Threading contract and the `atCommand` hand-off:
// - Senders run on the user-interface thread or the initialisation worker,
//   one at a time; never on a link thread.
// - Before a command goes out the sender, holding atCommandMutex, waits out
//   answers still in flight from an earlier timed-out command (bounded, see
//   answer_tracking.h), clears the whole record, fills command, showInStatus,
//   timerMode and expectsData, and resets atCommandEvent. Only then is the
//   first byte written, so every answer byte is framed against this command.
// - The read thread fills the answer fields under the same lock and sets
//   atCommandEvent, with the lock held, once the answer is complete.
// - The sender wakes on the event (or its timeout) and checks
//   responseComplete under the lock; once it is 1 the read thread no longer
//   changes the record, so the caller may read it (under the lock) and apply
//   it. The response application clears it under the lock.
// - completeTimerCommand runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event.h"

namespace kx {

// Set by the read thread when an ordinary answer is complete; reset by the
// blocking and old-firmware sends before they write. Created set.
extern ManualResetEvent atCommandEvent;

constexpr int32_t kMaxCommandLength = 29;  // the 30-byte command field
constexpr int kEscapeGuardMs = 1000;       // silence before "+++"
constexpr int kOldFirmwareByteGapMs = 100;
constexpr int kOldFirmwareWaitMs = 500;
constexpr int kHandshakeTimerMs = 4000;

// Sends `command` (NUL-terminated, 1..29 characters). showInStatus 1 reports
// the exchange in the status window; timerMode 1 sends timer-driven.
// In data mode the user is asked first: with escape off whether to send
// anyway (No: 1); with escape on whether to send "+++" first (Cancel: 1,
// nothing sent; OK: "+++" after 1000 ms of silence, its answer applied through
// NOTIFY_COMMAND_RESPONSE, 1 if the adapter is still in data mode).
int32_t sendATCommand(const char* command, int32_t showInStatus, int32_t timerMode,
                      int32_t timeoutMs);

// Writes the pending command (already in `atCommand`) and waits for its answer
// up to timeoutMs, resending once: 0 answered, 1 not.
int32_t sendBlockingCommand(const char* buffer, uint32_t length, int32_t timeoutMs);

// Writes and arms TIMER_AT_COMMAND with a period by localDev.baudCode
// (10: 5000 ms, 11: 3000 ms, 12: 2000 ms, else 1000 ms). Returns the write
// result.
int32_t sendTimerCommand(const char* buffer, uint32_t length);
int timerCommandPeriodMs(int32_t baudCode);

// The main window calls this when TIMER_AT_COMMAND fires, after killing the
// timer: ends the collection (timerMode cleared under atCommandMutex, so a
// chunk arriving from then on is framed apart), splits what was collected
// into the first line (`response`) and the rest (`param`), applies it through
// the apply hook and clears the record. With nothing received it reports
// "Failed to send %s command" and leaves the record.
void completeTimerCommand();

// TIMER_AT_COMMAND expired: kills the timer and completes the timer-driven
// command (completeTimerCommand). User-interface thread.
void onAtCommandTimer();

// The old-firmware probe "ATI0\r", written one byte at a time 100 ms apart:
// 0 answered within 500 ms, 1 not.
int32_t sendOldFirmwareCommand();

// The escape sequence: the guard silence (guardMs; 0 when the caller has
// just waited that long with nothing sent), then "+++" (once), waiting up to
// timeoutMs for the adapter's OK. 0 answered, the answer left in `atCommand`
// for the response application (which leaves data mode); 1 not.
int32_t sendEscape(int32_t timeoutMs, int32_t guardMs = kEscapeGuardMs);

// Raw bytes to the connected remote adapter, switching the local adapter to
// data mode first if needed (asks OK/Cancel). Arms TIMER_HANDSHAKE (4000 ms).
// 1 refused or failed, otherwise the write result. armReceiver, when given,
// runs just before the bytes are written, once data mode is established: the
// answer receiver armed there sees the remote answer and nothing that arrived
// while the question was open (a DISCONNECT event, the AT+AUTO answer).
int32_t sendRemoteData(const void* buffer, uint32_t size,
                       const std::function<void()>& armReceiver = {});

// 1 when the command is answered by a value line: it contains '?' and is not
// "AT+FIND?\r", or it is "AT+VER\r", "+++" or "AT+FIND-\r" (case ignored).
int32_t commandExpectsData(const char* command);

}  // namespace kx
