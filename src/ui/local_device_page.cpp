#include "ui/local_device_page.h"

#include <QLineEdit>
#include <QPushButton>

#include "common/control_ids.h"
#include "serial/port_discovery.h"
#include "ui/drop_down_list.h"

namespace kx {

namespace {

using K = ControlKind;

constexpr const char* kBaudRates =
    "1200\n2400\n4800\n9600\n19200\n38400\n57600\n115200\n230400\n460800\n921600";

// Positions in dialog units. Labels without an id stand above their boxes.
const ControlSpec kLocalDeviceControls[] = {
    {.id = -1, .kind = K::GroupBox, .caption = "Serial Port Settings", .x = 13, .y = 7, .w = 143, .h = 98},
    {.id = -1, .kind = K::Label, .caption = "COM Port", .x = 16, .y = 21, .w = 46, .h = 9},
    {.id = ctl::kComPortList, .kind = K::DropDown, .caption = "", .x = 16, .y = 31, .w = 46, .h = 43, .label = "COM Port"},
    {.id = -1, .kind = K::Label, .caption = "Baud Rate", .x = 67, .y = 21, .w = 44, .h = 9},
    {.id = ctl::kBaudRateList, .kind = K::DropDown, .caption = "", .x = 67, .y = 31, .w = 38, .h = 43, .label = "Baud Rate",
     .items = kBaudRates},
    {.id = -1, .kind = K::Label, .caption = "Parity", .x = 113, .y = 21, .w = 36, .h = 9},
    {.id = ctl::kParityList, .kind = K::DropDown, .caption = "", .x = 113, .y = 31, .w = 36, .h = 43, .label = "Parity",
     .items = "None\nOdd\nEven"},
    {.id = ctl::kFlowControlGroup, .kind = K::GroupBox, .caption = "Flow Control", .x = 16, .y = 52, .w = 55, .h = 47},
    {.id = ctl::kFlowEnabled, .kind = K::Radio, .caption = "Enabled", .x = 22, .y = 63, .w = 45, .h = 10, .group = 1},
    {.id = ctl::kFlowDisabled, .kind = K::Radio, .caption = "Disabled", .x = 22, .y = 78, .w = 45, .h = 10, .group = 1},
    {.id = ctl::kStopBitsGroup, .kind = K::GroupBox, .caption = "Stop Bits", .x = 94, .y = 52, .w = 51, .h = 47},
    {.id = ctl::kStopOne, .kind = K::Radio, .caption = "One", .x = 101, .y = 63, .w = 38, .h = 10, .group = 2},
    {.id = ctl::kStopTwo, .kind = K::Radio, .caption = "Two", .x = 101, .y = 78, .w = 38, .h = 10, .group = 2},
    {.id = -1, .kind = K::Label, .caption = "Device Address", .x = 161, .y = 10, .w = 73, .h = 9},
    {.id = ctl::kDeviceAddress, .kind = K::Edit, .caption = "", .x = 161, .y = 19, .w = 73, .h = 12, .label = "Device Address",
     .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "Device Name", .x = 161, .y = 33, .w = 73, .h = 9},
    {.id = ctl::kDeviceName, .kind = K::Edit, .caption = "", .x = 161, .y = 42, .w = 73, .h = 12, .label = "Device Name"},
    {.id = -1, .kind = K::Label, .caption = "Pin Code", .x = 161, .y = 56, .w = 73, .h = 9},
    {.id = ctl::kPinCode, .kind = K::Edit, .caption = "", .x = 161, .y = 65, .w = 73, .h = 12, .label = "Pin Code"},
    {.id = -1, .kind = K::Label, .caption = "Bonded Address", .x = 161, .y = 80, .w = 73, .h = 9},
    {.id = ctl::kBondedAddress, .kind = K::Edit, .caption = "", .x = 161, .y = 89, .w = 73, .h = 12, .label = "Bonded Address"},
    {.id = ctl::kFwVersionLabel, .kind = K::Label, .caption = "F/W VERSION:", .x = 237, .y = 9, .w = 79, .h = 11},
    {.id = ctl::kReadSettings, .kind = K::PushButton, .caption = "Read Settings", .x = 239, .y = 20, .w = 90, .h = 16,
     .tooltip = "Read Device Settings and update Local Device window"},
    {.id = ctl::kSaveSettings, .kind = K::PushButton, .caption = "Save Settings", .x = 239, .y = 44, .w = 90, .h = 16,
     .tooltip = "Program Device with the settings modified on the Local Device Window"},
    {.id = ctl::kRestoreFactory, .kind = K::PushButton, .caption = "Restore Factory Settings", .x = 239, .y = 68, .w = 90, .h = 16,
     .tooltip = "Restore factory settings on the device"},
    {.id = ctl::kAbort, .kind = K::PushButton, .caption = "Abort", .x = 239, .y = 92, .w = 90, .h = 16,
     .tooltip = "Abort look up of settings during initialization", .disabled = true},
    {.id = ctl::kReinitialize, .kind = K::PushButton, .caption = "Re-initialize", .x = 239, .y = 116, .w = 90, .h = 16,
     .tooltip = "Effectively restarts the application without closing it"},
    {.id = -1, .kind = K::Label, .caption = "Modem Signal", .x = 13, .y = 108, .w = 80, .h = 9},
    {.id = ctl::kModemSignalList, .kind = K::DropDown, .caption = "", .x = 13, .y = 117, .w = 80, .h = 43, .label = "Modem Signal",
     .items = "Disabled\nLocal Loopback\nRemote Transfer", .disabled = true},
    {.id = -1, .kind = K::Label, .caption = "AT Command", .x = 95, .y = 108, .w = 91, .h = 9},
    {.id = ctl::kAtCommand, .kind = K::Edit, .caption = "", .x = 95, .y = 117, .w = 91, .h = 12, .label = "AT Command"},
    {.id = ctl::kSend, .kind = K::PushButton, .caption = "Send", .x = 187, .y = 115, .w = 31, .h = 16,
     .tooltip = "Send the AT Command using the AT Command Edit box "},
    {.id = -1, .kind = K::Label, .caption = "Remote Service", .x = 13, .y = 136, .w = 80, .h = 9},
    {.id = ctl::kRemoteService, .kind = K::Edit, .caption = "", .x = 13, .y = 145, .w = 73, .h = 12, .label = "Remote Service"},
    {.id = -1, .kind = K::Label, .caption = "Remote Class of Device", .x = 96, .y = 136, .w = 100, .h = 9},
    {.id = ctl::kRemoteCod, .kind = K::Edit, .caption = "", .x = 96, .y = 145, .w = 73, .h = 12,
     .label = "Remote Class of Device"},
    {.id = ctl::kAutoConnect, .kind = K::CheckBox, .caption = "Auto-Connect", .x = 240, .y = 135, .w = 61, .h = 10},
    {.id = ctl::kEscapeMode, .kind = K::CheckBox, .caption = "Escape Mode", .x = 240, .y = 147, .w = 58, .h = 10},
    {.id = ctl::kEchoMode, .kind = K::CheckBox, .caption = "Echo Mode", .x = 240, .y = 159, .w = 51, .h = 10},
    {.id = ctl::kSleepMode, .kind = K::CheckBox, .caption = "Sleep Mode", .x = 240, .y = 171, .w = 53, .h = 10},
    {.id = ctl::kCommandResponse, .kind = K::CheckBox, .caption = "Command Response", .x = 240, .y = 183, .w = 81, .h = 10},
    {.id = ctl::kRemoteConfiguration, .kind = K::CheckBox, .caption = "Remote Configuration", .x = 240, .y = 195, .w = 86, .h = 10},
    {.id = ctl::kDisableAuthentication, .kind = K::CheckBox, .caption = "Disable Authentication", .x = 240, .y = 207, .w = 87, .h = 10},
    {.id = ctl::kDiscoverableGroup, .kind = K::GroupBox, .caption = "Discoverable Mode", .x = 13, .y = 160, .w = 75, .h = 47},
    {.id = ctl::kNonDiscoverable, .kind = K::Radio, .caption = "Non Discoverable", .x = 16, .y = 172, .w = 70, .h = 10, .group = 3},
    {.id = ctl::kDiscoverable, .kind = K::Radio, .caption = "Discoverable", .x = 16, .y = 186, .w = 70, .h = 10, .group = 3},
    {.id = ctl::kDeviceModeGroup, .kind = K::GroupBox, .caption = "Device Mode", .x = 91, .y = 160, .w = 62, .h = 47},
    {.id = ctl::kMaster, .kind = K::Radio, .caption = "Master", .x = 98, .y = 171, .w = 50, .h = 10, .group = 4},
    {.id = ctl::kSlave, .kind = K::Radio, .caption = "Slave", .x = 98, .y = 185, .w = 50, .h = 10, .group = 4},
    {.id = ctl::kOperationModeGroup, .kind = K::GroupBox, .caption = "Operation Mode", .x = 159, .y = 160, .w = 72, .h = 47},
    {.id = ctl::kModeCommand, .kind = K::Radio, .caption = "Command", .x = 165, .y = 169, .w = 60, .h = 10, .disabled = true,
     .group = 5},
    {.id = ctl::kModeData, .kind = K::Radio, .caption = "Data", .x = 165, .y = 180, .w = 60, .h = 10, .disabled = true,
     .group = 5},
    {.id = ctl::kModeRemote, .kind = K::Radio, .caption = "Remote", .x = 165, .y = 191, .w = 60, .h = 10, .disabled = true,
     .group = 5},
};

}  // namespace

std::span<const ControlSpec> LocalDevicePage::controlTable() { return kLocalDeviceControls; }

LocalDevicePage::LocalDevicePage(QWidget* parent) : FormPage(kLocalDeviceControls, parent) {
  controlAs<DropDownList>(ctl::kComPortList)->setDisplay(&portDisplayName);
  // Any port can be typed: one the system does not list (a by-id link, an
  // rfcomm device, a simulator's pseudo-terminal).
  controlAs<DropDownList>(ctl::kComPortList)->allowTyping();
  // What the port is, under its whole name.
  controlAs<DropDownList>(ctl::kComPortList)->setRowTip([](const QString& port) {
    const std::string summary = portSummary(portDetails(port.toStdString()));
    return summary.empty() ? port : port + u'\n' + QString::fromStdString(summary);
  });
  // Send is the AT Command box's default action: Enter there sends, as a
  // click on Send does (nothing while Send is disabled).
  auto* send = controlAs<QPushButton>(ctl::kSend);
  connect(controlAs<QLineEdit>(ctl::kAtCommand), &QLineEdit::returnPressed, send, [send] {
    if (send->isEnabled()) send->click();
  });
}

QString portDisplayName(const QString& port) {
  if (!port.startsWith(u'/')) return port;  // COM3
  // Short names under /dev (ttyUSB0, ttyACM0, pts/3, rfcomm0) stay whole.
  constexpr qsizetype kShortName = 10;
  const QString dev = QStringLiteral("/dev/");
  if (port.startsWith(dev) && port.size() - dev.size() <= kShortName) return port.mid(dev.size());
  const QString last = port.section(u'/', -1);
  return last.isEmpty() ? port : QStringLiteral("\u2026/") + last;
}

void LocalDevicePage::setOperationMode(OperationMode mode) {
  setChecked(ctl::kModeCommand, mode == OperationMode::Command);
  setChecked(ctl::kModeData, mode == OperationMode::Data);
  setChecked(ctl::kModeRemote, mode == OperationMode::Remote);
}

}  // namespace kx
