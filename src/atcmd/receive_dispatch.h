// The receive path: every chunk the serial link reads comes to
// dispatchReceivedData, which hands it to the collection of a timer-driven
// command, the inquiry output parser, the remote adapter's answer receiver
// (a hook, see engine_hooks.h) or the command-answer parser. The parsers run
// the framers (response_framer.h, inquiry_framer.h) and turn what they
// recognise into the answer hand-off, events and notifications.
//
// Threading contract:
// - All functions here run on the serial read thread, one chunk at a time.
// - `atCommand` is written only under atCommandMutex. When an answer becomes
//   complete, responseComplete is set and atCommandEvent is set while the lock
//   is held, so a sender that resets the event under the same lock never
//   misses or mistakes a completion. A completed answer is not changed until
//   the next command (or the response application) clears the record: bytes
//   arriving meanwhile are framed separately, for events and late answers.
// - `inquiry` is written under inquiryMutex, `remote` under remoteMutex.
// - Notifications are posted, never sent; no lock is held while posting or
//   while an event's message box is shown.
#pragma once

#include <cstdint>

namespace kx {

// Installs dispatchReceivedData as the serial link's receive handler.
// Start-up code and tests call it before the link is opened.
void installCommandEngine();
void uninstallCommandEngine();

// Returns the engine to its start state: `atCommand` cleared, no late answers
// awaited, atCommandEvent set. For start-up, re-initialisation and tests;
// call only while no command is being sent.
void resetCommandEngine();

void dispatchReceivedData(const uint8_t* data, uint32_t count);
void processCmdResponse(const uint8_t* data, uint32_t count);
void processInquiryData(const uint8_t* data, uint32_t count);

}  // namespace kx
