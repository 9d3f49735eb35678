// The system's own list of serial ports, one file per platform:
// libserialport on Linux (port_enum_posix.cpp), the registry's
// HARDWARE\DEVICEMAP\SERIALCOMM and SetupAPI on Windows (port_enum_win.cpp).
#pragma once

#include <string>
#include <vector>

namespace kx {

// The port names the system lists ("/dev/ttyUSB0"; "COM3"), in its order.
std::vector<std::string> systemPorts();

// True when `name` is a serial port that exists now, listed or not (a
// pseudo-terminal or udev alias on Linux; a COM name on Windows).
bool portExists(const std::string& name);

// The status window's help when the COM Port list is empty, and a port name
// as the system writes one, for help texts.
extern const char* const kNoPortsHelp;
extern const char* const kExamplePortName;

// What `kx627-cli ports` tells of each port, for its --help: lines of at
// most 52 characters, each after the first indented by 30 blanks, ending in
// a line end.
extern const char* const kPortsListHelp;

// The system's name for the device behind the port ("USB Serial Port
// (COM3)"), or "" where it has none to give.
std::string portDescription(const std::string& name);

// Fills in what the system tells of the port: on Linux libserialport's
// description and USB identity and the links under `linksDir` (by-id,
// by-path) that point to it; on Windows SetupAPI's friendly name.
struct PortDetails;
void systemPortDetails(const std::string& name, const std::string& linksDir, PortDetails* d);

}  // namespace kx
