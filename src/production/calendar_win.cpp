// The calendar's time zones on Windows.
#include <time.h>

#include "production/calendar.h"

namespace kx::production {

std::tm utcTime(std::time_t t) {
  std::tm utc{};
  gmtime_s(&utc, &t);
  return utc;
}

std::tm localTime(std::time_t t) {
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

}  // namespace kx::production
