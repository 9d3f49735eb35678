#include "atcmd/inquiry_framer.h"

#include <cstring>
#include <string_view>

#include "common/address.h"
#include "common/debug_log.h"
#include "common/text.h"

namespace kx {
namespace {

constexpr int kInquiryLineCapacity = kResponseSize - 1;

// Stores the finished line (without its leading CR LF) as the next result.
bool storeResult(InquiryRecord& rec, std::string_view line) {
  const int32_t count = rec.count.load();
  if (count < 0 || count >= kMaxInquiryResults) return false;
  copyField(rec.results[count], line.size() > 2 ? line.substr(2) : std::string_view());
  rec.count = count + 1;
  return true;
}

}  // namespace

InquiryFeed feedInquiryByte(InquiryRecord& rec, uint8_t byte, ConnectEvent* event) {
  InquiryFeed out;
  if (rec.lineLen < 0 || rec.lineLen > kInquiryLineCapacity) rec.lineLen = kInquiryLineCapacity;

  if (rec.skipNext.load() == 1) {
    rec.skipNext = 0;
  } else if (byte == '\r') {
    const bool cut = rec.lineLen >= kInquiryLineCapacity;
    rec.line[rec.lineLen] = '\0';
    const std::string_view line(rec.line, static_cast<std::size_t>(rec.lineLen));
    const std::string shown = debugEnabled() ? escapeBytes(line) : std::string();
    // A line is an event only by its whole form, and a device line
    // whenever it carries a device's address, whatever its name says; the
    // closing line carries no address.
    const std::string_view text = lineText(line);
    if (!cut && parseEventLine(text, event)) {
      const bool disconnect = text.substr(0, 10) == "DISCONNECT";
      debugLog(disconnect
                   ? "ATCOMMAND: Got a disconnect request while inquiry is Active. Received %s"
                   : "ATCOMMAND: Got a connect request while inquiry is Active. Received %s",
               shown.c_str());
      out.line = InquiryLine::Event;
    } else if (!cut && !containsAdapterAddress(text) &&
               text.find("Inquiry End") != std::string_view::npos) {
      debugLog("ATCOMMAND: Inquiry Ended. Received %s", shown.c_str());
      out.line = InquiryLine::End;
      out.stored = storeResult(rec, line);
    } else {
      out.stored = storeResult(rec, line);
      out.line = out.stored ? InquiryLine::Result : InquiryLine::ResultDropped;
    }
    // The CR that ended this line opens the next one.
    std::memset(rec.line, 0, sizeof rec.line);
    rec.line[0] = '\r';
    rec.lineLen = 1;
    return out;
  }
  if (rec.lineLen < kInquiryLineCapacity) {
    rec.line[rec.lineLen++] = static_cast<char>(byte);
    rec.line[rec.lineLen] = '\0';
  }
  return out;
}

}  // namespace kx
