// The unit log's station and operator names and its clock on Linux.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/unit_log.h"

namespace kx::cli {

std::tm utcTime(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  return utc;
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

std::string loginName() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* user = std::getenv("USER")) return user;
  return "unknown";
}

}  // namespace kx::cli
