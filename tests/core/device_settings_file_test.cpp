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
    forgetSerialSettings();
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
  EXPECT_TRUE(checkSettingsFile(dir.file("settings.txt")).problems.empty())
      << "the empty port, speed and address of a run without a device read back";
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
  // A text file as the system writes them: CR LF on Windows, LF elsewhere.
  std::ifstream raw(path, std::ios::binary);
  std::string first;
  std::getline(raw, first);
#ifdef _WIN32
  EXPECT_EQ(first, "# KX627 Configuration Utility Settings\r");
#else
  EXPECT_EQ(first, "# KX627 Configuration Utility Settings");
#endif
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

// Each kind of line the check refuses, and lines it takes although they hold
// other keys' names or odd spacing.
TEST(SettingsLineCheck, EveryLineIsCheckedBeforeItIsTaken) {
  const struct {
    std::string line;
    int key;
    std::string value;
    int32_t number;
  } taken[] = {
      {"Name = Baud-Tester\n", kKeyName, "Baud-Tester", 0},
      {"Name = Portable-3\r\n", kKeyName, "Portable-3", 0},
      {"RemoteService = SerialPort", kKeyRemoteService, "SerialPort", 0},
      {" \tPin\t=\t12=34 ", kKeyPin, "12=34 ", 0},
      {"FlowControl = on  ", kKeyFlowControl, "on  ", 1},
      {"Parity = EVEN", kKeyParity, "EVEN", PARITY_EVEN_FLAG},
      {"Baud = 921600", kKeyBaud, "921600", 921600},
      {"RemoteAddress = 0012-6f-AABBCC", kKeyRemoteAddress, "0012-6f-AABBCC", 0},
      {"Port = COM12", kKeyPort, "COM12", 0},
  };
  for (const auto& row : taken) {
    SCOPED_TRACE(row.line);
    SettingsLine entry;
    std::string problem;
    ASSERT_EQ(checkSettingsLine(row.line, &entry, &problem), SettingsLineKind::Entry) << problem;
    EXPECT_EQ(entry.key, row.key);
    EXPECT_EQ(entry.value, row.value);
    EXPECT_EQ(entry.number, row.number);
  }
  const struct {
    std::string line;
    const char* problem;
  } refused[] = {
      {"Nmae = Typo", "unknown key \"Nmae\" (did you mean \"Name\"?)"},
      {"echomode = On", "(did you mean \"EchoMode\"?)"},
      {"Bad = 9600", "(did you mean \"Baud\"?)"},
      {"StopBitss = 1", "(did you mean \"StopBits\"?)"},
      {"Parify = None", "(did you mean \"Parity\"?)"},
      {"Colour = Red", "unknown key \"Colour\""},
      {"Name Baud-Tester", "no \"=\""},
      {" = On", "no key before \"=\""},
      {"EchoMode = Maybe", "EchoMode: \"Maybe\" is not On or Off"},
      {"Role = boss", "Role: \"boss\" is not Master or Slave"},
      {"Role = b\xC3\xA9\\s\x80", "Role: \"b\\xC3\\xA9\\\\s\\x80\" is not Master or Slave"},
      {"ModemSignal = Loop", "is not Disabled, LocalLoopback or RemoteTransfer"},
      {"Baud = 12345", "Baud: \"12345\" is not an adapter speed"},
      {"Baud = 9600x", "is not an adapter speed"},
      {"StopBits = 3", "StopBits: \"3\" is not 1 or 2"},
      {"Port = PortA", "Port: \"PortA\" is not a port name"},
      {"RemoteAddress = 0012-6F-12345", "is not an address of 12 hex digits"},
      {"Name = " + std::string(20, 'n'), "Name: 20 characters, at most 19 fit in its field"},
      {"RemoteService = " + std::string(17, 's'), "at most 16 fit in the command"},
      {"Name = a\rAT+BAUD10", "control character (byte 0x0D)"},
      {std::string(1100, 'x'), "line longer than 1022 characters"},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.line);
    SettingsLine entry;
    std::string problem;
    EXPECT_EQ(checkSettingsLine(row.line, &entry, &problem), SettingsLineKind::Problem);
    EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
  }
  SettingsLine entry;
  std::string problem;
  for (const char* line : {"Nmea = x", "Colour = Red", "Pairyt = None"}) {  // no key one edit away
    checkSettingsLine(line, &entry, &problem);
    EXPECT_EQ(problem.find("did you mean"), std::string::npos) << problem;
  }
  EXPECT_EQ(checkSettingsLine("  # Name = x\n", &entry, &problem), SettingsLineKind::Comment);
  EXPECT_EQ(checkSettingsLine(" \t\r\n", &entry, &problem), SettingsLineKind::Blank);
}

// Values the writer writes that hold other keys' names, blanks and the empty
// texts of a run without a device all come back as they were.
TEST_F(SettingsFileTest, WhatIsWrittenReadsBackWhateverTheValuesHold) {
  const struct {
    const char* name;
    const char* pin;
    const char* service;
  } rows[] = {{"Baud-Tester", "Port", "SerialPort"}, {"Name = Pin", "=", "RemoteCOD ="},
              {"", "", ""}};
  copyField(localDev.fwVersion, "v6.80");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    copyField(localDev.name, row.name);
    copyField(localDev.pin, row.pin);
    copyField(localDev.remoteService, row.service);
    const std::string path = dir.file("saved.txt");
    ASSERT_EQ(SaveSettingsToFile(path), 1);
    const SettingsFileCheck check = checkSettingsFile(path);
    EXPECT_TRUE(check.problems.empty()) << listSettingsProblems(path, check.problems);
    ASSERT_EQ(LoadSettings(path, 0), 1);
    EXPECT_STREQ(fileSettings.name, row.name);
    EXPECT_STREQ(fileSettings.pin, row.pin);
    EXPECT_STREQ(fileSettings.remoteService, row.service);
  }
}

// A file is read whole first: its problems carry their line numbers, the good
// lines are taken, and a file without a single setting is a problem itself.
TEST_F(SettingsFileTest, ProblemsAreReportedByLineAndTheGoodLinesTaken) {
  const std::string path = write("s.txt",
                                 "# bench adapter\n"
                                 "\n"
                                 "Baud = 9600\n"
                                 "Nmae = Typo\n"
                                 "Name = Bench\n"
                                 "EchoMode = Maybe\n");
  ASSERT_EQ(LoadSettings(path, 0), 1);
  EXPECT_EQ(fileSettings.baud, 9600);
  EXPECT_STREQ(fileSettings.name, "Bench");
  EXPECT_EQ(fileSettings.echo, 0) << "a refused line leaves its field alone";
  EXPECT_TRUE(window.boxes().empty()) << "read at start-up: status lines, never a box";
  const auto status = window.statusTexts();
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[0], path + ":4: unknown key \"Nmae\" (did you mean \"Name\"?) (line ignored)");
  EXPECT_EQ(status[1].rfind(path + ":6: EchoMode:", 0), 0u) << status[1];

  std::filesystem::create_directory(dir.file("folder"));
  EXPECT_NE(checkSettingsFile(dir.file("folder")).readError, 0);
  for (const std::string& content : {std::string(), std::string("# only\n\n"),
                                     std::string("\x01\xfe\x00\x7f=\n\xff", 8)}) {
    const SettingsFileCheck check = checkSettingsFile(write("odd.txt", content));
    EXPECT_FALSE(check.usable());
    ASSERT_FALSE(check.problems.empty());
    EXPECT_EQ(describeSettingsProblem("odd.txt", check.problems.back()),
              "odd.txt: no settings in this file");
  }
  std::vector<SettingsProblem> many(13, SettingsProblem{2, "bad"});
  const std::string listed = listSettingsProblems("f", many);
  EXPECT_NE(listed.find("f:2: bad\n"), std::string::npos);
  EXPECT_NE(listed.find("\nand 3 more\n"), std::string::npos) << listed;
}

// Windows editors save UTF-8 with a byte-order mark (and CR LF line ends).
TEST_F(SettingsFileTest, AByteOrderMarkAtTheStartIsNoPartOfTheFirstLine) {
  const SettingsFileCheck check =
      checkSettingsFile(write("bom.txt", "\xEF\xBB\xBFName = Notepad\r\nBaud = 9600\r\n"));
  EXPECT_TRUE(check.problems.empty()) << check.problems.front().text;
  ASSERT_EQ(check.entries.size(), 2u);
  EXPECT_EQ(check.entries[0].value, "Notepad");
  // Only at the very start: one further down is in the line.
  const SettingsFileCheck later =
      checkSettingsFile(write("bom2.txt", "Baud = 9600\n\xEF\xBB\xBFName = Notepad\n"));
  ASSERT_EQ(later.problems.size(), 1u);
  EXPECT_EQ(later.problems[0].lineNumber, 2);
}

// A file is read in blocks: a line longer than a block, one at the longest
// length read and one past it each stay one line, and the last line needs no
// line end.
TEST_F(SettingsFileTest, LongLinesAreReadAsOneLineEach) {
  const std::string name = "Name = " + std::string(1015, 'n');  // 1022 characters
  const SettingsFileCheck check =
      checkSettingsFile(write("long.txt", "Baud = 9600\nPin = " + std::string(5000, 'p') + "\n" +
                                              name + "\r\n" + name + "x\r\nRole = Slave"));
  std::vector<std::pair<int, std::string>> problems;
  for (const SettingsProblem& p : check.problems) problems.emplace_back(p.lineNumber, p.text);
  EXPECT_EQ(problems, (std::vector<std::pair<int, std::string>>{
                          {2, "line longer than 1022 characters"},
                          {3, "Name: 1015 characters, at most 19 fit in its field"},
                          {4, "line longer than 1022 characters"}}));
  ASSERT_EQ(check.entries.size(), 2u);
  EXPECT_EQ(check.entries[1].lineNumber, 5);
  EXPECT_EQ(check.entries[1].value, "Slave");
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
