// The simulator plugged into the platform layer in-process: the serial link
// (UartInit, UartWrite, the read and modem-status threads) talks to the
// simulated adapter with full parity and the DSR and CTS lines.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "common/records.h"
#include "common/text.h"
#include "platform/clock.h"
#include "serial/uart.h"
#include "sim/in_process.h"
#include "sim/world.h"

namespace {

std::mutex gMutex;
std::condition_variable gCv;
std::string gReceived;

void collect(const uint8_t* data, uint32_t length) {
  if (!length) return;
  {
    std::lock_guard lock(gMutex);
    gReceived.append(reinterpret_cast<const char*>(data), length);
  }
  gCv.notify_all();
}

// Waits until `needle` has been received; returns and clears what came.
std::string awaitReceived(const std::string& needle, int timeoutMs = 3000) {
  std::unique_lock lock(gMutex);
  gCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
               [&] { return gReceived.find(needle) != std::string::npos; });
  std::string out;
  out.swap(gReceived);
  return out;
}

template <typename Pred>
bool eventually(Pred pred, int timeoutMs = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

class SimInProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    kx::clearUart();
    kx::clearLocalDev();
    kx::setClockScale(0.05);  // the link's settle times
    {
      std::lock_guard lock(gMutex);
      gReceived.clear();
    }
    kx::receiveHandler = collect;
  }
  void TearDown() override {
    kx::UartDeinit();
    if (link) link->detach();
    kx::receiveHandler = nullptr;
    kx::setClockScale(1.0);
    kx::clearUart();
    kx::clearLocalDev();
  }
  void open(int baud, int32_t parity, int stopBits, int flow) {
    kx::copyField(kx::uart.comPort, "/dev/simulated");
    kx::uart.baud = baud;
    kx::uart.parity = parity;
    kx::uart.stopBits = stopBits;
    kx::uart.flow = flow;
    ASSERT_EQ(kx::UartInit(), 0);
  }
  void write(const std::string& s) { ASSERT_EQ(kx::UartWrite(s.data(), static_cast<uint32_t>(s.size())), 0); }

  std::shared_ptr<kx::sim::InProcessTransport> link;
};

TEST_F(SimInProcess, AnswersThroughTheSerialLink) {
  kx::sim::World world;
  link = kx::sim::attachInProcess(world);
  open(19200, kx::PARITY_NONE_FLAG, 1, 0);
  write("AT+RESP?\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nRESP+\r\nOK\r\n");
  write("AT+NAME=Inproc\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(world.control("get 1 name"), "OK Inproc");
}

TEST_F(SimInProcess, TellsEvenFromNoParity) {
  kx::sim::WorldOptions options;
  options.parity = kx::Parity::Even;
  kx::sim::World world(options);
  link = kx::sim::attachInProcess(world);
  open(19200, kx::PARITY_NONE_FLAG, 1, 0);
  write("AT+PAR?\r");
  // The write reaches the adapter on this thread: it has already dropped it.
  EXPECT_TRUE(world.received(1).empty());
  EXPECT_EQ(world.control("get 1 dropped"), "OK 8");

  kx::uart.parity = kx::PARITY_EVEN_FLAG;
  ASSERT_EQ(kx::UartChangeSettings(), 0);
  write("AT+PAR?\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nPAR2\r\nOK\r\n");
  // A parity change is acknowledged at the old parity, then the PC follows.
  write("AT+PAR0\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nOK\r\n");
  kx::uart.parity = kx::PARITY_NONE_FLAG;
  ASSERT_EQ(kx::UartChangeSettings(), 0);
  write("AT+PAR?\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nPAR0\r\nOK\r\n");
}

TEST_F(SimInProcess, DrivesDsrAndCtsWhilePluggedAndRunning) {
  kx::sim::WorldOptions options;
  options.restartMs = 300;
  kx::sim::World world(options);
  link = kx::sim::attachInProcess(world);
  open(19200, kx::PARITY_NONE_FLAG, 1, 0);
  EXPECT_TRUE(eventually([] { return kx::localDev.dsr == 1 && kx::localDev.cts == 1; }));
  world.unplug();
  EXPECT_TRUE(eventually([] { return kx::localDev.dsr == 0 && kx::localDev.cts == 0; }));
  ASSERT_TRUE(world.plug(1));
  EXPECT_TRUE(eventually([] { return kx::localDev.dsr == 1; }));
  write("AT+RESET\r");
  EXPECT_EQ(awaitReceived("OK\r\n"), "\r\nOK\r\n");
  // Restarting: the lines drop, then come back.
  EXPECT_TRUE(eventually([] { return kx::localDev.dsr == 0; }));
  EXPECT_TRUE(eventually([] { return kx::localDev.dsr == 1; }));
}

TEST_F(SimInProcess, ConnectEventAndRemoteAccessAnswersArrive) {
  kx::sim::WorldOptions options;
  options.connectMs = 20;
  kx::sim::World world(options);
  link = kx::sim::attachInProcess(world);
  open(19200, kx::PARITY_NONE_FLAG, 1, 0);
  write("AT+CONN=002345B00001\r");
  EXPECT_EQ(awaitReceived("\"\r\n"), "\r\nOK\r\n\r\nCONNECT \"0023-45-B00001\"\r\n");
  write(std::string(8, '\xAA'));
  EXPECT_EQ(awaitReceived("\xAA\xAA"), "\xAA\xAA");
  EXPECT_EQ(world.control("get 2 mode"), "OK remote-access");
  std::string error;
  EXPECT_TRUE(world.eventDisconnect(1, &error)) << error;
  EXPECT_EQ(awaitReceived("\"\r\n"), "\r\nDISCONNECT \"0023-45-B00001\"\r\n");
}

TEST(SimWorld, ControlApiMatchesTheProgramsProtocol) {
  kx::sim::WorldOptions options;
  options.adapters = 3;
  options.remotes = 1;
  kx::sim::World world(options);
  EXPECT_EQ(world.deviceCount(), 4);
  EXPECT_EQ(world.plugged(), 1);
  EXPECT_EQ(world.address(3), "0012-6F-100003");
  EXPECT_EQ(world.address(4), "0023-45-B00001");
  EXPECT_TRUE(world.set(3, "role", "master"));
  std::string value;
  EXPECT_TRUE(world.get(3, "role", &value));
  EXPECT_EQ(value, "master");
  std::string error;
  EXPECT_FALSE(world.set(3, "stop", "3", &error));
  EXPECT_EQ(error, "expected 1 or 2");
  EXPECT_FALSE(world.plug(4));
  EXPECT_TRUE(world.plug(2));
  EXPECT_EQ(world.control("get 2 plugged"), "OK on");
  // With no transport attached, nothing is delivered and nothing breaks.
  world.garbage(100);
  world.receiveFromPc("AT\r", kx::LineSettings{}, true);
  EXPECT_EQ(world.received(2).size(), 1u);
}

TEST(SimWorld, RandomControlLinesAndBytesAlwaysGetOneLineAnswers) {
  kx::sim::WorldOptions options;
  options.adapters = 2;
  options.inquiryMs = 50;
  options.connectMs = 5;
  options.restartMs = 20;
  kx::sim::World world(options);
  const char* words[] = {"plug", "unplug", "list", "set", "get", "event", "connect", "disconnect",
                         "garbage", "received", "send", "0", "1", "2", "3", "4", "99", "-1", "name",
                         "baud", "pin", "bond", "role", "answer", "master", "on", "off", "\\x",
                         "0012-6F-100002", "none", "115200", "\xff", "", "  ", "\t"};
  uint32_t x = 7;
  const auto next = [&x] { return x = x * 1664525u + 1013904223u; };
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    for (uint32_t k = next() % 6; k > 0; --k) line += std::string(words[(next() >> 8) % std::size(words)]) + " ";
    const std::string answer = world.control(line);
    ASSERT_TRUE(answer.rfind("OK", 0) == 0 || answer.rfind("ERROR", 0) == 0) << line << " -> " << answer;
    ASSERT_EQ(answer.find('\n'), std::string::npos) << line;
    // Bytes from the PC at the plugged adapter's settings, every value.
    std::string bytes;
    for (uint32_t k = next() % 40; k > 0; --k) {
      const uint32_t r = next() >> 16;
      bytes += (r % 5 == 0) ? '\r' : (r % 7 == 0) ? std::string("AT+")[r % 3] : static_cast<char>(r & 0xFF);
    }
    std::string baud = "19200";
    world.get(world.plugged() ? world.plugged() : 1, "baud", &baud);
    world.receiveFromPc(bytes, kx::LineSettings{std::stoi(baud), kx::Parity::None, 1, false}, true);
  }
  EXPECT_EQ(world.control("list").rfind("OK plugged=", 0), 0u);
}

}  // namespace
