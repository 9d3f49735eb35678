// Unsolicited event lines, told apart from answers by their whole form.
//
// The adapter announces a link with "CONNECT" and its end with "DISCONNECT",
// each on a line of its own and each followed by what belongs to it: for
// CONNECT a blank and the peer's address in double quotes, or " Attempt
// Fail!!"; for DISCONNECT the peer's address. A line has to have that form
// from its first character to its last to be an event. Anything else is a
// value, whatever words it holds: an adapter named "CONNECTOR-7", a PIN or a
// service holding "DISCONNECT", an inquiry result for a device called
// "BT-CONNECT". The same rule serves the answer framer, the inquiry framer
// and the wait for a remote adapter's answer.
//
// Threading contract: pure functions.
#pragma once

#include <string_view>

#include "common/records.h"

namespace kx {

// An unsolicited event line taken apart: the keyword ("\r\nCONNECT" or
// "\r\nDISCONNECT") and the text that follows it on the line (for CONNECT
// without the blank that separates it from the keyword).
struct ConnectEvent {
  char keyword[kCommandSize] = {};
  char param[kResponseSize] = {};
};

// The line's text without its framing CR LF on either side. True when it is
// an event line; `event` (may be null) then holds it.
bool parseEventLine(std::string_view text, ConnectEvent* event);

// The text of a received line: `line` without the CR LF (or lone CR or LF)
// that frames it before and after.
std::string_view lineText(std::string_view line);

// True while `bytes`, the start of a line as received (its opening CR LF
// included), may still become an event line: the wait for a remote adapter's
// answer holds such bytes back until the line shows what it is.
bool mayBeEventLineStart(std::string_view bytes);

}  // namespace kx
