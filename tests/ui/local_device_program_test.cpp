// Programming the adapter through the real window: Save Settings, the typed
// AT command (blocking and timer-driven), Disable Authentication, the
// firmware gates, overlong commands, settings files from the File menu, and
// settings.txt at start-up and exit, against the simulated adapter.
#include "support/sim_window_fixture.h"

#include <QPushButton>

#include <QMenuBar>

#include "atcmd/transmission.h"
#include "common/notify.h"

using namespace kx;
using namespace kx::test;

namespace {

sim::WorldOptions adapter(const char* version = "v6.80") {
  sim::WorldOptions o;
  o.version = version;
  return o;
}

std::string field(sim::World& world, const char* name) {
  std::string v;
  world.get(1, name, &v);
  return v;
}

void triggerMenu(MainWindow& window, const QString& menu, const char* item) {
  for (QAction* top : window.menuBar()->actions()) {
    if (QString(top->text()).remove(u'&') != menu || !top->menu()) continue;
    for (QAction* a : top->menu()->actions())
      if (QString(a->text()).remove(u'&') == QString::fromUtf8(item)) return a->trigger();
  }
  QFAIL("menu item not found");
}

const char* const kBondRefused =
    "Local Address and Remote Address can not be same. AT+BOND command will not be sent";

}  // namespace

class LocalDeviceProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { setClockScale(0.05); }
  void cleanupTestCase() { setClockScale(1.0); }

  void saveWithNothingChangedSendsNothing() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::size_t before = w.received().size();
    w.click(ctl::kSaveSettings);
    QVERIFY(w.statusHas("Saving Settings..."));
    QVERIFY(w.statusHas("Settings Saved"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{});
    QVERIFY(w.boxes.empty());
  }

  void eachChangedControlSendsItsCommandInOrder() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::size_t before = w.received().size();
    // Changed in the reverse of the order in which Save sends them.
    w.click(ctl::kFlowEnabled);
    w.click(ctl::kAutoConnect);
    w.click(ctl::kMaster);
    w.click(ctl::kNonDiscoverable);
    w.type(ctl::kRemoteCod, "001F00");
    w.type(ctl::kRemoteService, "SPP");
    w.choose(ctl::kModemSignalList, "Local Loopback");
    w.click(ctl::kStopTwo);
    w.choose(ctl::kParityList, "Odd");
    w.choose(ctl::kBaudRateList, "38400");
    w.click(ctl::kCommandResponse);
    w.click(ctl::kRemoteConfiguration);
    w.click(ctl::kSleepMode);
    w.click(ctl::kEscapeMode);
    w.click(ctl::kEchoMode);
    w.type(ctl::kBondedAddress, "0023-45-B00001");
    w.type(ctl::kPinCode, "5678");
    w.type(ctl::kDeviceName, "Renamed");
    w.click(ctl::kSaveSettings);

    const std::vector<std::string> expected = {
        "AT+NAME=Renamed\r", "AT+PIN=5678\r",    "AT+BOND=002345B00001\r", "AT+ECHO+\r",
        "AT+ESC-\r",         "AT+SLEEP+\r",      "AT+RCFG-\r",             "AT+RESP-\r",
        "AT+BAUD15\r",       "AT+PAR1\r",        "AT+STOP2\r",             "AT+MODEML\r",
        "AT+RSERVICE=SPP\r", "AT+RCOD=001F00\r", "AT+DCOV-\r",             "AT+ROLEM\r",
        "AT+ACON+\r",        "AT+FLOW+\r"};
    QCOMPARE(w.receivedFrom(before), expected);
    QVERIFY2(w.statusHas("Settings Saved"), qPrintable(w.window->statusText()));
    QVERIFY(w.boxes.empty());

    // The adapter and the record agree, and the PC port followed every line
    // setting.
    QCOMPARE(field(*w.world, "name"), std::string("Renamed"));
    QCOMPARE(field(*w.world, "baud"), std::string("38400"));
    QCOMPARE(field(*w.world, "parity"), std::string("odd"));
    QCOMPARE(field(*w.world, "flow"), std::string("on"));
    QCOMPARE(field(*w.world, "role"), std::string("master"));
    QCOMPARE(std::string(localDev.name), std::string("Renamed"));
    QCOMPARE(std::string(localDev.pin), std::string("5678"));
    QCOMPARE(std::string(localDev.bondedAddress), std::string("0023-45-B00001"));
    QCOMPARE(std::string(localDev.remoteService), std::string("SPP"));
    QCOMPARE(std::string(localDev.remoteCod), std::string("001F00"));
    QCOMPARE(localDev.echo.load(), 1);
    QCOMPARE(localDev.cmdResponse.load(), 0);
    QCOMPARE(localDev.modemSignal.load(), 1);
    QCOMPARE(localDev.role.load(), 1);
    QCOMPARE(localDev.discoverable.load(), 0);
    QCOMPARE(uart.baud, 38400);
    QCOMPARE(uart.parity, PARITY_ODD_FLAG);
    QCOMPARE(uart.stopBits, 2);
    QCOMPARE(uart.flow, 1);

    // A second Save finds nothing to do.
    const std::size_t after = w.received().size();
    w.click(ctl::kSaveSettings);
    QCOMPARE(w.receivedFrom(after), std::vector<std::string>{});
    QCOMPARE(w.statusCount("Settings Saved"), 2);
  }

  void bondEqualToTheLocalAddressIsRefusedInAnyGrouping_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("as shown") << "0012-6F-100001";
    QTest::newRow("digits only") << "00126F100001";
    QTest::newRow("lower case") << "0012-6f-100001";
    QTest::newRow("spaces") << "0012 6F 100001";
    QTest::newRow("other grouping") << "00-12 6F10-0001";
    QTest::newRow("trailing blank") << "00126F100001 ";
  }
  void bondEqualToTheLocalAddressIsRefusedInAnyGrouping() {
    QFETCH(QString, text);
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    QCOMPARE(std::string(localDev.address), std::string("0012-6F-100001"));
    const std::size_t before = w.received().size();
    w.type(ctl::kBondedAddress, text.toStdString());
    w.type(ctl::kDeviceName, "Other");
    w.click(ctl::kSaveSettings);
    QCOMPARE(w.boxes, std::vector<std::string>{kBondRefused});
    QCOMPARE(w.page().text(ctl::kBondedAddress), std::string("0000-00-000000"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{"AT+NAME=Other\r"});
    QVERIFY(w.statusHas("Settings Saved"));
  }

  void legacyFirmwareGatesSaveAndTheCommandBox() {
    SimWindow w(adapter("v6.54.c"), settingsFor(19200));
    QVERIFY(w.readSettings());
    QCOMPARE(w.received().size(), std::size_t{18});  // the probe and 17 reads
    QVERIFY(!w.page().enabled(ctl::kModemSignalList));
    QVERIFY(!w.page().enabled(ctl::kRemoteService));
    QVERIFY(!w.page().enabled(ctl::kRemoteCod));

    std::size_t before = w.received().size();
    w.choose(ctl::kBaudRateList, "460800");
    w.type(ctl::kDeviceName, "Legacy");
    w.click(ctl::kSaveSettings);
    QCOMPARE(w.boxes, std::vector<std::string>{"Baudrate > 230400 bps not supported on firmware version "
                                               "v6.54.c. Baudrate will not be changed"});
    QCOMPARE(w.page().text(ctl::kBaudRateList), std::string("19200"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{"AT+NAME=Legacy\r"});
    QVERIFY(w.statusHas("Settings Saved"));

    struct Row {
      const char* typed;
      const char* box;  // null: sent
    };
    const Row rows[] = {
        {"AT+BAUD19", "Baudrate > 230400 bps not supported on this firmware. Command will not be sent"},
        {"at+baud20", "Baudrate > 230400 bps not supported on this firmware. Command will not be sent"},
        {"at+modem?", "Modem signal commands (AT+MODEM) not supported on this firmware. Command will not be sent"},
        {"AT+RSERVICE?",
         "Remote Service command (AT+RSERVICE) not supported on this firmware. Command will not be sent"},
        {"AT+RCOD?",
         "Remote Class of Device command (AT+RCOD) not supported on this firmware. Command will not be sent"},
        {"AT+BAUD19 ", nullptr},  // not the exact text: the adapter decides
        {"AT+NAME?", nullptr},
    };
    for (const Row& row : rows) {
      w.boxes.clear();
      before = w.received().size();
      w.type(ctl::kAtCommand, row.typed);
      w.click(ctl::kSend);
      if (row.box) {
        QCOMPARE(w.boxes, std::vector<std::string>{row.box});
        QCOMPARE(w.receivedFrom(before), std::vector<std::string>{});
      } else {
        QVERIFY2(w.boxes.empty(), row.typed);
        QCOMPARE(w.receivedFrom(before), std::vector<std::string>{std::string(row.typed) + "\r"});
      }
      QCOMPARE(w.page().text(ctl::kAtCommand), std::string(row.typed));  // kept
    }
    QCOMPARE(field(*w.world, "baud"), std::string("19200"));
  }

  void escapeSequenceIsSentAsThreeBytes() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::size_t before = w.received().size();
    w.type(ctl::kAtCommand, "+++");
    w.click(ctl::kSend);
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{"+++"});
    QVERIFY(w.statusHas("Escape Sequence +++ received. Device switched from Data to Command Mode"));
    QVERIFY(w.boxes.empty());
    // Nothing followed the three characters: the next command is understood.
    w.type(ctl::kAtCommand, "AT+NAME?");
    w.click(ctl::kSend);
    QCOMPARE(w.receivedFrom(before), (std::vector<std::string>{"+++", "AT+NAME?\r"}));
    QVERIFY(w.boxes.empty());
  }

  void unansweredTypedCommandIsReported() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    w.world->unplug();
    w.type(ctl::kAtCommand, "AT+NAME?");
    w.click(ctl::kSend);
    QCOMPARE(w.boxes, std::vector<std::string>{"Failed to send AT+NAME? command"});
    QVERIFY(w.window->statusText().contains("Failed to send AT+NAME? command\r\n"));
  }

  void enquiryIsCompletedByTheCommandTimer() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    w.type(ctl::kAtCommand, "at+enq");
    w.click(ctl::kSend);
    QVERIFY(w.window->timerActive(TIMER_AT_COMMAND));
    // Another command waits until the collection has ended.
    QCOMPARE(sendATCommand("AT+NAME?\r", 0, 0, 1000), 7);
    QTRY_VERIFY_WITH_TIMEOUT(!w.window->timerActive(TIMER_AT_COMMAND), 5000);
    const QString status = w.window->statusText();
    // One line: the answer's and the command's line ends are not part of it.
    QVERIFY2(status.contains("Received Response "), qPrintable(status));
    QVERIFY(status.contains("NAME=KX627-1"));
    QVERIFY(status.contains("for command at+enq\r\n"));
    QCOMPARE(w.received().back(), std::string("at+enq\r"));
    {
      std::lock_guard lock(atCommandMutex);
      QCOMPARE(atCommand.command[0], '\0');
      QCOMPARE(atCommand.timerMode.load(), 0);
    }
    QVERIFY(w.boxes.empty());
    // The engine takes commands again.
    w.type(ctl::kAtCommand, "AT+NAME?");
    w.click(ctl::kSend);
    QVERIFY(w.boxes.empty());
  }

  void clearingDisableAuthenticationWithoutAPinSendsTheDefaultPin() {
    SimWindow w(adapter(), settingsFor(19200));
    w.world->set(1, "pin", "NULL");
    QVERIFY(w.readSettings());
    QCOMPARE(localDev.authDisabled.load(), 1);
    QCOMPARE(std::string(localDev.pin), std::string());
    QVERIFY(w.page().checked(ctl::kDisableAuthentication));
    QVERIFY(!w.page().enabled(ctl::kPinCode));
    const std::size_t before = w.received().size();

    w.click(ctl::kDisableAuthentication);
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{"AT+PIN=8942\r"});
    QCOMPARE(localDev.authDisabled.load(), 0);
    QCOMPARE(w.page().text(ctl::kPinCode), std::string("8942"));
    QVERIFY(w.page().enabled(ctl::kPinCode));
    QCOMPARE(field(*w.world, "pin"), std::string("8942"));

    w.click(ctl::kDisableAuthentication);
    QCOMPARE(w.receivedFrom(before), (std::vector<std::string>{"AT+PIN=8942\r", "AT+PIN-\r"}));
    QCOMPARE(localDev.authDisabled.load(), 1);
    QVERIFY(!w.page().enabled(ctl::kPinCode));
  }

  void overlongCommandsAreRefusedWithTheReason() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::size_t before = w.received().size();

    const std::string typed = "AT+NAME=ABCDEFGHIJKLMNOPQRSTU";  // 29 + CR
    w.type(ctl::kAtCommand, typed);
    w.click(ctl::kSend);
    QCOMPARE(w.boxes.size(), std::size_t{1});
    QVERIFY2(QString::fromStdString(w.boxes[0]).contains("is 29 characters long; at most 28 characters"),
             w.boxes[0].c_str());
    QVERIFY(QString::fromStdString(w.boxes[0]).contains(QString::fromStdString(typed)));

    w.boxes.clear();
    w.type(ctl::kDeviceName, "ABCDEFGHIJKLMNOPQRSTUVW");  // fits the box, not the command
    w.type(ctl::kPinCode, "4321");
    w.click(ctl::kSaveSettings);
    QCOMPARE(w.boxes.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(w.boxes[0]).contains("at most 28 characters"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{"AT+PIN=4321\r"});
    QVERIFY(w.statusHas("Settings saved failed"));
    QCOMPARE(w.page().text(ctl::kDeviceName), std::string(localDev.name));  // back to the record
    QCOMPARE(field(*w.world, "name"), std::string("KX627-1"));
  }

  void savedFileLoadedBackSendsNothing() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::string path = w.dir.filePath("device.txt").toStdString();
    w.nextPath = path;
    triggerMenu(*w.window, "File", "Save Settings File\u2026");
    QVERIFY(w.statusHas("Device Settings Saved"));
    const QString saved = w.readFile("device.txt");
    QVERIFY(saved.contains("Name = KX627-1\n"));
    QVERIFY(saved.contains("RemoteCOD = 000000\n"));

    const std::size_t before = w.received().size();
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(w.dialogs, (std::vector<bool>{true, false}));
    QVERIFY(w.statusHas("Programming the adapter with the loaded settings..."));
    QVERIFY(w.statusHas("The adapter already holds the loaded settings"));
    QVERIFY(!w.statusHas("Adapter programmed with loaded settings"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{});

    // A changed value is programmed, one command for it.
    w.writeFile("device.txt", saved.toStdString() + "Name = FromFile\nEchoMode = On\n");
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(w.receivedFrom(before), (std::vector<std::string>{"AT+NAME=FromFile\r", "AT+ECHO+\r"}));
    QCOMPARE(std::string(localDev.name), std::string("FromFile"));
    QVERIFY(w.boxes.empty());

    // A cancelled dialog does nothing; a missing file is reported.
    w.nextPath.reset();
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QVERIFY(w.boxes.empty());
    w.nextPath = w.dir.filePath("missing.txt").toStdString();
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(w.boxes, (std::vector<std::string>{"Failed to open settings.txt file.No such file present",
                                                "Failed to load file"}));
  }

  // Lines that cannot be used are listed in one Yes/No box before anything
  // is sent; No sends nothing, Yes programs the other values.
  void badLinesAreListedAndAskedAboutBeforeAnythingIsSent() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    const std::string path = w.dir.filePath("bad.txt").toStdString();
    w.writeFile("bad.txt", "Name = Baud-Tester\nNmae = Typo\nBaud = 12345\nEchoMode = On\n");
    w.nextPath = path;
    std::vector<std::string> questions;
    MsgResult reply = MsgResult::No;
    w.answer = [&](const std::string& text, MsgButtons buttons) {
      if (isYesNo(buttons)) questions.push_back(text);
      return isYesNo(buttons) ? reply : MsgResult::Ok;
    };
    const std::size_t before = w.received().size();
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(questions.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(questions[0]).contains(QString::fromStdString(
        path + ":2: unknown key \"Nmae\" (did you mean \"Name\"?)\n" + path + ":3: Baud:")));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{});
    QVERIFY(w.statusHas(QString::fromStdString("Loading " + path + " cancelled; nothing was programmed")));
    // The bad lines stay in the status window after the box.
    QCOMPARE(w.statusCount(QString::fromStdString(path + ":2: unknown key \"Nmae\" (did you mean \"Name\"?)")), 1);

    // The real box: No is its default, so Enter programs nothing.
    w.window->messageBoxHook = nullptr;
    QString defaultButton;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
      QTest::keyClick(box, Qt::Key_Return);
    });
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(defaultButton, QStringLiteral("&No"));
    QCOMPARE(w.receivedFrom(before), std::vector<std::string>{});
    w.window->messageBoxHook = [&](const std::string& text, const std::string&, MsgButtons buttons, MsgIcon) {
      w.boxes.push_back(text);
      return w.answer(text, buttons);
    };

    reply = MsgResult::Yes;
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(w.receivedFrom(before),
             (std::vector<std::string>{"AT+NAME=Baud-Tester\r", "AT+ECHO+\r"}));
    QVERIFY(w.statusHas("Adapter programmed with loaded settings"));

    // Nothing usable: a box, no question, nothing sent.
    w.writeFile("bad.txt", std::string("\x01\x02 binary\n", 10));
    w.boxes.clear();
    triggerMenu(*w.window, "File", "Load Settings File\u2026");
    QCOMPARE(questions.size(), std::size_t{2});
    QCOMPARE(w.boxes.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(w.boxes[0]).startsWith("Nothing was programmed"));
    QCOMPARE(w.receivedFrom(before).size(), std::size_t{2});
  }

  void fileMenuWaitsForAnAdapter() {
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(!w.window->saveSettingsAction()->isEnabled());
    QVERIFY(!w.window->loadSettingsAction()->isEnabled());
    QCOMPARE(w.window->saveSettingsAction()->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(w.window->loadSettingsAction()->shortcut(), QKeySequence(QKeySequence::Open));
    // Reached all the same (a shortcut's race with Re-initialize), they refuse.
    w.window->onSaveSettingsFile();
    w.window->onLoadSettingsFile();
    QCOMPARE(w.boxes,
             (std::vector<std::string>{
                 "Local Device is not initialised. Please initialise the device and then save settings.",
                 "Local Device is not initialised. Please initialise the device and then load settings."}));
    QVERIFY(w.dialogs.empty());
    QVERIFY(w.readSettings());
    QTRY_VERIFY(w.window->saveSettingsAction()->isEnabled() && w.window->loadSettingsAction()->isEnabled());
    w.click(ctl::kReinitialize);
    QVERIFY(!w.window->saveSettingsAction()->isEnabled());
  }

  void aFirstStartShowsNoBoxAndTheFactoryLineSettings() {
    SimWindow w(adapter(), "");
    QCOMPARE(w.startupBoxes, std::vector<std::string>{});
    QVERIFY(w.statusHas("No settings.txt yet: the adapter's factory line settings are in use "
                        "(19200 bit/s, no parity, one stop bit, no flow control)."));
    LocalDevicePage& p = w.page();
    QCOMPARE(p.text(ctl::kBaudRateList), std::string("19200"));
    QCOMPARE(p.text(ctl::kParityList), std::string("None"));
    QVERIFY(p.checked(ctl::kStopOne));
    QVERIFY(p.checked(ctl::kFlowDisabled));
    // A file dialog may have made another directory current meanwhile.
    QDir(w.dir.path()).mkdir("elsewhere");
    QDir::setCurrent(w.dir.filePath("elsewhere"));
    w.window.reset();
    QCOMPARE(w.readFile("settings.txt"),
             QString("# KX627 Configuration Utility Settings\n"
                     "Port = \n"
                     "# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600\n"
                     "Baud = 19200\n"
                     "StopBits = 1\n"
                     "FlowControl = Off\n"
                     "# Valid parity values are none, odd, even\n"
                     "Parity = None\n"
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
                     "ModemSignal = Disabled\n"));
    QVERIFY(!QFile::exists(w.dir.filePath("elsewhere/settings.txt")));
  }

  void startupTakesTheSerialSettingsAndExitWritesTheDevice() {
    {
      // A line that cannot be used costs only itself, with one status line.
      SimWindow w(adapter(), settingsFor(57600, "Even", 2, true) + "Baud = 12345\n");
      QVERIFY(w.startupBoxes.empty());
      QCOMPARE(w.statusCount("settings.txt:6: Baud: \"12345\" is not an adapter speed (1200, "
                             "2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800 or "
                             "921600) (line ignored)"),
               1);
      LocalDevicePage& p = w.page();
      QCOMPARE(p.text(ctl::kBaudRateList), std::string("57600"));
      QCOMPARE(p.text(ctl::kParityList), std::string("Even"));
      QVERIFY(p.checked(ctl::kStopTwo));
      QVERIFY(p.checked(ctl::kFlowEnabled));
      QCOMPARE(uart.baud, 57600);
    }
    SimWindow w(adapter(), settingsFor(19200));
    QVERIFY(w.readSettings());
    w.window.reset();
    const QString saved = w.readFile("settings.txt");
    QVERIFY2(saved.contains(QString("Port = ") + kSimPort + "\n"),
             qPrintable(saved));
    QVERIFY(saved.contains("Baud = 19200\nStopBits = 1\nFlowControl = Off\n"));
    QVERIFY(saved.contains("Parity = None\nName = KX627-1\nPin = 1234\nRemoteAddress = 0000-00-000000\n"));
    QVERIFY(saved.contains("Role = Slave\n"));
    QVERIFY(saved.endsWith("RemoteService = NULL\nRemoteCOD = 000000\n"));
  }
};

QTEST_MAIN(LocalDeviceProgramTest)
#include "local_device_program_test.moc"
