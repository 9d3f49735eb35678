// Fuzzes the inquiry output framer alone: bytes go one at a time into an
// inquiry record of its own, as the receive dispatcher feeds them during an
// inquiry, with no lock, thread or window. Byte 0 chooses the start:
//
//   bit 0     the first byte ends no line (as after the AT+FIND? answer:
//             the output's first CR opens the first result line)
//   bits 1-7  results already held (mod 11)
//
// After every byte: the line and the results stay within their capacity and
// terminated, at most 10 results are kept, and each finished line is what
// its whole text says, judged by the harness's own model of the lines: an
// event only when the line has an event's form from its first character; a
// device line (a result) whenever it carries a device's address, whatever
// its name holds ("BT-CONNECT", "Inquiry End"); the end line when it has no
// address and says "Inquiry End"; any other line a result (stored without
// its leading CR LF, or dropped when all 10 slots are in use). A line cut at
// the capacity is a result, never the end line or an event.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "atcmd/inquiry_framer.h"
#include "common/records.h"
#include "common/text.h"
#include "fuzz_support.h"

namespace {

using kx::fuzz::require;

constexpr int kLineCapacity = kx::kResponseSize - 1;

bool terminated(const char* field, std::size_t n) { return std::memchr(field, '\0', n) != nullptr; }

// Text up to the first NUL, as a field holding `bytes` would read.
std::string_view asField(std::string_view bytes) {
  const std::size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

kx::InquiryRecord* gRecord = nullptr;

void checkFeed(const kx::InquiryRecord& rec, uint8_t byte, bool skipped, int32_t countBefore,
               int32_t lenBefore, const std::string& lineBefore, const kx::InquiryFeed& feed,
               const kx::ConnectEvent& event) {
  const int32_t count = rec.count.load();
  KX_FUZZ_REQUIRE(count >= 0 && count <= kx::kMaxInquiryResults,
                  "count " + std::to_string(count) + " outside 0..10");
  KX_FUZZ_REQUIRE(rec.lineLen >= 0 && rec.lineLen <= kLineCapacity,
                  "lineLen " + std::to_string(rec.lineLen) + " outside the line");
  require(terminated(rec.line, sizeof rec.line), "line has no NUL");

  if (skipped || byte != '\r') {
    require(feed.line == kx::InquiryLine::None, "a line finished at a byte that is no line end");
    require(count == countBefore, "count changed inside a line");
    const int32_t expected = std::min(lenBefore + 1, kLineCapacity);
    KX_FUZZ_REQUIRE(rec.lineLen == expected, "lineLen " + std::to_string(rec.lineLen) +
                                                 ", expected " + std::to_string(expected));
    return;
  }

  require(feed.line != kx::InquiryLine::None, "a CR finished no line");
  require(rec.lineLen == 1 && rec.line[0] == '\r', "the next line does not start with the CR");
  const bool cut = lenBefore >= kLineCapacity;
  const std::string_view line(lineBefore);
  std::string_view text = line;
  if (text.rfind("\r\n", 0) == 0) text.remove_prefix(2);
  else if (!text.empty() && (text[0] == '\r' || text[0] == '\n')) text.remove_prefix(1);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  bool disconnect = false;
  const bool isEvent = !cut && kx::fuzz::modelIsEventLine(text, &disconnect);
  const bool end = !cut && !isEvent && !kx::fuzz::modelHasDeviceAddress(text) &&
                   text.find("Inquiry End") != std::string_view::npos;
  const bool room = countBefore < kx::kMaxInquiryResults;
  const auto shown = [&] { return kx::escapeBytes(line); };

  if (end) {
    KX_FUZZ_REQUIRE(feed.line == kx::InquiryLine::End,
                    "end line not taken for the end: " + shown());
    KX_FUZZ_REQUIRE(feed.stored == room && count == countBefore + (room ? 1 : 0),
                    "end line stored wrongly: " + shown());
  } else if (isEvent) {
    KX_FUZZ_REQUIRE(feed.line == kx::InquiryLine::Event,
                    "event line not taken for an event: " + shown());
    require(count == countBefore, "event line stored as a result");
    const std::string_view keyword = kx::fieldView(event.keyword);
    KX_FUZZ_REQUIRE(keyword == (disconnect ? "\r\nDISCONNECT" : "\r\nCONNECT"),
                    "event keyword " + kx::escapeBytes(keyword) + " for " + shown());
    require(terminated(event.param, sizeof event.param), "event param has no NUL");
  } else {
    KX_FUZZ_REQUIRE(
        feed.line == (room ? kx::InquiryLine::Result : kx::InquiryLine::ResultDropped),
        std::string(cut ? "cut " : "") + "result line taken for something else: " + shown());
    require(count == countBefore + (room ? 1 : 0), "result count wrong");
  }
  if (count == countBefore + 1) {
    const char* stored = rec.results[countBefore];
    require(terminated(stored, kx::kResponseSize), "result has no NUL");
    const std::string_view expected =
        asField(line.size() > 2 ? line.substr(2) : std::string_view());
    KX_FUZZ_REQUIRE(kx::fieldView(rec.results[countBefore]) == expected,
                    "result " + kx::escapeBytes(kx::fieldView(rec.results[countBefore])) +
                        " for line " + shown());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gRecord = new kx::InquiryRecord;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  kx::InquiryRecord& rec = *gRecord;
  rec.ticks = 0;
  rec.lineLen = 0;
  std::memset(rec.line, 0, sizeof rec.line);
  std::memset(rec.results, 0, sizeof rec.results);
  rec.skipNext = data[0] & 1;
  const int32_t held = (data[0] >> 1) % (kx::kMaxInquiryResults + 1);
  for (int32_t i = 0; i < held; ++i) kx::copyField(rec.results[i], "held");
  rec.count = held;

  std::string lineBefore;
  kx::ConnectEvent event;  // filled by the framer only on an event
  for (std::size_t at = 1; at < size; ++at) {
    const uint8_t byte = data[at];
    const bool skipped = rec.skipNext.load() == 1;
    const int32_t countBefore = rec.count.load();
    const int32_t lenBefore = rec.lineLen;
    if (!skipped && byte == '\r') lineBefore.assign(rec.line, static_cast<std::size_t>(lenBefore));
    const kx::InquiryFeed feed = kx::feedInquiryByte(rec, byte, &event);
    require(rec.skipNext.load() == 0, "skipNext still set after a byte");
    checkFeed(rec, byte, skipped, countBefore, lenBefore, lineBefore, feed, event);
  }
  for (int32_t i = 0; i < held; ++i)
    require(std::string_view(rec.results[i]) == "held", "a held result was overwritten");
  return 0;
}
