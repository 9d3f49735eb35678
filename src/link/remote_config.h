// Remote configuration of the connected peer adapter over the radio link:
// the Remote Device Settings page's Handshake, Program Remote Device and Exit
// Remote Access, and the receiver of the peer's two-byte answers.
//
// Threading: the buttons and refreshRemotePage run on the user-interface
// thread; processHandshakeData runs on the serial read thread (installed as
// the engine's remote-answer receiver) and reaches the window only by posted
// notifications. The answer state is kept in `remote` under remoteMutex.
#pragma once

#include <cstdint>
#include <string>

#include "common/control_ids.h"
#include "common/outcome_note.h"
#include "platform/form.h"

namespace kx {


void initRemotePage(FormInterface& page);

// TIMER_HANDSHAKE expired: the remote adapter did not answer within 4000 ms.
// Reports "Handshake failed." (no answer to the handshake) or "Handshake
// command failed." (a later command), kills the timer and stops waiting for
// an answer. User-interface thread.
void onHandshakeTimer();
void onHandshake();
void onProgramRemoteDevice(FormInterface& page);
void onExitRemoteAccess();

// `localPage` holds the Operation Mode radio group.
void refreshRemotePage(FormInterface& page, FormInterface& localPage);

// Consumes answer bytes from the peer (engine hook signature).
void processHandshakeData(const uint8_t* data, uint32_t count);

// Ends the wait for an answer because the link went away (engine hook):
// reports that the link was lost, stops the handshake timer. Read thread.
void onRemoteLinkLost();

// Installs processHandshakeData and onRemoteLinkLost as the engine's hooks.
void installRemoteConfiguration();

// What became of an exchange with the remote adapter. Each exchange that
// ends (answered, refused, unanswered, cut off) counts one, so a caller notes
// the count before it sends and waits for it to move; the count is kept
// across clearRemote.
enum class RemoteOutcome : int32_t {
  None,
  HandshakeComplete,
  HandshakeFailed,    // the remote adapter refused the handshake
  BaudChanged,
  BaudChangeFailed,
  AccessExited,
  ExitFailed,
  NoAnswer,           // the answer timer expired
  LinkLost,           // the link went down while the answer was awaited
  NotSent,            // the message could not be sent
};
using RemoteOutcomeNote = OutcomeNote<RemoteOutcome>;
RemoteOutcomeNote remoteOutcome();


}  // namespace kx
