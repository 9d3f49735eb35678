#include <libserialport.h>
#include <sys/stat.h>

#include "common/debug_log.h"
#include "serial/port_enum.h"

namespace kx {

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
