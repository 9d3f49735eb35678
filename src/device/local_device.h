// The local device: firmware tests, value conversions, and the two operations
// that bind `localDev` to the local device page (showLocalDevice: record to
// controls; enableDeviceControls: which controls the user may touch).
// Page operations run on the user-interface thread.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/form.h"

namespace kx {

// Control ids of the local device page.
namespace ctl {
constexpr int kBaudRateList = 1005;
constexpr int kParityList = 1006;
constexpr int kFlowEnabled = 1008;
constexpr int kFlowDisabled = 1009;
constexpr int kStopOne = 1011;
constexpr int kStopTwo = 1012;
constexpr int kDeviceName = 1013;
constexpr int kAtCommand = 1014;
constexpr int kModemSignalList = 1015;
constexpr int kComPortList = 1016;
constexpr int kDiscoverable = 1019;
constexpr int kNonDiscoverable = 1020;
constexpr int kSlave = 1022;
constexpr int kMaster = 1023;
constexpr int kEscapeMode = 1027;
constexpr int kEchoMode = 1028;
constexpr int kSleepMode = 1029;
constexpr int kCommandResponse = 1030;
constexpr int kRemoteConfiguration = 1031;
constexpr int kModeCommand = 1032;
constexpr int kModeData = 1033;
constexpr int kModeRemote = 1034;
constexpr int kPinCode = 1039;
constexpr int kDeviceAddress = 1044;
constexpr int kDisableAuthentication = 1045;
constexpr int kFwVersionLabel = 1046;
constexpr int kAutoConnect = 1047;
constexpr int kSaveSettings = 1048;
constexpr int kRestoreFactory = 1049;
constexpr int kReadSettings = 1050;
constexpr int kReinitialize = 1051;
constexpr int kSend = 1052;
constexpr int kBondedAddress = 1053;
constexpr int kAbort = 1054;
constexpr int kRemoteService = 1055;
constexpr int kRemoteCod = 1056;
}  // namespace ctl

// Firmware tests on localDev.fwVersion (case-sensitive substring searches;
// all false while the version is unknown).
bool isLegacyFirmware();       // "v4." or "v6.54.c": no modem signals, max 230400
bool supportsRemoteService();  // "v6.52" or "v6.8"
bool supportsRemoteCod();      // "v6.8"

// Adapter baud codes 10..20 <-> bits per second.
int32_t baudCodeToBps(int32_t code);    // any other code gives 19200
int32_t bpsToBaudIndex(int32_t bps);    // list index 0..10; unlisted speeds give 4
int32_t parityToIndex(int32_t parity);  // none 0, odd 1, even 2; other 0

// Checks `on` and clears the other buttons of its radio group.
void setRadio(FormInterface& page, int on, std::initializer_list<int> group);

void showLocalDevice(FormInterface& page);
void enableDeviceControls(FormInterface& page, bool enable);

}  // namespace kx
