// Finding, initialising and reading the adapter through the real window:
// Read Settings, the settings search, Abort, the old-firmware stop,
// Re-initialize, the factory reset and closing the window mid-search, against
// the simulated adapter.
#include "support/sim_window_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "device/port_list.h"
#include "device/settings_search.h"
#include "serial/port_discovery.h"
#include "ui/command_line.h"
#include "ui/drop_down_list.h"
#include "ui/simulator_mode.h"

using namespace kx;
using namespace kx::test;

namespace {

sim::WorldOptions adapterAt(int baud, bool flow = false) {
  sim::WorldOptions o;
  o.baud = baud;
  o.flow = flow;
  o.restartMs = 50;
  return o;
}

std::string field(sim::World& world, const char* name) {
  std::string v;
  world.get(1, name, &v);
  return v;
}

// The search's status line; its last dot turns as the spinner.
bool searching(const SimWindow& w) {
  return w.window->statusText().contains(
      "No response received for init command. Trying all settings. Press Abort to Stop...");
}

// The system's serial ports as a test sets them; restores the real ones.
struct FakePorts {
  std::vector<std::string> names;
  FakePorts(std::initializer_list<std::string> initial) : names(initial) {
    portEnumerator = [this] { return names; };
  }
  ~FakePorts() { portEnumerator = nullptr; }
};

std::vector<std::string> listed(const SimWindow& w) {
  std::vector<std::string> rows;
  for (int i = 0; i < w.page().rowCount(ctl::kComPortList); ++i)
    rows.push_back(w.page().rowText(ctl::kComPortList, i));
  return rows;
}

}  // namespace

class LocalDeviceInitTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { setClockScale(0.05); }
  void cleanupTestCase() { setClockScale(1.0); }

  void readSettingsReadsAllTwentySettingsIntoPageAndRecord() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    // A name that holds an event's word is a name, not a connection.
    QVERIFY(w.world->set(1, "name", "CONNECTOR-7"));
    QVERIFY(w.readSettings());
    QVERIFY(w.boxes.empty());

    // The probe, then the read list in order; the old-firmware probe at flow
    // control on did not reach an adapter running without it.
    const auto got = w.received();
    QCOMPARE(got.size(), std::size_t{21});
    QCOMPARE(got[0], std::string("AT+RESP?\r"));
    for (int i = 0; i < 20; ++i) QCOMPARE(got[static_cast<std::size_t>(i) + 1], std::string(readCommandList[i]));

    QCOMPARE(localDev.initialised.load(), 1);
    QCOMPARE(std::string(localDev.name), std::string("CONNECTOR-7"));
    QCOMPARE(localDev.connected.load(), 0);
    QCOMPARE(std::string(localDev.address), w.world->address(1));
    QCOMPARE(std::string(localDev.pin), std::string("1234"));
    QCOMPARE(std::string(localDev.bondedAddress), std::string("0000-00-000000"));
    QCOMPARE(std::string(localDev.fwVersion), std::string("v6.80"));
    QCOMPARE(std::string(localDev.remoteService), std::string("NULL"));
    QCOMPARE(std::string(localDev.remoteCod), std::string("000000"));
    QCOMPARE(localDev.role.load(), 2);
    QCOMPARE(localDev.cmdResponse.load(), 1);
    QCOMPARE(localDev.discoverable.load(), 1);
    QCOMPARE(localDev.escapeMode.load(), 1);
    QCOMPARE(localDev.remoteConfig.load(), 1);
    QCOMPARE(localDev.echo.load(), 0);
    QCOMPARE(localDev.baudCode.load(), 14);
    QCOMPARE(uart.baud, 19200);
    QCOMPARE(uart.flow, 0);

    LocalDevicePage& p = w.page();
    QCOMPARE(p.text(ctl::kDeviceName), std::string(localDev.name));
    QCOMPARE(p.text(ctl::kDeviceAddress), w.world->address(1));
    QCOMPARE(p.text(ctl::kPinCode), std::string("1234"));
    QCOMPARE(p.text(ctl::kFwVersionLabel), std::string("v6.80"));
    QCOMPARE(p.text(ctl::kRemoteService), std::string("NULL"));
    QCOMPARE(p.text(ctl::kBaudRateList), std::string("19200"));
    QVERIFY(p.checked(ctl::kSlave));
    QVERIFY(p.checked(ctl::kDiscoverable));
    QVERIFY(p.checked(ctl::kCommandResponse));
    QVERIFY(p.checked(ctl::kFlowDisabled));
    QVERIFY(p.checked(ctl::kModeCommand));
    for (int id : {ctl::kSaveSettings, ctl::kRestoreFactory, ctl::kSend, ctl::kDeviceName,
                   ctl::kModemSignalList, ctl::kRemoteService, ctl::kRemoteCod})
      QVERIFY2(p.enabled(id), qPrintable(QString::number(id)));
    QVERIFY(!p.enabled(ctl::kAbort));
    QVERIFY(w.window->led(ctl::kMainLedDevice)->isOn());
    QVERIFY(w.window->led(ctl::kMainLedUart)->isOn());
    for (const char* line : {"Checking support for firmware version...", "Firmware version supported",
                             "Connecting to Device...", "Local Device initialised successfully",
                             "Reading Device Settings..."})
      QVERIFY2(w.statusHas(line), line);
    QVERIFY(w.boxes.empty());
  }

  void searchFindsAnAdapterAtOtherSettingsAndThePageShowsThem() {
    // The adapter runs 9600 bit/s without flow control; the page asks for
    // 19200 with flow control. The search tries 19200 without flow control,
    // then 9600 (the fifth step of a search is shown over a pseudo-terminal
    // in the core tests).
    SimWindow w(adapterAt(9600), settingsFor(19200, "None", 1, true));
    QVERIFY(w.readSettings(30000));
    QVERIFY(searching(w));
    QCOMPARE(searchStepNumber.load(), 3);
    QCOMPARE(uart.baud, 9600);
    QCOMPARE(uart.parity, PARITY_NONE_FLAG);
    QCOMPARE(uart.stopBits, 1);
    QCOMPARE(uart.flow, 0);
    LocalDevicePage& p = w.page();
    QCOMPARE(p.text(ctl::kBaudRateList), std::string("9600"));
    QVERIFY(p.checked(ctl::kFlowDisabled));
    QVERIFY(p.checked(ctl::kStopOne));
    QCOMPARE(p.text(ctl::kParityList), std::string("None"));
    QCOMPARE(std::string(localDev.name), field(*w.world, "name"));
    QCOMPARE(p.text(ctl::kDeviceName), field(*w.world, "name"));
  }

  void abortEndsTheSearchAndTheNextReadStartsAfresh() {
    SimWindow w(adapterAt(19200), settingsFor(57600, "Odd", 2, true));
    w.world->unplug();
    w.click(ctl::kReadSettings);
    QTRY_VERIFY_WITH_TIMEOUT(searching(w), 10000);
    // Each step replaces the line of the step before.
    QTRY_VERIFY_WITH_TIMEOUT(w.statusHas("Common settings: trying 9600 bit/s, no parity, one stop bit, no flow control (2 of 131)"),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.statusHas("Common settings: trying 9600 bit/s, no parity, one stop bit, no flow control (2 of 131)"),
                             10000);
    QCOMPARE(w.window->statusText().count(" bit/s, "), 1);
    QVERIFY(w.window->led(ctl::kMainLedUart)->isOn());
    QVERIFY(w.page().enabled(ctl::kAbort));
    w.click(ctl::kAbort);
    // Read Settings pressed again before the search has seen the abort: the
    // abort stands.
    onReadSettings(w.page());
    QTRY_VERIFY_WITH_TIMEOUT(w.statusHas("Initialization operation aborted"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!initialisationRunning(), 5000);
    QVERIFY(!w.page().enabled(ctl::kAbort));
    QCOMPARE(uart.isUartActive.load(), 0);
    QCOMPARE(localDev.abortOp.load(), 0);
    QCOMPARE(localDev.initialised.load(), 0);
    // The port is closed: its LED goes off.
    QTRY_VERIFY_WITH_TIMEOUT(!w.window->led(ctl::kMainLedUart)->isOn(), 5000);
    // The closed port's record is empty; settings.txt keeps what the user had.
    w.window.reset();
    QVERIFY2(w.readFile("settings.txt")
                 .startsWith(QString("# KX627 Configuration Utility Settings\nPort = ") + kSimPort +
                             "\n# Valid baudrate values 1200,2400,4800,9600,19200,38400,57600,115200,"
                             "230400,460800,921600\nBaud = 57600\nStopBits = 2\nFlowControl = On\n"
                             "# Valid parity values are none, odd, even\nParity = Odd\nName = \n"),
             qPrintable(w.readFile("settings.txt")));
  }

  // --simulator: the window starts at the simulated adapter's line settings
  // whatever settings.txt says of a real adapter, reads it behind its port
  // SIM without a search, OK to pairing's prompt plugs the adapter it names
  // (Cancel does not) as does OK to unpairing's "Connect back Device 1", and
  // the trial leaves settings.txt as it was.
  void theSimulatorModeReadsAndSwapsAdapters() {
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QByteArray real = "Port = COM7\nBaud = 38400\nStopBits = 2\nParity = Odd\nFlowControl = On\n";
    {
      QFile file(dir.filePath("settings.txt"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(real);
    }
    {
      SimulatorMode simulator;
      WindowCommandLine command = parseWindowCommandLine({"kx627-config", "--simulator"});
      QVERIFY(!command.exitCode);
      MainWindow::Startup startup = applicationStartup(command.options);
      simulator.prepareStartup(startup);
      MainWindow window(std::move(startup));
      simulator.attachTo(window);
      MsgResult answer = MsgResult::Ok;
      window.messageBoxHook = [&](const std::string&, const std::string&, MsgButtons, MsgIcon) {
        return answer;
      };
      LocalDevicePage& page = *window.localDevicePage();
      QCOMPARE(page.text(ctl::kComPortList), std::string(SimulatorMode::kPortName));
      QCOMPARE(page.text(ctl::kBaudRateList), std::string("19200"));
      QCOMPARE(page.text(ctl::kParityList), std::string("None"));
      QVERIFY(page.checked(ctl::kStopOne));
      QVERIFY(page.checked(ctl::kFlowDisabled));
      page.controlAs<QAbstractButton>(ctl::kReadSettings)->click();
      QTRY_VERIFY_WITH_TIMEOUT(window.statusText().contains("Device Settings read complete"), 15000);
      QVERIFY(!window.statusText().contains("Trying all settings"));
      QCOMPARE(page.text(ctl::kDeviceName), std::string("KX627-1"));

      answer = MsgResult::Cancel;
      window.messageBox("Connect Device 2 to SIM and then Press OK", "", MsgButtons::OkCancel);
      QCOMPARE(simulator.pluggedAdapter(), 1);
      answer = MsgResult::Ok;
      window.messageBox("Connect Device 2 to SIM and then Press OK", "", MsgButtons::OkCancel);
      QCOMPARE(simulator.pluggedAdapter(), 2);
      window.messageBox("Connect Device 1 to SIM and then Press OK", "", MsgButtons::OkCancel);
      QCOMPARE(simulator.pluggedAdapter(), 1);
      window.messageBox("Connect Device 2 to SIM and then Press OK", "", MsgButtons::OkCancel);
      window.messageBox("Unpairing completed successfully. Connect back Device 1", "", MsgButtons::Ok);
      QCOMPARE(simulator.pluggedAdapter(), 1);
      QCOMPARE(SimulatorMode::promptedDevice("Connect Device 2 to SIM"), 0);
    }
    {
      QFile file(dir.filePath("settings.txt"));
      QVERIFY(file.open(QIODevice::ReadOnly));
      QCOMPARE(file.readAll(), real);
    }
    QDir::setCurrent(oldCwd);
    serialDeviceFactory = nullptr;
    clearUart();
    clearLocalDev();
  }

  void aTypedPortIsOpenedAndKeptInSettingsTxt() {
    const std::string typed = "/tmp/kx-typed-" + std::to_string(::getpid());
    {
      SimWindow w(adapterAt(19200), "");
      auto* list = w.page().controlAs<DropDownList>(ctl::kComPortList);
      QVERIFY(list->isEditable());
      list->lineEdit()->selectAll();
      QTest::keyClicks(list->lineEdit(), QString::fromStdString(typed));
      QCOMPARE(w.page().text(ctl::kComPortList), typed);
      // The factory line settings of a first start find the adapter at once.
      QVERIFY(w.readSettings());
      QVERIFY(!searching(w));
      QCOMPARE(std::string(uart.comPort), typed);
      w.window.reset();
      QVERIFY(w.readFile("settings.txt").contains(QString::fromStdString("Port = " + typed + "\n")));
    }
    // The command line's --port preselects a port the system does not list.
    WindowOptions options;
    options.port = typed;
    SimWindow w(adapterAt(19200), settingsFor(19200), options);
    QCOMPARE(w.page().text(ctl::kComPortList), typed);
    QVERIFY(w.readSettings());
    QCOMPARE(std::string(uart.comPort), typed);
  }

  void theNextReadAfterAnAbortStartsAfresh() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    w.world->unplug();
    w.click(ctl::kReadSettings);
    QTRY_VERIFY_WITH_TIMEOUT(searching(w), 10000);
    w.click(ctl::kAbort);
    QTRY_VERIFY_WITH_TIMEOUT(!initialisationRunning(), 10000);
    w.world->plug(1);
    QVERIFY(w.readSettings());
    QCOMPARE(localDev.initialised.load(), 1);
  }

  void oldFirmwareStopsWithItsMessage() {
    sim::WorldOptions o = adapterAt(19200, true);
    o.oldFirmware = true;
    o.version = "v3.10";
    SimWindow w(o, settingsFor(19200, "None", 1, true));
    w.click(ctl::kReadSettings);
    QTRY_COMPARE_WITH_TIMEOUT(w.boxes.size(), std::size_t{1}, 5000);
    QVERIFY(QString::fromStdString(w.boxes[0]).startsWith("The adapter is running an old firmware version.\n"));
    QVERIFY(w.window->statusText().contains("Old firmware version"));
    QVERIFY(w.window->statusText().contains("v3.10"));
    QVERIFY(!w.statusHas("Firmware version supported"));
    QVERIFY(!initialisationRunning());
    QCOMPARE(localDev.oldFirmware.load(), 1);
    QCOMPARE(localDev.initialised.load(), 0);
    QCOMPARE(uart.isUartActive.load(), 1);  // the port stays open
    QCOMPARE(w.received(), std::vector<std::string>{"ATI0\r"});
  }

  void reinitializeClearsEverythingAndStartsAgain() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    QVERIFY(w.readSettings());
    localDev.connected = 1;
    w.window->updateIndicators();
    QVERIFY(w.window->led(ctl::kMainLedConnection)->isOn());
    const std::size_t before = w.received().size();

    w.click(ctl::kReinitialize);
    // Back on this thread the record and the page are empty; the worker is
    // searching for the adapter again.
    QCOMPARE(localDev.connected.load(), 0);
    QCOMPARE(localDev.initialised.load(), 0);
    QVERIFY(!w.window->led(ctl::kMainLedConnection)->isOn());
    QVERIFY(!w.window->led(ctl::kMainLedDevice)->isOn());
    QCOMPARE(w.page().text(ctl::kDeviceName), std::string());
    QCOMPARE(w.page().text(ctl::kDeviceAddress), std::string());
    QVERIFY(!w.page().enabled(ctl::kSaveSettings));
    QCOMPARE(w.page().text(ctl::kFwVersionLabel), std::string("v6.80"));  // kept

    QTRY_COMPARE_WITH_TIMEOUT(w.statusCount("Device Settings read complete"), 2, 15000);
    QCOMPARE(localDev.initialised.load(), 1);
    QCOMPARE(w.page().text(ctl::kDeviceName), std::string(localDev.name));
    QVERIFY(w.page().enabled(ctl::kSaveSettings));
    QCOMPARE(w.receivedFrom(before).size(), std::size_t{21});
  }

  void factoryResetMovesThePortTo19200AndReadsAgain() {
    SimWindow w(adapterAt(57600), settingsFor(57600));
    QVERIFY(w.readSettings());
    QCOMPARE(uart.baud, 57600);
    w.type(ctl::kDeviceName, "Renamed");
    w.click(ctl::kSaveSettings);
    QCOMPARE(field(*w.world, "name"), std::string("Renamed"));
    const std::size_t before = w.received().size();

    w.click(ctl::kRestoreFactory);
    QVERIFY(w.statusHas("Factory settings restored on Local Device. Settings will be read automatically"));
    QTRY_COMPARE_WITH_TIMEOUT(w.statusCount("Device Settings read complete"), 2, 15000);
    const auto after = w.receivedFrom(before);
    QCOMPARE(after.size(), std::size_t{21});
    QCOMPARE(after[0], std::string("AT+RESET\r"));
    QCOMPARE(after[1], std::string("AT+RESP?\r"));
    QCOMPARE(uart.baud, 19200);
    QCOMPARE(uart.flow, 0);
    QCOMPARE(field(*w.world, "baud"), std::string("19200"));
    QCOMPARE(w.page().text(ctl::kBaudRateList), std::string("19200"));
    QCOMPARE(std::string(localDev.name), field(*w.world, "name"));
    QCOMPARE(w.page().text(ctl::kDeviceName), field(*w.world, "name"));
    QVERIFY(w.boxes.empty());
  }

  void resetWithoutAnswerReportsResetFailed() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    QVERIFY(w.readSettings());
    w.world->unplug();
    w.click(ctl::kRestoreFactory);
    QCOMPARE(w.boxes, std::vector<std::string>{"Reset Failed!!"});
    QCOMPARE(uart.baud, 19200);
  }

  void closingTheWindowDuringTheSearchEndsTheWorkerCleanly() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    w.world->unplug();
    QFile::remove(w.dir.filePath("settings.txt"));
    w.click(ctl::kReadSettings);
    QTRY_VERIFY_WITH_TIMEOUT(searching(w), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(w.window->statusText().endsWith("\r\n") && searchStepNumber.load() > 2, 10000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w.window->close());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!initialisationRunning());
    QCOMPARE(uart.isUartActive.load(), 0);
    QVERIFY(w.readFile("settings.txt").startsWith("# KX627 Configuration Utility Settings\n"));
    w.window.reset();

    // A window opened afterwards reports to its status window as usual.
    SimWindow again(adapterAt(19200), settingsFor(19200));
    again.link->detach();
    again.selectPort("/dev/kx-no-such-port");
    again.click(ctl::kReadSettings);
    QVERIFY(again.statusHas("Failed to initialise UART"));
  }

  void aPortThatCannotBeOpenedIsReportedAndCanBeRetried() {
    SimWindow w(adapterAt(19200), settingsFor(19200));
    w.link->detach();  // the real serial device: the port does not exist
    w.selectPort("/dev/kx-no-such-port");
    w.click(ctl::kReadSettings);
    QVERIFY2(w.statusHas("Failed to initialise UART"), qPrintable(w.window->statusText()));
    QCOMPARE(uart.isUartActive.load(), 0);
    QVERIFY(!initialisationRunning());

    w.link = sim::attachInProcess(*w.world);
    QVERIFY(w.readSettings());
    QCOMPARE(localDev.initialised.load(), 1);
  }

  void theComPortListFollowsThePortsWhileNoPortIsOpen() {
    const std::string longPath = "/home/user/kx627/build/run/kx627-sim";
    FakePorts ports{"/dev/ttyUSB0", kSimPort};
    // What the system says of the port: in the status line and the tooltip.
    portDescriber = [](const std::string& name) {
      PortDetails d;
      if (name != kSimPort) return d;
      d.description = "KX627 fixture";
      d.usbVendor = 0x10C4;
      d.usbProduct = 0xEA60;
      d.serialNumber = "0042";
      return d;
    };
    struct Restore {
      ~Restore() { portDescriber = nullptr; }
    } restore;
    SimWindow w(adapterAt(19200), settingsFor(19200));
    QCOMPARE(listed(w), ports.names);
    QCOMPARE(w.page().text(ctl::kComPortList), std::string(kSimPort));
    QVERIFY(w.statusHas(QStringLiteral("COM Port: /dev/kx-sim (KX627 fixture, USB 10C4:EA60, serial 0042)")));
    QCOMPARE(w.page().controlAs<DropDownList>(ctl::kComPortList)->toolTipText(),
             QStringLiteral("/dev/kx-sim\nKX627 fixture, USB 10C4:EA60, serial 0042"));

    // A port appears (udev's event): added, the selection stays. A long
    // path shows its end, the whole path is its tooltip and its value.
    ports.names = {"/dev/ttyACM0", "/dev/ttyUSB0", kSimPort, longPath};
    w.page().hooks.portsChanged();
    QCOMPARE(listed(w), ports.names);
    QCOMPARE(w.page().text(ctl::kComPortList), std::string(kSimPort));
    auto* list = w.page().controlAs<DropDownList>(ctl::kComPortList);
    QCOMPARE(list->itemText(0), QStringLiteral("ttyACM0"));
    QCOMPARE(list->itemText(3), QStringLiteral("\u2026/kx627-sim"));
    QCOMPARE(list->itemData(3, Qt::ToolTipRole).toString(), QString::fromStdString(longPath));

    // Opening the list reads the ports again (all there is without udev).
    ports.names = {kSimPort, longPath};
    list->showPopup();
    list->hidePopup();
    QCOMPARE(listed(w), ports.names);

    // While the port is open the list stays as it is.
    QVERIFY(w.readSettings());
    ports.names = {kSimPort};
    w.page().hooks.portsChanged();
    list->showPopup();
    list->hidePopup();
    QCOMPARE(listed(w), (std::vector<std::string>{kSimPort, longPath}));
  }

  void anEmptyPortListExplainsWhy() {
    FakePorts ports{};
    SimWindow w(adapterAt(19200), "");
    QVERIFY(w.statusHas(QString::fromUtf8(kNoPortsHelp)));
  }

  void anUnpluggedAdapterIsReportedAndTheLinkCanBeOpenedAgain() {
    FakePorts ports{"/dev/ttyS0", kSimPort};
    SimWindow w(adapterAt(19200), settingsFor(19200));
    QVERIFY(w.readSettings());
    QVERIFY(w.window->led(ctl::kMainLedUart)->isOn());

    w.link->port()->hangUp();  // the adapter is pulled out of the port
    QTRY_VERIFY_WITH_TIMEOUT(!w.boxes.empty(), 5000);
    const std::string expected = deviceLostText(kSimPort);
    QCOMPARE(w.boxes.back(), expected);
    QCOMPARE(w.statusCount(QString::fromStdString(expected)), 1);
    QCOMPARE(uart.isUartActive.load(), 0);
    QCOMPARE(localDev.initialised.load(), 0);
    QVERIFY(!w.window->led(ctl::kMainLedUart)->isOn());
    QVERIFY(!w.window->led(ctl::kMainLedDevice)->isOn());
    QVERIFY(!w.page().enabled(ctl::kSaveSettings));
    QVERIFY(w.page().enabled(ctl::kReadSettings));

    // Its port goes away with it, then comes back: the status window says so
    // and Read Settings reads everything at once.
    ports.names = {"/dev/ttyS0"};
    w.page().hooks.portsChanged();
    QCOMPARE(listed(w), ports.names);
    const QString back = QString::fromStdString(adapterBackText(kSimPort));
    QVERIFY(!w.statusHas(back));
    w.link->detach();
    w.link = sim::attachInProcess(*w.world);
    ports.names = {"/dev/ttyS0", kSimPort};
    w.page().hooks.portsChanged();
    QCOMPARE(w.statusCount(back), 1);
    QCOMPARE(w.page().text(ctl::kComPortList), std::string(kSimPort));
    QVERIFY(w.readSettings());
    QCOMPARE(localDev.initialised.load(), 1);
    QCOMPARE(w.boxes.size(), std::size_t{1});  // the notice was shown once
  }

  void anAdapterBackUnderAnotherNameIsOfferedWhenItIsTheOnlyNewPort() {
    FakePorts ports{"/dev/ttyS0", kSimPort};
    SimWindow w(adapterAt(19200), settingsFor(19200));
    QVERIFY(w.readSettings());
    w.link->port()->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!w.boxes.empty(), 5000);

    ports.names = {"/dev/ttyS0", "/dev/ttyUSB1"};
    w.page().hooks.portsChanged();
    QVERIFY(w.statusHas(QString::fromStdString(adapterMovedText(kSimPort, "/dev/ttyUSB1"))));
    QCOMPARE(w.page().text(ctl::kComPortList), std::string("/dev/ttyUSB1"));
  }
};

QTEST_MAIN(LocalDeviceInitTest)
#include "local_device_init_test.moc"
