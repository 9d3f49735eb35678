// The calendar's time zones on Linux.
#include <ctime>

#include "production/calendar.h"

namespace kx::production {

std::tm utcTime(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  return utc;
}

std::tm localTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace kx::production
