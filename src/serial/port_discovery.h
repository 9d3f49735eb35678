// Discovery of the PC's serial ports for the COM Port list of the local
// device page.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/hook.h"
#include "platform/form.h"

namespace kx {

constexpr int kComPortListId = 1016;  // the local device page's COM Port list

// Lists the port names the system knows, in its order. The default asks
// libserialport; tests install their own in portEnumerator (null restores
// the default).
extern Hook<std::vector<std::string>()> portEnumerator;
std::vector<std::string> enumeratePorts();

// Fills the COM Port list (1016) of `page` and uart.comPortList/comPortCount
// with the enumerated ports, in order, plus the remembered uart.comPort when
// that device exists and was not listed (pseudo-terminals and udev aliases are
// not enumerated). Stops at 100 entries.
void discoverComPorts(FormInterface& page);

// The list entry to preselect: the last one named uart.comPort, else 0.
int comPortSelectionIndex(const FormInterface& page);

}  // namespace kx
