// The main window offscreen: notification routing, the status window and its
// spinner, the three timers, the DTR and RTS boxes, the pages, the LEDs, the
// menus and the WindowInterface from other threads.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSet>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "common/debug_log.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/scripted_serial_device.h"
#include "ui/about_dialog.h"
#include "ui/connection_page.h"
#include "ui/led_button.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"
#include "ui/pair_device_page.h"
#include "ui/remote_device_page.h"

using namespace kx;

namespace {

// Counts paint events of one widget.
class PaintCounter : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
};

// A menu item by the captions shown (without the access keys' "&").
QAction* findAction(QMenuBar* bar, const QString& menu, const QString& item) {
  for (QAction* top : bar->actions()) {
    if (QString(top->text()).remove(u'&') != menu || !top->menu()) continue;
    for (QAction* a : top->menu()->actions())
      if (QString(a->text()).remove(u'&') == item) return a;
  }
  return nullptr;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window;
  std::vector<std::string> boxes;
  std::vector<std::string> calls;
  std::unique_ptr<ScriptedSerialDevice> device;
  std::shared_ptr<ScriptedPort> port;

  void installRecordingHooks() {
    auto record = [this](const char* name) {
      return [this, name] { calls.emplace_back(name); };
    };
    LocalDevicePage& local = *window->localDevicePage();
    local.hooks.showLocalDevice = record("showLocalDevice");
    local.hooks.applyCommandResponse = record("applyCommandResponse");
    local.hooks.onReadSettings = record("onReadSettings");
    local.hooks.readAllSettings = record("readAllSettings");
    local.hooks.enableDeviceControls = [this](int on) { calls.push_back("enableDeviceControls(" + std::to_string(on) + ")"); };
    window->pairDevicePage()->hooks.refreshPairPage = record("refreshPairPage");
    ConnectionPage& conn = *window->connectionPage();
    conn.hooks.refreshInquiryList = record("refreshInquiryList");
    conn.hooks.clearInquiryList = record("clearInquiryList");
    conn.hooks.updateConnectionButtons = record("updateConnectionButtons");
    window->remoteDevicePage()->hooks.refreshRemotePage = record("refreshRemotePage");
  }

  // An open in-memory port behind uart.handle, without link threads.
  void attachPort() {
    port = std::make_shared<ScriptedPort>();
    device = std::make_unique<ScriptedSerialDevice>(port);
    QCOMPARE(device->open("/dev/ttyKX0"), 0);
    uart.handle = device.get();
  }

  QCheckBox* box(int id) { return window->controls().controlAs<QCheckBox>(id); }

 private slots:
  void init() {
    boxes.clear();
    calls.clear();
    window = std::make_unique<MainWindow>();
    window->messageBoxHook = [this](const std::string& text, const std::string&, MsgButtons, MsgIcon) {
      boxes.push_back(text);
      return MsgResult::Ok;
    };
    installRecordingHooks();
  }

  void cleanup() {
    uart.handle = nullptr;
    window.reset();
    device.reset();
    port.reset();
    clearUart();
    clearLocalDev();
    clearInquiry();
    clearRemote();
    clearAtCommand();
    closeDebugLog();
  }

  // ------------------------------------------------------------ start-up
  void startupClearsRecordsAndRegistersTheWindow() {
    window.reset();
    localDev.initialised = 1;
    uart.baud = 9600;
    inquiry.count = 3;
    remote.handshakeState = HANDSHAKE_COMPLETE;
    pair.state = DEV1_BONDED;
    bool loaded = false, installed = false;
    MainWindow::Startup startup;
    startup.loadSettings = [&] { loaded = true; };
    startup.installHandlers = [&](MainWindow& w) { installed = w.localDevicePage() != nullptr; };
    window = std::make_unique<MainWindow>(startup);
    QVERIFY(loaded);
    QVERIFY(installed);
    QCOMPARE(localDev.initialised.load(), 0);
    QCOMPARE(uart.baud, 0);
    QCOMPARE(inquiry.count.load(), 0);
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(pair.state.load(), int(PAIR_IDLE));
    QCOMPARE(mainWindowHandle, static_cast<WindowInterface*>(window.get()));
    QCOMPARE(QString::fromStdString(startupDirectory), QDir::currentPath());
    QCOMPARE(window->windowTitle(), QStringLiteral("KX627 Configuration Tool"));
    QVERIFY(window->localDevicePage()->isVisibleTo(window.get()));
    window.reset();
    QCOMPARE(mainWindowHandle, nullptr);
  }

  void shutdownSavesSettingsOnce() {
    window.reset();
    int saves = 0;
    MainWindow::Startup startup;
    startup.saveSettings = [&] { ++saves; };
    window = std::make_unique<MainWindow>(startup);
    window->show();
    window->close();
    QCOMPARE(saves, 1);
    window.reset();
    QCOMPARE(saves, 1);
  }

  // ------------------------------------------------------------ routing
  void eachNotificationReachesItsHandler_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("lParam");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("20002") << 20002 << 0 << QStringList{"showLocalDevice"};
    QTest::newRow("20003") << 20003 << 0 << QStringList{"applyCommandResponse"};
    QTest::newRow("20004") << 20004 << 0 << QStringList{"refreshPairPage"};
    QTest::newRow("20006") << 20006 << 0 << QStringList{"refreshInquiryList"};
    QTest::newRow("20007") << 20007 << 0 << QStringList{"clearInquiryList"};
    QTest::newRow("20008") << 20008 << 0 << QStringList{"updateConnectionButtons"};
    QTest::newRow("20009") << 20009 << 0 << QStringList{"refreshRemotePage"};
    QTest::newRow("20013") << 20013 << 0 << QStringList{"onReadSettings"};
    QTest::newRow("20014") << 20014 << 0 << QStringList{"readAllSettings", "enableDeviceControls(1)"};
  }

  void eachNotificationReachesItsHandler() {
    QFETCH(int, id);
    QFETCH(int, lParam);
    QFETCH(QStringList, expected);
    window->post(id, lParam);
    QVERIFY(calls.empty());  // posted: runs from the event loop
    QTRY_COMPARE(int(calls.size()), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i) QCOMPARE(QString::fromStdString(calls[i]), expected[i]);
  }

  void statusTextNotificationAppends() {
    postNotify(NOTIFY_STATUS_TEXT, 0, "Hello from a thread");
    QTRY_COMPARE(window->statusText(), QStringLiteral("Hello from a thread\r\n"));
  }

  void enableAbortNotification() {
    LocalDevicePage* local = window->localDevicePage();
    QVERIFY(!local->enabled(ctl::kAbort));
    window->send(NOTIFY_ENABLE_ABORT, 1);
    QVERIFY(local->enabled(ctl::kAbort));
    window->send(NOTIFY_ENABLE_ABORT, 0);
    QVERIFY(!local->enabled(ctl::kAbort));
  }

  void refreshIndicatorsNotification() {
    uart.isUartActive = 1;
    localDev.initialised = 1;
    localDev.connected = 0;
    localDev.dsr = 7;  // any non-zero value is on
    localDev.cts = 0;
    localDev.dataMode = 1;
    window->post(NOTIFY_REFRESH_INDICATORS, 0);
    QTRY_VERIFY(window->led(ctl::kMainLedUart)->isOn());
    QVERIFY(window->led(ctl::kMainLedDevice)->isOn());
    QVERIFY(!window->led(ctl::kMainLedConnection)->isOn());
    QVERIFY(window->led(ctl::kMainLedDsr)->isOn());
    QVERIFY(!window->led(ctl::kMainLedCts)->isOn());
    LocalDevicePage* local = window->localDevicePage();
    QVERIFY(local->checked(ctl::kModeData));
    QVERIFY(!local->checked(ctl::kModeCommand));
    localDev.dataMode = 0;
    window->updateIndicators();
    QVERIFY(local->checked(ctl::kModeCommand));
    QVERIFY(!local->checked(ctl::kModeData));
    QVERIFY(!local->checked(ctl::kModeRemote));
  }

  void sendFromAnotherThreadRunsOnTheUiThread() {
    QThread* uiThread = QThread::currentThread();
    QThread* ranOn = nullptr;
    window->localDevicePage()->hooks.applyCommandResponse = [&] { ranOn = QThread::currentThread(); };
    std::atomic<bool> returned{false};
    std::thread sender([&] {
      sendNotify(NOTIFY_COMMAND_RESPONSE);
      // The handler has run by the time send returns.
      returned = ranOn != nullptr;
    });
    QTRY_VERIFY(ranOn != nullptr);
    sender.join();
    QVERIFY(returned.load());
    QCOMPARE(ranOn, uiThread);
  }

  void messageBoxAndInvokeFromAnotherThread() {
    QThread* uiThread = QThread::currentThread();
    QThread* boxThread = nullptr;
    window->messageBoxHook = [&](const std::string& text, const std::string&, MsgButtons, MsgIcon) {
      boxThread = QThread::currentThread();
      return text == "Question?" ? MsgResult::Yes : MsgResult::No;
    };
    std::atomic<int> answer{-1};
    std::atomic<bool> invoked{false};
    QThread* invokedOn = nullptr;
    std::thread worker([&] {
      answer = int(showMessageBox("Question?", MsgButtons::YesNo));
      mainWindowHandle->invokeOnUi([&] { invokedOn = QThread::currentThread(); });
      invoked = true;
    });
    QTRY_VERIFY(invoked.load());
    worker.join();
    QCOMPARE(answer.load(), int(MsgResult::Yes));
    QCOMPARE(boxThread, uiThread);
    QCOMPARE(invokedOn, uiThread);
  }

  void waitCursorNests() {
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    {
      WaitCursor outer;
      WaitCursor inner;
      QVERIFY(QApplication::overrideCursor());
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    window->setWaitCursor(false);  // unbalanced off is harmless
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  // ------------------------------------------------------------ status window
  void appendStatusContinuesALoneDot() {
    window->appendStatus("Searching");
    window->appendStatus(".");
    window->appendStatus(".");
    window->appendStatus(".");
    QCOMPARE(window->statusText(), QStringLiteral("Searching\r\n..."));
    window->appendStatus("found");
    QCOMPARE(window->statusText(), QStringLiteral("Searching\r\n...found\r\n"));
    QCOMPARE(window->statusWindow()->toPlainText(), QStringLiteral("Searching\n...found\n"));
    window->appendStatus("two\r\nlines");
    QCOMPARE(window->statusWindow()->toPlainText(), QStringLiteral("Searching\n...found\ntwo\nlines\n"));
  }

  void appendStatusPaintsAtOnce() {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PaintCounter counter;
    window->statusWindow()->viewport()->installEventFilter(&counter);
    // No event processing between the append and the check: the status
    // window must already have painted.
    window->appendStatus("Pairing started....");
    QVERIFY(counter.count >= 1);
    const int before = counter.count;
    window->advanceSpinner(1);
    QVERIFY(counter.count > before);
    window->statusWindow()->viewport()->removeEventFilter(&counter);
  }

  void appendStatusScrollsToTheNewestLine() {
    window->show();
    for (int i = 0; i < 40; ++i) window->appendStatus("line " + std::to_string(i));
    QScrollBar* bar = window->statusWindow()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    // A line longer than the box wraps: nothing of it lies out of sight.
    window->appendStatus("Command AT+NAME=A-very-long-name-for-an-adapter failed. Response ERROR, and "
                         "this line goes on well past the width of the status window");
    QCOMPARE(window->statusWindow()->horizontalScrollBar()->maximum(), 0);
  }

  void spinnerTurnsTheLastCharacterUntilTheNextLine() {
    window->appendStatus("Inquiry started....");
    const QString marks = QStringLiteral("\\|/-\\|/-");
    for (int step = 0; step < 8; ++step) {
      window->sendSpinner(step);
      QCOMPARE(window->statusText(), QStringLiteral("Inquiry started...") + marks[step] + QStringLiteral("\r\n"));
      QCOMPARE(window->statusWindow()->toPlainText(),
               QStringLiteral("Inquiry started...") + marks[step] + QStringLiteral("\n"));
    }
    // No turn stays behind.
    window->appendStatus("Inquiry Finished/Cancelled");
    QCOMPARE(window->statusText(), QStringLiteral("Inquiry started....\r\nInquiry Finished/Cancelled\r\n"));
    QCOMPARE(window->statusWindow()->toPlainText(),
             QStringLiteral("Inquiry started....\nInquiry Finished/Cancelled\n"));
  }

  void aProgressLineReplacesItselfUntilTheNextLine() {
    window->progressText = [](int step) { return "step " + std::to_string(step) + " of 3"; };
    window->appendStatus("Searching....");
    for (int step = 1; step <= 3; ++step) window->sendSpinner(step);
    window->appendStatus("Found");
    window->progressText = nullptr;
    QCOMPARE(window->statusText(), QStringLiteral("Searching....\r\nstep 3 of 3\r\nFound\r\n"));
    QCOMPARE(window->statusWindow()->toPlainText(), QStringLiteral("Searching....\nstep 3 of 3\nFound\n"));
  }

  void spinnerLeavesShortTextAlone_data() {
    QTest::addColumn<QStringList>("appends");
    QTest::newRow("empty") << QStringList{};
    QTest::newRow("one dot") << QStringList{"."};
    QTest::newRow("two dots") << QStringList{".", "."};
  }

  void spinnerLeavesShortTextAlone() {
    QFETCH(QStringList, appends);
    for (const QString& a : appends) window->appendStatus(a.toStdString());
    const QString before = window->statusText();
    window->sendSpinner(2);
    QCOMPARE(window->statusText(), before);
    QCOMPARE(window->statusWindow()->toPlainText(), before);
  }

  void spinnerAfterDotsKeepsWidgetInStep() {
    // Three dots without a line end: the spinner replaces the first dot.
    window->appendStatus(".");
    window->appendStatus(".");
    window->appendStatus(".");
    window->advanceSpinner(1);
    QCOMPARE(window->statusText(), QStringLiteral("|.."));
    QCOMPARE(window->statusWindow()->toPlainText(), QStringLiteral("|.."));
  }

  // ------------------------------------------------------------ timers
  void inquiryTimerTurnsSpinnerThenEndsAfter61Ticks() {
    ConnectionPage* conn = window->connectionPage();
    FormPage& main = window->controls();
    localDev.inquiryActive = 1;
    window->appendStatus("Inquiry started....");
    conn->setEnabled(ctl::kCancelInquiry, true);
    conn->setEnabled(ctl::kConnect, false);
    for (int id : {ctl::kMainLocalDeviceButton, ctl::kMainPairingButton, ctl::kMainRemoteButton}) main.setEnabled(id, false);
    window->setTimer(TIMER_INQUIRY, 1000);
    QVERIFY(window->timerActive(TIMER_INQUIRY));

    for (int tick = 0; tick < 61; ++tick) {
      window->handleTimer(TIMER_INQUIRY);
      QCOMPARE(inquiry.ticks.load(), tick + 1);
    }
    // Step 60 left the mark at "\" and nothing else was printed.
    QCOMPARE(window->statusText(), QStringLiteral("Inquiry started...\\\r\n"));
    QVERIFY(window->timerActive(TIMER_INQUIRY));

    window->handleTimer(TIMER_INQUIRY);  // the 62nd tick ends the display
    QVERIFY(window->statusText().endsWith(QStringLiteral("Inquiry Finished/Cancelled\r\n")));
    QVERIFY(!window->timerActive(TIMER_INQUIRY));
    QCOMPARE(inquiry.ticks.load(), 0);
    QCOMPARE(localDev.inquiryActive.load(), 1);  // the timer leaves the flag alone
    QVERIFY(!conn->enabled(ctl::kCancelInquiry));
    QVERIFY(conn->enabled(ctl::kConnect));
    for (int id : {ctl::kMainLocalDeviceButton, ctl::kMainPairingButton, ctl::kMainRemoteButton}) QVERIFY(main.enabled(id));
  }

  void inquiryTimerEndsAtOnceWhenInquiryInactive() {
    localDev.inquiryActive = 0;
    window->connectionPage()->setEnabled(ctl::kCancelInquiry, true);
    window->setTimer(TIMER_INQUIRY, 1000);
    window->handleTimer(TIMER_INQUIRY);
    QCOMPARE(window->statusText(), QStringLiteral("Inquiry Finished/Cancelled\r\n"));
    QVERIFY(!window->timerActive(TIMER_INQUIRY));
    QVERIFY(!window->connectionPage()->enabled(ctl::kCancelInquiry));
    QCOMPARE(inquiry.ticks.load(), 0);
  }

  void handshakeTimerTexts_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("started") << int(HANDSHAKE_STARTED) << "Handshake failed.\r\n";
    QTest::newRow("complete") << int(HANDSHAKE_COMPLETE) << "Handshake command failed.\r\n";
    QTest::newRow("idle") << int(HANDSHAKE_IDLE) << "Handshake command failed.\r\n";
  }

  void handshakeTimerTexts() {
    QFETCH(int, state);
    QFETCH(QString, text);
    remote.handshakeState = state;
    localDev.handshaked = 1;
    // A real expiry, with a short period.
    window->setTimer(TIMER_HANDSHAKE, 5);
    QTRY_COMPARE(window->statusText(), text);
    QVERIFY(!window->timerActive(TIMER_HANDSHAKE));
    QCOMPARE(remote.handshakeState.load(), int(HANDSHAKE_IDLE));
    QCOMPARE(localDev.handshaked.load(), 0);
  }

  void commandTimerCompletesTheCommand() {
    // A timer-driven command that collected nothing: the expiry ends the
    // collection and reports the failure.
    {
      std::lock_guard lock(atCommandMutex);
      copyField(atCommand.command, "AT+ENQ\r");
      atCommand.timerMode = 1;
    }
    window->setTimer(TIMER_AT_COMMAND, 5);
    QTRY_COMPARE(window->statusText(), QString("Failed to send AT+ENQ command\r\n"));
    QCOMPARE(atCommand.timerMode.load(), 0);
    QVERIFY(!window->timerActive(TIMER_AT_COMMAND));
  }

  void timerKilledFromAnotherThreadDoesNotExpire() {
    window->setTimer(TIMER_AT_COMMAND, 20);
    std::thread killer([&] { window->killTimer(TIMER_AT_COMMAND); });
    killer.join();
    QVERIFY(!window->timerActive(TIMER_AT_COMMAND));
    // A timer of the same period set afterwards fires after the killed one
    // would have: once it has, the killed one has shown nothing.
    window->setTimer(TIMER_HANDSHAKE, 20);
    QTRY_COMPARE(window->statusText(), QStringLiteral("Handshake command failed.\r\n"));
  }

  void timerSetFromAnotherThreadStarts() {
    remote.handshakeState = HANDSHAKE_STARTED;
    std::thread setter([&] { window->setTimer(TIMER_HANDSHAKE, 5); });
    setter.join();
    QTRY_COMPARE(window->statusText(), QStringLiteral("Handshake failed.\r\n"));
  }

  // ------------------------------------------------------------ DTR and RTS
  void modemLineRefusedWhileNotInitialised_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::newRow("DTR") << int(ctl::kMainDtr) << "Local Device not initalized. DTR value cannot be changed";
    QTest::newRow("RTS") << int(ctl::kMainRts) << "Local Device not initalized. RTS value cannot be changed";
  }

  void modemLineRefusedWhileNotInitialised() {
    QFETCH(int, id);
    QFETCH(QString, text);
    attachPort();  // even with the port open
    window->show();
    QTest::mouseClick(box(id), Qt::LeftButton);
    QCOMPARE(int(boxes.size()), 1);
    QCOMPARE(QString::fromStdString(boxes[0]), text);
    QVERIFY(!box(id)->isChecked());
    QVERIFY(!port->dtr());
    QVERIFY(!port->rts());
  }

  void modemLineDrivesThePortWhenInitialised_data() {
    QTest::addColumn<bool>("dtr");
    QTest::newRow("DTR") << true;
    QTest::newRow("RTS") << false;
  }

  void modemLineDrivesThePortWhenInitialised() {
    QFETCH(bool, dtr);
    attachPort();
    localDev.initialised = 1;
    window->show();
    const int id = dtr ? ctl::kMainDtr : ctl::kMainRts;
    auto line = [&] { return dtr ? port->dtr() : port->rts(); };
    QTest::mouseClick(box(id), Qt::LeftButton);
    QVERIFY(box(id)->isChecked());
    QVERIFY(line());
    QTest::mouseClick(box(id), Qt::LeftButton);
    QVERIFY(!box(id)->isChecked());
    QVERIFY(!line());
    QVERIFY(boxes.empty());
  }

  // A refused line change is traced with the platform's code on the line.
  void modemLineFailureLogsTheErrorCode() {
    QTemporaryDir dir;
    const std::string log = dir.filePath("Debug.txt").toStdString();
    QVERIFY(openDebugLogAt(log));
    localDev.initialised = 1;  // but no port behind uart.handle
    window->show();
    QTest::mouseClick(box(ctl::kMainDtr), Qt::LeftButton);
    QTest::mouseClick(box(ctl::kMainRts), Qt::LeftButton);
    closeDebugLog();
    QFile file(QString::fromStdString(log));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("\nSet DTR failed: 9\n"), text.constData());
    QVERIFY(text.contains("\nSet RTS failed: 9\n"));
  }

  void modemLineStateNotificationsLeaveThePortAlone_data() {
    QTest::addColumn<int>("notify");
    QTest::addColumn<int>("id");
    QTest::newRow("20015") << int(NOTIFY_DTR_STATE) << int(ctl::kMainDtr);
    QTest::newRow("20016") << int(NOTIFY_RTS_STATE) << int(ctl::kMainRts);
  }

  void modemLineStateNotificationsLeaveThePortAlone() {
    QFETCH(int, notify);
    QFETCH(int, id);
    attachPort();
    window->post(notify, 1);
    QTRY_VERIFY(box(id)->isChecked());
    QVERIFY(!port->dtr());
    QVERIFY(!port->rts());
    QVERIFY(boxes.empty());
    window->post(notify, 0);
    QTRY_VERIFY(!box(id)->isChecked());

    // Checked by the notification, a user's click with a device initialised
    // then lowers the line.
    window->send(notify, 1);
    QVERIFY(device->setDtr(true) == 0 && device->setRts(true) == 0);
    localDev.initialised = 1;
    window->show();
    QTest::mouseClick(box(id), Qt::LeftButton);
    QVERIFY(!box(id)->isChecked());
    QVERIFY(id == ctl::kMainDtr ? !port->dtr() : !port->rts());
  }

  // ------------------------------------------------------------ pages
  void showPageShowsExactlyOne_data() {
    QTest::addColumn<int>("pageId");
    QTest::addColumn<int>("button");
    QTest::newRow("local") << 135 << int(ctl::kMainLocalDeviceButton);
    QTest::newRow("remote") << 136 << int(ctl::kMainRemoteButton);
    QTest::newRow("connection") << 138 << int(ctl::kMainConnectionButton);
    QTest::newRow("pairing") << 139 << int(ctl::kMainPairingButton);
  }

  void showPageShowsExactlyOne() {
    QFETCH(int, pageId);
    QFETCH(int, button);
    window->show();
    // Start elsewhere so that the button really changes the page.
    window->showPage(pageId == 135 ? 139 : 135);
    QTest::mouseClick(window->controls().controlAs<QPushButton>(button), Qt::LeftButton);
    for (int id : {135, 136, 138, 139}) QCOMPARE(window->page(id)->isVisible(), id == pageId);
    QCOMPARE(window->page(pageId)->geometry(), window->pageRect());
    const QRect frame = window->controls().control(ctl::kMainPageFrame)->geometry();
    QCOMPARE(window->pageRect(), frame.adjusted(1, 1, -1, -1));
    // The current page's button says so (bold), the others do not.
    for (int b : {int(ctl::kMainLocalDeviceButton), int(ctl::kMainRemoteButton), int(ctl::kMainConnectionButton),
                  int(ctl::kMainPairingButton)})
      QCOMPARE(window->controls().control(b)->font().bold(), b == button);
    // The pages were laid out for one size: the window cannot be resized.
    QVERIFY(window->minimumSize().isValid());
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QCOMPARE(window->size(), window->minimumSize());

    window->showPage(137);  // not a page: all hidden
    for (int id : {135, 136, 138, 139}) QVERIFY(!window->page(id)->isVisible());
  }

  void pageButtonsShowTheirTooltips() {
    const FormPage& main = window->controls();
    QCOMPARE(main.control(ctl::kMainLocalDeviceButton)->toolTip(), QStringLiteral("Display window with settings of the Device"));
    QCOMPARE(main.control(ctl::kMainPairingButton)->toolTip(), QStringLiteral("Display functionality related to pairing"));
    QCOMPARE(main.control(ctl::kMainConnectionButton)->toolTip(),
             QStringLiteral("Display functionality related to inquiry, connection and disconnection"));
    QCOMPARE(main.control(ctl::kMainRemoteButton)->toolTip(), QStringLiteral("Display functionality related to remote configuration"));
  }

  // ------------------------------------------------------------ LEDs
  void ledRepaintsOnlyOnChange() {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    LedButton* led = window->led(ctl::kMainLedCts);
    QCoreApplication::processEvents();
    const int start = led->paintCount();
    led->setState(5);  // any non-zero value is on
    QVERIFY(led->isOn());
    QVERIFY(led->paintCount() > start);  // painted at once
    QCoreApplication::processEvents();
    const int afterChange = led->paintCount();
    led->setState(1);
    QCoreApplication::processEvents();
    QCOMPARE(led->paintCount(), afterChange);
    led->setState(0);
    QVERIFY(!led->isOn());
    QVERIFY(led->paintCount() > afterChange);
  }

  void ledDrawsDiscWithTransparentCorners() {
    for (bool on : {false, true}) {
      LedButton led(QStringLiteral("X"));
      const QImage image = led.image(on).toImage();
      QCOMPARE(image.size(), QSize(15, 15));
      QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
      QCOMPARE(qAlpha(image.pixel(14, 14)), 0);
      const QColor centre = image.pixelColor(7, 7);
      QCOMPARE(centre.alpha(), 255);
      if (on)
        QVERIFY(centre.green() > centre.red() && centre.green() > centre.blue());
      else
        QVERIFY(centre.red() > centre.green() && centre.red() > centre.blue());
    }
    // Centred on the control's vertical centre, 1 pixel in from the left.
    LedButton* led = window->led(ctl::kMainLedUart);
    const int centre = int(led->height() * 0.5 + 0.5);
    QCOMPARE(led->imagePosition(), QPoint(1, centre - 7));
    // The LED takes no input.
    QCOMPARE(led->focusPolicy(), Qt::NoFocus);
    QVERIFY(led->testAttribute(Qt::WA_TransparentForMouseEvents));
  }

  // ------------------------------------------------------------ message boxes
  void messageBoxesShowTheIconOfTheirKind_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    const int ok = int(MsgButtons::Ok);
    QTest::newRow("failure") << "ERROR: Failed to Bond Device 2.Aborting Pairing" << ok << int(QMessageBox::Critical);
    QTest::newRow("failed command") << "Start Inquiry failed" << ok << int(QMessageBox::Critical);
    QTest::newRow("refused") << "Baudrate > 230400 bps not supported on this firmware. Command will not be sent"
                             << ok << int(QMessageBox::Warning);
    QTest::newRow("not yet") << "Local Device not initalized. DTR value cannot be changed" << ok
                             << int(QMessageBox::Warning);
    QTest::newRow("success") << "Pairing completed successfully" << ok << int(QMessageBox::Information);
    QTest::newRow("the user decides")
        << "Local Device is in datamode. Do you want to Send Escape Sequence before sending the command"
        << int(MsgButtons::OkCancel) << int(QMessageBox::Question);
  }
  void messageBoxesShowTheIconOfTheirKind() {
    QFETCH(QString, text);
    QFETCH(int, buttons);
    QFETCH(int, icon);
    window->messageBoxHook = nullptr;  // the real box
    int shown = -1;
    QTimer poll;  // until the box is up; then its icon, and a click closes it
    connect(&poll, &QTimer::timeout, this, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          poll.stop();
          shown = int(box->icon());
          box->buttons().first()->click();
        }
    });
    poll.start(10);
    showMessageBox(text.toStdString(), MsgButtons(buttons));
    QCOMPARE(shown, icon);
  }

  // ------------------------------------------------------------ menus
  void aboutFromTheHelpMenu() {
    QAction* about = findAction(window->menuBar(), "Help", "About\u2026");
    QVERIFY(about);
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen = dialog->windowTitle() == QStringLiteral("About KX627 Configuration Tool");
      QStringList texts;
      for (QLabel* l : dialog->findChildren<QLabel*>()) texts << l->text();
      seen = seen && texts.contains(QStringLiteral("KX627 Configuration Tool, Version " KX_VERSION)) &&
             texts.contains(QStringLiteral("Supported firmware versions:\n v4.5X, v4.6X, v6.5X, v6.8x")) &&
             texts.filter(QStringLiteral("GNU General Public\nLicense, version 3 or later")).size() == 1;
      QTest::mouseClick(dialog->form().controlAs<QPushButton>(ctl::kAboutOk), Qt::LeftButton);
    });
    about->trigger();  // returns once the box is closed
    QVERIFY(seen);
  }

  void menusHoldTheirItems() {
    QMenuBar* bar = window->menuBar();
    for (const char* item : {"Save Settings File\u2026", "Load Settings File\u2026", "Exit"}) QVERIFY(findAction(bar, "File", item));
    for (const char* item : {"User Manual", "AT Command Manual", "About\u2026"}) QVERIFY(findAction(bar, "Help", item));
    QAction* debug = findAction(bar, "Debug", "Enable Debug");
    QVERIFY(debug && debug->isCheckable() && !debug->isChecked());
    int saves = 0;
    window->onSaveSettingsFile = [&] { ++saves; };
    // Saving needs an adapter that has been read.
    QAction* save = findAction(bar, "File", "Save Settings File\u2026");
    save->trigger();
    QCOMPARE(saves, 0);
    localDev.initialised = 1;
    window->updateIndicators();
    save->trigger();
    localDev.initialised = 0;
    window->updateIndicators();
    QCOMPARE(saves, 1);
  }

  void everyMenuAndItemHasItsOwnAccessKey() {
    // One key a menu or item, none twice among its neighbours: Alt+F, then S.
    auto key = [](QAction* a) {
      const QString t = a->text();
      const qsizetype at = t.indexOf(u'&');
      return at >= 0 && at + 1 < t.size() && t.indexOf(u'&', at + 1) < 0 ? t.at(at + 1).toLower() : QChar();
    };
    auto allOwnKeys = [&](const QList<QAction*>& actions) {
      QSet<QChar> seen;
      for (QAction* a : actions) {
        if (a->isSeparator()) continue;
        const QChar k = key(a);
        if (k.isNull() || seen.contains(k)) return a->text();
        seen.insert(k);
      }
      return QString();
    };
    QMenuBar* bar = window->menuBar();
    QCOMPARE(allOwnKeys(bar->actions()), QString());
    for (QAction* top : bar->actions()) QCOMPARE(allOwnKeys(top->menu()->actions()), QString());

    QMenu* file = bar->actions().first()->menu();
    QCOMPARE(file->title(), QStringLiteral("&File"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(file->isVisible());
    file->close();
  }

  void debugMenuSwitchesTheLog() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    startupDirectory = dir.path().toStdString();
    QAction* debug = window->debugAction();
    debug->trigger();
    QVERIFY(debug->isChecked());
    QCOMPARE(debugFlag.load(), 1);
    debug->trigger();
    QVERIFY(!debug->isChecked());
    QCOMPARE(debugFlag.load(), 0);
    // A text file as the system writes them: CR LF on Windows.
    QFile log(dir.filePath("Debug.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
#ifdef _WIN32
    QCOMPARE(log.readLine(), QByteArray("Setting debugFlag = TRUE\r\n"));
#else
    QCOMPARE(log.readLine(), QByteArray("Setting debugFlag = TRUE\n"));
#endif
  }

  void debugMenuStaysUncheckedWhenTheLogCannotOpen() {
    startupDirectory = "/nonexistent/kx627";
    QAction* debug = window->debugAction();
    debug->trigger();
    QVERIFY(!debug->isChecked());
    QCOMPARE(debugFlag.load(), 0);
    QCOMPARE(int(boxes.size()), 1);
  }

  // Help opens a manual from the start directory, else from where the
  // package installs it; only when neither holds it does the box appear,
  // naming both places.
  void helpOpensTheManual_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("inStartDirectory");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("openerWorks");
    const QString user = QStringLiteral("KX627 Configuration Manual.pdf");
    const QString at = QStringLiteral("AT Command Manual.pdf");
    QTest::newRow("start directory first") << "User Manual" << user << true << true << true;
    QTest::newRow("installed") << "User Manual" << user << false << true << true;
    QTest::newRow("installed, AT") << "AT Command Manual" << at << false << true << true;
    QTest::newRow("nowhere") << "AT Command Manual" << at << false << false << true;
    QTest::newRow("opener fails") << "AT Command Manual" << at << true << false << false;
  }

  void helpOpensTheManual() {
    QFETCH(QString, item);
    QFETCH(QString, file);
    QFETCH(bool, inStartDirectory);
    QFETCH(bool, installed);
    QFETCH(bool, openerWorks);
    QTemporaryDir start, install;
    startupDirectory = start.path().toStdString();
    window->manualInstallDir = install.path();
    for (auto [dir, present] : {std::pair{&start, inStartDirectory}, std::pair{&install, installed}}) {
      QFile pdf(dir->filePath(file));
      QVERIFY(!present || pdf.open(QIODevice::WriteOnly));
    }
    QUrl opened;
    window->urlOpener = [&](const QUrl& url) {
      opened = url;
      return openerWorks;
    };
    // A file dialog may have changed the current directory meanwhile.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    findAction(window->menuBar(), "Help", item)->trigger();
    QDir::setCurrent(cwd);

    if (!inStartDirectory && !installed) {
      QVERIFY(opened.isEmpty());
      QCOMPARE(int(boxes.size()), 1);
      QCOMPARE(QString::fromStdString(boxes[0]),
               file + " not found\nLooked in " + start.path() + " and in " + install.path());
      return;
    }
    QCOMPARE(opened, QUrl::fromLocalFile((inStartDirectory ? start : install).filePath(file)));
    if (openerWorks) {
      QVERIFY(boxes.empty());
    } else {
      QCOMPARE(int(boxes.size()), 1);
      QCOMPARE(QString::fromStdString(boxes[0]), "Failed to load " + file + ". Unknown reason");
    }
  }

  // The window looks for installed manuals beside its own bin directory, in
  // share/doc/kx627-config: in the build tree that is where the build makes
  // them, so Help opens the manuals this build made.
  void helpFindsTheManualsTheBuildMade() {
#ifndef KX_BUILT_MANUAL_DIR
    QSKIP("this build makes no manuals");
#else
    QTemporaryDir start;
    startupDirectory = start.path().toStdString();
    QUrl opened;
    window->urlOpener = [&](const QUrl& url) {
      opened = url;
      return true;
    };
    findAction(window->menuBar(), "Help", "User Manual")->trigger();
    const QString built = QDir(QStringLiteral(KX_BUILT_MANUAL_DIR)).filePath("KX627 Configuration Manual.pdf");
    QVERIFY(QFileInfo(built).isFile());
    QCOMPARE(QFileInfo(opened.toLocalFile()).canonicalFilePath(), QFileInfo(built).canonicalFilePath());
    QVERIFY(boxes.empty());
#endif
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
