// Inquiry, connection and remote configuration end to end: the real window
// offscreen, the Connection and Remote Device Settings pages clicked as a
// user would, the simulated adapter with remote devices in range behind the
// port (in process, and once over a pseudo-terminal served by adapter-sim).
// clang-format off
#include "support/sim_window.h"  // first: see there
// clang-format on

#include <QListWidget>
#include <QtTest>

#include "common/notify.h"
#include "common/records.h"
#include "platform/clock.h"
#include "ui/led_button.h"
#ifdef KX_ADAPTER_SIM_PATH
#include "support/sim_process.h"
#endif

using namespace kx;
using kx::test::SimWindow;

namespace {

// Adapter 1 and three remote devices (2, 3, 4). Short radio timings keep the
// tests quick; the guard silence fits the scaled escape wait.
sim::WorldOptions radioWorld(int inquiryMs = 900) {
  sim::WorldOptions o;
  o.adapters = 1;
  o.remotes = 3;
  o.inquiryMs = inquiryMs;
  o.connectMs = 50;
  o.guardMs = 30;
  return o;
}

constexpr int kMainLocal = ctl::kMainLocalDeviceButton;
constexpr int kMainPairing = ctl::kMainPairingButton;
constexpr int kMainRemote = ctl::kMainRemoteButton;
constexpr int kMainConnection = ctl::kMainConnectionButton;

}  // namespace

class ConnectionFlowTest : public QObject {
  Q_OBJECT

  // Connects the initialised local adapter to device n through the page.
  static bool connectTo(SimWindow& s, int n) {
    s.connection().setText(ctl::kSelectedDevice, test::digitsOf(s.world->address(n)));
    SimWindow::click(s.connection(), ctl::kConnect);
    return SimWindow::waitFor([] { return localDev.connected.load() == 1; }) &&
           SimWindow::waitFor([&s] { return s.connection().enabled(ctl::kDisconnect); });
  }

  static bool pageButtonsEnabled(SimWindow& s, bool on) {
    for (int id : {kMainLocal, kMainPairing, kMainRemote})
      if (s.mainControls().enabled(id) != on) return false;
    return s.mainControls().enabled(kMainConnection);  // never locked
  }

 private slots:
  void initTestCase() { setClockScale(0.1); }
  void cleanupTestCase() { setClockScale(1.0); }

  // ------------------------------------------------------------ inquiry
  void inquiryListsTheDevicesAndTheEndLine() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.world->set(1, "role", "master"));
    QVERIFY(s.initialise());
    s.window->showPage(ConnectionPage::kDialogId);

    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(s.status().find("Inquiry started....") != std::string::npos);
    QVERIFY(s.window->timerActive(TIMER_INQUIRY));
    QVERIFY(s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(!s.connection().enabled(ctl::kConnect));
    QVERIFY(pageButtonsEnabled(s, false));

    QVERIFY(SimWindow::waitFor([&s] { return s.connection().rowCount(ctl::kInquiryResults) == 4; }));
    for (int row = 0; row < 3; ++row) {
      const std::string text = s.connection().rowText(ctl::kInquiryResults, row);
      QCOMPARE(text.substr(34, 14), s.world->address(row + 2));  // arrival order
    }
    QVERIFY(s.connection().rowText(ctl::kInquiryResults, 3).find("Inquiry End") != std::string::npos);
    QVERIFY(SimWindow::waitFor([&s] { return s.statusHas("Inquiry Complete."); }));
    QVERIFY(SimWindow::waitFor([&s] { return !s.connection().enabled(ctl::kCancelInquiry); }));
    QVERIFY(s.connection().enabled(ctl::kConnect));
    QVERIFY(pageButtonsEnabled(s, true));
    QVERIFY(!s.connection().enabled(ctl::kDisconnect));
    s.connection().controlAs<QListWidget>(ctl::kInquiryResults)->setCurrentRow(1);
    s.screenshot(QStringLiteral("connection_inquiry.png"));

    // Choosing a row, as a user clicks it.
    auto* list = s.connection().controlAs<QListWidget>(ctl::kInquiryResults);
    const struct {
      int row;
      std::string box;
    } choices[] = {
        {1, test::digitsOf(s.world->address(3))},
        {2, test::digitsOf(s.world->address(4))},
        {0, ""},  // the first row always empties the box
        {1, test::digitsOf(s.world->address(3))},
        {3, ""},  // the end line
    };
    for (const auto& c : choices) {
      list->setCurrentRow(c.row);
      QCOMPARE(s.connection().text(ctl::kSelectedDevice), c.box);
    }

    // The next tick finds the inquiry over and ends the progress display.
    s.window->handleTimer(TIMER_INQUIRY);
    QVERIFY(s.statusHas("Inquiry Finished/Cancelled"));
    QVERIFY(!s.window->timerActive(TIMER_INQUIRY));
    QCOMPARE(inquiry.ticks.load(), 0);
  }

  void moreResultsThanTheTableHolds() {
    SimWindow s;
    sim::WorldOptions o = radioWorld(1300);
    o.remotes = 12;  // twelve devices and the end line: thirteen lines
    s.startInProcess(o);
    QVERIFY(s.world->set(1, "role", "master"));
    QVERIFY(s.initialise());
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Inquiry Complete."); }));
    QVERIFY(SimWindow::waitFor([&] { return !s.connection().enabled(ctl::kCancelInquiry); }));
    QCOMPARE(s.connection().rowCount(ctl::kInquiryResults), 10);
    QCOMPARE(inquiry.count.load(), 10);
    for (int row = 0; row < 10; ++row)
      QCOMPARE(s.connection().rowText(ctl::kInquiryResults, row).substr(34, 14), s.world->address(row + 2));
    QCOMPARE(localDev.inquiryActive.load(), 0);
    QVERIFY(s.connection().enabled(ctl::kConnect));
  }

  void inquiryRefusals() {
    SimWindow s;
    s.startInProcess(radioWorld());
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(s.boxShown(
        "Local Device is not initialised. Please initialise the device and then start inquiry."));
    QVERIFY(s.initialise());  // a slave: the adapter refuses to inquire

    const std::size_t mark = s.world->received(1).size();
    localDev.cmdResponse = 0;
    s.boxes.clear();
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(s.boxShown("Please enable command response mode for reliable inquiry operation"));
    QVERIFY(s.receivedSince(1, mark).empty());
    localDev.cmdResponse = 1;

    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(s.statusHas(
        "Device should be in master mode and auto connect should be disabled to start inquiry"));
    // The box gives the reason the status window has: the answer and what it means.
    QCOMPARE(s.boxes.size(), std::size_t(2));
    QCOMPARE(s.boxes.back().text, std::string("Start Inquiry failed\n\n"
                                              "Command AT+FIND? failed. Response ERROR\n"
                                              "Device should be in master mode and auto connect "
                                              "should be disabled to start inquiry\n"));
    QCOMPARE(s.receivedSince(1, mark), std::vector<std::string>{"AT+FIND?\r"});
    QVERIFY(!s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(pageButtonsEnabled(s, true));
  }

  void inquiryThatNeverEndsIsReleasedAtThe62ndTickAndConnectCancelsIt() {
    SimWindow s;
    s.startInProcess(radioWorld(600000));
    QVERIFY(s.world->set(1, "role", "master"));
    QVERIFY(s.initialise());
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QCOMPARE(localDev.inquiryActive.load(), 1);

    // The timer's expiries, driven without the event loop in between.
    for (int tick = 1; tick <= 61; ++tick) s.window->handleTimer(TIMER_INQUIRY);
    QCOMPARE(inquiry.ticks.load(), 61);
    QVERIFY(s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(!s.connection().enabled(ctl::kConnect));
    QVERIFY(!s.statusHas("Inquiry Finished/Cancelled"));

    s.window->handleTimer(TIMER_INQUIRY);
    QVERIFY(s.statusHas("Inquiry Finished/Cancelled"));
    QVERIFY(!s.window->timerActive(TIMER_INQUIRY));
    QVERIFY(!s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(s.connection().enabled(ctl::kConnect));
    QVERIFY(pageButtonsEnabled(s, true));
    QCOMPARE(inquiry.ticks.load(), 0);
    QCOMPARE(localDev.inquiryActive.load(), 1);  // the adapter still inquires
    QCOMPARE(s.field(1, "inquiry"), std::string("on"));

    // Connect cancels the inquiry first, in the same click; a lower-case
    // address goes out in upper case.
    std::string typed = test::digitsOf(s.world->address(2));
    for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string upper = test::digitsOf(s.world->address(2));
    s.connection().setText(ctl::kSelectedDevice, typed);
    const std::size_t mark = s.world->received(1).size();
    SimWindow::click(s.connection(), ctl::kConnect);
    QVERIFY(s.statusHas("Inquiry Active. Cancelling inquiry"));
    QVERIFY(s.statusHas("Inquiry cancelled"));
    QVERIFY(s.statusHas("Connection Initiated to " + upper + "...."));
    QCOMPARE(s.receivedSince(1, mark),
             (std::vector<std::string>{"AT+FIND-\r", "AT+CONN=" + upper + "\r"}));
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 1; }));
    QCOMPARE(s.field(1, "inquiry"), std::string("off"));
  }

  void cancelInquiryWaitsForTheNextTick() {
    SimWindow s;
    s.startInProcess(radioWorld(600000));
    QVERIFY(s.world->set(1, "role", "master"));
    QVERIFY(s.initialise());
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    s.window->handleTimer(TIMER_INQUIRY);
    SimWindow::click(s.connection(), ctl::kCancelInquiry);
    QVERIFY(s.statusHas("Inquiry cancelled"));
    QCOMPARE(localDev.inquiryActive.load(), 0);
    QCOMPARE(s.field(1, "inquiry"), std::string("off"));
    QVERIFY(s.connection().enabled(ctl::kCancelInquiry));  // until the timer's next tick
    QVERIFY(!s.connection().enabled(ctl::kConnect));
    s.window->handleTimer(TIMER_INQUIRY);
    QVERIFY(s.statusHas("Inquiry Finished/Cancelled"));
    QVERIFY(!s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(s.connection().enabled(ctl::kConnect));
    QVERIFY(pageButtonsEnabled(s, true));
  }

  void aConnectionEndsARunningInquiry() {
    SimWindow s;
    s.startInProcess(radioWorld(600000));
    QVERIFY(s.world->set(1, "role", "master"));
    QVERIFY(s.initialise());
    SimWindow::click(s.connection(), ctl::kInquireDevices);
    QVERIFY(s.world->eventConnect(1, s.world->address(4)));  // a remote device pages us
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 1; }));
    QCOMPARE(localDev.inquiryActive.load(), 0);
    QVERIFY(SimWindow::waitFor([&] { return s.connection().enabled(ctl::kDisconnect); }));
    QVERIFY(!s.connection().enabled(ctl::kCancelInquiry));
    QVERIFY(s.connection().enabled(ctl::kConnect));
    QVERIFY(pageButtonsEnabled(s, true));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().text(ctl::kRemoteAddress) == s.world->address(4); }));
    QCOMPARE(s.connection().rowCount(ctl::kInquiryResults), 0);  // the event line is no result
  }

  // ------------------------------------------------------------ connection
  void connectAndDisconnect() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    s.window->showPage(ConnectionPage::kDialogId);
    const std::string address = s.world->address(3);
    QVERIFY(!s.window->led(ctl::kMainLedConnection)->isOn());

    QVERIFY(connectTo(s, 3));
    QVERIFY(s.statusHas("Connection Initiated to " + test::digitsOf(address) + "...."));
    QVERIFY(SimWindow::waitFor([&] {
      return s.boxShown("Local Device connected to remote device with address \"" + address + "\"");
    }));
    QVERIFY(
        s.statusHas("Local Device connected to remote device with address \"" + address + "\""));
    QVERIFY(
        SimWindow::waitFor([&] { return s.window->led(ctl::kMainLedConnection)->isOn(); }));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().text(ctl::kRemoteAddress) == address; }));
    QVERIFY(s.local().checked(ctl::kModeData));  // Operation Mode: Data
    QCOMPARE(localDev.dataMode.load(), 1);
    QCOMPARE(s.field(1, "peer"), address);

    // Disconnect: the adapter is in data mode, so the escape is offered and
    // taken; a handshake flag left set is cleared before the command goes out.
    localDev.handshaked = 1;
    const std::size_t mark = s.world->received(1).size();
    SimWindow::click(s.connection(), ctl::kDisconnect);
    QCOMPARE(localDev.handshaked.load(), 0);
    QVERIFY(s.statusHas("Disconnection initiated..."));
    QVERIFY(
        s.boxShown("Local Device is in datamode. Do you want to Send Escape Sequence before "
                   "sending the command"));
    QCOMPARE(s.receivedSince(1, mark), (std::vector<std::string>{"+++", "AT+DROP\r"}));
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 0; }));
    QVERIFY(SimWindow::waitFor([&] {
      // The event's text follows its keyword with the blank that separates them.
      return s.boxShown("Local Device disconnected from remote device with address  \"" + address +
                        "\"");
    }));
    QVERIFY(SimWindow::waitFor([&] { return !s.connection().enabled(ctl::kDisconnect); }));
    QVERIFY(
        SimWindow::waitFor([&] { return !s.window->led(ctl::kMainLedConnection)->isOn(); }));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().text(ctl::kRemoteAddress).empty(); }));
    QVERIFY(s.local().checked(ctl::kModeCommand));  // Operation Mode: Command
    QCOMPARE(s.field(1, "peer"), std::string("none"));
  }

  void failedConnect() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.world->set(3, "connectable", "off"));
    QVERIFY(s.initialise());
    s.connection().setText(ctl::kSelectedDevice, test::digitsOf(s.world->address(3)));
    SimWindow::click(s.connection(), ctl::kConnect);
    const std::string text = "Local Device failed to connect to remote device.  Attempt Fail!!";
    QVERIFY(SimWindow::waitFor([&] { return s.boxShown(text); }));
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas(text); }));
    QCOMPARE(localDev.connected.load(), 0);
    QCOMPARE(localDev.dataMode.load(), 0);
    QVERIFY(!s.connection().enabled(ctl::kDisconnect));
    QVERIFY(!s.window->led(ctl::kMainLedConnection)->isOn());
  }

  void connectRefusals() {
    SimWindow s;
    s.startInProcess(radioWorld());
    const char* notInitialised =
        "Local Device is not initialised. Please initialise the device and then connect";
    s.connection().setText(ctl::kSelectedDevice, "0023456B00001");
    SimWindow::click(s.connection(), ctl::kConnect);
    QVERIFY(s.boxShown(notInitialised));
    QVERIFY(!s.connection().enabled(ctl::kDisconnect));  // no link: Disconnect cannot be pressed
    QVERIFY(s.initialise());

    const struct {
      std::string typed;
      std::vector<std::string> sent;
      bool refused;
    } cases[] = {
        {"", {}, false},                                                      // nothing at all
        {"0123456789ABCDEF01234", {}, true},                                  // 21 characters
        {"0123456789abcdef0123", {"AT+CONN=0123456789ABCDEF0123\r"}, false},  // 20 fit
    };
    for (const auto& c : cases) {
      s.boxes.clear();
      const std::size_t mark = s.world->received(1).size();
      s.connection().setText(ctl::kSelectedDevice, c.typed);
      SimWindow::click(s.connection(), ctl::kConnect);
      QCOMPARE(s.receivedSince(1, mark), c.sent);
      QCOMPARE(!s.boxes.empty(), c.refused);
    }
  }

  // ------------------------------------------------------------ remote configuration
  void handshakeBaudChangeAndExit() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(connectTo(s, 2));
    s.window->showPage(RemoteDevicePage::kDialogId);
    QVERIFY(s.remotePage().enabled(ctl::kRemoteHandshake));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteProgram));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteExit));

    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(s.statusHas("Handshake started..."));
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Handshake Complete..."); }));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().enabled(ctl::kRemoteProgram); }));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteHandshake));
    QVERIFY(s.remotePage().enabled(ctl::kRemoteExit));
    QVERIFY(s.local().checked(ctl::kModeRemote));  // Operation Mode: Remote
    QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_COMPLETE));
    QCOMPARE(localDev.handshaked.load(), 0);
    QCOMPARE(s.field(2, "mode"), std::string("remote-access"));

    s.remotePage().setSelection(ctl::kRemoteBaudList, 4);  // 115200
    SimWindow::click(s.remotePage(), ctl::kRemoteProgram);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Remote Device Baud rate changed."); }));
    QCOMPARE(s.field(2, "baud"), std::string("115200"));
    const std::string data = s.field(2, "data");
    QCOMPARE(data.substr(data.size() - 8), std::string("\\x01\\x05"));
    QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));

    SimWindow::click(s.remotePage(), ctl::kRemoteExit);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Remote Access Mode Exited."); }));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().enabled(ctl::kRemoteHandshake); }));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteProgram));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteExit));
    QVERIFY(s.local().checked(ctl::kModeData));  // back to Data
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(s.field(2, "mode"), std::string("data"));
  }

  void handshakeRefusedAndExitRefused() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(connectTo(s, 2));
    QVERIFY(s.world->set(2, "answer", "fail"));
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Handshake Failed..."); }));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(localDev.handshaked.load(), 0);
    QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));
    QVERIFY(s.remotePage().enabled(ctl::kRemoteHandshake));
    QVERIFY(!s.remotePage().enabled(ctl::kRemoteProgram));

    QVERIFY(s.world->set(2, "answer", "ok"));
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().enabled(ctl::kRemoteExit); }));
    QVERIFY(s.world->set(2, "answer", "fail"));
    SimWindow::click(s.remotePage(), ctl::kRemoteExit);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Exit Remote Access Mode failed."); }));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_COMPLETE));
    QVERIFY(s.remotePage().enabled(ctl::kRemoteProgram));
    QVERIFY(s.remotePage().enabled(ctl::kRemoteExit));
    QVERIFY(s.local().checked(ctl::kModeRemote));
  }

  void unansweredExchangesEndWithTheTimer() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(connectTo(s, 2));
    QVERIFY(s.world->set(2, "answer", "silent"));
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(s.window->timerActive(TIMER_HANDSHAKE));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_STARTED));
    QCOMPARE(localDev.handshaked.load(), 1);
    s.window->handleTimer(TIMER_HANDSHAKE);  // the 4000 ms expiry
    QVERIFY(s.statusHas("Handshake failed."));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(localDev.handshaked.load(), 0);
    QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));

    QVERIFY(s.world->set(2, "answer", "ok"));
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().enabled(ctl::kRemoteProgram); }));
    QVERIFY(s.world->set(2, "answer", "silent"));
    SimWindow::click(s.remotePage(), ctl::kRemoteProgram);
    QVERIFY(s.window->timerActive(TIMER_HANDSHAKE));
    s.window->handleTimer(TIMER_HANDSHAKE);
    QVERIFY(s.statusHas("Handshake command failed."));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(localDev.handshaked.load(), 0);
  }

  void remoteCommandNotSentLeavesNoAnswerAwaited() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(connectTo(s, 2));
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().enabled(ctl::kRemoteProgram); }));

    // A command typed on the local page takes the adapter out of data mode
    // (the escape is accepted); the link and the remote access stay.
    s.local().setText(ctl::kAtCommand, "AT");
    SimWindow::click(s.local(), ctl::kSend);
    QVERIFY(SimWindow::waitFor([] { return localDev.dataMode.load() == 0; }));
    QCOMPARE(localDev.connected.load(), 1);

    // Program Remote Device, but the user refuses the switch to data mode.
    const char* dataModePrompt =
        "Local Device needs to be set to data mode before sending remote configuration command";
    s.answer = [&](const std::string& text, MsgButtons) {
      return text == dataModePrompt ? MsgResult::Cancel : MsgResult::Ok;
    };
    const std::string linkData = s.field(2, "data");
    for (int button : {ctl::kRemoteProgram, ctl::kRemoteExit}) {
      s.boxes.clear();
      SimWindow::click(s.remotePage(), button);
      QVERIFY(s.boxShown(dataModePrompt));
      QCOMPARE(localDev.handshaked.load(), 0);
      QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));
      QCOMPARE(s.field(2, "data"), linkData);  // nothing went out
    }

    // The adapter's next event is handled as an event again.
    QVERIFY(s.world->eventDisconnect(1));
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 0; }));
    QVERIFY(SimWindow::waitFor([&] { return !s.connection().enabled(ctl::kDisconnect); }));
  }

  void handshakeSwitchesTheAdapterBackToDataMode() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(connectTo(s, 2));
    s.local().setText(ctl::kAtCommand, "AT");
    SimWindow::click(s.local(), ctl::kSend);  // the escape takes the adapter to command mode
    QVERIFY(SimWindow::waitFor([] { return localDev.dataMode.load() == 0; }));

    const std::size_t mark = s.world->received(1).size();
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(s.boxShown(
        "Local Device needs to be set to data mode before sending remote configuration command"));
    QCOMPARE(s.receivedSince(1, mark), std::vector<std::string>{"AT+AUTO\r"});
    QVERIFY(s.statusHas("Device switched from Command to Data Mode"));
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Handshake Complete..."); }));
    QVERIFY(SimWindow::waitFor([&] { return s.local().checked(ctl::kModeRemote); }));
    QCOMPARE(s.field(2, "mode"), std::string("remote-access"));
  }

  void remoteButtonsNeedALink() {
    SimWindow s;
    s.startInProcess(radioWorld());
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(
        s.boxShown("Local Device is not initialised. Please initialise and connect the device and "
                   "then try handshake ."));
    QVERIFY(s.initialise());
    const std::size_t mark = s.world->received(1).size();
    s.boxes.clear();
    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QCOMPARE(s.boxes.size(), std::size_t(1));
    QCOMPARE(
        s.boxes[0].text,
        std::string(
            "Local Device is not connected. Please connect the device and then try handshake."));
    QVERIFY(s.receivedSince(1, mark).empty());
    QVERIFY(!s.window->timerActive(TIMER_HANDSHAKE));
    QCOMPARE(localDev.handshaked.load(), 0);
  }

  // ------------------------------------------------------------ over a pseudo-terminal
  void handshakeOverAPseudoTerminal() {
#ifndef KX_ADAPTER_SIM_PATH
    QSKIP("needs adapter-sim on a pseudo-terminal, which Windows lacks "
          "(tests/wine runs the window against it through a COM port)");
#else
    test::SimProcess sim({"--remotes", "2", "--connect-ms", "50", "--guard-ms", "30"});
    QVERIFY(sim.started());
    SimWindow s;
    s.openWindow(sim.ptyPath());
    QVERIFY(s.initialise());
    const std::string address = "0023-45-B00001";
    QCOMPARE(sim.control("get 2 addr"), "OK " + address);
    s.connection().setText(ctl::kSelectedDevice, test::digitsOf(address));
    SimWindow::click(s.connection(), ctl::kConnect);
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 1; }));
    QVERIFY(SimWindow::waitFor([&] { return s.remotePage().text(ctl::kRemoteAddress) == address; }));

    SimWindow::click(s.remotePage(), ctl::kRemoteHandshake);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Handshake Complete..."); }));
    QVERIFY(SimWindow::waitFor([&] { return s.local().checked(ctl::kModeRemote); }));
    QCOMPARE(sim.control("get 2 mode"), std::string("OK remote-access"));

    SimWindow::click(s.connection(), ctl::kDisconnect);
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 0; }));
    QCOMPARE(sim.control("get 1 peer"), std::string("OK none"));
    s.window.reset();
    QCOMPARE(sim.finish(), 0);
#endif
  }

  void cleanup() {
    clearLocalDev();
    clearInquiry();
    clearRemote();
    clearPair();
  }
};

QTEST_MAIN(ConnectionFlowTest)
#include "connection_flow_test.moc"
