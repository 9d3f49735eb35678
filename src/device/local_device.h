// The local device: firmware tests, value conversions, and the two operations
// that bind `localDev` to the local device page (showLocalDevice: record to
// controls; enableDeviceControls: which controls the user may touch).
// Page operations run on the user-interface thread.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "common/control_ids.h"
#include "platform/form.h"

namespace kx {

// Control ids of the local device page.

// Firmware tests on localDev.fwVersion (case-sensitive substring searches;
// all false while the version is unknown).
bool isLegacyFirmware();       // "v4." or "v6.54.c": no modem signals, max 230400
bool supportsRemoteService();  // "v6.52" or "v6.8"
bool supportsRemoteCod();      // "v6.8"

// Adapter baud codes 10..20 <-> bits per second.
int32_t baudCodeToBps(int32_t code);    // any other code gives 19200
int32_t bpsToBaudIndex(int32_t bps);    // list index 0..10; unlisted speeds give 4
bool isAdapterSpeed(int32_t bps);       // one of the eleven speeds, 1200 to 921600
int32_t parityToIndex(int32_t parity);  // none 0, odd 1, even 2; other 0

// Checks `on` and clears the other buttons of its radio group.
void setRadio(FormInterface& page, int on, std::initializer_list<int> group);

void showLocalDevice(FormInterface& page);
void enableDeviceControls(FormInterface& page, bool enable);

}  // namespace kx
