#include <windows.h>
// clang-format off: setupapi.h and devguid.h need windows.h first
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

#include "common/debug_log.h"
#include "serial/port_discovery.h"
#include "serial/port_enum.h"

namespace kx {

const char* const kNoPortsHelp =
    "No serial port was found. Plug in the adapter (a USB serial adapter shows up as a COM "
    "port, such as COM3; the list follows as ports come and go). If it is plugged in and still "
    "not listed, check its cable and driver in Device Manager (Ports (COM & LPT)).";
const char* const kExamplePortName = "COM3";
const char* const kPortsListHelp =
    "list the COM ports (or P), each with the name Device\n"
    "                              Manager gives its device (\"USB Serial Port (COM3)\")\n";

namespace {

// "COM3" -> 3; 0 for anything else (sorted last, by name).
long comNumber(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
  char* end = nullptr;
  const long n = std::strtol(name.c_str() + 3, &end, 10);
  return *end ? 0 : n;
}

}  // namespace

// Every serial port driver enters its ports under SERIALCOMM, as values whose
// data is the port's name. Listed by number: COM2 before COM10.
std::vector<std::string> systemPorts() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  const LONG opened = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                      KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    // No key: no serial port has been seen since the system started.
    if (opened != ERROR_FILE_NOT_FOUND)
      debugLog("ERROR: Failed to list serial ports. retVal = %ld", static_cast<long>(opened));
    return names;
  }
  for (DWORD i = 0;; ++i) {
    char value[256];
    DWORD valueSize = sizeof value;
    BYTE data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, i, value, &valueSize, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // one too long is skipped
    data[dataSize] = '\0';
    std::string name(reinterpret_cast<const char*>(data));
    while (!name.empty() && name.back() == '\0') name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  ::RegCloseKey(key);
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const long na = comNumber(a), nb = comNumber(b);
    if ((na == 0) != (nb == 0)) return nb == 0;
    return na != nb ? na < nb : a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool portExists(const std::string& name) {
  if (comNumber(name) <= 0) return false;
  char target[1024];
  return ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

// The Ports class's devices that are present, each with its PortName in its
// device key and its friendly name ("USB Serial Port (COM3)").
std::string portDescription(const std::string& name) {
  HDEVINFO devices = ::SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return {};
  std::string description;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; description.empty() && ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char portName[256] = {};
    DWORD size = sizeof portName - 1;
    DWORD type = 0;
    const bool named = ::RegQueryValueExA(key, "PortName", nullptr, &type,
                                          reinterpret_cast<BYTE*>(portName), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    ::RegCloseKey(key);
    if (!named || name != portName) continue;
    char friendly[512] = {};
    if (::SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                            reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1,
                                            nullptr))
      description = friendly;
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return description;
}

void systemPortDetails(const std::string& name, const std::string&, PortDetails* d) {
  d->description = portDescription(name);
}

}  // namespace kx
