// The link layer's answer handling without a port: processPairResponse on
// answers placed in `atCommand` (as the engine leaves them), and the remote
// adapter's two-byte answers fed to processHandshakeData in every split.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/local_device.h"
#include "link/connection.h"
#include "link/pairing.h"
#include "link/remote_config.h"
#include "platform/memory_form.h"
#include "platform/recording_window.h"

namespace kx {
namespace {

class LinkResponses : public ::testing::Test {
 protected:
  void SetUp() override {
    clearLocalDev();
    clearPair();
    clearRemote();
    clearInquiry();
    {
      std::lock_guard lock(atCommandMutex);
      clearAtCommand();
    }
    mainWindowHandle = &window;
  }
  void TearDown() override {
    mainWindowHandle = nullptr;
    clearLocalDev();
    clearPair();
    clearRemote();
  }

  // An answered command as the engine leaves it.
  int answer(const std::string& command, const std::string& param,
             const std::string& response = "\r\nOK\r\n") {
    {
      std::lock_guard lock(atCommandMutex);
      clearAtCommand();
      copyField(atCommand.command, command);
      copyField(atCommand.param, param);
      copyField(atCommand.response, response);
      atCommand.responseComplete = 1;
    }
    return processPairResponse(pairPage, localPage);
  }

  RecordingWindow window;
  MemoryForm pairPage, localPage;
};

TEST_F(LinkResponses, Device2AddressAndNameAreCutToTheirFields) {
  pair.state = DEV2_INITIALISED;
  localDev.initialised = 1;
  copyField(localDev.address, "0012-6F-100001");
  const std::string longName(40, 'N');
  const struct {
    const char* command;
    std::string value;
    const char* field;
    std::string expected;
    int box;
  } rows[] = {
      {"AT+ADDR?\r", "0012-6F-100002", pair.dev2Address, "0012-6F-100002",
       ctl::kPairDevice2Address},
      {"AT+ADDR?\r", "0012-6F-100002-FFFF-EEEE", pair.dev2Address, "0012-6F-100002-FFFF",
       ctl::kPairDevice2Address},
      {"AT+NAME?\r", "KX627-2", pair.dev2Name, "KX627-2", ctl::kPairDevice2Name},
      {"AT+NAME?\r", longName, pair.dev2Name, std::string(19, 'N'), ctl::kPairDevice2Name},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    EXPECT_EQ(answer(r.command, "\r\n" + r.value + "\r\n"), 1);
    EXPECT_EQ(std::string(r.field), r.expected);
    EXPECT_EQ(pairPage.text(r.box), r.expected);
    EXPECT_EQ(pairPage.text(ctl::kPairDevice1Address), "0012-6F-100001");  // both devices shown
  }
}

TEST_F(LinkResponses, AddressOrNameOutsideDevice2StepsIsIgnored) {
  for (int32_t state : {PAIR_IDLE, PAIRING_STARTED, DEV2_BONDED, DEV2_UNPAIRING}) {
    pair.state = state;
    answer("AT+ADDR?\r", "\r\n0012-6F-100002\r\n");
    answer("AT+NAME?\r", "\r\nKX627-2\r\n");
    EXPECT_STREQ(pair.dev2Address, "") << state;
    EXPECT_STREQ(pair.dev2Name, "") << state;
  }
}

TEST_F(LinkResponses, RespAnswersMoveTheStateAndGoToTheRightDevice) {
  const struct {
    int32_t state;
    int32_t dev2Temp;
    const char* command;
    const char* param;
    int32_t stateAfter;
    int32_t dev2Resp;
    int32_t localResp;
  } rows[] = {
      {PAIRING_STARTED, 0, "AT+RESP?\r", "\r\nRESP+\r\n", DEV2_INITIALISED, 1, 0},
      {PAIRING_STARTED, 0, "AT+RESP?\r", "\r\nRESP-\r\n", DEV2_INITIALISED, 0, 0},
      {DEV1_UNBONDED, 0, "AT+RESP?\r", "\r\nRESP+\r\n", DEV2_UNPAIRING, 1, 0},
      {DEV2_INITIALISED, 0, "AT+RESP+\r", "", DEV2_INITIALISED, 1, 0},  // Device 2
      {DEV2_BONDED, 0, "AT+RESP+\r", "", DEV2_BONDED, 0, 1},            // the local device
      {UNPAIRING_STARTED, 0, "AT+RESP+\r", "", UNPAIRING_STARTED, 0, 1},
      {UNPAIRING_STARTED, 1, "AT+RESP+\r", "", UNPAIRING_STARTED, 1, 0},  // left over: Device 2
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.command) + " state " + std::to_string(r.state));
    clearPair();
    clearLocalDev();
    pair.state = r.state;
    pair.dev2RespTempEnabled = r.dev2Temp;
    answer(r.command, r.param);
    EXPECT_EQ(pair.state.load(), r.stateAfter);
    EXPECT_EQ(pair.dev2CmdResponse.load(), r.dev2Resp);
    EXPECT_EQ(localDev.cmdResponse.load(), r.localResp);
  }
}

TEST_F(LinkResponses, BondAnswers) {
  pair.state = DEV2_INITIALISED;
  answer("AT+BOND=00126F100001\r", "");
  EXPECT_EQ(pair.state.load(), DEV2_BONDED);
  EXPECT_EQ(localDev.bonded.load(), 0);  // Device 2's bond is not the local one

  answer("AT+BOND=00126F100002\r", "");
  EXPECT_EQ(pair.state.load(), DEV1_BONDED);
  EXPECT_STREQ(localDev.bondedAddress, "0012-6F-100002");
  EXPECT_EQ(localDev.bonded.load(), 1);
  EXPECT_EQ(localPage.text(ctl::kBondedAddress), "0012-6F-100002");

  pair.state = UNPAIRING_STARTED;
  answer("AT+BOND-\r", "");
  EXPECT_EQ(pair.state.load(), DEV1_UNBONDED);
  EXPECT_STREQ(localDev.bondedAddress, "0000-00-000000");
  EXPECT_EQ(localDev.bonded.load(), 0);

  copyField(localDev.bondedAddress, "0012-6F-100002");
  pair.state = DEV2_UNPAIRING;
  answer("AT+BOND-\r", "");
  EXPECT_EQ(pair.state.load(), DEV2_UNBONDED);
  EXPECT_STREQ(localDev.bondedAddress, "0012-6F-100002");  // Device 2's, not ours

  answer("AT+BOND?\r", "\r\n0000-00-000000\r\n");
  EXPECT_EQ(localDev.bonded.load(), 0);
  answer("AT+BOND?\r", "\r\n0012-6F-100009-TOO-LONG-TO-FIT\r\n");
  EXPECT_EQ(std::strlen(localDev.bondedAddress), std::size_t(kAddressSize - 1));
  EXPECT_EQ(localDev.bonded.load(), 1);
}

TEST_F(LinkResponses, RoleAndAutoConnectDropTheLinkFlags) {
  for (const char* command : {"AT+ROLEM\r", "AT+ACON+\r"}) {
    SCOPED_TRACE(command);
    pair.state = DEV2_BONDED;
    localDev.connected = 1;
    localDev.dataMode = 1;
    localDev.handshaked = 1;
    const int before = window.count(NOTIFY_REFRESH_INDICATORS);
    answer(command, "");
    EXPECT_EQ(localDev.connected.load(), 0);
    EXPECT_EQ(localDev.dataMode.load(), 0);
    EXPECT_EQ(localDev.handshaked.load(), 0);
    EXPECT_EQ(window.count(NOTIFY_REFRESH_INDICATORS), before + 1);
  }
  EXPECT_EQ(localDev.role.load(), 1);
  EXPECT_EQ(localDev.autoConnect.load(), 1);
  EXPECT_TRUE(localPage.checked(ctl::kAutoConnect));

  // Device 2's role change touches only the pairing record.
  pair.state = DEV2_INITIALISED;
  localDev.connected = 1;
  answer("at+roles\r", "");
  EXPECT_EQ(pair.dev2Role.load(), 2);
  EXPECT_EQ(localDev.role.load(), 1);
  EXPECT_EQ(localDev.connected.load(), 1);
}

TEST_F(LinkResponses, ErrorAndInvalidAnswers) {
  localDev.initialised = 1;
  pair.state = DEV2_INITIALISED;
  EXPECT_EQ(answer("AT+ROLES\r", "", "\r\nERROR\r\n"), 1);
  EXPECT_EQ(pair.dev2Role.load(), 0);
  EXPECT_EQ(answer("AT+ROLES\r", "", "\r\nRUBBISH\r\n"), 0);
  EXPECT_EQ(answer("AT+NOPE\r", ""), 0);
  const auto texts = window.statusTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Command AT+ROLES failed. Response ERROR");
  EXPECT_EQ(texts[1], "Command AT+ROLES failed. Response Invalid");
  EXPECT_EQ(texts[2], "Invalid Command AT+NOPE");
  std::lock_guard lock(atCommandMutex);
  EXPECT_EQ(atCommand.command[0], '\0');  // every path clears the record
}

// ---------------------------------------------------------------- remote answers

struct Exchange {
  const char* name;
  int32_t state;
  int32_t pending;
  std::string bytes;
  int32_t stateAfter;
  const char* status;
  bool refreshesPage;
};

class RemoteAnswers : public LinkResponses, public ::testing::WithParamInterface<Exchange> {};

TEST_P(RemoteAnswers, EverySplitGivesTheSameOutcome) {
  const Exchange& e = GetParam();
  for (std::size_t split = 0; split <= e.bytes.size(); ++split) {
    SCOPED_TRACE(split);
    window.clear();
    remote.handshakeState = e.state;
    remote.pendingRemoteCommand = e.pending;
    remote.handshakeRespLen = 0;
    localDev.handshaked = 1;
    window.setTimer(TIMER_HANDSHAKE, 4000);
    const auto* data = reinterpret_cast<const uint8_t*>(e.bytes.data());
    processHandshakeData(data, static_cast<uint32_t>(split));
    processHandshakeData(data + split, static_cast<uint32_t>(e.bytes.size() - split));
    EXPECT_EQ(remote.handshakeState.load(), e.stateAfter);
    EXPECT_EQ(localDev.handshaked.load(), 0);
    EXPECT_EQ(remote.handshakeRespLen, 0);
    EXPECT_FALSE(window.timerArmed(TIMER_HANDSHAKE));
    ASSERT_TRUE(window.waitFor([&] { return !window.statusTexts().empty(); }, 2000));
    EXPECT_EQ(window.statusTexts(), std::vector<std::string>{e.status});
    EXPECT_EQ(window.count(NOTIFY_REMOTE_PAGE), e.refreshesPage ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Link, RemoteAnswers,
    ::testing::Values(Exchange{"HandshakeAccepted", HANDSHAKE_STARTED, 0, "\xAA\xAA",
                               HANDSHAKE_COMPLETE, "Handshake Complete...", true},
                      Exchange{"HandshakeRefused", HANDSHAKE_STARTED, 0, "\xAA\x55", HANDSHAKE_IDLE,
                               "Handshake Failed...", false},
                      Exchange{"BaudChanged", HANDSHAKE_COMPLETE, 1, std::string("\x01\x00", 2),
                               HANDSHAKE_COMPLETE, "Remote Device Baud rate changed.", false},
                      Exchange{"BaudRefused", HANDSHAKE_COMPLETE, 1, "\x01\x01", HANDSHAKE_COMPLETE,
                               "Remote Device Baud rate change failed.", false},
                      Exchange{"Exited", HANDSHAKE_COMPLETE, 0, std::string("\x00\x00", 2),
                               HANDSHAKE_IDLE, "Remote Access Mode Exited.", true},
                      Exchange{"ExitRefused", HANDSHAKE_COMPLETE, 0, std::string("\x00\x01", 2),
                               HANDSHAKE_COMPLETE, "Exit Remote Access Mode failed.", false}),
    [](const ::testing::TestParamInfo<Exchange>& p) { return std::string(p.param.name); });

TEST_F(LinkResponses, BytesWhileIdleAreDropped) {
  remote.handshakeState = HANDSHAKE_IDLE;
  localDev.handshaked = 1;
  const uint8_t bytes[] = {0xAA, 0xAA, 0xAA};
  processHandshakeData(bytes, sizeof bytes);
  EXPECT_EQ(remote.handshakeRespLen, 0);
  EXPECT_EQ(remote.handshakeState.load(), HANDSHAKE_IDLE);
  EXPECT_TRUE(window.statusTexts().empty());
}

// While the question about data mode is open, whatever the adapter sends (a
// DISCONNECT event) must not go to the remote answer receiver: it is armed
// only once the bytes are about to be written.
TEST_F(LinkResponses, RemoteReceiverIsNotArmedWhileDataModeIsAsked) {
  struct AskingWindow : RecordingWindow {
    std::vector<int32_t> armedWhileAsked;
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgIcon icon) override {
      armedWhileAsked.push_back(localDev.handshaked.load());
      RecordingWindow::messageBox(text, caption, buttons, icon);
      return MsgResult::Cancel;
    }
  } asking;
  mainWindowHandle = &asking;
  localDev.initialised = 1;
  localDev.connected = 1;
  localDev.dataMode = 0;
  remote.handshakeState = HANDSHAKE_IDLE;
  onHandshake();
  remote.handshakeState = HANDSHAKE_COMPLETE;
  MemoryForm remotePage;
  onProgramRemoteDevice(remotePage);
  onExitRemoteAccess();
  mainWindowHandle = &window;
  EXPECT_EQ(asking.armedWhileAsked, (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(localDev.handshaked.load(), 0) << "a refused send leaves the receiver disarmed";
  EXPECT_EQ(remote.handshakeState.load(), HANDSHAKE_COMPLETE);
}

TEST(InquiryResultAddress, TakesTheAddressColumns) {
  const std::string pad(34, ' ');
  EXPECT_EQ(inquiryResultAddress(pad + "0023-45-B00001"), "002345B00001");
  EXPECT_EQ(inquiryResultAddress(pad + "0023-45-B00001 trailing"), "002345B00001");
  EXPECT_EQ(inquiryResultAddress(pad + "0023-4"), "00234");  // a short row gives what it has
  EXPECT_EQ(inquiryResultAddress(pad), "");
  EXPECT_EQ(inquiryResultAddress("short"), "");
}

}  // namespace
}  // namespace kx
