// Unsolicited CONNECT and DISCONNECT lines, with and without a command
// pending, and data-mode garbage from a remote device.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <random>
#include <string>

#include "atcmd/connect_event.h"
#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "link/remote_config.h"
#include "platform/clock.h"
#include "support/engine_fixture.h"

namespace kx {
namespace {

class Events : public test::EngineTest {
 protected:
  void feed(const std::string& bytes) {
    dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
  }
  std::string peerAddress() {
    std::lock_guard lock(remoteMutex);
    return std::string(fieldView(remote.peerAddress));
  }
};

struct EventRow {
  const char* name;
  std::string line;
  int32_t connectedBefore;
  int32_t connected, dataMode;
  const char* peerAddress;
  int indicatorPosts;  // 20005, 20008 and 20009 each
  const char* message;
};

TEST_F(Events, UnsolicitedLinesWithNoCommandPending) {
  const EventRow rows[] = {
      {"Connect", "\r\nCONNECT \"0001-02-030405\"\r\n", 0, 1, 1, "0001-02-030405", 1,
       "Local Device connected to remote device with address \"0001-02-030405\""},
      {"Disconnect", "\r\nDISCONNECT 0001-02-030405\r\n", 1, 0, 0, "", 1,
       "Local Device disconnected from remote device with address  0001-02-030405"},
      {"AttemptFail", "\r\nCONNECT  Attempt Fail!!\r\n", 0, 0, 0, "", 0,
       "Local Device failed to connect to remote device.  Attempt Fail!!"},
      {"AttemptFailOneBlank", "\r\nCONNECT Attempt Fail!!\r\n", 0, 0, 0, "", 0,
       "Local Device failed to connect to remote device. Attempt Fail!!"},
  };
  for (const EventRow& r : rows) {
    SCOPED_TRACE(r.name);
    SetUp();
    window.clear();
    localDev.connected = r.connectedBefore;
    localDev.dataMode = r.connectedBefore;
    {
      std::lock_guard lock(remoteMutex);
      copyField(remote.peerAddress, r.connectedBefore ? "0001-02-030405" : "");
      remote.handshakeState = r.connectedBefore ? HANDSHAKE_COMPLETE : HANDSHAKE_IDLE;
    }
    feed(r.line);
    EXPECT_EQ(localDev.connected.load(), r.connected);
    EXPECT_EQ(localDev.dataMode.load(), r.dataMode);
    EXPECT_EQ(peerAddress(), r.peerAddress);
    EXPECT_EQ(remote.handshakeState.load(), HANDSHAKE_IDLE);
    EXPECT_EQ(window.count(NOTIFY_REFRESH_INDICATORS), r.indicatorPosts);
    EXPECT_EQ(window.count(NOTIFY_CONNECTION_BUTTONS), r.indicatorPosts);
    EXPECT_EQ(window.count(NOTIFY_REMOTE_PAGE), r.indicatorPosts);
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_EQ(window.boxes()[0].text, r.message);
    EXPECT_EQ(window.statusTexts(), std::vector<std::string>{r.message});
    EXPECT_EQ(test::recordView(), test::RecordView{}) << "record cleared";
  }
}

// The read thread shows an event's box without waiting for it to be
// dismissed: a window that would block in messageBox() is never asked.
TEST_F(Events, EventBoxNeverHoldsReception) {
  struct BlockingBoxWindow : RecordingWindow {
    MsgResult messageBox(const std::string& text, const std::string&, MsgButtons,
                         MsgIcon) override {
      ADD_FAILURE() << "the read thread waited for a box: " << text;
      return MsgResult::Ok;
    }
  } blocking;
  mainWindowHandle = &blocking;
  feed("\r\nCONNECT \"0001-02-030405\"\r\n");
  mainWindowHandle = &window;
  ASSERT_EQ(blocking.boxes().size(), 1u);
  EXPECT_EQ(blocking.boxes()[0].text,
            "Local Device connected to remote device with address \"0001-02-030405\"");
}

// The remote adapter's answer and an event in the same read: the answer goes
// to the remote receiver, the event after it is handled as an event and not
// taken for a second answer.
TEST_F(Events, EventInTheReadThatCarriesTheRemoteAnswer) {
  installRemoteConfiguration();
  localDev.connected = 1;
  localDev.dataMode = 1;
  localDev.handshaked = 1;
  remote.handshakeState = HANDSHAKE_STARTED;
  feed("\xAA\xAA\r\nDISCONNECT 0001-02-030405\r\n");
  EXPECT_EQ(localDev.handshaked.load(), 0);
  EXPECT_EQ(localDev.connected.load(), 0);
  EXPECT_EQ(remote.handshakeState.load(), HANDSHAKE_IDLE);
  EXPECT_EQ(window.statusTexts(),
            (std::vector<std::string>{
                "Handshake Complete...",
                "Local Device disconnected from remote device with address  0001-02-030405"}));
}

// A DISCONNECT in place of the remote adapter's answer is the event, not
// an answer: the wait ends at once with the link's loss, whatever reads the
// line arrives in.
TEST_F(Events, DisconnectInPlaceOfTheRemoteAnswerEndsTheWait) {
  const std::string line = "\r\nDISCONNECT \"0001-02-030405\"\r\n";
  struct Wait {
    HandshakeState state;
    const char* status;
  };
  for (const Wait w : {Wait{HANDSHAKE_STARTED, "Handshake failed: the link to the remote device "
                                               "was lost."},
                       Wait{HANDSHAKE_COMPLETE, "Handshake command failed: the link to the remote "
                                                "device was lost."}}) {
    for (std::size_t split = 0; split < line.size(); ++split) {
      SCOPED_TRACE(testing::Message() << "state " << w.state << ", split at " << split);
      SetUp();
      window.clear();
      installRemoteConfiguration();
      localDev.connected = 1;
      localDev.dataMode = 1;
      localDev.handshaked = 1;
      remote.handshakeState = w.state;
      window.setTimer(TIMER_HANDSHAKE, 4000);
      const uint32_t outcomes = remoteOutcome().count;
      feed(line.substr(0, split));
      feed(line.substr(split));
      EXPECT_EQ(localDev.handshaked.load(), 0);
      EXPECT_EQ(localDev.connected.load(), 0);
      EXPECT_EQ(remote.handshakeState.load(), HANDSHAKE_IDLE);
      EXPECT_FALSE(window.timerArmed(TIMER_HANDSHAKE));
      EXPECT_EQ(remoteOutcome().count, outcomes + 1);
      EXPECT_EQ(remoteOutcome().last, RemoteOutcome::LinkLost);
      EXPECT_EQ(window.statusTexts(),
                (std::vector<std::string>{
                    w.status,
                    "Local Device disconnected from remote device with address  "
                    "\"0001-02-030405\""}));
    }
  }
}

TEST_F(Events, ParseConnectEventReadsTheRecord) {
  {
    std::lock_guard lock(atCommandMutex);
    copyField(atCommand.command, "\r\nCONNECT");
    copyField(atCommand.param, "\"0001-02-030405\"");
    copyField(atCommand.response, "\r\nOK\r\n");
    atCommand.showInStatus = 1;
  }
  EXPECT_EQ(parseConnectEvent(), 1);
  EXPECT_EQ(localDev.connected.load(), 1);
  EXPECT_EQ(window.statusTexts().front(),
            "Received Response OK \"0001-02-030405\" for command CONNECT");
  {
    std::lock_guard lock(atCommandMutex);
    copyField(atCommand.command, "NOTHING");
  }
  EXPECT_EQ(parseConnectEvent(), 0);
}

// An event in the middle of a pending command is handled as an event; the
// command stays pending: unanswered it is resent once and fails, answered
// after the event it completes with its own answer.
TEST_F(Events, EventInTheMiddleOfAPendingCommand) {
  openLink();
  startPeer([](const std::string& command, int nth) -> std::vector<test::Reply> {
    if (command == "AT+NAME?\r" && nth == 1) return {{0, "\r\nCONNECT \"0001-02-030405\"\r\n"}};
    if (command == "AT+ADDR?\r")
      return {{0, "\r\nCONNECT \"0001-02-030405\"\r\n"}, {20, "\r\n0001-02-0A0B0C\r\nOK\r\n"}};
    return {};
  });
  const long long start = monotonicMs();
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 150), 1);
  EXPECT_GE(monotonicMs() - start, 250);
  EXPECT_EQ(peer->commands(), (std::vector<std::string>{"AT+NAME?\r", "AT+NAME?\r"}));
  EXPECT_EQ(localDev.connected.load(), 1);
  EXPECT_EQ(window.count(NOTIFY_REMOTE_PAGE), 1);

  localDev.dataMode = 0;  // leave the prompts out of this case
  EXPECT_EQ(sendATCommand("AT+ADDR?\r", 0, 0, 1000), 0);
  const test::RecordView r = test::recordView();
  EXPECT_EQ(r.command, "AT+ADDR?\r");
  EXPECT_EQ(r.param, "\r\n0001-02-0A0B0C\r\n");
  EXPECT_EQ(r.response, "\r\nOK\r\n");
}

// In data mode a remote device can send anything. The parser must survive
// it, keep every field within its capacity and touch no other record.
TEST_F(Events, DataModeGarbageIsHarmless) {
  localDev.connected = 1;
  localDev.dataMode = 1;
  copyField(localDev.name, "KX627");
  {
    std::lock_guard lock(inquiryMutex);
    copyField(inquiry.results[0], "kept");
    inquiry.count = 1;
  }
  std::mt19937 rng(627);
  const std::string alphabet = "\r\n\"OKERCNTDIS +-?0123456789abc\x00\xff";
  for (int round = 0; round < 200; ++round) {
    std::string chunk;
    const int length = static_cast<int>(rng() % 200);
    for (int i = 0; i < length; ++i)
      chunk += rng() % 4 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
    feed(chunk);
    const test::RecordView r = test::recordView();
    ASSERT_LT(r.rxIndex, kResponseSize);
    ASSERT_LT(r.response.size(), static_cast<std::size_t>(kResponseSize));
    ASSERT_LT(r.param.size(), static_cast<std::size_t>(kResponseSize));
  }
  // A line far beyond the capacity, and one with a NUL in it.
  feed("\r\n" + std::string(5000, 'Z') + "\r\n");
  feed(std::string("\r\nOK\0\r\n", 7));
  EXPECT_LT(test::recordView().rxIndex, kResponseSize);
  EXPECT_STREQ(localDev.name, "KX627");
  std::lock_guard lock(inquiryMutex);
  EXPECT_EQ(inquiry.count.load(), 1);
  EXPECT_STREQ(inquiry.results[0], "kept");
  EXPECT_LE(std::strlen(remote.peerAddress), static_cast<std::size_t>(kAddressSize - 1));
}

}  // namespace
}  // namespace kx
