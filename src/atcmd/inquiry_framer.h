// The framing of inquiry output: lines that start with the CR ending the
// previous line, each a found device (any line that carries a device's
// address, whatever its name), the closing line (no address, "Inquiry End"
// in it), or a CONNECT or DISCONNECT event that ends the inquiry (by the
// event's whole form, event_line.h). Fed one byte at a time;
// stores result lines in the inquiry record and reports what each finished
// line was. Pure apart from log lines: the dispatcher posts notifications and
// handles events.
//
// Threading contract: the caller owns the record for the call (for the
// global `inquiry`: holds inquiryMutex).
#pragma once

#include <cstdint>

#include "atcmd/response_framer.h"
#include "common/records.h"

namespace kx {

enum class InquiryLine {
  None,           // byte stored, line not finished
  Result,         // a device line was stored as results[count - 1]
  ResultDropped,  // a device line arrived with all 10 result slots in use
  End,            // the "Inquiry End" line (stored like a result where a slot is free)
  Event,          // a CONNECT or DISCONNECT line, taken apart into *event
};

struct InquiryFeed {
  InquiryLine line = InquiryLine::None;
  bool stored = false;  // for End: the line was stored as a result too
};

// Feeds one byte. At most kResponseSize - 1 bytes of a line are kept (the
// rest is dropped); a line cut that way is stored as a result but never taken
// for the end line or an event. At most kMaxInquiryResults results are kept.
InquiryFeed feedInquiryByte(InquiryRecord& rec, uint8_t byte, ConnectEvent* event);

}  // namespace kx
