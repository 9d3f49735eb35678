// The Windows platform layer: the COM port device (against adapter-sim on
// the COM port named in KX_WIN_TEST_PORT, which scripts/test-windows maps
// onto the simulator's pseudo-terminal under Wine; skipped without it), its
// open failures as errno values, the settings file's replacement, and the
// window message that tells of ports coming and going.
#include <gtest/gtest.h>
#include <windows.h>
// clang-format off: dbt.h needs windows.h first
#include <dbt.h>
// clang-format on

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/file_replace.h"
#include "platform/win32_serial_device.h"
#include "serial/port_watch.h"
#include "support/temp_dir.h"

namespace kx::test {
namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(Win32SerialDevice, OpenFailuresAreTheErrnoValuesOfPosix) {
  TempDir dir;
  const std::string file = dir.file("plain.txt");
  std::ofstream(file) << "not a port";
  const struct {
    std::string port;
    int err;
  } cases[] = {
      {"COM97", ENOENT},            // no such port
      {dir.path(), EISDIR},         // a directory
      {file, ENOTTY},               // a file, not a serial port
  };
  for (const auto& c : cases) {
    Win32SerialDevice device;
    EXPECT_EQ(device.open(c.port), c.err) << c.port;
    EXPECT_FALSE(device.isOpen()) << c.port;
  }
}

TEST(Win32SerialDevice, PortNamesBecomeDevicePaths) {
  EXPECT_EQ(Win32SerialDevice::devicePath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(Win32SerialDevice::devicePath("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(Win32SerialDevice::devicePath("\\\\.\\COM4"), "\\\\.\\COM4");
  EXPECT_EQ(Win32SerialDevice::devicePath("COMX"), "COMX");
}

class Win32SimPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("KX_WIN_TEST_PORT");
    if (!port || !*port) GTEST_SKIP() << "KX_WIN_TEST_PORT names the COM port of adapter-sim";
    ASSERT_EQ(device.open(port), 0) << port;
    ASSERT_EQ(device.configure({19200, Parity::None, 1, false}), 0);
  }
  // Sends `command` and collects the answer until `end` or timeoutMs.
  std::string ask(const std::string& command, const std::string& end, int timeoutMs = 3000) {
    EXPECT_EQ(device.write(reinterpret_cast<const uint8_t*>(command.data()), command.size(), 1000),
              0);
    std::string got;
    const auto start = Clock::now();
    while (got.find(end) == std::string::npos && msSince(start) < timeoutMs) {
      uint8_t buf[256];
      std::size_t n = 0;
      EXPECT_EQ(device.read(buf, sizeof buf, 100, &n), 0);
      got.append(reinterpret_cast<const char*>(buf), n);
    }
    return got;
  }
  Win32SerialDevice device;
};

TEST_F(Win32SimPort, AsksTheAdapterAndItsSpeedReachesTheLine) {
  EXPECT_EQ(ask("AT+STOP?\r", "OK\r\n"), "\r\nSTOP1\r\nOK\r\n");
  // At another speed than the adapter's, no answer comes through.
  ASSERT_EQ(device.configure({9600, Parity::None, 1, false}), 0);
  EXPECT_EQ(ask("AT+STOP?\r", "OK\r\n", 800).find("OK\r\n"), std::string::npos);
  ASSERT_EQ(device.configure({19200, Parity::None, 1, false}), 0);
  ASSERT_EQ(device.purge(true, true), 0);
  EXPECT_NE(ask("AT+STOP?\r", "OK\r\n").find("STOP1\r\nOK\r\n"), std::string::npos);
  EXPECT_EQ(device.configure({12345, Parity::None, 1, false}), EINVAL);
}

TEST_F(Win32SimPort, ReadsEndOnTimeOutAndOnInterrupt) {
  uint8_t buf[16];
  std::size_t n = 99;
  auto start = Clock::now();
  ASSERT_EQ(device.read(buf, sizeof buf, 300, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_GE(msSince(start), 250);

  // An interrupt while nothing is waiting ends the next read at once.
  device.interruptRead();
  start = Clock::now();
  ASSERT_EQ(device.read(buf, sizeof buf, 5000, &n), 0);
  EXPECT_LT(msSince(start), 1000);

  // And one from another thread ends a read that waits.
  std::thread waker([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device.interruptRead();
  });
  start = Clock::now();
  ASSERT_EQ(device.read(buf, sizeof buf, 10000, &n), 0);
  waker.join();
  EXPECT_EQ(n, 0u);
  EXPECT_LT(msSince(start), 3000);

  // Modem lines: a pseudo-terminal has none (Wine says ERROR_NOT_SUPPORTED).
  uint32_t bits = 0;
  const int status = device.modemStatus(&bits);
  EXPECT_TRUE(status == 0 || status == ENOTTY) << status;
  const int dtr = device.setDtr(true);
  EXPECT_TRUE(dtr == 0 || dtr == ENOTTY) << dtr;
}

TEST(Win32FileReplace, ReplacesAnExistingFileAndLeavesNothingBehind) {
  TempDir dir;
  const std::string path = dir.file("settings.txt");
  std::ofstream(path) << "old\n";
  std::string tmp;
  int err = 0;
  std::FILE* f = createFileBeside(path, &tmp, &err);
  ASSERT_NE(f, nullptr) << err;
  std::fputs("new\n", f);
  ASSERT_EQ(replaceWithFile(f, tmp, path), 0);
  EXPECT_EQ(readFile(path), "new\n");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(createFileBeside(dir.file("missing/settings.txt"), &tmp, &err), nullptr);
  EXPECT_EQ(err, ENOENT);
}

TEST(Win32PortWatch, DeviceChangeMessagesOfPortsOnly) {
  // The port's name runs past the declared one-character array, as Windows
  // sends it.
  alignas(DEV_BROADCAST_PORT_A) unsigned char portBytes[64] = {};
  auto& port = *reinterpret_cast<DEV_BROADCAST_PORT_A*>(portBytes);
  port.dbcp_size = sizeof portBytes;
  port.dbcp_devicetype = DBT_DEVTYP_PORT;
  std::memcpy(portBytes + offsetof(DEV_BROADCAST_PORT_A, dbcp_name), "COM7", 5);
  DEV_BROADCAST_HDR volume{};
  volume.dbch_size = sizeof volume;
  volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
  const auto lp = [](const void* p) { return reinterpret_cast<LPARAM>(p); };
  const struct {
    const char* type;
    UINT message;
    WPARAM event;
    LPARAM data;
    bool change;
  } cases[] = {
      {"windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp(&port), true},
      {"windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, lp(&port), true},
      {"windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp(&volume), false},
      {"windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, lp(&port), false},
      {"windows_generic_MSG", WM_PAINT, DBT_DEVICEARRIVAL, lp(&port), false},
      {"xcb_generic_event_t", WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp(&port), false},
  };
  for (const auto& c : cases) {
    MSG msg{};
    msg.message = c.message;
    msg.wParam = c.event;
    msg.lParam = c.data;
    EXPECT_EQ(PortWatch::isPortChangeMessage(c.type, &msg), c.change)
        << c.type << " " << c.message << " " << c.event;
  }
}

}  // namespace
}  // namespace kx::test
