#include "production/calendar.h"

#include <chrono>

#include "common/text.h"

namespace kx::production {
namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (Howard Hinnant's days_from_civil): UTC needs no time zone, so
// no timegm, which Windows lacks.
long long daysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// Reads `count` digits at `at` into *value.
bool digits(std::string_view s, std::size_t at, std::size_t count, int* value) {
  if (at + count > s.size()) return false;
  int v = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *value = v;
  return true;
}

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool utc = false;
};

// "YYYY-MM-DD", then optionally "T" or " " and "HH:MM", ":SS", ".mmm", then
// optionally "Z".
std::optional<Fields> parseFields(std::string_view s) {
  Fields f;
  if (!digits(s, 0, 4, &f.year) || s.size() < 10 || s[4] != '-' || !digits(s, 5, 2, &f.month) ||
      s[7] != '-' || !digits(s, 8, 2, &f.day))
    return std::nullopt;
  std::size_t at = 10;
  if (at < s.size() && (s[at] == 'T' || s[at] == ' ')) {
    if (!digits(s, at + 1, 2, &f.hour) || at + 3 >= s.size() || s[at + 3] != ':' ||
        !digits(s, at + 4, 2, &f.minute))
      return std::nullopt;
    at += 6;
    if (at < s.size() && s[at] == ':') {
      if (!digits(s, at + 1, 2, &f.second)) return std::nullopt;
      at += 3;
      if (at < s.size() && s[at] == '.') {
        int ms = 0;
        if (!digits(s, at + 1, 3, &ms)) return std::nullopt;
        at += 4;
      }
    }
  }
  if (at < s.size() && s[at] == 'Z') {
    f.utc = true;
    ++at;
  }
  if (at != s.size() || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour > 23 ||
      f.minute > 59 || f.second > 60)
    return std::nullopt;
  return f;
}

}  // namespace

std::string utcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = utcTime(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return formatBounded(40, "%s.%03lldZ", text, ms);
}

std::string utcTimestampOf(std::time_t t) {
  const std::tm utc = utcTime(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
  return text;
}

std::optional<std::time_t> parseLogTime(std::string_view text) {
  const auto f = parseFields(text);
  if (!f || !f->utc) return std::nullopt;
  const long long days = daysFromCivil(f->year, static_cast<unsigned>(f->month),
                                       static_cast<unsigned>(f->day));
  const long long seconds = (static_cast<long long>(f->hour) * 60 + f->minute) * 60 + f->second;
  return static_cast<std::time_t>(days * 86400 + seconds);
}

std::optional<std::time_t> parseUserTime(std::string_view text) {
  const auto f = parseFields(text);
  if (!f) return std::nullopt;
  if (f->utc) return parseLogTime(text);
  std::tm local{};
  local.tm_year = f->year - 1900;
  local.tm_mon = f->month - 1;
  local.tm_mday = f->day;
  local.tm_hour = f->hour;
  local.tm_min = f->minute;
  local.tm_sec = f->second;
  local.tm_isdst = -1;  // whatever the zone's rules say for that day
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

std::string localTimeText(std::time_t t, LocalForm form) {
  const std::tm local = localTime(t);
  char text[64];
  std::size_t n = 0;
  switch (form) {
    case LocalForm::Minutes:
      n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
      break;
    case LocalForm::Seconds:
      n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
      break;
    case LocalForm::Clock:
      n = std::strftime(text, sizeof text, "%H:%M", &local);
      break;
    case LocalForm::Date:
      n = std::strftime(text, sizeof text, "%Y-%m-%d", &local);
      break;
  }
  return std::string(text, n);
}

}  // namespace kx::production
