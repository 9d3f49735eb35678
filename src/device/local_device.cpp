#include "device/local_device.h"

#include <cstring>
#include <string_view>

#include "common/records.h"
#include "common/text.h"

namespace kx {
namespace {

constexpr int32_t kBaudTable[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                  57600, 115200, 230400, 460800, 921600};

bool versionContains(const char* needle) {
  return fieldView(localDev.fwVersion).find(needle) != std::string_view::npos;
}

}  // namespace

bool isLegacyFirmware() { return versionContains("v4.") || versionContains("v6.54.c"); }
bool supportsRemoteService() { return versionContains("v6.52") || versionContains("v6.8"); }
bool supportsRemoteCod() { return versionContains("v6.8"); }

int32_t baudCodeToBps(int32_t code) {
  if (code < 10 || code > 20) return 19200;
  return kBaudTable[code - 10];
}

int32_t bpsToBaudIndex(int32_t bps) {
  for (int i = 0; i < 11; ++i)
    if (kBaudTable[i] == bps) return i;
  return 4;
}

bool isAdapterSpeed(int32_t bps) {
  for (int32_t speed : kBaudTable)
    if (speed == bps) return true;
  return false;
}

int32_t parityToIndex(int32_t parity) {
  switch (parity) {
    case PARITY_ODD_FLAG:
      return 1;
    case PARITY_EVEN_FLAG:
      return 2;
    default:
      return 0;
  }
}

void setRadio(FormInterface& page, int on, std::initializer_list<int> group) {
  for (int id : group) page.setChecked(id, id == on);
}

void showLocalDevice(FormInterface& page) {
  using namespace ctl;
  setRadio(page, localDev.role == 1 ? kMaster : kSlave, {kSlave, kMaster});
  page.setText(kDeviceAddress, std::string(fieldView(localDev.address)));
  page.setChecked(kEchoMode, localDev.echo == 1);
  page.setChecked(kCommandResponse, localDev.cmdResponse == 1);
  page.setText(kDeviceName, std::string(fieldView(localDev.name)));
  if (localDev.authDisabled == 0) {
    page.setText(kPinCode, std::string(fieldView(localDev.pin)));
    page.setEnabled(kPinCode, true);
  } else {
    page.setText(kPinCode, "");
    page.setEnabled(kPinCode, false);
  }
  setRadio(page, localDev.discoverable == 1 ? kDiscoverable : kNonDiscoverable,
           {kDiscoverable, kNonDiscoverable});
  page.setText(kBondedAddress, std::string(fieldView(localDev.bondedAddress)));
  page.setChecked(kEscapeMode, localDev.escapeMode == 1);
  page.setChecked(kSleepMode, localDev.sleepMode == 1);
  page.setChecked(kAutoConnect, localDev.autoConnect == 1);
  page.setChecked(kDisableAuthentication, localDev.authDisabled == 1);
  page.setChecked(kRemoteConfiguration, localDev.remoteConfig == 1);
  page.setSelection(kBaudRateList, localDev.baudCode - 10);
  page.setSelection(kParityList, parityToIndex(uart.parity));
  setRadio(page, uart.stopBits == 1 ? kStopOne : kStopTwo, {kStopOne, kStopTwo});
  setRadio(page, uart.flow == 1 ? kFlowEnabled : kFlowDisabled, {kFlowEnabled, kFlowDisabled});
  page.setSelection(kModemSignalList, localDev.modemSignal);
  if (supportsRemoteService()) {
    page.setText(kRemoteService, std::string(fieldView(localDev.remoteService)));
    if (supportsRemoteCod()) page.setText(kRemoteCod, std::string(fieldView(localDev.remoteCod)));
  }
}

void enableDeviceControls(FormInterface& page, bool enable) {
  using namespace ctl;
  for (int id : {kDeviceName, kAtCommand, kEchoMode, kCommandResponse, kEscapeMode, kAutoConnect,
                 kSleepMode, kDisableAuthentication, kRemoteConfiguration, kBondedAddress,
                 kSaveSettings, kRestoreFactory, kReinitialize, kSend, kNonDiscoverable,
                 kDiscoverable, kMaster, kSlave, kRemoteService, kRemoteCod}) {
    page.setEnabled(id, enable);
  }
  page.setEnabled(kPinCode, enable && localDev.authDisabled == 0);
  page.setEnabled(kModemSignalList, !isLegacyFirmware() && enable);
  page.setEnabled(kRemoteService, enable && supportsRemoteService());
  page.setEnabled(kRemoteCod, enable && supportsRemoteCod());
}

}  // namespace kx
