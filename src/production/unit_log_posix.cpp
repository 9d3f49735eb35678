// The unit log's station and operator names on Linux.
#include <pwd.h>
#include <unistd.h>

#include "production/unit_log.h"

namespace kx::production {

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

std::string loginName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_name)
    return found->pw_name;
  return "unknown";
}

}  // namespace kx::production
