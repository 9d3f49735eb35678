// The serial link on a real pseudo-terminal (line settings, bytes both ways,
// read-thread chunks, close) and on the scripted device (modem lines,
// purge, open failures).
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "common/debug_log.h"
#include "common/notify.h"
#include "platform/clock.h"
#include "platform/scripted_serial_device.h"
#include "platform/termios_baud.h"
#include "serial/uart.h"
#include "support/link_fixture.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace kx::test {
namespace {

double processCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

using Clock = std::chrono::steady_clock;

long long elapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class UartPtyTest : public LinkTest {
 protected:
  PtyPair pty;
};

struct LineCase {
  int baud, parity, stopBits, flow;
  int expectBaud;
  bool expectTwoStop, expectRtsCts, expectOdd;
};

TEST_F(UartPtyTest, LineSettingsReachThePort) {
  const LineCase cases[] = {
      {115200, PARITY_NONE_FLAG, 2, 1, 115200, true, true, false},
      {9600, PARITY_ODD_FLAG, 1, 0, 9600, false, false, true},
      {14400, PARITY_NONE_FLAG, 1, 0, 14400, false, false, false},  // no B14400 constant
      {921600, PARITY_EVEN_FLAG, 1, 1, 921600, false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    setLine(pty.slavePath(), c.baud, c.parity, c.stopBits, c.flow);
    ASSERT_EQ(UartInit(), 0);
    // Master and slave share one termios: what the link set is visible here.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
    int baud = 0;
    ASSERT_EQ(termiosGetBaud(pty.master(), &baud), 0);
    EXPECT_EQ(baud, c.expectBaud);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.expectTwoStop);
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.expectRtsCts);
    EXPECT_EQ((tio.c_cflag & PARODD) != 0, c.expectOdd);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "raw mode: no output processing";
    EXPECT_EQ(tio.c_iflag & ICRNL, 0u) << "raw mode: CR must not become LF";
    UartDeinit();
  }
}

TEST_F(UartPtyTest, UnsupportedValuesFallBackAndAreLogged) {
  TempDir dir;
  startDebugLogIn(dir);
  setLine(pty.slavePath(), 300, 0, 3, 0);
  ASSERT_EQ(UartInit(), 0);
  int baud = 0;
  ASSERT_EQ(termiosGetBaud(pty.master(), &baud), 0);
  EXPECT_EQ(baud, 19200);
  EXPECT_EQ(uart.baud, 300) << "the record keeps the requested speed";
  termios tio{};
  tcgetattr(pty.master(), &tio);
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  closeDebugLog();
  const std::string log = readFile(dir.file("Debug.txt"));
  EXPECT_NE(log.find("Unsupported Baudrate 300. Using default baudrate 19200\n"), std::string::npos);
  EXPECT_NE(log.find("UART: Unsupported Parity 0. Using default PARITY_NONE\n"), std::string::npos);
  EXPECT_NE(log.find("UART: Unsupported Stop Bit Setting 3. Using default STOPBITS_ONE\n"),
            std::string::npos);
  EXPECT_NE(log.find("UART: Setting baudrate to 19200\n"), std::string::npos);
}

TEST_F(UartPtyTest, BytesWrittenArriveAndReceivedBytesComeAsChunksOnTheReadThread) {
  setLine(pty.slavePath(), 19200, PARITY_NONE_FLAG, 1, 0);
  ASSERT_EQ(UartInit(), 0);
  const std::string cmd = "AT+NAME?\r";
  ASSERT_EQ(UartWrite(cmd.data(), static_cast<uint32_t>(cmd.size())), 0);
  EXPECT_EQ(pty.readAtLeast(cmd.size(), 2000), cmd);

  const std::string answer = "\r\nKX627\r\nOK\r\n";
  pty.write(answer);
  auto& collector = ChunkCollector::instance();
  ASSERT_TRUE(window.waitFor([&] { return collector.allBytes() == answer; }, 5000))
      << collector.allBytes();
  bool fromOtherThread = false;
  for (const auto& c : collector.chunks())
    if (!c.bytes.empty()) fromOtherThread = c.thread != std::this_thread::get_id();
  EXPECT_TRUE(fromOtherThread) << "chunks are handed on by the read thread";
}

TEST_F(UartPtyTest, EmptyChunksArriveAboutEvery200MsWhileIdle) {
  setLine(pty.slavePath(), 19200, PARITY_NONE_FLAG, 1, 0);
  ASSERT_EQ(UartInit(), 0);
  auto& collector = ChunkCollector::instance();
  ASSERT_TRUE(window.waitFor([&] { return collector.emptyCount() >= 1; }, 3000));
  const auto start = Clock::now();
  const int first = collector.emptyCount();
  ASSERT_TRUE(window.waitFor([&] { return collector.emptyCount() >= first + 5; }, 5000));
  // Five more empty reads cannot come faster than five 200 ms read periods.
  EXPECT_GE(elapsedMs(start), 5 * 200 - 50);
}

TEST_F(UartPtyTest, OpenAndCloseNotifyTheBoxesAndBothThreadsEnd) {
  TempDir dir;
  startDebugLogIn(dir);
  setLine(pty.slavePath(), 19200, PARITY_NONE_FLAG, 1, 0);
  ASSERT_EQ(UartInit(), 0);
  EXPECT_EQ(uart.isUartActive.load(), 1);
  auto n = window.notifications();
  ASSERT_GE(n.size(), 4u);
  // Link start: DTR and RTS ticked, then indicators and the status line sent.
  EXPECT_EQ(n[0].id, NOTIFY_DTR_STATE);
  EXPECT_EQ(n[0].lParam, 1);
  EXPECT_EQ(n[1].id, NOTIFY_RTS_STATE);
  EXPECT_EQ(n[1].lParam, 1);
  EXPECT_EQ(n[2].id, NOTIFY_REFRESH_INDICATORS);
  EXPECT_TRUE(n[2].sent);
  EXPECT_EQ(n[3].id, NOTIFY_STATUS_TEXT);
  EXPECT_EQ(n[3].text, "UART initialised successfully");

  window.clear();
  const auto start = Clock::now();
  EXPECT_EQ(UartDeinit(), 0);
  EXPECT_LT(elapsedMs(start), 2000) << "both threads leave within a cycle";
  n = window.notifications();
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0].id, NOTIFY_DTR_STATE);
  EXPECT_EQ(n[0].lParam, 0);
  EXPECT_EQ(n[1].id, NOTIFY_RTS_STATE);
  EXPECT_EQ(n[1].lParam, 0);
  EXPECT_EQ(n[2].id, NOTIFY_REFRESH_INDICATORS) << "the UART LED goes off with the port";
  EXPECT_EQ(uart.isUartActive.load(), 0);
  EXPECT_EQ(uart.readCallback.load(), nullptr);
  EXPECT_EQ(std::string(uart.comPort), pty.slavePath()) << "the port stays for the next open";

  // Nothing is handed on after the close.
  const auto chunksAtClose = ChunkCollector::instance().chunks().size();
  pty.write("late");
  EXPECT_FALSE(window.waitFor(
      [&] { return ChunkCollector::instance().chunks().size() > chunksAtClose; }, 400));

  closeDebugLog();
  const std::string log = readFile(dir.file("Debug.txt"));
  const auto readExit = log.find("UART: tReadThread Exiting....");
  const auto statusExit = log.find("UART::tMStatusThread Exiting....");
  const auto done = log.find("UART: -UartDeinit");
  ASSERT_NE(readExit, std::string::npos);
  ASSERT_NE(statusExit, std::string::npos);
  ASSERT_NE(done, std::string::npos);
  EXPECT_LT(readExit, done);
  EXPECT_LT(statusExit, done);
}

TEST_F(UartPtyTest, PortHeldByAnotherProgramGives4AndStaysReopenable) {
  setLine(pty.slavePath(), 19200, PARITY_NONE_FLAG, 1, 0);
  const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

  EXPECT_EQ(UartInit(), 4);
  EXPECT_EQ(uart.isUartActive.load(), 0);
  auto boxes = window.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Failed to open " + pty.slavePath() +
                               ". Please check no other application is using the port or the "
                               "right port is selected\nThe port is in use by another program.");
  EXPECT_EQ(UartLastOpenError(), EBUSY);
  EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);

  ::close(other);
  EXPECT_EQ(UartInit(), 0);
}

TEST_F(UartPtyTest, UnpluggedAdapterIsLoggedOnceAndTheLinkStillCloses) {
  TempDir dir;
  startDebugLogIn(dir);
  setLine(pty.slavePath(), 19200, PARITY_NONE_FLAG, 1, 0);
  ASSERT_EQ(UartInit(), 0);
  pty.closeMaster();
  ASSERT_TRUE(window.waitFor([] { return UartDeviceLost(); }, 3000));
  // Give the threads several cycles in which a busy loop would show, in
  // chunks or in the CPU time the process burns while it should wait.
  const auto chunksThen = ChunkCollector::instance().chunks().size();
  const double cpuThen = processCpuSeconds();
  sleepMs(500);
  EXPECT_EQ(ChunkCollector::instance().chunks().size(), chunksThen);
  EXPECT_LT(processCpuSeconds() - cpuThen, 0.25) << "the link threads spin on a lost device";
  EXPECT_EQ(UartWrite("AT\r", 3), 1);
  EXPECT_EQ(UartDeinit(), 0);
  closeDebugLog();
  const std::string log = readFile(dir.file("Debug.txt"));
  std::size_t count = 0;
  for (auto pos = log.find("has gone away"); pos != std::string::npos;
       pos = log.find("has gone away", pos + 1))
    ++count;
  EXPECT_EQ(count, 1u);
}

TEST_F(UartPtyTest, WritesFromTwoThreadsNeverInterleave) {
  setLine(pty.slavePath(), 921600, PARITY_NONE_FLAG, 1, 0);
  ASSERT_EQ(UartInit(), 0);
  constexpr int kEach = 200;
  const std::string a(40, 'A'), b(40, 'B');
  std::string received;
  std::thread reader([&] { received = pty.readAtLeast(2 * kEach * 41, 20000); });
  auto writer = [](const std::string& block) {
    const std::string line = block + "\n";
    for (int i = 0; i < kEach; ++i) UartWrite(line.data(), static_cast<uint32_t>(line.size()));
  };
  std::thread t1(writer, a), t2(writer, b);
  t1.join();
  t2.join();
  reader.join();
  ASSERT_EQ(received.size(), static_cast<std::size_t>(2 * kEach * 41));
  for (std::size_t pos = 0; pos < received.size(); pos += 41) {
    const std::string line = received.substr(pos, 41);
    ASSERT_TRUE(line == a + "\n" || line == b + "\n") << "mixed block at " << pos;
  }
}

// Opening the port while the read thread is busy dispatching a flood of
// input: no thread may have to win a race against the reader to get on.
// Each open and close must finish within a generous bound; a hang here ends
// the test program rather than the whole suite's time budget.
TEST_F(UartPtyTest, OpensAndClosesNeverWaitForABusyReader) {
  receiveHandler = [](const uint8_t* data, uint32_t length) {
    ChunkCollector::handler(data, length);
    if (length > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  std::atomic<bool> flooding{true};
  const int master = pty.master();
  std::thread flood([&] {
    const std::string noise(64, 'x');
    while (flooding.load()) {
      pollfd pfd{master, POLLOUT, 0};
      if (::poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLOUT))
        (void)!::write(master, noise.data(), noise.size());
    }
  });
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int waited = 0; !done.load(); waited += 10) {
      if (waited > 20000) {
        std::fprintf(stderr, "open/close cycle hung with the reader busy\n");
        std::_Exit(1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  for (int i = 0; i < 30; ++i) {
    setLine(pty.slavePath(), 921600, PARITY_NONE_FLAG, 1, 0);
    ASSERT_EQ(UartInit(), 0);
    // Let the reader take the flood for a moment before the next close.
    const std::size_t before = ChunkCollector::instance().chunks().size();
    EXPECT_TRUE(
        window.waitFor([&] { return ChunkCollector::instance().chunks().size() > before; }, 5000));
    UartDeinit();
  }
  done = true;
  flooding = false;
  flood.join();
  watchdog.join();
}

class UartScriptedTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    port = std::make_shared<ScriptedPort>();
    useScriptedPort(port);
    setLine("/dev/ttyKX0", 19200, PARITY_NONE_FLAG, 1, 0);
  }
  std::shared_ptr<ScriptedPort> port;
};

TEST_F(UartScriptedTest, ModemLineChangesGiveOneRefreshPerPoll) {
  ASSERT_EQ(UartInit(), 0);
  EXPECT_TRUE(port->dtr());
  EXPECT_TRUE(port->rts());
  window.clear();

  // DSR and CTS rise together: one refresh, both recorded.
  port->setModemBits(MODEM_CTS_ON | MODEM_DSR_ON);
  ASSERT_TRUE(window.waitFor([] { return localDev.dsr == 1 && localDev.cts == 1; }, 3000));
  ASSERT_TRUE(window.waitFor([&] { return window.count(NOTIFY_REFRESH_INDICATORS) >= 1; }, 3000));
  sleepMs(300);  // several more polls with nothing changed
  EXPECT_EQ(window.count(NOTIFY_REFRESH_INDICATORS), 1);

  // CTS alone drops: one more.
  port->setModemBits(MODEM_DSR_ON);
  ASSERT_TRUE(window.waitFor([] { return localDev.cts == 0; }, 3000));
  ASSERT_TRUE(window.waitFor([&] { return window.count(NOTIFY_REFRESH_INDICATORS) >= 2; }, 3000));
  sleepMs(300);
  EXPECT_EQ(window.count(NOTIFY_REFRESH_INDICATORS), 2);
  EXPECT_EQ(localDev.dsr.load(), 1);

  // Nothing drives the lines of a closed port.
  EXPECT_EQ(UartDeinit(), 0);
  EXPECT_EQ(localDev.dsr.load(), 0);
  EXPECT_EQ(localDev.cts.load(), 0);
}

TEST_F(UartScriptedTest, ChangeSettingsAppliesPurgesAndSettles) {
  ASSERT_EQ(UartInit(), 0);
  const int purgesBefore = port->purgeCount();
  uart.baud = 57600;
  uart.stopBits = 2;
  uart.flow = 1;
  uart.parity = PARITY_EVEN_FLAG;
  const auto start = Clock::now();
  EXPECT_EQ(UartChangeSettings(), 0);
  EXPECT_GE(elapsedMs(start), 600);
  const LineSettings s = port->settings();
  EXPECT_EQ(s.baud, 57600);
  EXPECT_EQ(s.stopBits, 2);
  EXPECT_TRUE(s.rtsCts);
  EXPECT_EQ(s.parity, Parity::Even);
  EXPECT_EQ(port->purgeCount(), purgesBefore + 1) << "input from the old settings is dropped";

  // Closing keeps what the next open needs.
  EXPECT_EQ(UartDeinit(), 0);
  EXPECT_EQ(std::string(uart.comPort), "/dev/ttyKX0");
  EXPECT_EQ(uart.baud, 57600);
  EXPECT_EQ(uart.stopBits, 2);
  EXPECT_EQ(uart.parity, PARITY_EVEN_FLAG);
  EXPECT_EQ(uart.flow, 1);
  EXPECT_EQ(UartInit(), 0);
  EXPECT_EQ(port->settings().baud, 57600);
}

TEST_F(UartScriptedTest, RefusedSettingsAndFailedOpens) {
  port->failOpenWith(EACCES);
  TempDir dir;
  startDebugLogIn(dir);
  EXPECT_EQ(UartInit(), 4);
  EXPECT_EQ(uart.isUartActive.load(), 0);
  closeDebugLog();
  const std::string log = readFile(dir.file("Debug.txt"));
  EXPECT_NE(log.find("UART: Failed to open /dev/ttyKX0. Error 13\n"), std::string::npos);
  EXPECT_NE(log.find("dialout"), std::string::npos) << "the log names the usual cause";

  port->failOpenWith(0);
  EXPECT_EQ(UartInit(), 0) << "a failed open leaves the link reopenable";
}

TEST_F(UartScriptedTest, WriteFailsCleanlyAfterHangUp) {
  ASSERT_EQ(UartInit(), 0);
  EXPECT_EQ(UartWrite("AT\r", 3), 0);
  EXPECT_EQ(port->takeWritten(), "AT\r");
  port->hangUp();
  EXPECT_EQ(UartWrite("AT\r", 3), 1);
  EXPECT_EQ(UartDeinit(), 0);
  EXPECT_FALSE(port->isOpen());
}

}  // namespace
}  // namespace kx::test
