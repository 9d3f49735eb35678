// The COM Port list follows the system's serial ports: ports that appear are
// added and ports that vanish are removed while no port is open, and an
// adapter that went away is announced when it comes back.
//
// Threading: user-interface thread only.
#pragma once

#include <string>

#include "platform/form.h"
#include "serial/port_enum.h"  // kNoPortsHelp, the status window's help for an empty list

namespace kx {

// "The adapter on PORT is back. Press Read Settings to continue."
std::string adapterBackText(const std::string& port);
// The only new port after PORT went away: it is offered in its place.
std::string adapterMovedText(const std::string& lost, const std::string& port);

// "COM Port: PORT (what it is)", the whole name of the chosen port and,
// when the system says, its description, USB id and serial number.
std::string comPortStatusText(const std::string& port);

// Remembers that the adapter on `port` went away (the link reported it gone).
void noteAdapterLost(const std::string& port);
// Forgets it: a port was opened since.
void forgetLostAdapter();

// Enumerates the ports again and updates the page's COM Port list when it
// differs, unless a port is open or the initialisation runs (then nothing
// changes and false is returned; call again later). Announces the lost
// adapter's return and selects its port; shows kNoPortsHelp when the list
// became empty. True when the list changed.
bool refreshPortList(FormInterface& page);

}  // namespace kx
