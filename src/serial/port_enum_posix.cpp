#include <libserialport.h>
#include <sys/stat.h>

#include "common/debug_log.h"
#include "serial/port_enum.h"

namespace kx {

const char* const kNoPortsHelp =
    "No serial port was found. Plug in the adapter (a USB serial adapter shows up as "
    "/dev/ttyUSB0 or /dev/ttyACM0; the list follows as ports come and go). If it is plugged "
    "in and still not listed, check its cable and driver (dmesg). A port that is listed but "
    "cannot be opened is usually a permission matter: add your user to the dialout group "
    "(sudo usermod -aG dialout $USER) and log in again.";
const char* const kExamplePortName = "/dev/ttyUSB0";

std::vector<std::string> systemPorts() {
  std::vector<std::string> names;
  sp_port** ports = nullptr;
  const sp_return rc = sp_list_ports(&ports);
  if (rc != SP_OK) {
    debugLog("ERROR: Failed to list serial ports. retVal = %d", static_cast<int>(rc));
    return names;
  }
  for (int i = 0; ports[i]; ++i) {
    if (const char* name = sp_get_port_name(ports[i]); name && *name) names.emplace_back(name);
  }
  sp_free_port_list(ports);
  return names;
}

bool portExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && name[0] == '/' && ::stat(name.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The device paths say enough on Linux; the list keeps to them.
std::string portDescription(const std::string&) { return {}; }

}  // namespace kx
