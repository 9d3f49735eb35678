// The window with the keyboard alone, as a user who does not use a mouse
// works it: Tab follows the layout, and every page button and page control
// is reached and used with Tab, Space and the arrow keys.
#include "support/sim_window.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>

using namespace kx;
using namespace kx::test;

namespace {

sim::WorldOptions radioWorld() {
  sim::WorldOptions o;
  o.adapters = 1;
  o.remotes = 3;
  o.inquiryMs = 900;
  o.connectMs = 50;
  o.guardMs = 30;  // fits the scaled escape wait before AT+DROP
  return o;
}

QWidget* focused() { return QApplication::focusWidget(); }

// Presses Tab until `target` has the focus; false when a whole round of the
// window did not reach it.
bool tabTo(QWidget* target) {
  for (int i = 0; i < 150 && focused() != target; ++i) {
    if (!focused()) return false;
    QTest::keyClick(focused(), Qt::Key_Tab);
  }
  return focused() == target;
}

void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QVERIFY(focused());
  QTest::keyClick(focused(), k, modifiers);
}

// Shows the window, makes it the active one and puts the focus on the
// first page button, where a user's Tab starts.
bool activate(SimWindow& s) {
  s.window->show();
  QApplication::setActiveWindow(s.window.get());
  if (!QTest::qWaitForWindowActive(s.window.get())) return false;
  s.mainControls().control(ctl::kMainLocalDeviceButton)->setFocus(Qt::TabFocusReason);
  return focused() == s.mainControls().control(ctl::kMainLocalDeviceButton);
}

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { setClockScale(0.1); }
  void cleanupTestCase() { setClockScale(1.0); }

  void tabFollowsTheLayout() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(s.initialise());
    QVERIFY(activate(s));

    // The page buttons, the local device page's controls as its layout
    // lists them (those that take the focus and are enabled; of a radio
    // group only the checked button, as arrows move within the group),
    // then the status window and the modem lines.
    QStringList expected;
    for (int id : {ctl::kMainLocalDeviceButton, ctl::kMainPairingButton, ctl::kMainConnectionButton,
                   ctl::kMainRemoteButton})
      expected << QString::number(id);
    for (const ControlSpec& c : LocalDevicePage::controlTable()) {
      if (c.kind == ControlKind::Label || c.kind == ControlKind::GroupBox || c.kind == ControlKind::Led) continue;
      if (!s.local().enabled(c.id)) continue;
      if (c.kind == ControlKind::Radio && !s.local().checked(c.id)) continue;
      expected << QString::number(c.id);
    }
    for (int id : {ctl::kMainStatus, ctl::kMainDtr, ctl::kMainRts})
      if (s.mainControls().enabled(id)) expected << QString::number(id);

    QStringList visited;
    QWidget* start = focused();
    do {
      visited << focused()->objectName();
      key(Qt::Key_Tab);
    } while (focused() != start && visited.size() < 200);
    QCOMPARE(visited, expected);
  }

  void everyPageWorksFromTheKeyboardAlone() {
    SimWindow s;
    s.startInProcess(radioWorld());
    QVERIFY(activate(s));
    FormPage& local = s.local();

    // Read Settings.
    QVERIFY(tabTo(local.control(ctl::kReadSettings)));
    key(Qt::Key_Space);
    QVERIFY(SimWindow::waitFor([&] { return local.enabled(ctl::kSaveSettings); }, 15000));

    // A new name, the next modem signal mode, a check box, the master role
    // (the radio group is one Tab stop; an arrow key moves in it); then Save.
    QVERIFY(tabTo(local.control(ctl::kDeviceName)));
    key(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(focused(), "KEYBOARD");
    QVERIFY(tabTo(local.control(ctl::kModemSignalList)));
    const int modem = local.selection(ctl::kModemSignalList);
    key(Qt::Key_Down);
    QCOMPARE(local.selection(ctl::kModemSignalList), modem + 1);
    QVERIFY(tabTo(local.control(ctl::kEchoMode)));
    const bool echo = local.checked(ctl::kEchoMode);
    key(Qt::Key_Space);
    QCOMPARE(local.checked(ctl::kEchoMode), !echo);
    QVERIFY(local.checked(ctl::kSlave));
    QVERIFY(tabTo(local.control(ctl::kSlave)));
    key(Qt::Key_Up);
    QVERIFY(local.checked(ctl::kMaster));
    const std::size_t mark = s.world->received(1).size();
    QVERIFY(tabTo(local.control(ctl::kSaveSettings)));
    key(Qt::Key_Space);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Settings Saved"); }));
    const std::vector<std::string> sent = s.receivedSince(1, mark);
    const std::string modemCommand[] = {"AT+MODEM-\r", "AT+MODEML\r", "AT+MODEMR\r"};
    for (const std::string& expected :
         {std::string("AT+NAME=KEYBOARD\r"), modemCommand[modem + 1], std::string(echo ? "AT+ECHO-\r" : "AT+ECHO+\r"),
          std::string("AT+ROLEM\r")})
      QVERIFY2(std::find(sent.begin(), sent.end(), expected) != sent.end(),
               qPrintable(QString::fromStdString(expected + " not among: " + [&] {
                 std::string all;
                 for (const auto& c : sent) all += c + " ";
                 return all;
               }())));

    // Enter in the AT Command box sends the command typed there.
    QVERIFY(tabTo(local.control(ctl::kAtCommand)));
    QTest::keyClicks(focused(), "AT+NAME?");
    const std::size_t typedMark = s.world->received(1).size();
    key(Qt::Key_Return);
    QCOMPARE(s.receivedSince(1, typedMark), std::vector<std::string>{"AT+NAME?\r"});

    // The Connection page: an inquiry, a row chosen with the arrow keys,
    // Connect and Disconnect.
    QVERIFY(tabTo(s.mainControls().control(ctl::kMainConnectionButton)));
    key(Qt::Key_Space);
    QVERIFY(s.connection().isVisible());
    QVERIFY(tabTo(s.connection().control(ctl::kInquireDevices)));
    key(Qt::Key_Space);
    QVERIFY(SimWindow::waitFor([&] { return s.statusHas("Inquiry Complete."); }));
    QVERIFY(tabTo(s.connection().control(ctl::kInquiryResults)));
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    const int row = s.connection().selection(ctl::kInquiryResults);
    QVERIFY(row >= 1);  // the first row never names a device
    const std::string chosen = s.connection().text(ctl::kSelectedDevice);
    QVERIFY2(!chosen.empty(), "the arrow keys chose no device");
    // A screen reader selects a row through the list's accessible rows
    // (their Toggle action), which leaves the current row alone.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(s.connection().control(ctl::kInquiryResults));
    QVERIFY(list);
    auto toggleRow = [&](int r) {
      const QString name = toQt(s.connection().rowText(ctl::kInquiryResults, r));
      for (int i = 0; i < list->childCount(); ++i)
        if (QAccessibleInterface* item = list->child(i); item && item->text(QAccessible::Name) == name) {
          item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
          return true;
        }
      return false;
    };
    QVERIFY(toggleRow(row == 1 ? 2 : 1));
    QCOMPARE(s.connection().selection(ctl::kInquiryResults), row == 1 ? 2 : 1);
    QVERIFY(s.connection().text(ctl::kSelectedDevice) != chosen);
    QVERIFY(!s.connection().text(ctl::kSelectedDevice).empty());
    QVERIFY(toggleRow(row));
    QCOMPARE(s.connection().text(ctl::kSelectedDevice), chosen);
    QVERIFY(tabTo(s.connection().control(ctl::kConnect)));
    key(Qt::Key_Space);
    QVERIFY(SimWindow::waitFor([&] { return s.connection().enabled(ctl::kDisconnect); }));
    QVERIFY(tabTo(s.connection().control(ctl::kDisconnect)));
    key(Qt::Key_Space);
    QVERIFY(SimWindow::waitFor([] { return localDev.connected.load() == 0; }));

    // The other page buttons show their pages.
    for (auto [button, page] : {std::pair<int, FormPage*>{ctl::kMainPairingButton, &s.pairing()},
                                {ctl::kMainRemoteButton, &s.remotePage()},
                                {ctl::kMainLocalDeviceButton, &s.local()}}) {
      QVERIFY(tabTo(s.mainControls().control(button)));
      key(Qt::Key_Space);
      QVERIFY(page->isVisible());
    }
  }
};

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
