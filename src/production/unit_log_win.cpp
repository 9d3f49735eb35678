// The unit log's station and operator names on Windows.
#include <windows.h>

#include "production/unit_log.h"

namespace kx::production {

std::string hostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : "unknown";
}

std::string loginName() {
  char name[257] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) && size > 0 ? std::string(name, size - 1) : "unknown";
}

}  // namespace kx::production
