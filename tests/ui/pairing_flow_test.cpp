// Pairing two adapters through the one port, and unpairing them, end to end:
// the real window offscreen, the Pairing page's buttons clicked, and the
// OK/Cancel prompts answered the way a person would, plugging the other
// simulated adapter into the port when the prompt asks for it.
// clang-format off
#include "support/sim_window.h"  // first: see there
// clang-format on

#include <QtTest>

#include "common/records.h"
#include "platform/clock.h"

using namespace kx;
using kx::test::SimWindow;

namespace {

const std::string kPort = "/dev/ttyKX-sim";
const std::string kPromptDevice2 = "Connect Device 2 to " + kPort + " and then Press OK";
const std::string kPromptDevice1 = "Connect Device 1 to " + kPort + " and then Press OK";

// Two adapters and one remote device. Auto-connect after a pairing is held
// off for the length of a test by a long page time.
sim::WorldOptions pairWorld(bool localResponses = true) {
  sim::WorldOptions o;
  o.adapters = 2;
  o.remotes = 1;
  o.connectMs = 60000;
  o.resp = localResponses;
  return o;
}

using Commands = std::vector<std::string>;

}  // namespace

class PairingFlowTest : public QObject {
  Q_OBJECT

  // The person at the desk: at each prompt plug the adapter it names (or
  // not), and answer OK unless told to cancel that prompt.
  struct Person {
    bool plugDevice2 = true;
    bool cancelDevice2 = false;
    bool cancelDevice1 = false;
    int prompts = 0;
    int32_t baudAtDevice1Prompt = 0, flowAtDevice1Prompt = -1;
  };

  static void actAs(SimWindow& s, Person& p) {
    s.answer = [&s, &p](const std::string& text, MsgButtons buttons) {
      if (text == kPromptDevice2) {
        ++p.prompts;
        if (buttons != MsgButtons::OkCancel || p.cancelDevice2) return MsgResult::Cancel;
        if (p.plugDevice2) s.world->plug(2);
        return MsgResult::Ok;
      }
      if (text == kPromptDevice1) {
        ++p.prompts;
        p.baudAtDevice1Prompt = uart.baud;
        p.flowAtDevice1Prompt = uart.flow;
        if (buttons != MsgButtons::OkCancel || p.cancelDevice1) return MsgResult::Cancel;
        s.world->plug(1);
        return MsgResult::Ok;
      }
      return MsgResult::Ok;
    };
  }

  static void start(SimWindow& s, bool localResponses = true) {
    s.startInProcess(pairWorld(localResponses));
    QVERIFY(s.initialise());
    s.window->showPage(PairDevicePage::kDialogId);
  }

  // A complete, successful pairing with the page's button.
  static void pairSuccessfully(SimWindow& s, Person& p) {
    actAs(s, p);
    s.boxes.clear();
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QVERIFY(s.boxShown("Pairing completed successfully"));
    QCOMPARE(s.world->plugged(), 1);
  }

 private slots:
  void initTestCase() { setClockScale(0.1); }
  void cleanupTestCase() { setClockScale(1.0); }

  void cleanup() {
    clearLocalDev();
    clearPair();
    clearRemote();
    clearInquiry();
  }

  // ------------------------------------------------------------ pairing
  void pairingBondsBothAdapters() {
    SimWindow s;
    start(s);
    const std::string a1 = s.world->address(1), a2 = s.world->address(2);
    const std::size_t mark1 = s.world->received(1).size(), mark2 = s.world->received(2).size();
    // A read shows the local adapter on the Pairing page.
    QCOMPARE(s.pairing().text(ctl::kPairDevice1Address), a1);
    QCOMPARE(s.pairing().text(ctl::kPairDevice1Name), std::string(localDev.name));
    QVERIFY(s.pairing().text(ctl::kPairDevice2Address).empty());

    Person p;
    pairSuccessfully(s, p);
    QCOMPARE(p.prompts, 2);
    QCOMPARE(s.boxes.size(), std::size_t(3));
    QCOMPARE(s.boxes[0].text, kPromptDevice2);
    QCOMPARE(s.boxes[1].text, kPromptDevice1);
    QVERIFY(s.statusHas("Pairing started...."));
    QVERIFY(s.statusHas("Pairing Successful"));

    QCOMPARE(s.receivedSince(2, mark2),
             (Commands{"AT+RESP?\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r",
                       "AT+BOND=" + test::digitsOf(a1) + "\r"}));
    QCOMPARE(s.receivedSince(1, mark1),
             (Commands{"AT+ROLEM\r", "AT+BOND=" + test::digitsOf(a2) + "\r", "AT+ACON+\r"}));
    QCOMPARE(s.field(2, "role"), std::string("slave"));
    QCOMPARE(s.field(2, "bond"), a1);
    QCOMPARE(s.field(2, "resp"), std::string("on"));
    QCOMPARE(s.field(1, "role"), std::string("master"));
    QCOMPARE(s.field(1, "bond"), a2);
    QCOMPARE(s.field(1, "acon"), std::string("on"));
    QCOMPARE(s.field(1, "resp"), std::string("on"));

    QCOMPARE(pair.state.load(), int(DEV1_BONDED));
    QCOMPARE(localDev.bonded.load(), 1);
    QCOMPARE(std::string(localDev.bondedAddress), a2);
    QCOMPARE(s.local().text(ctl::kBondedAddress), a2);
    QVERIFY(s.local().checked(ctl::kMaster));  // Master
    QVERIFY(s.local().checked(ctl::kAutoConnect));  // Auto-Connect
    QCOMPARE(s.pairing().text(ctl::kPairDevice1Address), a1);
    QCOMPARE(s.pairing().text(ctl::kPairDevice1Name), std::string("KX627-1"));
    QCOMPARE(s.pairing().text(ctl::kPairDevice2Address), a2);
    QCOMPARE(s.pairing().text(ctl::kPairDevice2Name), std::string("KX627-2"));
    QCOMPARE(uart.baud, 19200);
    s.screenshot(QStringLiteral("pairing_done.png"));
  }

  void device2AtOtherLineSettingsIsSearchedAndTheSettingsComeBack() {
    SimWindow s;
    start(s);
    QVERIFY(s.world->set(2, "baud", "1200"));
    QVERIFY(s.world->set(2, "flow", "on"));
    Person p;
    pairSuccessfully(s, p);
    // The search showed its steps on a line of their own, and left the
    // pairing's line as it was.
    QVERIFY(s.status().find("Pairing started....\r\n") != std::string::npos);
    QVERIFY(s.status().find("All settings: trying 1200 bit/s, no parity, one stop bit, flow control (6 of 131)") !=
            std::string::npos);
    QCOMPARE(p.baudAtDevice1Prompt, 19200);
    QCOMPARE(p.flowAtDevice1Prompt, 0);
    QCOMPARE(s.field(2, "bond"), s.world->address(1));
    QCOMPARE(s.field(1, "bond"), s.world->address(2));
    QCOMPARE(uart.baud, 19200);
  }

  void responsesOffAreSwitchedOnAndOffAgain() {
    SimWindow s;
    start(s, /*localResponses=*/false);
    QCOMPARE(localDev.cmdResponse.load(), 0);
    QVERIFY(s.world->set(2, "resp", "off"));
    const std::string a1 = s.world->address(1), a2 = s.world->address(2);
    const std::size_t mark1 = s.world->received(1).size(), mark2 = s.world->received(2).size();
    Person p;
    pairSuccessfully(s, p);
    QCOMPARE(s.receivedSince(2, mark2),
             (Commands{"AT+RESP?\r", "AT+RESP+\r", "AT+ADDR?\r", "AT+NAME?\r", "AT+ROLES\r",
                       "AT+BOND=" + test::digitsOf(a1) + "\r", "AT+RESP-\r"}));
    QCOMPARE(s.receivedSince(1, mark1),
             (Commands{"AT+RESP+\r", "AT+ROLEM\r", "AT+BOND=" + test::digitsOf(a2) + "\r",
                       "AT+ACON+\r", "AT+RESP-\r"}));
    QVERIFY(s.statusHas("Temporarily enabling Command Response on Device 2"));
    QVERIFY(s.statusHas("Re-disabling Command Response on Device 2"));
    QVERIFY(s.statusHas("Temporarily enabling Command Response on Device 1"));
    QVERIFY(s.statusHas("Re-disabling Command Response on Device 1"));
    QCOMPARE(s.field(1, "resp"), std::string("off"));
    QCOMPARE(s.field(2, "resp"), std::string("off"));
    QCOMPARE(localDev.cmdResponse.load(), 0);
    QVERIFY(!s.local().checked(ctl::kCommandResponse));
    QCOMPARE(pair.state.load(), int(DEV1_BONDED));
  }

  void cancelAtTheFirstPrompt() {
    SimWindow s;
    start(s);
    const std::size_t mark1 = s.world->received(1).size(), mark2 = s.world->received(2).size();
    Person p;
    p.cancelDevice2 = true;
    actAs(s, p);
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QVERIFY(s.boxShown("ERROR: Pairing Procedure aborted. Pairing incomplete"));
    QVERIFY(s.statusHas("Pairing Procedure aborted. Pairing incomplete"));
    QVERIFY(s.statusHas("Pairing Unsuccessful"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QCOMPARE(pair.dev2CmdResponse.load(), 0);
    QCOMPARE(std::string(pair.dev2Address), std::string());
    QVERIFY(s.receivedSince(1, mark1).empty());
    QVERIFY(s.receivedSince(2, mark2).empty());
  }

  void cancelAtTheSecondPrompt() {
    SimWindow s;
    start(s);
    const std::size_t mark1 = s.world->received(1).size();
    Person p;
    p.cancelDevice1 = true;
    actAs(s, p);
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QCOMPARE(p.prompts, 2);
    QVERIFY(s.boxShown("ERROR: Pairing Procedure aborted. Pairing incomplete"));
    QVERIFY(s.statusHas("Pairing Procedure aborted"));
    QVERIFY(s.statusHas("Pairing Unsuccessful"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    // Device 2 stays bonded; Device 1 was never spoken to.
    QCOMPARE(s.field(2, "bond"), s.world->address(1));
    QVERIFY(s.receivedSince(1, mark1).empty());
    QCOMPARE(std::string(pair.dev2Address), s.world->address(2));
    QCOMPARE(s.pairing().text(ctl::kPairDevice2Address), s.world->address(2));
  }

  void device1StillPluggedAtTheFirstPrompt() {
    SimWindow s;
    start(s);
    const std::size_t mark1 = s.world->received(1).size();
    Person p;
    p.plugDevice2 = false;
    actAs(s, p);
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QVERIFY(s.boxShown(
        "ERROR: Device 2 address cannot be same as Local Address. Device 2 was not connected "
        "before pressing OK. Aborting Pairing"));
    QVERIFY(s.statusHas("Device 2 same as Local Address"));
    QVERIFY(s.statusHas("Pairing Unsuccessful"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QCOMPARE(s.receivedSince(1, mark1), (Commands{"AT+RESP?\r", "AT+ADDR?\r"}));
    QCOMPARE(s.field(1, "bond"), std::string("0000-00-000000"));
  }

  void twoErrorAnswersFromDevice2() {
    SimWindow s;
    start(s);
    QVERIFY(s.world->set(2, "refuse", "AT+RESP?"));
    const std::size_t mark2 = s.world->received(2).size();
    Person p;
    actAs(s, p);
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QVERIFY(s.boxShown(
        "ERROR: Failed to communicate with Device 2. Please check it is connected properly and "
        "switch is towards the connector. Aborting Pairing"));
    QVERIFY(s.statusHas("Failed to communicate with Device 2"));
    QVERIFY(s.statusHas("Pairing Unsuccessful"));
    // No settings search: the spinner never turned.
    QCOMPARE(s.receivedSince(2, mark2), (Commands{"AT+RESP?\r", "AT+RESP?\r"}));
    QVERIFY(s.statusHas("Pairing started...."));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QCOMPARE(uart.baud, 19200);
  }

  void closingTheWindowAtAPromptEndsThePairing() {
    SimWindow s;
    start(s);
    const std::size_t mark2 = s.world->received(2).size();
    s.answer = [&s](const std::string& text, MsgButtons) {
      if (text == kPromptDevice2) {
        s.world->plug(2);
        s.window->close();  // the user closes the window instead of answering
      }
      return MsgResult::Ok;
    };
    SimWindow::click(s.pairing(), ctl::kPairButton);
    QVERIFY(s.statusHas("Pairing Unsuccessful"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QVERIFY(s.receivedSince(2, mark2).empty());  // nothing sent after the close
    QCOMPARE(s.boxes.size(), std::size_t(1));    // no error box for a closing window
    // The close, retried once the procedure has returned, goes through.
    QVERIFY(SimWindow::waitFor([] { return uart.isUartActive.load() == 0; }));
    QVERIFY(QFile::exists(QStringLiteral("settings.txt")));
  }

  // ------------------------------------------------------------ unpairing
  void unpairingAfterPairingLeavesBothSlavesWithoutBonds() {
    SimWindow s;
    start(s);
    Person p;
    pairSuccessfully(s, p);
    QCOMPARE(pair.dev2Role.load(), 2);  // left by the pairing

    const std::size_t mark1 = s.world->received(1).size(), mark2 = s.world->received(2).size();
    p = Person{};
    s.boxes.clear();
    SimWindow::click(s.pairing(), ctl::kUnpairButton);
    QCOMPARE(p.prompts, 1);
    QVERIFY(s.statusHas("Unpairing started...."));
    QVERIFY(s.boxShown("Unpairing completed successfully. Connect back Device 1"));
    QVERIFY(s.statusHas("Unpairing successful"));
    QCOMPARE(s.receivedSince(1, mark1), (Commands{"AT+BOND-\r", "AT+ROLES\r"}));
    QCOMPARE(s.receivedSince(2, mark2), (Commands{"AT+RESP?\r", "AT+ROLES\r", "AT+BOND-\r"}));
    for (int n : {1, 2}) {
      QCOMPARE(s.field(n, "role"), std::string("slave"));
      QCOMPARE(s.field(n, "bond"), std::string("0000-00-000000"));
      QCOMPARE(s.field(n, "resp"), std::string("on"));
    }
    QCOMPARE(localDev.bonded.load(), 0);
    QCOMPARE(std::string(localDev.bondedAddress), std::string("0000-00-000000"));
    QCOMPARE(s.local().text(ctl::kBondedAddress), std::string("0000-00-000000"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QCOMPARE(pair.dev2Role.load(), 0);
    QCOMPARE(std::string(pair.dev2Address), std::string());
    for (int id : {ctl::kPairDevice1Address, ctl::kPairDevice1Name, ctl::kPairDevice2Address, ctl::kPairDevice2Name})
      QCOMPARE(s.pairing().text(id), std::string());
  }

  void unpairingRefusedWhenNotBonded() {
    {
      // A window closed before, as every test's is: its stop request must
      // not silence this window's messages.
      SimWindow earlier;
      start(earlier);
    }
    SimWindow s;
    start(s);
    const std::size_t mark1 = s.world->received(1).size();
    Person p;
    actAs(s, p);
    SimWindow::click(s.pairing(), ctl::kUnpairButton);
    QCOMPARE(s.boxes.size(), std::size_t(1));
    QCOMPARE(s.boxes[0].text,
             std::string("ERROR: Local Device not bonded. Unpairing will not be carried out"));
    QCOMPARE(p.prompts, 0);
    QVERIFY(s.receivedSince(1, mark1).empty());
  }

  void cancelAtTheUnpairingPrompt() {
    SimWindow s;
    start(s);
    Person p;
    pairSuccessfully(s, p);
    p = Person{};
    p.cancelDevice2 = true;
    s.boxes.clear();
    SimWindow::click(s.pairing(), ctl::kUnpairButton);
    QVERIFY(s.boxShown("ERROR: Unpairing Procedure Aborted. Unpairing Incomplete."));
    QVERIFY(s.statusHas("Unpairing unsuccessful"));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    // Device 1 is already unbonded and a slave; Device 2 keeps its bond.
    QCOMPARE(s.field(1, "bond"), std::string("0000-00-000000"));
    QCOMPARE(s.field(1, "role"), std::string("slave"));
    QCOMPARE(s.field(2, "bond"), s.world->address(1));
    QCOMPARE(s.world->plugged(), 1);
  }

  void device2RefusingSlaveModeIsNotTakenFromTheLastPairing() {
    SimWindow s;
    start(s);
    Person p;
    pairSuccessfully(s, p);
    QCOMPARE(pair.dev2Role.load(), 2);
    QVERIFY(s.world->set(2, "role", "master"));
    QVERIFY(s.world->set(2, "refuse", "AT+ROLES"));
    p = Person{};
    s.boxes.clear();
    SimWindow::click(s.pairing(), ctl::kUnpairButton);
    QVERIFY(s.boxShown("ERROR: Failed to change Device 2 to slave mode.Aborting Unpairing"));
    QVERIFY(s.statusHas("Failed to change Device 2 to slave mode"));
    QVERIFY(s.statusHas("Unpairing unsuccessful"));
    QVERIFY(!s.boxShown("Unpairing completed successfully. Connect back Device 1"));
    QCOMPARE(s.field(2, "bond"), s.world->address(1));  // never unbonded
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
  }
};

QTEST_MAIN(PairingFlowTest)
#include "pairing_flow_test.moc"
