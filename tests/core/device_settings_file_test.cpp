// Settings files: what is written, what a read takes from each line, and how
// failures to open or write are reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/settings_file.h"
#include "platform/recording_window.h"
#include "support/temp_dir.h"

namespace kx::test {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearUart();
    clearLocalDev();
    mainWindowHandle = &window;
  }
  void TearDown() override {
    closeDebugLog();
    mainWindowHandle = nullptr;
  }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string logOf(const std::function<void()>& action) {
    startDebugLogIn(dir);
    action();
    closeDebugLog();
    return readFile(dir.file("Debug.txt"));
  }
  TempDir dir;
  RecordingWindow window;
};

TEST_F(SettingsFileTest, ARunWithoutDeviceOrSettingsWritesNineteenLines) {
  ASSERT_EQ(SaveSettingsToFile(dir.file("settings.txt")), 1);
  EXPECT_EQ(readFile(dir.file("settings.txt")),
            "# KX627 Configuration Utility Settings\n"
            "Port = \n"
            "# Valid baudrate values "
            "1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600\n"
            "Baud = 0\n"
            "StopBits = 0\n"
            "FlowControl = Off\n"
            "# Valid parity values are none, odd, even\n"
            "Name = \n"
            "Pin = \n"
            "RemoteAddress = \n"
            "Discoverable = Off\n"
            "DisablePin = Off\n"
            "AutoConnect = Off\n"
            "EscapeMode = Off\n"
            "EchoMode = Off\n"
            "AutoPower = Off\n"
            "CommandResponse = Off\n"
            "RemoteConfig = Off\n"
            "ModemSignal = Disabled\n");
  const auto texts = window.statusTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Saving Device Settings to file " + dir.file("settings.txt") + " ");
  EXPECT_EQ(texts[1], "Device Settings Saved");
}

TEST_F(SettingsFileTest, WhatIsWrittenReadsBack) {
  copyField(uart.comPort, "/dev/ttyUSB3");
  uart.baud = 115200;
  uart.stopBits = 2;
  uart.parity = PARITY_ODD_FLAG;
  uart.flow = 1;
  copyField(localDev.name, "Bench 7");
  copyField(localDev.pin, "4321");
  copyField(localDev.bondedAddress, "0012-6f-aabbcc");
  copyField(localDev.fwVersion, "v6.80");
  copyField(localDev.remoteService, "Serial");
  copyField(localDev.remoteCod, "001f00");
  localDev.role = 1;
  localDev.discoverable = 1;
  localDev.echo = 1;
  localDev.modemSignal = 2;
  const std::string path = dir.file("saved.txt");
  ASSERT_EQ(SaveSettingsToFile(path), 1);
  ASSERT_EQ(LoadSettings(path, 0), 1);
  EXPECT_STREQ(fileSettings.comPort, "/dev/ttyUSB3");
  EXPECT_EQ(fileSettings.baud, 115200);
  EXPECT_EQ(fileSettings.stopBits, 2);
  EXPECT_EQ(fileSettings.parity, PARITY_ODD_FLAG);
  EXPECT_EQ(fileSettings.flow, 1);
  EXPECT_STREQ(fileSettings.name, "Bench 7");
  EXPECT_STREQ(fileSettings.pin, "4321");
  EXPECT_STREQ(fileSettings.remoteAddress, "0012-6f-aabbcc");
  EXPECT_EQ(fileSettings.role, 1);
  EXPECT_EQ(fileSettings.discoverable, 1);
  EXPECT_EQ(fileSettings.echo, 1);
  EXPECT_EQ(fileSettings.modemSignal, 2);
  EXPECT_STREQ(fileSettings.remoteService, "Serial");
  EXPECT_STREQ(fileSettings.remoteCod, "001f00");
  EXPECT_TRUE(window.boxes().empty());

  clearUart();
  takeSerialSettingsFromFile();
  EXPECT_STREQ(uart.comPort, "/dev/ttyUSB3");
  EXPECT_EQ(uart.baud, 115200);
  EXPECT_EQ(uart.parity, PARITY_ODD_FLAG);
}

TEST_F(SettingsFileTest, LinesAreMatchedByTheFirstKeyTheyContain) {
  copyField(fileSettings.comPort, "junk");
  const std::string path = write("s.txt",
                                 "   # a remark\n"
                                 "x # not a remark\n"
                                 "Port = COM7\n"
                                 "Name = PortA\n"
                                 "FlowControl = on\n"
                                 "Discoverable = yes\n"
                                 "Baud = 14400\n"
                                 "StopBits\n"
                                 "Role = master\n"
                                 "RemoteService = SerialPort\n");
  const std::string log = logOf([&] { EXPECT_EQ(LoadSettings(path, 0), 1); });
  EXPECT_STREQ(fileSettings.comPort, "COM7") << "PortA does not read as COM<n>";
  EXPECT_STREQ(fileSettings.name, "") << "a name containing Port is a Port line";
  EXPECT_EQ(fileSettings.flow, 1);
  EXPECT_EQ(fileSettings.discoverable, 1);
  EXPECT_EQ(fileSettings.baud, 14400);
  EXPECT_EQ(fileSettings.role, 1);
  EXPECT_STREQ(fileSettings.remoteService, "") << "SerialPort makes it a Port line";
  EXPECT_NE(log.find("Unhandled entry x # not a remark\n in " + path + " file"), std::string::npos);
  EXPECT_EQ(log.find("Unhandled entry    # a remark"), std::string::npos);
  EXPECT_NE(log.find("Invalid value for discoverability in Line Discoverable = yes\n. Using "
                     "Default discoverability ON"),
            std::string::npos);
  EXPECT_NE(log.find("line StopBits\n format not correct"), std::string::npos);
}

TEST_F(SettingsFileTest, OverlongValuesAreRefusedNotCut) {
  const std::string path = write("s.txt", "Name = " + std::string(50, 'n') + "\nPin = 1234\n");
  const std::string log = logOf([&] { EXPECT_EQ(LoadSettings(path, 0), 1); });
  EXPECT_STREQ(fileSettings.name, "");
  EXPECT_STREQ(fileSettings.pin, "1234");
  EXPECT_NE(log.find("Name value of 50 characters"), std::string::npos);
}

TEST_F(SettingsFileTest, VeryLongLinesArriveInPieces) {
  const std::string path = write("s.txt", std::string(3000, 'z') + "\nBaud = 9600\n");
  EXPECT_EQ(LoadSettings(path, 0), 1);
  EXPECT_EQ(fileSettings.baud, 9600);
}

TEST_F(SettingsFileTest, OpenFailuresAreReportedAndLeaveTheRecord) {
  fileSettings.baud = 4800;
  EXPECT_EQ(LoadSettings(dir.file("missing.txt"), 0), 0);
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].text, "Failed to open settings.txt file.No such file present");
  EXPECT_EQ(fileSettings.baud, 4800);
}

TEST_F(SettingsFileTest, AFailedWriteLeavesWhatWasThereAndNoTemporaryFile) {
  // The target is a directory: the rename over it fails.
  std::filesystem::create_directory(dir.file("settings.txt"));
  EXPECT_EQ(SaveSettingsToFile(dir.file("settings.txt")), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("settings.txt")));
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].text.rfind("Failed to", 0), 0u);
  EXPECT_EQ(window.statusTexts().back(), "Failed to save device settings");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "the temporary file is removed";

  window.clear();
  EXPECT_EQ(SaveSettingsToFile(dir.file("no/such/dir/settings.txt")), 0);
  EXPECT_EQ(window.boxes()[0].text, "Failed to open settings.txt file. Error 2");
}

TEST(SettingsErrorTexts, EachErrnoHasItsText) {
  EXPECT_EQ(settingsOpenErrorText(EACCES), "Failed to open settings.txt file.Access Denied");
  EXPECT_EQ(settingsOpenErrorText(EPERM),
            "Failed to open settings.txt file.Operation not permitted");
  EXPECT_EQ(settingsOpenErrorText(EIO), "Failed to open settings.txt file. Error 5");
  EXPECT_EQ(settingsCreateErrorText(ENOMEM),
            "Failed to create settings.txt file.No Space in disk left");
  EXPECT_EQ(settingsCreateErrorText(EBUSY), "Failed to create settings.txt file.File in use.");
  EXPECT_EQ(settingsCreateErrorText(ENOSPC), "Failed to open settings.txt file. Error 28");
}

}  // namespace
}  // namespace kx::test
