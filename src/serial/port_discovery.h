// Discovery of the PC's serial ports for the COM Port list of the local
// device page.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/hook.h"
#include "platform/form.h"

namespace kx {

// Lists the port names the system knows, in its order. The default asks the
// system (serial/port_enum.h); tests install their own in portEnumerator
// (null restores the default).
extern Hook<std::vector<std::string>()> portEnumerator;
std::vector<std::string> enumeratePorts();

// What a port is: libserialport's description and USB identity, and the
// stable names under /dev/serial that point to it (a fixture on a fixed hub
// socket keeps its by-path name; an adapter keeps its by-id name wherever it
// is plugged).
struct PortDetails {
  std::string name;
  std::string description;      // the USB product or the driver's; empty when none
  int usbVendor = -1, usbProduct = -1;  // -1: not a USB port
  std::string manufacturer, serialNumber;
  std::vector<std::string> byId, byPath;  // whole link paths
};
// Reads `name`'s details; `linksDir` is where the by-id and by-path links
// live. Costs a few file reads per port.
PortDetails describePort(const std::string& name, const std::string& linksDir = "/dev/serial");
// The details as one phrase for a tooltip or a status line:
// "CP2102 USB to UART Bridge Controller, USB 10C4:EA60, serial 0001"; empty
// when there is nothing to say.
std::string portSummary(const PortDetails& details);
// Tests install their own (null restores describePort).
extern Hook<PortDetails(const std::string& name)> portDescriber;
PortDetails portDetails(const std::string& name);

// The ports the COM Port list offers: the enumerated ones, in order, plus the
// remembered uart.comPort when that device exists and was not listed
// (pseudo-terminals and udev aliases are not enumerated). At most 100.
std::vector<std::string> listablePorts();

// Fills the COM Port list (ctl::kComPortList) of `page` and uart.comPortList/comPortCount
// with listablePorts().
void discoverComPorts(FormInterface& page);

// Replaces the COM Port list's rows and uart.comPortList/comPortCount with
// `names` (at most 100), keeping the selected port selected when it is still
// listed, else selecting as at start (comPortSelectionIndex). A name the user
// typed stays as typed.
void replaceComPorts(FormInterface& page, const std::vector<std::string>& names);

// The last row of the COM Port list named `name`, or -1.
int comPortRow(const FormInterface& page, const std::string& name);

// The list entry to preselect: the last one named uart.comPort, else 0.
int comPortSelectionIndex(const FormInterface& page);

}  // namespace kx
