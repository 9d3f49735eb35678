// The adapter unplugged or refusing writes: a command in flight fails within
// its bound, the window is told once with the port's name, and the link can
// be closed and opened again on a port that works.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/clock.h"
#include "serial/uart.h"
#include "support/engine_fixture.h"
#include "support/pty_pair.h"

namespace kx::test {
namespace {

constexpr int kTimeoutMs = 400;
// Two transmissions of kTimeoutMs each, plus generous slack for a loaded machine.
constexpr long long kFailBoundMs = 2 * kTimeoutMs + 4000;

class FaultUnplug : public EngineTest {
 protected:
  void openPty(PtyPair& pty) {
    copyField(uart.comPort, pty.slavePath());
    uart.baud = 19200;
    uart.stopBits = 1;
    uart.parity = PARITY_NONE_FLAG;
    uart.flow = 0;
    ASSERT_EQ(UartInit(), 0);
    window.clear();
  }
  std::vector<std::string> lostTexts() const {
    std::vector<std::string> texts;
    for (const auto& n : window.notifications())
      if (n.id == NOTIFY_DEVICE_LOST) texts.push_back(n.text);
    return texts;
  }
};

TEST_F(FaultUnplug, MasterClosedMidCommandFailsWithinBoundAndNamesThePort) {
  auto pty = std::make_unique<PtyPair>();
  openPty(*pty);
  const std::string portPath = pty->slavePath();

  const long long started = monotonicMs();
  auto sent = std::async(std::launch::async,
                         [] { return sendATCommand("AT+NAME?\r", 0, 0, kTimeoutMs); });
  // The adapter takes the command, starts answering, and is pulled out.
  EXPECT_EQ(pty->readAtLeast(9, 3000), "AT+NAME?\r");
  pty->write("\r\nKX6");
  pty->closeMaster();

  ASSERT_EQ(sent.wait_for(std::chrono::milliseconds(kFailBoundMs)), std::future_status::ready);
  EXPECT_EQ(sent.get(), 1);
  EXPECT_LT(monotonicMs() - started, kFailBoundMs);

  ASSERT_TRUE(window.waitFor([&] { return !lostTexts().empty(); }, 3000));
  EXPECT_TRUE(UartDeviceLost());
  const auto texts = lostTexts();
  ASSERT_EQ(texts.size(), 1u) << "told once, however many reads and writes fail";
  EXPECT_EQ(texts[0], deviceLostText(portPath));
  EXPECT_NE(texts[0].find(portPath), std::string::npos);

  // Further commands fail too, without a second notice.
  EXPECT_EQ(sendATCommand("AT\r", 0, 0, 100), 1);
  EXPECT_EQ(lostTexts().size(), 1u);

  // The link closes, and opens again once an adapter is back.
  UartDeinit();
  EXPECT_EQ(uart.isUartActive.load(), 0);
  pty.reset();
  PtyPair replugged;
  openPty(replugged);
  EXPECT_FALSE(UartDeviceLost());
  auto again = std::async(std::launch::async, [] { return sendATCommand("AT\r", 0, 0, 3000); });
  EXPECT_EQ(replugged.readAtLeast(3, 3000), "AT\r");
  replugged.write("\r\nOK\r\n");
  EXPECT_EQ(again.get(), 0);
  EXPECT_EQ(recordView().response, "\r\nOK\r\n");
  EXPECT_TRUE(lostTexts().empty());
}

struct WriteFault {
  const char* name;
  bool hangUpBeforeSending;  // the first write already fails
};

class FaultWrite : public EngineTest, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(FaultWrite, RefusedWritesFailTheCommandAndReportTheLossOnce) {
  openLink();
  if (GetParam().hangUpBeforeSending) {
    port->hangUp();
  } else {
    // The adapter goes away as the command is written: the resend fails.
    port->writeObserver = [p = port](const std::string&) { p->hangUp(); };
  }
  const long long started = monotonicMs();
  EXPECT_EQ(sendATCommand("AT+ADDR?\r", 0, 0, kTimeoutMs), 1);
  EXPECT_LT(monotonicMs() - started, kFailBoundMs);
  ASSERT_TRUE(window.waitFor([&] { return window.count(NOTIFY_DEVICE_LOST) >= 1; }, 3000));
  EXPECT_EQ(window.count(NOTIFY_DEVICE_LOST), 1);
  EXPECT_TRUE(UartDeviceLost());
  // Nothing was answered, so nothing is left to apply.
  EXPECT_EQ(recordView().responseComplete, 0);
  port->writeObserver = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultWrite,
                         ::testing::Values(WriteFault{"HungUpBeforeTheCommand", true},
                                           WriteFault{"HungUpDuringTheCommand", false}),
                         [](const ::testing::TestParamInfo<WriteFault>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kx::test
