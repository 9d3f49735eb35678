// Times as the unit log keeps them (UTC, ISO 8601 with milliseconds:
// "2026-03-02T08:15:02.481Z", so that text order is time order in either
// database) and as people read and type them (the PC's local time).
// Pure functions but for the clock and the platform's time-zone rules
// (calendar_posix.cpp, calendar_win.cpp); any thread.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kx::production {

// The platform's part: `t` broken down in UTC and in local time.
std::tm utcTime(std::time_t t);
std::tm localTime(std::time_t t);

// The current time as the log writes it: "2026-03-01T08:15:02.123Z".
std::string utcTimestamp();
// `t` as the log writes it, with ".000" milliseconds.
std::string utcTimestampOf(std::time_t t);
// A time the log wrote ("...Z", milliseconds optional); empty when the text
// is not one.
std::optional<std::time_t> parseLogTime(std::string_view text);
// A time a person typed: "2026-03-02", "2026-03-02 08:00", "2026-03-02T08:00:30", in local
// time, or any of them ended by "Z" for UTC. Empty when the text is none of them.
std::optional<std::time_t> parseUserTime(std::string_view text);
// `t` in local time, in one of the forms people see.
enum class LocalForm {
  Minutes,  // "2026-03-02 08:15"
  Seconds,  // "2026-03-02 08:15:02"
  Clock,    // "08:15"
  Date,     // "2026-03-02"
};
std::string localTimeText(std::time_t t, LocalForm form);

}  // namespace kx::production
