#include "atcmd/response_framer.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "common/debug_log.h"
#include "common/text.h"

namespace kx {
namespace {

constexpr int kAnswerLineCapacity = kResponseSize - 1;  // bytes kept, NUL after them

constexpr std::string_view kOkLine = "\r\nOK\r\n";
constexpr std::string_view kErrorLine = "\r\nERROR\r\n";

void clearFields(AtCommandRecord& rec) {
  std::memset(rec.response, 0, sizeof rec.response);
  std::memset(rec.param, 0, sizeof rec.param);
  rec.rxState = 0;
  rec.responseComplete = 0;
  rec.firstByteSeen = 0;
  rec.rxIndex = 0;
}

bool valueLineCompletes(const AtCommandRecord& rec, const FramingContext& ctx) {
  if (rec.command[0] == '\0') return false;  // nothing pending: nobody to answer
  if (ctx.pairState == DEV2_INITIALISED && ctx.dev2CmdResponse == 1) return false;
  const std::string_view param = fieldView(rec.param);
  if ((ctx.pairState == PAIRING_STARTED || ctx.pairState == DEV1_UNBONDED) &&
      param == "\r\nRESP-\r\n")
    return true;
  return ctx.cmdResponse == 0 && param != "\r\nRESP+\r\n";
}

// The cases in which an adapter with responses off still sends a full answer,
// so the two-byte completion must not fire. Logged once per answer.
bool fullAnswerExpected(const AtCommandRecord& rec, const FramingContext& ctx, bool log) {
  const std::string_view command = fieldView(rec.command);
  const bool respOn = command == "AT+RESP+\r";
  if (ctx.pairState == DEV2_INITIALISED && respOn) {
    if (log)
      debugLog(
          "ATCOMMAND: pair.state = DEV2_INITIALISED.Going from RESP- to RESP+ . Will get a "
          "response here");
    return true;
  }
  if (ctx.pairState == DEV2_UNPAIRING && respOn) {
    if (log)
      debugLog(
          "ATCOMMAND: pair.state = DEV2_UNPAIRING.Going from RESP- to RESP+ . Will get a "
          "response here");
    return true;
  }
  if (ctx.cmdResponse == 0 && respOn) {
    if (log) debugLog("ATCOMMAND: Going from RESP- to RESP+ . Will get a response here");
    return true;
  }
  if (ctx.cmdResponse == 0 &&
      (equalsIgnoreCase(command, "+++") || equalsIgnoreCase(command, "AT+AUTO\r"))) {
    if (log)
      debugLog("ATCOMMAND: %s received while response is disabled. Will get a response here",
               escapeBytes(command).c_str());
    return true;
  }
  return false;
}

bool completesAfterTwoBytes(const AtCommandRecord& rec, const FramingContext& ctx) {
  if (rec.command[0] == '\0') return false;
  if ((ctx.pairState == DEV2_INITIALISED || ctx.pairState == DEV2_UNPAIRING) &&
      ctx.dev2CmdResponse == 1)
    return false;
  return fieldView(rec.command) == "AT+RESP-\r" || (ctx.cmdResponse == 0 && rec.expectsData == 0);
}

FrameResult endOfLine(AtCommandRecord& rec, bool cut, const FramingContext& ctx,
                      ConnectEvent* event) {
  const std::string_view line(rec.response, static_cast<std::size_t>(rec.rxIndex));
  if (!cut) {
    if (line == kErrorLine || line == kOkLine) {
      rec.responseComplete = 1;
      return FrameResult::Complete;
    }
    // An event only by its whole form: a value holding the word (a name
    // such as "CONNECTOR-7") is still a value.
    ConnectEvent parsed;
    if (parseEventLine(lineText(line), &parsed)) {
      if (event) *event = parsed;
      clearFields(rec);
      return FrameResult::Event;
    }
  }
  // A value line: keep it as param and start the next line with this line's
  // closing CR LF, which also opens a final line that follows directly.
  std::memcpy(rec.param, rec.response, sizeof rec.param);
  rec.param[kAnswerLineCapacity] = '\0';
  std::memset(rec.response, 0, sizeof rec.response);
  rec.response[0] = '\r';
  rec.response[1] = '\n';
  rec.rxIndex = 2;
  if (valueLineCompletes(rec, ctx)) {
    rec.responseComplete = 1;
    return FrameResult::Complete;
  }
  return FrameResult::None;
}

}  // namespace

FramingContext currentFramingContext() {
  FramingContext ctx;
  ctx.cmdResponse = localDev.cmdResponse.load();
  ctx.pairState = pair.state.load();
  ctx.dev2CmdResponse = pair.dev2CmdResponse.load();
  return ctx;
}

void resetFraming(AtCommandRecord& rec) { clearFields(rec); }

FrameResult feedResponseByte(AtCommandRecord& rec, uint8_t byte, const FramingContext& ctx,
                             ConnectEvent* event) {
  if (rec.rxState == 0) {
    // A lone LF is the tail of a line that ended before this command went
    // out (an event's CR LF split across reads); an echoed command never
    // starts with one, so it is neither the answer nor an echo.
    if (rec.firstByteSeen == 0 && byte == '\n') return FrameResult::None;
    if (rec.firstByteSeen == 0) {
      rec.firstByteSeen = 1;
      if (byte != '\r') return FrameResult::None;
      rec.rxState = 2;  // this CR is the answer's first byte: collect it below
    } else {
      // Skipping an echoed command: the answer starts after its CR.
      if (byte == '\r') {
        rec.rxState = 2;
        rec.responseComplete = 0;
        rec.rxIndex = 0;
      }
      return FrameResult::None;
    }
  }
  if (rec.rxState != 2) {
    debugLog("ATCOMMAND: %s, unknown state %d", "processCmdResponse", rec.rxState);
    return FrameResult::None;
  }
  if (rec.rxIndex < 0 || rec.rxIndex > kAnswerLineCapacity) rec.rxIndex = kAnswerLineCapacity;

  const bool stored = rec.rxIndex < kAnswerLineCapacity;
  if (stored) {
    rec.response[rec.rxIndex++] = static_cast<char>(byte);
    rec.response[rec.rxIndex] = '\0';
  } else if (byte != '\n') {
    return FrameResult::None;  // beyond the capacity: dropped up to the line's end
  }

  if (byte == '\n' && rec.rxIndex > 2) return endOfLine(rec, !stored, ctx, event);

  if (rec.rxIndex == 2 && !fullAnswerExpected(rec, ctx, true) && completesAfterTwoBytes(rec, ctx)) {
    // Responses off: the CR LF alone answers the command.
    rec.response[2] = '\0';
    rec.responseComplete = 1;
    return FrameResult::Complete;
  }
  return FrameResult::None;
}

}  // namespace kx
