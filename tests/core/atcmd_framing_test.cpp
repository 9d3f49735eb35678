// Canned adapter transcripts fed to the receive path whole, one byte at a
// time and split in two at every position: all three must give the same
// record, the same hand-off and the same events.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "support/engine_fixture.h"

namespace kx {
namespace {

using test::RecordView;

struct Transcript {
  const char* name;
  const char* command;  // pending command; "" for none
  int32_t cmdResponse;
  std::string bytes;
  int complete;          // expected responseComplete
  std::string response;  // expected, when complete
  std::string param;
  std::string peerAddress = {};  // expected after a connect event
};

std::string repeat(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

const std::vector<Transcript>& transcripts() {
  static const std::vector<Transcript> rows = {
      {"PlainOk", "AT+NAME=abc\r", 1, "\r\nOK\r\n", 1, "\r\nOK\r\n", ""},
      {"PlainError", "AT+NAME=abc\r", 1, "\r\nERROR\r\n", 1, "\r\nERROR\r\n", ""},
      {"EchoOn", "AT+STOP?\r", 1, "AT+STOP?\r\r\nSTOP1\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nSTOP1\r\n"},
      {"ValueThenOk", "AT+NAME?\r", 1, "\r\nKX627\r\nOK\r\n", 1, "\r\nOK\r\n", "\r\nKX627\r\n"},
      // The LF that closed an earlier line, arriving after the command went
      // out, is no echo: the answer is framed as usual.
      {"StrayLineFeedFirst", "AT+NAME?\r", 1, "\n\r\nKX627\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nKX627\r\n"},
      {"SeparatelyFramedOk", "AT+STOP?\r", 1, "\r\nSTOP1\r\n\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\n\r\n"},
      {"ValueLineAloneWithResponsesOn", "AT+STOP?\r", 1, "\r\nSTOP1\r\n", 0, "", ""},
      {"ResponsesOffSet", "AT+NAME=abc\r", 0, "\r\n", 1, "\r\n", ""},
      {"ResponsesOffQuery", "AT+NAME?\r", 0, "\r\nabc\r\n", 1, "\r\n", "\r\nabc\r\n"},
      {"ResponsesOffRespPlus", "AT+RESP+\r", 0, "\r\nOK\r\n", 1, "\r\nOK\r\n", ""},
      {"RespMinusCompletesOnCrLf", "AT+RESP-\r", 1, "\r\n", 1, "\r\n", ""},
      {"EchoLikeGarbageSkipped", "AT+VER\r", 1, "xyz\r\r\nV1.2\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nV1.2\r\n"},
      // Capacity: a line longer than the field is cut, never an OK or event.
      {"OverlongLineIsNoOk", "AT+NAME?\r", 1, "\r\nOK" + repeat('x', 700) + "\r\n", 0, "", ""},
      {"OverlongValueThenOk", "AT+NAME?\r", 1, "\r\n" + repeat('v', 700) + "\r\nOK\r\n", 1,
       "\r\nOK\r\n", "\r\n" + repeat('v', 597)},
      {"OverlongConnectIsNoEvent", "", 1, "\r\nCONNECT \"" + repeat('1', 700) + "\"\r\n", 0, "",
       ""},
      // Unsolicited events with no command pending: handled, record cleared.
      {"ConnectIdle", "", 1, "\r\nCONNECT \"0001-02-030405\"\r\n", 0, "", "", "0001-02-030405"},
      {"DisconnectIdle", "", 1, "\r\nDISCONNECT 0001-02-030405\r\n", 0, "", ""},
      // Values that hold an event's word, or a final token, are values:
      // only a line of an event's whole form is an event.
      {"NameLikeConnect", "AT+NAME?\r", 1, "\r\nCONNECTOR-7\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nCONNECTOR-7\r\n"},
      {"NameLikeConnectWithAWord", "AT+NAME?\r", 1, "\r\nCONNECT ME\r\nOK\r\n", 1,
       "\r\nOK\r\n", "\r\nCONNECT ME\r\n"},
      {"PinDisconnect", "AT+PIN?\r", 1, "\r\nDISCONNECT\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nDISCONNECT\r\n"},
      {"ServiceHoldingTheWords", "AT+RSERVICE?\r", 1,
       "\r\nX DISCONNECT \"0001-02-030405\" OK ERROR\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nX DISCONNECT \"0001-02-030405\" OK ERROR\r\n"},
      {"ResponsesOffNameLikeConnect", "AT+NAME?\r", 0, "\r\nCONNECTOR-7\r\n", 1, "\r\n",
       "\r\nCONNECTOR-7\r\n"},
      {"InquiryEndAsAName", "AT+NAME?\r", 1, "\r\nInquiry End\r\nOK\r\n", 1, "\r\nOK\r\n",
       "\r\nInquiry End\r\n"},
      // An event while a value is awaited is still the event; the answer
      // that follows completes the command.
      {"ConnectWhileAValueIsAwaited", "AT+NAME?\r", 1,
       "\r\nCONNECT \"0001-02-030405\"\r\n\r\nKX\r\nOK\r\n", 1, "\r\nOK\r\n", "\r\nKX\r\n",
       "0001-02-030405"},
      {"ConnectAttemptFailIdle", "", 1, "\r\nCONNECT  Attempt Fail!!\r\n", 0, "", ""},
  };
  return rows;
}

struct Outcome {
  RecordView record;
  bool eventSet = false;
  int32_t connected = 0;
  std::string peerAddress;
  std::vector<std::string> status;
  std::size_t boxes = 0;
  bool operator==(const Outcome&) const = default;
};

class Framing : public test::EngineTest {
 protected:
  void pend(const Transcript& t) {
    SetUp();
    localDev.cmdResponse = t.cmdResponse;
    window.clear();
    std::lock_guard lock(atCommandMutex);
    clearAtCommand();
    copyField(atCommand.command, t.command);
    atCommand.expectsData = commandExpectsData(t.command);
    atCommandEvent.reset();
  }
  Outcome outcome() {
    Outcome o;
    o.record = test::recordView();
    o.eventSet = atCommandEvent.isSet();
    o.connected = localDev.connected.load();
    {
      std::lock_guard lock(remoteMutex);
      o.peerAddress = std::string(fieldView(remote.peerAddress));
    }
    o.status = window.statusTexts();
    o.boxes = window.boxes().size();
    return o;
  }
  void feed(const std::string& bytes) {
    dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
  }
};

TEST_F(Framing, WholeBytewiseAndEverySplitAgree) {
  for (const Transcript& t : transcripts()) {
    SCOPED_TRACE(t.name);
    pend(t);
    feed(t.bytes);
    feed("");  // the link's empty chunks change nothing
    const Outcome whole = outcome();

    EXPECT_EQ(whole.record.responseComplete, t.complete);
    EXPECT_EQ(whole.eventSet, t.complete == 1);
    if (t.complete == 1) {
      EXPECT_EQ(whole.record.response, t.response);
      EXPECT_EQ(whole.record.param, t.param);
      EXPECT_EQ(whole.record.command, t.command);
    }
    EXPECT_LT(whole.record.rxIndex, kResponseSize);
    EXPECT_EQ(whole.peerAddress, t.peerAddress);

    pend(t);
    for (char c : t.bytes) feed(std::string(1, c));
    EXPECT_EQ(outcome(), whole) << "byte by byte";

    for (std::size_t at = 1; at < t.bytes.size(); ++at) {
      pend(t);
      feed(t.bytes.substr(0, at));
      feed(t.bytes.substr(at));
      const Outcome split = outcome();
      EXPECT_EQ(split, whole) << "split at " << at;
      if (!(split == whole)) break;
    }
  }
}

TEST_F(Framing, TwoByteCompletionWaitsForTheFullAnswerOfRespPlus) {
  Transcript t{"RespPlus", "AT+RESP+\r", 0, "", 0, "", ""};
  pend(t);
  feed("\r\n");
  EXPECT_EQ(test::recordView().responseComplete, 0);
  feed("OK\r\n");
  EXPECT_EQ(test::recordView().response, "\r\nOK\r\n");
  EXPECT_TRUE(atCommandEvent.isSet());
}

TEST_F(Framing, PairingRulesForValueLines) {
  struct Row {
    int32_t pairState, dev2CmdResponse, cmdResponse;
    const char* command;
    std::string bytes;
    int complete;
  } rows[] = {
      // Device 2 with responses on: the final line is awaited even with ours off.
      {DEV2_INITIALISED, 1, 0, "AT+NAME?\r", "\r\nDEV2\r\n", 0},
      {DEV2_INITIALISED, 1, 0, "AT+NAME?\r", "\r\nDEV2\r\nOK\r\n", 1},
      // Pairing start: "RESP-" completes even with responses on.
      {PAIRING_STARTED, 0, 1, "AT+RESP?\r", "\r\nRESP-\r\n", 1},
      {DEV1_UNBONDED, 0, 1, "AT+RESP?\r", "\r\nRESP-\r\n", 1},
      {PAIRING_STARTED, 0, 1, "AT+RESP?\r", "\r\nRESP+\r\n", 0},
      // Responses off, but RESP+ means a final line follows.
      {PAIR_IDLE, 0, 0, "AT+RESP?\r", "\r\nRESP+\r\n", 0},
      // Device 2 unpairing with responses on: no two-byte completion.
      {DEV2_UNPAIRING, 1, 0, "AT+BOND-\r", "\r\n", 0},
      {DEV2_INITIALISED, 0, 1, "AT+RESP+\r", "\r\n", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.command) + escapeBytes(r.bytes));
    Transcript t{"", r.command, r.cmdResponse, "", 0, "", ""};
    pend(t);
    pair.state = r.pairState;
    pair.dev2CmdResponse = r.dev2CmdResponse;
    feed(r.bytes);
    EXPECT_EQ(test::recordView().responseComplete, r.complete);
  }
  clearPair();
}

TEST_F(Framing, CompletedAnswerIsNotChangedByLaterBytes) {
  Transcript t{"", "AT+NAME?\r", 1, "", 0, "", ""};
  pend(t);
  feed("\r\nKX\r\nOK\r\n");
  const RecordView answered = test::recordView();
  ASSERT_EQ(answered.responseComplete, 1);
  // A second (late) answer and noise: the answer stays as it was.
  feed("\r\nOTHER\r\nOK\r\nnoise\r\n\r\nERROR\r\n");
  EXPECT_EQ(test::recordView(), answered);
  // An event after the answer is still recognised, and the answer survives.
  feed("\r\nDISCONNECT 0001-02-030405\r\n");
  EXPECT_EQ(window.count(NOTIFY_REMOTE_PAGE), 1);
  EXPECT_EQ(test::recordView(), answered);
}

}  // namespace
}  // namespace kx
