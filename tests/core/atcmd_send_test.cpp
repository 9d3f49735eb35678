// Sending over the serial link to a scripted adapter: blocking sends with the
// resend, late answers, refusals, the timer-driven "AT+ENQ\r", the
// old-firmware probe, the escape prompts in data mode and remote data.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/clock.h"
#include "support/engine_fixture.h"

namespace kx {
namespace {

using test::Reply;

std::vector<Reply> okTo(const std::string&, int) { return {{0, "\r\nOK\r\n"}}; }

class Send : public test::EngineTest {};

// ---------------------------------------------------------------- blocking

TEST_F(Send, AnswerReachesTheSender) {
  openLink();
  startPeer([](const std::string& c, int) -> std::vector<Reply> {
    if (c == "AT+NAME?\r") return {{0, "\r\nKX627\r\n"}, {5, "OK\r\n"}};
    return {{0, "\r\nOK\r\n"}};
  });
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 1, 0, 1000), 0);
  const test::RecordView r = test::recordView();
  EXPECT_EQ(r.command, "AT+NAME?\r");
  EXPECT_EQ(r.param, "\r\nKX627\r\n");
  EXPECT_EQ(r.response, "\r\nOK\r\n");
  EXPECT_EQ(r.showInStatus, 1);
  ASSERT_FALSE(window.notifications().empty());
  EXPECT_EQ(window.notifications()[0].text, "Sending command AT+NAME?");
  EXPECT_TRUE(window.notifications()[0].sent);

  // The record is cleared before the next command.
  EXPECT_EQ(sendATCommand("AT+NAME=abc\r", 0, 0, 1000), 0);
  EXPECT_EQ(test::recordView().param, "");
  EXPECT_EQ(test::recordView().showInStatus, 0);
}

TEST_F(Send, RefusedCommandsWriteNothing) {
  openLink();
  startPeer(okTo);
  EXPECT_EQ(sendATCommand("", 0, 0, 1000), 1);
  EXPECT_EQ(sendATCommand(nullptr, 0, 0, 1000), 1);
  const std::string thirty = "AT+NAME=" + std::string(21, 'n') + "\r";  // 30 characters
  ASSERT_EQ(thirty.size(), 30u);
  EXPECT_EQ(sendATCommand(thirty.c_str(), 1, 0, 1000), 1);
  EXPECT_EQ(port->takeWritten(), "");
  EXPECT_TRUE(window.notifications().empty());
  const std::string twentyNine = thirty.substr(1);
  EXPECT_EQ(sendATCommand(twentyNine.c_str(), 0, 0, 1000), 0);
  EXPECT_EQ(port->takeWritten(), twentyNine);
}

TEST_F(Send, ExpectsDataByCommandForm) {
  const struct {
    const char* command;
    int32_t expects;
  } rows[] = {{"AT+NAME?\r", 1},    {"AT+FIND?\r", 0}, {"AT+VER\r", 1},     {"at+ver\r", 1},
              {"AT+NAME=abc\r", 0}, {"+++", 1},        {"AT+FIND-\r", 1},   {"at+find-\r", 1},
              {"AT+BAUD?\r", 1},    {"AT+RESP-\r", 0}, {"AT+NAME=a?b\r", 1}};
  for (const auto& r : rows) EXPECT_EQ(commandExpectsData(r.command), r.expects) << r.command;

  openLink();
  startPeer(okTo);
  ASSERT_EQ(sendATCommand("AT+BOND?\r", 0, 0, 1000), 0);
  EXPECT_EQ(test::recordView().expectsData, 1);
  ASSERT_EQ(sendATCommand("AT+FIND?\r", 0, 0, 1000), 0);
  EXPECT_EQ(test::recordView().expectsData, 0);
}

TEST_F(Send, UnansweredCommandIsWrittenTwiceThenFails) {
  openLink();
  startPeer(nullptr);
  constexpr int kTimeout = 150;
  const long long start = monotonicMs();
  EXPECT_EQ(sendATCommand("AT+VER\r", 0, 0, kTimeout), 1);
  const long long took = monotonicMs() - start;
  EXPECT_EQ(peer->commands(), (std::vector<std::string>{"AT+VER\r", "AT+VER\r"}));
  EXPECT_GE(took, 2 * kTimeout - 20);
  EXPECT_LT(took, 2 * kTimeout + 1500);
}

TEST_F(Send, LateAnswerBelongsToItsOwnCommand) {
  openLink();
  constexpr int kTimeout = 150;
  // The first transmission is answered only after the resend went out; the
  // resend's answer follows. The next command's answer must be its own.
  startPeer([](const std::string& c, int nth) -> std::vector<Reply> {
    if (c == "AT+NAME?\r" && nth == 1) return {{200, "\r\nFIRST\r\nOK\r\n"}};
    if (c == "AT+NAME?\r" && nth == 2) return {{120, "\r\nSECOND\r\nOK\r\n"}};
    if (c == "AT+ADDR?\r") return {{0, "\r\n0001-02-030405\r\nOK\r\n"}};
    return {};
  });
  ASSERT_EQ(sendATCommand("AT+NAME?\r", 0, 0, kTimeout), 0);
  EXPECT_EQ(test::recordView().param, "\r\nFIRST\r\n");
  EXPECT_EQ(peer->commands().size(), 2u);

  ASSERT_EQ(sendATCommand("AT+ADDR?\r", 0, 0, kTimeout), 0);
  const test::RecordView r = test::recordView();
  EXPECT_EQ(r.command, "AT+ADDR?\r");
  EXPECT_EQ(r.param, "\r\n0001-02-030405\r\n");
  EXPECT_EQ(peer->commands().back(), "AT+ADDR?\r");
  EXPECT_EQ(peer->commands().size(), 3u) << "answered at the first transmission";
}

TEST_F(Send, ManyAnswersInARowArriveWithoutDelay) {
  openLink();
  startPeer([](const std::string&, int) -> std::vector<Reply> { return {{0, "\r\nV\r\nOK\r\n"}}; });
  const long long start = monotonicMs();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(sendATCommand("AT+VER\r", 0, 0, 1000), 0);
  // No fixed delay on the receive path: 50 exchanges take far less than one
  // time-out each.
  EXPECT_LT(monotonicMs() - start, 50 * 200);
}

// ---------------------------------------------------------------- timer-driven

int32_t gApplied = 0;
std::string gAppliedResponse, gAppliedParam, gAppliedCommand;
int32_t captureApply() {
  // A chunk that arrives after the timer fired, before the answer is applied,
  // must not join the collected answer.
  const std::string late = "\r\nLATE\r\n";
  dispatchReceivedData(reinterpret_cast<const uint8_t*>(late.data()),
                       static_cast<uint32_t>(late.size()));
  std::lock_guard lock(atCommandMutex);
  ++gApplied;
  gAppliedResponse = std::string(fieldView(atCommand.response));
  gAppliedParam = std::string(fieldView(atCommand.param));
  gAppliedCommand = std::string(fieldView(atCommand.command));
  return 1;
}

void fireCommandTimer(RecordingWindow& window) {
  // What the main window does when timer 275 fires.
  window.killTimer(TIMER_AT_COMMAND);
  completeTimerCommand();
}

TEST_F(Send, TimerDrivenEnquiry) {
  openLink();
  startPeer([](const std::string& c, int) -> std::vector<Reply> {
    if (c == "AT+ENQ\r") return {{0, "AT+ENQ\r\r\nOK\r\n"}};
    return {{0, "\r\nOK\r\n"}};
  });
  gApplied = 0;
  applyResponseHook = captureApply;
  localDev.baudCode = 11;
  ASSERT_EQ(sendATCommand("AT+ENQ\r", 1, 1, 1000), 0);
  EXPECT_EQ(window.timerPeriod(TIMER_AT_COMMAND), 3000);
  ASSERT_TRUE(waitUntil([] { return test::recordView().rxIndex == 13; }));
  EXPECT_EQ(test::recordView().responseComplete, 0) << "collected, not parsed";

  // Meanwhile every other send is refused and writes nothing.
  port->takeWritten();
  EXPECT_EQ(sendATCommand("AT+VER\r", 0, 0, 1000), 7);
  EXPECT_EQ(sendATCommand("at+enq\r", 0, 0, 1000), 7);
  EXPECT_EQ(port->takeWritten(), "");

  fireCommandTimer(window);
  EXPECT_EQ(gApplied, 1);
  EXPECT_EQ(gAppliedCommand, "AT+ENQ\r");
  EXPECT_EQ(gAppliedResponse, "\r\n");
  EXPECT_EQ(gAppliedParam, "OK\r\n");
  EXPECT_EQ(test::recordView(), test::RecordView{}) << "record cleared";
  EXPECT_EQ(sendATCommand("AT+VER\r", 0, 0, 1000), 0);
}

TEST_F(Send, TimerPeriodByBaudCode) {
  const struct {
    int32_t code;
    int period;
  } rows[] = {{10, 5000}, {11, 3000}, {12, 2000}, {13, 1000}, {20, 1000}, {0, 1000}};
  openLink();
  for (const auto& r : rows) {
    localDev.baudCode = r.code;
    window.clear();
    resetCommandEngine();
    ASSERT_EQ(sendATCommand("AT+ENQ\r", 0, 1, 1000), 0);
    EXPECT_EQ(window.timerPeriod(TIMER_AT_COMMAND), r.period) << r.code;
  }
}

TEST_F(Send, TimerDrivenWithNothingReceived) {
  openLink();
  gApplied = 0;
  applyResponseHook = captureApply;
  ASSERT_EQ(sendATCommand("AT+ENQ\r", 0, 1, 1000), 0);
  fireCommandTimer(window);
  EXPECT_EQ(gApplied, 0);
  EXPECT_EQ(window.statusTexts(), std::vector<std::string>{"Failed to send AT+ENQ command"});
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].text, "Failed to send AT+ENQ command");
  EXPECT_EQ(test::recordView().command, "AT+ENQ\r") << "left for the user to see";
}

TEST_F(Send, TimerDrivenCollectionStaysWithinTheField) {
  openLink();
  ASSERT_EQ(sendATCommand("AT+ENQ\r", 0, 1, 1000), 0);
  port->feed(std::string(1500, 'e'));
  ASSERT_TRUE(waitUntil([] { return test::recordView().rxIndex == kResponseSize - 1; }));
  port->feed("more");
  port->feed("");
  EXPECT_EQ(test::recordView().rxIndex, kResponseSize - 1);
}

// ---------------------------------------------------------------- old firmware

TEST_F(Send, OldFirmwareProbeIsWrittenByteByByte) {
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered ? "answered" : "silent");
    SetUp();
    openLink();
    setClockScale(0.2);
    startPeer([answered](const std::string& c, int) -> std::vector<Reply> {
      if (answered && c == "ATI0\r") return {{0, "\r\nKX627 V1\r\nOK\r\n"}};
      return {};
    });
    {
      // A completed answer left from before must not count for the probe.
      std::lock_guard lock(atCommandMutex);
      atCommand.responseComplete = 1;
    }
    EXPECT_EQ(sendOldFirmwareCommand(), answered ? 0 : 1);
    const auto writes = peer->writes();
    ASSERT_EQ(writes.size(), 5u);
    for (const auto& w : writes) EXPECT_EQ(w.second, 1u);
    EXPECT_GE(writes.back().first - writes.front().first, 4 * 20 - 5);
    EXPECT_EQ(peer->commands(), std::vector<std::string>{"ATI0\r"});
    EXPECT_EQ(test::recordView().expectsData, 1);
    TearDown();
  }
}

// ---------------------------------------------------------------- data mode

TEST_F(Send, EscapeOffPromptsYesNo) {
  openLink();
  startPeer(okTo);
  localDev.dataMode = 1;
  localDev.escapeMode = 0;
  window.queueAnswer(MsgResult::No);
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 200), 1);
  EXPECT_EQ(port->takeWritten(), "");
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(window.boxes()[0].text,
            "Local Device connected and escape mode is disabled. Command will fail. Power reset "
            "adapter to disconnect.  Do you still want to send command?");

  window.queueAnswer(MsgResult::Yes);
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 200), 0);
  EXPECT_EQ(port->takeWritten(), "AT+NAME?\r");
}

TEST_F(Send, EscapeOnCancelSendsNothingAndReportsNoAnswer) {
  openLink();
  startPeer(okTo);
  localDev.dataMode = 1;
  localDev.escapeMode = 1;
  {
    // Whatever the record still holds must not look like an answer.
    std::lock_guard lock(atCommandMutex);
    copyField(atCommand.command, "AT+OLD\r");
    copyField(atCommand.response, "\r\nOK\r\n");
    atCommand.responseComplete = 1;
  }
  window.queueAnswer(MsgResult::Cancel);
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 200), 1);
  EXPECT_EQ(port->takeWritten(), "");
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(window.boxes()[0].text,
            "Local Device is in datamode. Do you want to Send Escape Sequence before sending the "
            "command");
}

TEST_F(Send, EscapeOnOkSendsEscapeFirst) {
  openLink();
  setClockScale(0.05);
  startPeer(okTo);
  localDev.dataMode = 1;
  localDev.escapeMode = 1;
  // The main window applies the escape's answer: OK leaves data mode.
  window.handler = [](const RecordingWindow::Notification& n) {
    if (n.id == NOTIFY_COMMAND_RESPONSE) {
      std::lock_guard lock(atCommandMutex);
      if (std::string(fieldView(atCommand.response)) == "\r\nOK\r\n") localDev.dataMode = 0;
    }
  };
  window.queueAnswer(MsgResult::Ok);
  const long long start = monotonicMs();
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 500), 0);
  EXPECT_GE(monotonicMs() - start, 1000 * 0.05 - 5);
  EXPECT_EQ(peer->commands(), (std::vector<std::string>{"+++", "AT+NAME?\r"}));
  EXPECT_EQ(window.count(NOTIFY_COMMAND_RESPONSE), 1);
  EXPECT_EQ(test::recordView().command, "AT+NAME?\r");
}

TEST_F(Send, EscapeNotAcceptedFailsWithoutSendingTheCommand) {
  openLink();
  setClockScale(0.05);
  startPeer([](const std::string&, int) -> std::vector<Reply> { return {{0, "\r\nERROR\r\n"}}; });
  localDev.dataMode = 1;
  localDev.escapeMode = 1;
  window.queueAnswer(MsgResult::Ok);
  EXPECT_EQ(sendATCommand("AT+NAME?\r", 0, 0, 300), 1);
  EXPECT_EQ(peer->commands(), std::vector<std::string>{"+++"});
  ASSERT_EQ(window.boxes().size(), 2u);
  EXPECT_EQ(window.boxes()[1].text, "ESCAPE Sequence failed.");
}

// ---------------------------------------------------------------- remote data

std::atomic<int> gRemoteBytes{0};
void countRemoteBytes(const uint8_t*, uint32_t count) { gRemoteBytes += static_cast<int>(count); }

TEST_F(Send, RemoteDataInDataMode) {
  openLink();
  localDev.dataMode = 1;
  localDev.connected = 1;
  const uint8_t handshake[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(sendRemoteData(handshake, 8), 0);
  EXPECT_EQ(port->takeWritten(), std::string(8, '\xAA'));
  EXPECT_EQ(window.timerPeriod(TIMER_HANDSHAKE), 4000);

  // The answer goes to the remote-access receiver while handshaked is 1.
  gRemoteBytes = 0;
  remoteAnswerReceiver = countRemoteBytes;
  localDev.handshaked = 1;
  port->feed("\xAA\xAA");
  ASSERT_TRUE(waitUntil([] { return gRemoteBytes.load() == 2; }));
  EXPECT_EQ(test::recordView().rxIndex, 0);
}

TEST_F(Send, RemoteDataOutsideDataMode) {
  openLink();
  startPeer(okTo);
  window.queueAnswer(MsgResult::Cancel);
  const uint8_t exitMsg[2] = {0x00, 0x80};
  EXPECT_EQ(sendRemoteData(exitMsg, 2), 1);
  EXPECT_EQ(port->takeWritten(), "");
  EXPECT_EQ(
      window.boxes()[0].text,
      "Local Device needs to be set to data mode before sending remote configuration command");

  // OK, but the adapter does not switch: nothing is sent.
  window.queueAnswer(MsgResult::Ok);
  EXPECT_EQ(sendRemoteData(exitMsg, 2), 1);
  EXPECT_EQ(peer->commands(), std::vector<std::string>{"AT+AUTO\r"});
  EXPECT_EQ(window.boxes().back().text, "Device failed to switched to Data Mode.");

  // OK, and applying the answer switches it: the data follows.
  window.handler = [](const RecordingWindow::Notification& n) {
    if (n.id == NOTIFY_COMMAND_RESPONSE) localDev.dataMode = 1;
  };
  window.queueAnswer(MsgResult::Ok);
  port->takeWritten();
  EXPECT_EQ(sendRemoteData(exitMsg, 2), 0);
  EXPECT_EQ(port->takeWritten(), std::string("AT+AUTO\r") + std::string("\x00\x80", 2));
}

}  // namespace
}  // namespace kx
