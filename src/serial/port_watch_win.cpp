#include <windows.h>
// clang-format off: dbt.h needs windows.h first
#include <dbt.h>
// clang-format on

#include "common/debug_log.h"
#include "serial/port_watch.h"

namespace kx {

struct PortWatch::Monitor {};

PortWatch::PortWatch() = default;
PortWatch::~PortWatch() = default;
bool PortWatch::watching() const { return false; }
int PortWatch::fd() const { return -1; }
bool PortWatch::takeEvents() { return false; }

bool PortWatch::isPortChangeMessage(std::string_view eventType, const void* message) {
  // Sent to the window procedure ("generic"); a posted one would come through
  // the event dispatcher.
  if ((eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG") || !message)
    return false;
  const MSG& msg = *static_cast<const MSG*>(message);
  if (msg.message != WM_DEVICECHANGE) return false;
  if (msg.wParam != DBT_DEVICEARRIVAL && msg.wParam != DBT_DEVICEREMOVECOMPLETE) return false;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg.lParam);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT) return false;
  const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_A*>(header);
  debugLog("UI: serial port %s %s", port->dbcp_name,
           msg.wParam == DBT_DEVICEARRIVAL ? "arrived" : "removed");
  return true;
}

}  // namespace kx
