// Unsolicited CONNECT and DISCONNECT events: updates the connection state in
// `localDev` and `remote` and tells the main window (notifications, a status
// line and a message box).
//
// Threading contract: runs on the serial read thread. Reads `atCommand` only
// under atCommandMutex and writes `remote` under remoteMutex; holds no lock
// while it posts or shows the message box.
#pragma once

#include <cstdint>

#include "atcmd/event_line.h"
#include "common/outcome_note.h"

namespace kx {

// Handles the event now held in `atCommand` (its `command` is the event
// keyword, `param` the text after it, `response` "\r\nOK\r\n"). Returns 0 when
// the keyword is no command of the table, 1 otherwise. Does not clear the
// record.
int32_t parseConnectEvent();

// What the adapter last reported of its link. Every event handled counts
// one, so a caller notes the count before it acts and waits for it to move.
enum class LinkEvent : int32_t { None, Connected, ConnectFailed, Disconnected };
using LinkEventNote = OutcomeNote<LinkEvent>;
LinkEventNote linkEvents();

// Handles an event taken apart by the framers. `showInStatus` is the pending
// command's flag: when 1 the event is also reported as a received response.
int32_t handleConnectEvent(const ConnectEvent& event, int32_t showInStatus);

}  // namespace kx
