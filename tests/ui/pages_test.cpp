// The four page forms and the main window's controls: each control exists
// under its id with its caption, tooltip and initial state, the forms read
// and write controls by id, only user actions run handlers, and every
// control is reachable in the accessibility tree by role and name.
#include <QAccessible>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>
#include <set>

#include "common/records.h"
#include "ui/connection_page.h"
#include "ui/form_page.h"
#include "ui/led_button.h"
#include "ui/local_device_page.h"
#include "ui/main_window.h"
#include "ui/pair_device_page.h"
#include "ui/remote_device_page.h"

using namespace kx;

namespace {

QAccessible::Role expectedRole(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
      return QAccessible::Button;
    case ControlKind::CheckBox:
    case ControlKind::Led:
      return QAccessible::CheckBox;
    case ControlKind::Radio:
      return QAccessible::RadioButton;
    case ControlKind::GroupBox:
      return QAccessible::Grouping;
    case ControlKind::DropDown:
      return QAccessible::ComboBox;
    case ControlKind::Edit:
    case ControlKind::MultiLineEdit:
    case ControlKind::StatusBox:
      return QAccessible::EditableText;
    case ControlKind::Label:
      return QAccessible::StaticText;
    case ControlKind::ListBox:
      return QAccessible::List;
  }
  return QAccessible::NoRole;
}

// Every (role, name) pair reachable from an accessible object downwards.
void collect(QAccessibleInterface* iface, std::set<std::pair<int, QString>>& out, int depth = 0) {
  if (!iface || depth > 12) return;
  out.insert({int(iface->role()), iface->text(QAccessible::Name)});
  for (int i = 0; i < iface->childCount(); ++i) collect(iface->child(i), out, depth + 1);
}

// Every object reachable from an accessible object downwards.
void collectObjects(QAccessibleInterface* iface, std::set<QObject*>& out, int depth = 0) {
  if (!iface || depth > 12) return;
  out.insert(iface->object());
  for (int i = 0; i < iface->childCount(); ++i) collectObjects(iface->child(i), out, depth + 1);
}

// The names a screen reader announces for a control: its own name and the
// names of the labels it is labelled by.
QStringList announcedNames(QAccessibleInterface* iface) {
  QStringList names{iface->text(QAccessible::Name)};
  for (const auto& [other, relation] : iface->relations(QAccessible::Label))
    if (other) names << other->text(QAccessible::Name);
  return names;
}

std::set<int> disabledIds(std::span<const ControlSpec> table) {
  std::set<int> ids;
  for (const ControlSpec& s : table)
    if (s.disabled) ids.insert(s.id);
  return ids;
}

}  // namespace

class PagesTest : public QObject {
  Q_OBJECT
  std::unique_ptr<MainWindow> window;

  FormPage* formFor(const QString& name) {
    if (name == "main") return &window->controls();
    return window->page(name.toInt());
  }
  static std::span<const ControlSpec> tableFor(const QString& name) {
    if (name == "135") return LocalDevicePage::controlTable();
    if (name == "136") return RemoteDevicePage::controlTable();
    if (name == "138") return ConnectionPage::controlTable();
    if (name == "139") return PairDevicePage::controlTable();
    return {};
  }

 private slots:
  void init() { window = std::make_unique<MainWindow>(); }
  void cleanup() {
    window.reset();
    clearLocalDev();
  }

  void controlsFollowTheirTemplate_data() {
    QTest::addColumn<QString>("page");
    QTest::newRow("local") << "135";
    QTest::newRow("remote") << "136";
    QTest::newRow("connection") << "138";
    QTest::newRow("pairing") << "139";
  }

  void controlsFollowTheirTemplate() {
    QFETCH(QString, page);
    FormPage* form = formFor(page);
    const DialogUnits& du = form->units();
    for (const ControlSpec& spec : tableFor(page)) {
      if (spec.id < 0) continue;
      QWidget* w = form->control(spec.id);
      QVERIFY2(w, qPrintable(QString::number(spec.id)));
      QCOMPARE(w->objectName(), QString::number(spec.id));
      const QRect r = du.rect(spec.x, spec.y, spec.w, spec.h);
      QCOMPARE(w->pos(), r.topLeft());
      QCOMPARE(w->width(), r.width());
      if (spec.kind != ControlKind::DropDown) QCOMPARE(w->height(), r.height());
      QCOMPARE(w->isEnabledTo(form), !spec.disabled);
      QCOMPARE(w->toolTip(), QString::fromUtf8(spec.tooltip ? spec.tooltip : ""));
      if (spec.kind == ControlKind::PushButton || spec.kind == ControlKind::CheckBox ||
          spec.kind == ControlKind::Radio)
        QCOMPARE(QString::fromStdString(form->text(spec.id)), QString::fromUtf8(spec.caption));
    }
  }

  // Rows copied by hand from the dialog templates, so that a slip in the
  // code's own tables shows (the test above compares the widgets with those
  // tables and cannot catch one).
  void controlsStandWhereTheTemplatesPutThem_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("units");
    QTest::newRow("F/W VERSION") << "135" << 1046 << "F/W VERSION:" << QRect(237, 9, 79, 11);
    QTest::newRow("Read Settings") << "135" << 1050 << "Read Settings" << QRect(239, 20, 90, 16);
    QTest::newRow("Disable Authentication")
        << "135" << 1045 << "Disable Authentication" << QRect(240, 207, 87, 10);
    QTest::newRow("Bonded Address") << "135" << 1053 << "" << QRect(161, 89, 73, 12);
    QTest::newRow("Inquire Devices") << "138" << 1005 << "Inquire Devices" << QRect(20, 22, 90, 19);
    QTest::newRow("Inquiry Results") << "138" << 1008 << "" << QRect(21, 121, 272, 89);
    QTest::newRow("Device2 Name") << "139" << 1040 << "" << QRect(149, 65, 120, 18);
    QTest::newRow("Pair Device") << "139" << 1011 << "Pair Device" << QRect(31, 103, 90, 19);
    QTest::newRow("status window") << "main" << 1002 << "" << QRect(87, 251, 341, 77);
    QTest::newRow("CTS") << "main" << 1061 << "CTS" << QRect(384, 329, 34, 10);
  }

  void controlsStandWhereTheTemplatesPutThem() {
    QFETCH(QString, page);
    QFETCH(int, id);
    QFETCH(QString, caption);
    QFETCH(QRect, units);
    FormPage* form = formFor(page);
    QWidget* w = form->control(id);
    QVERIFY(w);
    QCOMPARE(w->geometry(), form->units().rect(units.x(), units.y(), units.width(), units.height()));
    if (!caption.isEmpty()) QCOMPARE(QString::fromStdString(form->text(id)), caption);
  }

  void initialStatesOfThePages() {
    // Disabled at creation, by page.
    using namespace ctl;
    QCOMPARE(disabledIds(LocalDevicePage::controlTable()),
             (std::set<int>{kDeviceAddress, kAbort, kModemSignalList, kModeCommand, kModeData, kModeRemote}));
    QCOMPARE(disabledIds(ConnectionPage::controlTable()), (std::set<int>{kCancelInquiry, kDisconnect}));
    QCOMPARE(disabledIds(PairDevicePage::controlTable()),
             (std::set<int>{kPairDevice1Address, kPairDevice1Name, kPairDevice2Address, kPairDevice2Name}));
    QCOMPARE(disabledIds(RemoteDevicePage::controlTable()), (std::set<int>{kRemoteAddress, kRemoteProgram, kRemoteExit}));
    // Lists.
    LocalDevicePage* local = window->localDevicePage();
    QCOMPARE(local->rowCount(ctl::kBaudRateList), 11);
    QCOMPARE(local->rowText(ctl::kBaudRateList, 0), std::string("1200"));
    QCOMPARE(local->rowText(ctl::kBaudRateList, 10), std::string("921600"));
    QCOMPARE(local->rowCount(ctl::kParityList), 3);
    QCOMPARE(local->rowText(ctl::kModemSignalList, 2), std::string("Remote Transfer"));
    RemoteDevicePage* remotePage = window->remoteDevicePage();
    QCOMPARE(remotePage->rowCount(ctl::kRemoteBaudList), 8);
    QCOMPARE(remotePage->selection(ctl::kRemoteBaudList), 0);
    QCOMPARE(remotePage->text(ctl::kRemoteBaudList), std::string("9600"));
    QCOMPARE(remotePage->rowText(ctl::kRemoteBaudList, 4), std::string("115200"));
    // Tooltips the operations' texts depend on.
    QCOMPARE(local->control(ctl::kSend)->toolTip(), QStringLiteral("Send the AT Command using the AT Command Edit box "));
    QCOMPARE(window->pairDevicePage()->control(ctl::kPairButton)->toolTip(),
             QStringLiteral("Pair the Local Device with another Device"));
    QCOMPARE(window->connectionPage()->control(ctl::kCancelInquiry)->toolTip(), QStringLiteral("Cancel active bluetooth inquiry"));
    QCOMPARE(local->text(ctl::kFwVersionLabel), std::string("F/W VERSION:"));
  }

  void formReadsAndWritesControlsById() {
    LocalDevicePage* local = window->localDevicePage();
    local->setText(ctl::kDeviceName, "KX627-Office");
    QCOMPARE(local->text(ctl::kDeviceName), std::string("KX627-Office"));
    local->setText(ctl::kFwVersionLabel, "v6.54.c");
    QCOMPARE(local->text(ctl::kFwVersionLabel), std::string("v6.54.c"));

    local->setSelection(ctl::kBaudRateList, 7);
    QCOMPARE(local->selection(ctl::kBaudRateList), 7);
    QCOMPARE(local->text(ctl::kBaudRateList), std::string("115200"));
    local->setText(ctl::kParityList, "Even");
    QCOMPARE(local->selection(ctl::kParityList), 2);
    local->setSelection(ctl::kParityList, 9);  // out of range: no selection
    QCOMPARE(local->selection(ctl::kParityList), -1);

    // Radio groups are exclusive within their frame only.
    local->setChecked(ctl::kFlowEnabled, true);
    local->setChecked(ctl::kStopOne, true);
    QVERIFY(local->checked(ctl::kFlowEnabled) && local->checked(ctl::kStopOne));
    local->setChecked(ctl::kFlowDisabled, true);
    QVERIFY(!local->checked(ctl::kFlowEnabled) && local->checked(ctl::kFlowDisabled) && local->checked(ctl::kStopOne));
    local->setChecked(ctl::kFlowDisabled, false);  // the form may clear a checked radio button
    QVERIFY(!local->checked(ctl::kFlowDisabled));

    local->setOperationMode(LocalDevicePage::OperationMode::Remote);
    QVERIFY(!local->checked(ctl::kModeCommand) && !local->checked(ctl::kModeData) && local->checked(ctl::kModeRemote));
    local->setOperationMode(LocalDevicePage::OperationMode::Command);
    QVERIFY(local->checked(ctl::kModeCommand) && !local->checked(ctl::kModeData) && !local->checked(ctl::kModeRemote));

    local->addRow(ctl::kComPortList, "/dev/ttyUSB0");
    local->addRow(ctl::kComPortList, "/dev/rfcomm0");
    QCOMPARE(local->rowCount(ctl::kComPortList), 2);
    QCOMPARE(local->selection(ctl::kComPortList), -1);  // adding never selects
    QCOMPARE(local->rowText(ctl::kComPortList, 1), std::string("/dev/rfcomm0"));
    local->clearRows(ctl::kComPortList);
    QCOMPARE(local->rowCount(ctl::kComPortList), 0);

    QVERIFY(!local->enabled(ctl::kAbort));
    local->setEnabled(ctl::kAbort, true);
    QVERIFY(local->enabled(ctl::kAbort));
    QVERIFY(!local->enabled(4242));  // unknown ids answer quietly
    QCOMPARE(local->text(4242), std::string());

    ConnectionPage* conn = window->connectionPage();
    conn->addRow(ctl::kInquiryResults, "Inquiry Results:");
    conn->addRow(ctl::kInquiryResults, "1 KX627 0x1F00 0 3 0000-00-000000");
    conn->setSelection(ctl::kInquiryResults, 1);
    QCOMPARE(conn->selection(ctl::kInquiryResults), 1);
    QCOMPARE(conn->text(ctl::kInquiryResults), std::string("1 KX627 0x1F00 0 3 0000-00-000000"));
    conn->setText(ctl::kSelectedDevice, "000000000000");
    QCOMPARE(conn->text(ctl::kSelectedDevice), std::string("000000000000"));
  }

  void onlyUserActionsRunHandlers() {
    window->show();
    ConnectionPage* conn = window->connectionPage();
    window->showPage(ConnectionPage::kDialogId);
    int clicks = 0, selections = 0;
    conn->onClicked(ctl::kInquireDevices, [&] { ++clicks; });
    conn->onClicked(ctl::kInquiryResults, [&] { ++selections; });
    conn->addRow(ctl::kInquiryResults, "first");
    conn->addRow(ctl::kInquiryResults, "second");
    conn->setSelection(ctl::kInquiryResults, 1);
    QCOMPARE(selections, 0);
    auto* list = conn->controlAs<QListWidget>(ctl::kInquiryResults);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QCOMPARE(selections, 1);
    QCOMPARE(conn->selection(ctl::kInquiryResults), 0);
    QTest::mouseClick(conn->controlAs<QPushButton>(ctl::kInquireDevices), Qt::LeftButton);
    QCOMPARE(clicks, 1);
    // A disabled button runs nothing.
    conn->onClicked(ctl::kCancelInquiry, [&] { ++clicks; });
    QTest::mouseClick(conn->controlAs<QPushButton>(ctl::kCancelInquiry), Qt::LeftButton);
    QCOMPARE(clicks, 1);
    conn->onClicked(ctl::kInquireDevices, nullptr);
    QTest::mouseClick(conn->controlAs<QPushButton>(ctl::kInquireDevices), Qt::LeftButton);
    QCOMPARE(clicks, 1);
  }

  void mnemonicsOfThePageButtons() {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::keyClick(window.get(), Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(window->pairDevicePage()->isVisible());
    QTest::keyClick(window.get(), Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(window->connectionPage()->isVisible());
  }

  void everyControlHasAnAccessibleRoleAndName_data() {
    QTest::addColumn<QString>("page");
    QTest::newRow("local") << "135";
    QTest::newRow("remote") << "136";
    QTest::newRow("connection") << "138";
    QTest::newRow("pairing") << "139";
  }

  void everyControlHasAnAccessibleRoleAndName() {
    QFETCH(QString, page);
    window->show();
    window->showPage(page.toInt());
    FormPage* form = formFor(page);

    std::set<QObject*> reachable;
    collectObjects(QAccessible::queryAccessibleInterface(window.get()), reachable);

    for (const ControlSpec& spec : tableFor(page)) {
      if (spec.id < 0) continue;  // static labels are checked through the boxes they label
      const QString name = spec.label ? QString::fromUtf8(spec.label) : stripMnemonic(QString::fromUtf8(spec.caption));
      QVERIFY2(!name.isEmpty(), spec.caption);
      QWidget* w = form->control(spec.id);
      QVERIFY2(reachable.count(w), qPrintable(QStringLiteral("%1 not reachable").arg(spec.id)));
      QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
      QVERIFY(iface);
      QCOMPARE(iface->role(), expectedRole(spec.kind));
      QVERIFY2(announcedNames(iface).contains(name),
               qPrintable(QStringLiteral("%1: %2 not in %3").arg(spec.id).arg(name, announcedNames(iface).join('|'))));
      if (spec.label && spec.kind != ControlKind::GroupBox) {
        // Boxes and lists also carry the label as their own name, except
        // where the platform names a drop-down list by its current row.
        if (spec.kind != ControlKind::DropDown) QCOMPARE(iface->text(QAccessible::Name), name);
      }
    }
  }

  void mainWindowControlsAreAccessible() {
    window->show();
    std::set<std::pair<int, QString>> reachable;
    collect(QAccessible::queryAccessibleInterface(window.get()), reachable);
    const std::pair<int, const char*> wanted[] = {
        {QAccessible::Button, "Local Device Settings"},
        {QAccessible::Button, "Pairing"},
        {QAccessible::Button, "Connection"},
        {QAccessible::Button, "Remote Device Settings"},
        {QAccessible::Grouping, "Local Device Settings"},  // the frame names the page it shows
        {QAccessible::EditableText, "Status"},
        {QAccessible::CheckBox, "DTR"},
        {QAccessible::CheckBox, "RTS"},
        {QAccessible::CheckBox, "UART"},
        {QAccessible::CheckBox, "Device"},
        {QAccessible::CheckBox, "Connection"},
        {QAccessible::CheckBox, "DSR"},
        {QAccessible::CheckBox, "CTS"},
    };
    for (const auto& [role, name] : wanted)
      QVERIFY2(reachable.count({role, QString::fromUtf8(name)}), name);

    // A lit LED reads as checked.
    LedButton* led = window->led(ctl::kMainLedDsr);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(led);
    QVERIFY(!iface->state().checked);
    led->setState(1);
    QVERIFY(iface->state().checked);
    // It shows state only: assistive technology's Toggle changes nothing.
    iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(iface->state().checked);
    QVERIFY(led->isOn());
  }
};

QTEST_MAIN(PagesTest)
#include "pages_test.moc"
