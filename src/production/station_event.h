// What a station's fixture tells the station: one event per line of its
// worker's standard output, a JSON object, written by toLine() and read back
// by parseStationEvent(); the command line's live lines and the production
// window's tiles are both drawn from them.
//
//   {"event":"waiting"}
//   {"event":"no port","reason":"port busy"}
//   {"event":"programming","address":"0012-6F-100003","step":"programming 2 of 5"}
//   {"event":"done","address":"0012-6F-100003","outcome":"pass","name":"Sensor-100003",
//    "result":"ok","reason":"","exit":0,"seconds":2.7}
//
// Texts are UTF-8. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kx::production {

// How a unit ended: programmed and verified, not, or not touched because
// the unit log has it as programmed already.
enum class UnitOutcome { Passed, Failed, AlreadyProvisioned };

struct StationEvent {
  enum class Kind {
    Waiting,      // the port is open and no unit answers (or the last one was taken out)
    NoPort,       // the port cannot be opened (missing, busy): `reason`
    Programming,  // a unit answered at `address`; `step` says what is being done
    Done,         // the unit at `address` ended: `outcome` and the rest
  };
  Kind kind = Kind::Waiting;
  std::string address;
  std::string step;
  UnitOutcome outcome = UnitOutcome::Passed;
  std::string name;    // the unit's name as read back
  std::string result;  // the unit log's word ("ok", "mismatch", "already provisioned", ...)
  std::string reason;  // why, in one line (a failure; NoPort)
  int exitCode = 0;    // the command line's exit code for the unit
  double seconds = 0;  // from the unit's first answer to its row in the log
};

std::string toLine(const StationEvent& event);
// Empty for a line that is no event (a worker's stray output).
std::optional<StationEvent> parseStationEvent(std::string_view line);

}  // namespace kx::production
