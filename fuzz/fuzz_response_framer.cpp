// Fuzzes the answer framer alone: bytes go one at a time into a record of its
// own, as the receive dispatcher feeds them, with no lock, thread or window.
// The first two bytes choose the state the bytes arrive in:
//
//   byte 0  bit 0     command responses on
//           bit 1     device 2's command responses on
//           bits 4-7  pairing state (mod 9)
//   byte 1  bits 0-3  pending command (see kPending; 0 = none)
//
// Once the pending answer is complete the rest goes to a second record with
// no command and the default context, and that one is cleared after each
// completed answer: the dispatcher's framing of what follows an answer.
//
// After every byte: the lines stay within their capacity and terminated, the
// pending command is never touched, an event leaves the framing fields
// cleared, a completed answer is a final line or two bytes long, an OK or
// ERROR line is exactly what arrived, a line cut at the capacity is no event,
// and with no command pending only OK, ERROR and events complete anything
// (neither a value line nor the two-byte answer of responses off). Events
// are told by their whole form alone (the harness's own model): an event
// comes only from a line that has the form from its first byte, so no word
// inside a value ("CONNECTOR-7") ever makes one, and a line of the form that
// starts at a fresh line is always one.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "atcmd/response_framer.h"
#include "atcmd/transmission.h"
#include "common/records.h"
#include "common/text.h"
#include "fuzz_support.h"

namespace {

using kx::fuzz::require;
namespace fuzz = kx::fuzz;

constexpr int kLineCapacity = kx::kResponseSize - 1;

constexpr const char* kPending[] = {"",           "AT\r",       "AT+NAME?\r", "AT+VER\r",
                                    "+++",        "AT+FIND?\r", "AT+FIND-\r", "AT+RESP-\r",
                                    "AT+RESP+\r", "AT+AUTO\r",  "at+auto\r",  "AT+NAME=KX\r",
                                    "AT+BOND-\r", "AT+RESP?\r", "AT+ENQ\r",   "AT+ADDR?\r"};

constexpr int32_t kPairStates[] = {kx::PAIR_IDLE,     kx::PAIRING_STARTED, kx::DEV2_INITIALISED,
                                   kx::DEV2_BONDED,   kx::DEV1_BONDED,     kx::UNPAIRING_STARTED,
                                   kx::DEV1_UNBONDED, kx::DEV2_UNPAIRING,  kx::DEV2_UNBONDED};

bool allZero(const char* field, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (field[i] != '\0') return false;
  return true;
}

bool terminated(const char* field, std::size_t n) { return std::memchr(field, '\0', n) != nullptr; }

struct Feeder {
  kx::AtCommandRecord rec;
  kx::FramingContext ctx;
  std::string command;  // as it must stay
  int32_t showInStatus = 0;
  int32_t expectsData = 0;
  kx::ConnectEvent event;  // filled by the framer only on an event
  // The line as fed: the bytes since the last LF, or since the CR at which
  // the framer started collecting; and whether it began at a fresh line.
  std::string lineFed;
  bool freshLine = false;

  void prepare(const char* pending, const kx::FramingContext& context) {
    kx::clearAtCommandRecord(rec);
    kx::copyField(rec.command, pending);
    showInStatus = pending[0] != '\0' ? 1 : 0;
    expectsData = kx::commandExpectsData(pending);
    rec.showInStatus = showInStatus;
    rec.expectsData = expectsData;
    command = pending;
    ctx = context;
    lineFed.clear();
    freshLine = false;
  }

  // Feeds data[at]; checks the framer's contract for this byte.
  kx::FrameResult feed(const uint8_t* data, std::size_t at) {
    const uint8_t byte = data[at];
    const int32_t indexBefore = rec.rxIndex;
    const int32_t stateBefore = rec.rxState;
    const kx::FrameResult result = kx::feedResponseByte(rec, byte, ctx, &event);
    checkEventRule(byte, indexBefore, result);
    if (byte == '\n' || (stateBefore == 0 && rec.rxState == 2)) {
      lineFed.clear();
      // A fresh line: the framer holds just the CR LF that opens it.
      freshLine = byte == '\n' && rec.rxState == 2 && rec.rxIndex == 2 &&
                  rec.responseComplete == 0 && rec.response[0] == '\r' && rec.response[1] == '\n';
    } else {
      lineFed += static_cast<char>(byte);
    }

    KX_FUZZ_REQUIRE(rec.rxIndex >= 0 && rec.rxIndex <= kLineCapacity,
                    "rxIndex " + std::to_string(rec.rxIndex) + " outside the line");
    require(terminated(rec.response, sizeof rec.response), "response has no NUL");
    require(terminated(rec.param, sizeof rec.param), "param has no NUL");
    require(std::string_view(rec.command, kx::fieldLength(rec.command)) == command,
            "the framer changed the pending command");
    require(rec.showInStatus == showInStatus && rec.expectsData == expectsData,
            "the framer changed the command's flags");

    switch (result) {
      case kx::FrameResult::None:
        require(rec.responseComplete == 0, "responseComplete set without a completion");
        break;
      case kx::FrameResult::Event: {
        require(byte == '\n', "event before the line's LF");
        require(indexBefore < kLineCapacity, "a line cut at the capacity was taken for an event");
        require(rec.rxState == 0 && rec.rxIndex == 0 && rec.firstByteSeen == 0 &&
                    rec.responseComplete == 0 && allZero(rec.response, sizeof rec.response) &&
                    allZero(rec.param, sizeof rec.param),
                "framing fields not cleared after an event");
        const std::string_view keyword = kx::fieldView(event.keyword);
        KX_FUZZ_REQUIRE(keyword == "\r\nCONNECT" || keyword == "\r\nDISCONNECT",
                        "event keyword " + kx::escapeBytes(keyword));
        require(terminated(event.param, sizeof event.param), "event param has no NUL");
        break;
      }
      case kx::FrameResult::Complete: {
        require(rec.responseComplete == 1, "completed without responseComplete");
        const std::string_view response = kx::fieldView(rec.response);
        if (response == "\r\nOK\r\n" || response == "\r\nERROR\r\n") {
          // The whole final line arrived just now, uncut: its text and LF
          // directly after the previous line's LF (or the answer's CR LF).
          const std::string_view text = response == "\r\nOK\r\n" ? "OK\r\n" : "ERROR\r\n";
          const std::string_view fed(reinterpret_cast<const char*>(data) + 2, at - 1);
          KX_FUZZ_REQUIRE(fed.size() > text.size() &&
                              fed.substr(fed.size() - text.size()) == text &&
                              fed[fed.size() - text.size() - 1] == '\n',
                          "final line " + kx::escapeBytes(response) + " completed by other bytes");
        } else {
          // A value line (the next line opened with its CR LF) or the first
          // two bytes of an answer with responses off: only for a command.
          KX_FUZZ_REQUIRE(rec.rxIndex == 2, "completed with response " + kx::escapeBytes(response));
          require(!command.empty(), "a value line or two bytes completed with no command pending");
        }
        break;
      }
    }
    return result;
  }

  // The event rule, judged on the line as fed (before this LF).
  void checkEventRule(uint8_t byte, int32_t indexBefore, kx::FrameResult result) {
    if (byte != '\n') return;
    // The line's text, without the CR before this LF; an event may also
    // follow a lone CR or LF that opened the line (framing, as after an
    // echo's CR).
    std::string_view text(lineFed);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    std::string_view opened = text;
    if (!opened.empty() && (opened.front() == '\r' || opened.front() == '\n'))
      opened.remove_prefix(1);
    bool disconnect = false;
    const bool form = fuzz::modelIsEventLine(opened, &disconnect);
    if (result == kx::FrameResult::Event) {
      KX_FUZZ_REQUIRE(form, "an event from a line that is no event: " + kx::escapeBytes(lineFed));
      const std::string_view keyword = kx::fieldView(event.keyword);
      KX_FUZZ_REQUIRE(keyword == (disconnect ? "\r\nDISCONNECT" : "\r\nCONNECT"),
                      "event keyword " + kx::escapeBytes(keyword) + " for " +
                          kx::escapeBytes(lineFed));
    } else if (freshLine && indexBefore + 1 < kLineCapacity && fuzz::modelIsEventLine(text)) {
      KX_FUZZ_REQUIRE(false, "an event line was not taken for one: " + kx::escapeBytes(lineFed));
    }
  }
};

Feeder* gPending = nullptr;
Feeder* gTrailing = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gPending = new Feeder;
  gTrailing = new Feeder;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  kx::FramingContext ctx;
  ctx.cmdResponse = data[0] & 1;
  ctx.dev2CmdResponse = (data[0] >> 1) & 1;
  ctx.pairState = kPairStates[(data[0] >> 4) % 9];
  gPending->prepare(kPending[data[1] & 15], ctx);
  gTrailing->prepare("", kx::FramingContext{});

  bool complete = false;
  for (std::size_t at = 2; at < size; ++at) {
    if (!complete) {
      complete = gPending->feed(data, at) == kx::FrameResult::Complete;
    } else if (gTrailing->feed(data, at) == kx::FrameResult::Complete) {
      gTrailing->prepare("", kx::FramingContext{});
    }
  }
  return 0;
}
