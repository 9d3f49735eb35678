// Applying answers to the local device: the firmware tests, conversions and
// the response rules, fed through atCommand as the engine leaves it.
#include <gtest/gtest.h>

#include "common/address.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "platform/memory_form.h"
#include "platform/recording_window.h"
#include "platform/scripted_serial_device.h"
#include "serial/uart.h"
#include "platform/clock.h"

namespace kx::test {
namespace {

using namespace ctl;

class ResponseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearUart();
    clearLocalDev();
    clearInquiry();
    {
      std::lock_guard lock(atCommandMutex);
      clearAtCommand();
    }
    mainWindowHandle = &window;
    localDev.initialised = 1;
    // The lists as the real page fills them.
    for (const char* speed : {"1200", "2400", "4800", "9600", "19200", "38400", "57600",
                              "115200", "230400", "460800", "921600"})
      page.addRow(kBaudRateList, speed);
    for (const char* p : {"None", "Odd", "Even"}) page.addRow(kParityList, p);
    for (const char* m : {"Disabled", "Local Loopback", "Remote Transfer"})
      page.addRow(kModemSignalList, m);
  }
  void TearDown() override {
    UartDeinit();
    serialDeviceFactory = nullptr;
    setClockScale(1.0);
    mainWindowHandle = nullptr;
  }
  // Puts an answer into atCommand as the engine leaves it, and applies it.
  int apply(const std::string& command, const std::string& response,
            const std::string& param = "") {
    {
      std::lock_guard lock(atCommandMutex);
      clearAtCommand();
      copyField(atCommand.command, command);
      copyField(atCommand.response, response);
      copyField(atCommand.param, param);
    }
    return applyCommandResponse(page);
  }
  bool recordCleared() {
    std::lock_guard lock(atCommandMutex);
    return atCommand.command[0] == '\0' && atCommand.response[0] == '\0' &&
           atCommand.param[0] == '\0';
  }
  void openScriptedPort() {
    port = std::make_shared<ScriptedPort>();
    useScriptedPort(port);
    copyField(uart.comPort, "/dev/ttyKX0");
    uart.baud = 9600;
    uart.parity = PARITY_NONE_FLAG;
    uart.stopBits = 1;
    ASSERT_EQ(UartInit(), 0);
  }

  MemoryForm page;
  RecordingWindow window;
  std::shared_ptr<ScriptedPort> port;
};

TEST(FirmwareTests, SubstringsDecideEachFeatureIndependently) {
  struct Row {
    const char* version;
    bool legacy, service, cod;
  };
  const Row rows[] = {
      {"", false, false, false},          {"v4.51", true, false, false},
      {"v6.52", false, true, false},      {"v6.54.c", true, false, false},
      {"v6.80", false, true, true},       {"v6.8 v4.1", true, true, true},
      {"V6.80", false, false, false},  // case-sensitive
  };
  for (const Row& r : rows) {
    clearLocalDev();
    copyField(localDev.fwVersion, r.version);
    EXPECT_EQ(isLegacyFirmware(), r.legacy) << r.version;
    EXPECT_EQ(supportsRemoteService(), r.service) << r.version;
    EXPECT_EQ(supportsRemoteCod(), r.cod) << r.version;
  }
}

TEST(Conversions, BaudCodesIndicesAndParity) {
  EXPECT_EQ(baudCodeToBps(10), 1200);
  EXPECT_EQ(baudCodeToBps(17), 115200);
  EXPECT_EQ(baudCodeToBps(20), 921600);
  for (int code : {0, 9, 21, -1}) EXPECT_EQ(baudCodeToBps(code), 19200) << code;
  EXPECT_EQ(baudCodeToBps(14), 19200);
  EXPECT_EQ(bpsToBaudIndex(1200), 0);
  EXPECT_EQ(bpsToBaudIndex(921600), 10);
  EXPECT_EQ(bpsToBaudIndex(14400), 4);
  EXPECT_EQ(bpsToBaudIndex(19200), 4);
  EXPECT_EQ(parityToIndex(PARITY_ODD_FLAG), 1);
  EXPECT_EQ(parityToIndex(PARITY_EVEN_FLAG), 2);
  EXPECT_EQ(parityToIndex(7), 0);
}

TEST(ValueExtraction, FramedCommandAndBondValues) {
  EXPECT_EQ(framedValue("\r\nKX627\r\n"), "KX627");
  EXPECT_EQ(framedValue("\r\n\r\n"), "");
  EXPECT_EQ(framedValue("\r\n"), "");
  EXPECT_EQ(commandValue("AT+NAME=Left=Right\r"), "Left=Right");
  EXPECT_EQ(commandValue("AT+NAME?\r"), "");
  EXPECT_EQ(hyphenatedAddress("abcdefghijkl"), "abcd-ef-ghijkl");
  EXPECT_EQ(addressDigits("0012-6F 10:00:01"), "00126F100001");
}

TEST_F(ResponseTest, TwoStateSettingsFromQueriesAndSetsIgnoringCase) {
  struct Row {
    const char* command;
    const char* param;
    Flag* field;
    int expect;
    int control;
  };
  const Row rows[] = {
      {"AT+ECHO?\r", "\r\necho+\r\n", &localDev.echo, 1, kEchoMode},
      {"AT+ECHO-\r", "", &localDev.echo, 0, kEchoMode},
      {"AT+ESC?\r", "\r\nESC+\r\n", &localDev.escapeMode, 1, kEscapeMode},
      {"AT+SLEEP+\r", "", &localDev.sleepMode, 1, kSleepMode},
      {"AT+RCFG?\r", "\r\nRCFG+\r\n", &localDev.remoteConfig, 1, kRemoteConfiguration},
      {"AT+ACON+\r", "", &localDev.autoConnect, 1, kAutoConnect},
      {"AT+RESP?\r", "\r\nRESP+\r\n", &localDev.cmdResponse, 1, kCommandResponse},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.command);
    EXPECT_EQ(apply(r.command, "\r\nOK\r\n", r.param), 1);
    EXPECT_EQ(r.field->load(), r.expect);
    EXPECT_EQ(page.checked(r.control), r.expect == 1);
    EXPECT_TRUE(recordCleared());
  }
  // An unknown value leaves the field alone.
  localDev.echo = 1;
  EXPECT_EQ(apply("AT+ECHO?\r", "\r\nOK\r\n", "\r\nECHOX\r\n"), 1);
  EXPECT_EQ(localDev.echo.load(), 1);
}

TEST_F(ResponseTest, FinalLinesAreMatchedExactly) {
  EXPECT_EQ(apply("AT+ECHO+\r", "\r\nok\r\n"), 0) << "a lower-case OK is invalid";
  EXPECT_EQ(localDev.echo.load(), 0);
  EXPECT_EQ(window.statusTexts().back(), "Command AT+ECHO+ failed. Response Invalid");
  EXPECT_TRUE(recordCleared());
  EXPECT_EQ(apply("AT+ECHO+\r", "\r\n"), 1) << "a bare CR LF counts while responses are off";
  EXPECT_EQ(localDev.echo.load(), 1);
  EXPECT_EQ(apply("AT+BOGUS\r", "\r\nOK\r\n"), 0);
  EXPECT_EQ(window.statusTexts().back(), "Invalid Command AT+BOGUS");
}

TEST_F(ResponseTest, ErrorRestoresThePageAndStaysSilentBeforeInitialisation) {
  copyField(localDev.name, "Stored");
  page.setText(kDeviceName, "Edited");
  EXPECT_EQ(apply("AT+NAME=Edited\r", "\r\nERROR\r\n"), 1);
  EXPECT_EQ(page.text(kDeviceName), "Stored");
  EXPECT_EQ(window.statusTexts().back(), "Command AT+NAME=Edited failed. Response ERROR");

  window.clear();
  EXPECT_EQ(apply("ATI0\r", "\r\nERROR\r\n"), 1);
  EXPECT_TRUE(window.statusTexts().empty()) << "ATI0's refusal is only logged";

  localDev.initialised = 0;
  page.setText(kDeviceName, "Edited");
  EXPECT_EQ(apply("AT+RESP?\r", "\r\nERROR\r\n"), 1);
  EXPECT_TRUE(window.statusTexts().empty());
  EXPECT_EQ(page.text(kDeviceName), "Edited");
}

TEST_F(ResponseTest, FirstProbeAnswerInitialisesWithoutStoringTheValue) {
  localDev.initialised = 0;
  localDev.cmdResponse = 1;
  EXPECT_EQ(apply("AT+RESP?\r", "\r\nOK\r\n", "\r\nRESP-\r\n"), 1);
  EXPECT_EQ(localDev.initialised.load(), 1);
  EXPECT_EQ(localDev.cmdResponse.load(), 1);
  EXPECT_TRUE(page.checked(kModeCommand));
  EXPECT_EQ(window.statusTexts().back(), "Local Device initialised successfully");
  EXPECT_GE(window.count(NOTIFY_REFRESH_INDICATORS), 1);
  // The read list's own query then stores it.
  EXPECT_EQ(apply("AT+RESP?\r", "\r\nOK\r\n", "\r\nRESP-\r\n"), 1);
  EXPECT_EQ(localDev.cmdResponse.load(), 0);
}

TEST_F(ResponseTest, ARoleChangeWhileConnectedResetsTheLinkAQueryDoesNot) {
  localDev.connected = 1;
  localDev.dataMode = 1;
  localDev.handshaked = 1;
  // Reading the settings (Re-initialize on a connected adapter) leaves the
  // link and its LED as they are.
  for (const auto& [command, value] : {std::pair{"AT+ROLE?\r", "\r\nROLES\r\n"},
                                       std::pair{"AT+ACON?\r", "\r\nACON-\r\n"},
                                       std::pair{"AT+DCOV?\r", "\r\nDCOV+\r\n"},
                                       std::pair{"AT+FLOW?\r", "\r\nFLOW-\r\n"}}) {
    EXPECT_EQ(apply(command, "\r\nOK\r\n", value), 1) << command;
    EXPECT_EQ(localDev.connected.load(), 1) << command;
    EXPECT_EQ(localDev.handshaked.load(), 1) << command;
  }
  EXPECT_EQ(localDev.role.load(), 2);
  EXPECT_TRUE(page.checked(kSlave));
  EXPECT_FALSE(page.checked(kMaster));
  EXPECT_EQ(apply("AT+ROLEM\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(localDev.role.load(), 1);
  EXPECT_TRUE(page.checked(kMaster));
  EXPECT_EQ(localDev.connected.load(), 0);
  EXPECT_EQ(localDev.dataMode.load(), 0);
  EXPECT_EQ(localDev.handshaked.load(), 0);
}

TEST_F(ResponseTest, TextSettingsAreCutToTheirFields) {
  const std::string longName(100, 'N');
  EXPECT_EQ(apply("AT+NAME?\r", "\r\nOK\r\n", "\r\n" + longName + "\r\n"), 1);
  EXPECT_EQ(std::string(localDev.name), std::string(kNameSize - 1, 'N'));
  EXPECT_EQ(apply("AT+VER\r", "\r\nOK\r\n", "\r\n" + std::string(200, 'v') + "\r\n"), 1);
  EXPECT_EQ(fieldLength(localDev.fwVersion), static_cast<std::size_t>(kFwVersionSize - 1));
  EXPECT_EQ(page.text(kFwVersionLabel), std::string(kFwVersionSize - 1, 'v'));
}

TEST_F(ResponseTest, BondPinAndServiceValues) {
  EXPECT_EQ(apply("AT+BOND=abcdefghijkl\r", "\r\nOK\r\n"), 1);
  EXPECT_STREQ(localDev.bondedAddress, "abcd-ef-ghijkl");
  EXPECT_EQ(localDev.bonded.load(), 1);
  EXPECT_EQ(apply("AT+BOND?\r", "\r\nOK\r\n", "\r\n0000-00-000000\r\n"), 1);
  EXPECT_EQ(localDev.bonded.load(), 0);
  EXPECT_EQ(apply("AT+BOND-\r", "\r\nOK\r\n"), 1);
  EXPECT_STREQ(localDev.bondedAddress, "0000-00-000000");

  copyField(localDev.pin, "1234");
  EXPECT_EQ(apply("AT+PIN?\r", "\r\nOK\r\n", "\r\nnull\r\n"), 1);
  EXPECT_EQ(localDev.authDisabled.load(), 1);
  EXPECT_STREQ(localDev.pin, "1234") << "the record keeps the PIN";
  EXPECT_EQ(page.text(kPinCode), "");
  EXPECT_FALSE(page.enabled(kPinCode));
  EXPECT_TRUE(page.checked(kDisableAuthentication));
  EXPECT_EQ(apply("AT+PIN=8942\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(localDev.authDisabled.load(), 0);
  EXPECT_EQ(page.text(kPinCode), "8942");

  EXPECT_EQ(apply("AT+RSERVICE-\r", "\r\nOK\r\n"), 1);
  EXPECT_STREQ(localDev.remoteService, "NULL");
  EXPECT_EQ(apply("AT+RCOD-\r", "\r\nOK\r\n"), 1);
  EXPECT_STREQ(localDev.remoteCod, "000000");
}

TEST_F(ResponseTest, LocalAddressEqualToTheBondIsReported) {
  copyField(localDev.bondedAddress, "0012-6f-aabbcc");
  EXPECT_EQ(apply("AT+ADDR?\r", "\r\nOK\r\n", "\r\n0012-6F-AABBCC\r\n"), 1);
  ASSERT_EQ(window.boxes().size(), 1u);
  EXPECT_EQ(window.boxes()[0].text,
            "ERROR! Local Address and Bonded address cannot be same. Please remove bonding");
}

TEST_F(ResponseTest, BaudQueryRecordsAndBaudSetRetunesThePort) {
  openScriptedPort();
  const int configuresBefore = port->configureCount();
  EXPECT_EQ(apply("AT+BAUD?\r", "\r\nOK\r\n", "\r\nBAUD17\r\n"), 1);
  EXPECT_EQ(localDev.baudCode.load(), 17);
  EXPECT_EQ(uart.baud, 115200);
  EXPECT_EQ(port->configureCount(), configuresBefore) << "a query does not touch the port";
  EXPECT_EQ(page.selection(kBaudRateList), 7);

  setClockScale(0.01);
  EXPECT_EQ(apply("AT+BAUD15\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(uart.baud, 38400);
  EXPECT_EQ(port->settings().baud, 38400);

  EXPECT_EQ(apply("AT+STOP?\r", "\r\nOK\r\n", "\r\nSTOP9\r\n"), 1);
  EXPECT_EQ(uart.stopBits, 1) << "an unknown answer keeps the value";
  EXPECT_TRUE(page.checked(kStopOne));
  EXPECT_EQ(apply("AT+PAR2\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(port->settings().parity, Parity::Even);
  bool rtsEnabled = true;
  rtsBoxEnabledHook = [&](bool on) { rtsEnabled = on; };
  EXPECT_EQ(apply("AT+FLOW+\r", "\r\nOK\r\n"), 1);
  EXPECT_TRUE(port->settings().rtsCts);
  EXPECT_FALSE(rtsEnabled) << "hardware flow control owns RTS";
  rtsBoxEnabledHook = nullptr;
}

TEST_F(ResponseTest, InquiryStartAndModeChanges) {
  {
    std::lock_guard lock(inquiryMutex);
    inquiry.count = 3;
  }
  EXPECT_EQ(apply("AT+FIND?\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(localDev.inquiryActive.load(), 1);
  EXPECT_EQ(inquiry.count.load(), 0);
  EXPECT_EQ(inquiry.skipNext.load(), 1);
  EXPECT_EQ(window.timerPeriod(TIMER_INQUIRY), 1000);
  EXPECT_EQ(window.count(NOTIFY_CLEAR_INQUIRY), 1);
  EXPECT_EQ(window.count(NOTIFY_CONNECTION_BUTTONS), 1);
  EXPECT_EQ(apply("AT+FIND-\r", "\r\nOK\r\n", "\r\nInquiry Cancelled"), 1);
  EXPECT_EQ(localDev.inquiryActive.load(), 0);

  EXPECT_EQ(apply("AT+AUTO\r", "\r\nOK\r\n"), 1);
  EXPECT_EQ(localDev.dataMode.load(), 1);
  EXPECT_TRUE(page.checked(kModeData));
  EXPECT_EQ(apply("+++", "\r\nOK\r\n"), 1);
  EXPECT_EQ(localDev.dataMode.load(), 0);
  EXPECT_TRUE(page.checked(kModeCommand));

  EXPECT_EQ(apply("ATI0\r", "\r\nOK\r\n", "\r\nv2.1\r\n"), 1);
  EXPECT_EQ(localDev.oldFirmware.load(), 1);
}

}  // namespace
}  // namespace kx::test
