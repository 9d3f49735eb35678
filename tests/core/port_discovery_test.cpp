// Port discovery: enumeration order, the remembered port, the 100-entry cap.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/control_ids.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/memory_form.h"
#include "serial/port_discovery.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace kx::test {
namespace {

class PortDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { clearUart(); }
  void TearDown() override {
    portEnumerator = nullptr;
    clearUart();
  }
  static void enumerate(std::vector<std::string> names) {
    portEnumerator = [names] { return names; };
  }
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (int i = 0; i < page.rowCount(ctl::kComPortList); ++i)
      out.push_back(page.rowText(ctl::kComPortList, i));
    return out;
  }
  MemoryForm page;
};

TEST_F(PortDiscoveryTest, KeepsTheSystemsOrderAndSkipsEmptyNames) {
  enumerate({"/dev/ttyUSB1", "", "/dev/ttyS0"});
  discoverComPorts(page);
  EXPECT_EQ(rows(), (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyS0"}));
  EXPECT_EQ(uart.comPortCount, 2);
  EXPECT_STREQ(uart.comPortList[0], "/dev/ttyUSB1");
  EXPECT_STREQ(uart.comPortList[1], "/dev/ttyS0");
}

TEST_F(PortDiscoveryTest, AddsTheRememberedPortOnlyWhenItExistsAndIsNotListed) {
  PtyPair pty;
  enumerate({"/dev/ttyS0"});
  copyField(uart.comPort, pty.slavePath());
  discoverComPorts(page);
  EXPECT_EQ(rows(), (std::vector<std::string>{"/dev/ttyS0", pty.slavePath()}));
  EXPECT_EQ(comPortSelectionIndex(page), 1);

  MemoryForm again;
  enumerate({pty.slavePath(), "/dev/ttyS0"});
  discoverComPorts(again);
  EXPECT_EQ(again.rowCount(ctl::kComPortList), 2) << "listed once";

  MemoryForm gone;
  copyField(uart.comPort, "/dev/kx-no-such-port");
  enumerate({"/dev/ttyS0"});
  discoverComPorts(gone);
  EXPECT_EQ(gone.rowCount(ctl::kComPortList), 1);
  EXPECT_EQ(comPortSelectionIndex(gone), 0) << "falls back to the first entry";
}

TEST_F(PortDiscoveryTest, StopsAtOneHundredEntries) {
  std::vector<std::string> many;
  for (int i = 0; i < 150; ++i) many.push_back("/dev/ttyUSB" + std::to_string(i));
  enumerate(many);
  discoverComPorts(page);
  EXPECT_EQ(uart.comPortCount, kMaxComPorts);
  EXPECT_EQ(page.rowCount(ctl::kComPortList), kMaxComPorts);
  EXPECT_STREQ(uart.comPortList[99], "/dev/ttyUSB99");
}

TEST_F(PortDiscoveryTest, OverlongNamesAreCutToTheField) {
  const std::string longName = "/dev/" + std::string(400, 'x');
  enumerate({longName});
  discoverComPorts(page);
  EXPECT_EQ(std::string(uart.comPortList[0]).size(), static_cast<std::size_t>(kPortNameSize - 1));
}

TEST_F(PortDiscoveryTest, SelectsTheLastEntryNamedLikeTheCurrentPort) {
  enumerate({"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS0"});
  copyField(uart.comPort, "/dev/ttyS0");
  discoverComPorts(page);
  EXPECT_EQ(comPortSelectionIndex(page), 2);
}

TEST(PortEnumeration, LibserialportListsWithoutFailing) {
  portEnumerator = nullptr;
  // Whatever this machine has: names are non-empty device paths.
  for (const auto& name : enumeratePorts()) EXPECT_EQ(name.rfind("/dev/", 0), 0u) << name;
}

}  // namespace
}  // namespace kx::test

namespace kx::test {
namespace {

// The stable names of a port: the by-id and by-path links that point to it,
// not those pointing elsewhere, whichever name the port is given by.
TEST(PortDetailsTest, FindsTheStableNamesThatPointToThePort) {
  PtyPair pty, other;
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("by-id"));
  fs::create_directories(dir.file("by-path"));
  const std::string byId = dir.file("by-id/usb-KX_KX627_Fixture_0042-if00-port0");
  const std::string byPath = dir.file("by-path/pci-0000:00:14.0-usb-0:2.1:1.0-port0");
  fs::create_symlink(pty.slavePath(), byId);
  fs::create_symlink(pty.slavePath(), byPath);
  fs::create_symlink(other.slavePath(), dir.file("by-id/usb-Other-if00-port0"));
  for (const std::string& name : {pty.slavePath(), byPath}) {
    const PortDetails d = describePort(name, dir.path());
    EXPECT_EQ(d.byId, std::vector<std::string>{byId}) << name;
    EXPECT_EQ(d.byPath, std::vector<std::string>{byPath}) << name;
    EXPECT_EQ(d.usbVendor, -1) << "a pseudo-terminal is not USB";
  }
  PortDetails usb;
  usb.description = "CP2102 USB to UART Bridge Controller";
  usb.usbVendor = 0x10C4;
  usb.usbProduct = 0xEA60;
  usb.serialNumber = "0001";
  EXPECT_EQ(portSummary(usb), "CP2102 USB to UART Bridge Controller, USB 10C4:EA60, serial 0001");
  EXPECT_EQ(portSummary(PortDetails{}), "");
}

}  // namespace
}  // namespace kx::test
