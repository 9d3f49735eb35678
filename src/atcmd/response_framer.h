// The framing of the adapter's answers: a state machine fed one received byte
// at a time that recognises the end of a command's answer (final line, value
// line, or the bare CR LF of an adapter whose responses are off) and the
// unsolicited CONNECT and DISCONNECT lines, which it tells from values by
// their whole form (event_line.h), never by a word inside a line. It works on the framing fields of
// an AtCommandRecord and knows nothing of threads, events or windows; the
// receive dispatcher decides what a completed answer or an event leads to.
//
// Threading contract: pure functions of their arguments (apart from log
// lines). The caller owns the record for the duration of the call (for the
// global `atCommand`: holds atCommandMutex).
#pragma once

#include <cstdint>

#include "atcmd/event_line.h"
#include "common/records.h"

namespace kx {

// Adapter and pairing state the framing depends on, read once per chunk.
struct FramingContext {
  int32_t cmdResponse = 1;      // localDev.cmdResponse
  int32_t pairState = 0;        // pair.state
  int32_t dev2CmdResponse = 0;  // pair.dev2CmdResponse
};

FramingContext currentFramingContext();

enum class FrameResult {
  None,      // byte consumed, nothing finished
  Complete,  // the answer is complete: responseComplete is 1
  Event,     // a CONNECT or DISCONNECT line was recognised into *event
};

// Feeds one byte. On Event the record's framing fields (response, param,
// rxState, rxIndex, firstByteSeen, responseComplete) are back to their
// cleared state and `event` holds the event; the pending command and its
// flags are left to the caller.
//
// Capacity: at most kResponseSize - 1 bytes of a line are kept; further
// bytes up to the line's LF are dropped. A line cut that way is never an OK
// or ERROR line or an event; it counts as a value line holding what was
// kept. With no command pending (empty `command`) only final lines and
// events complete anything: the responses-off rules need a command.
FrameResult feedResponseByte(AtCommandRecord& rec, uint8_t byte, const FramingContext& ctx,
                             ConnectEvent* event);

// Resets the framing fields as sending a command does, keeping the command
// and its flags.
void resetFraming(AtCommandRecord& rec);

}  // namespace kx
