// One fixture of a station, unit after unit: the loop its worker process
// runs. It asks the port about twice a second whether a unit answers (a port
// that cannot be opened is waited for), takes a new unit, programs it (or
// settles it at once when the unit log has it as programmed), reports it,
// and waits until that unit is taken out or another one answers; a failed
// unit put back is tried again. Each step is told as a StationEvent.
//
// The programming itself is the command line's session on the core
// (FixtureUnits); this is the loop around it, the same for every station.
//
// Threading: the worker's main thread; `stop` may be set from any thread
// (which then wakes FixtureUnits::wait).
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "production/station_event.h"

namespace kx::production {

// What the loop needs of its fixture's port and the unit in it.
class FixtureUnits {
 public:
  enum class Probe {
    NoPort,  // the port cannot be opened: *reason says why
    Empty,   // the port is open and no unit answers
    Unit,    // a unit answers at *address
  };
  virtual ~FixtureUnits() = default;
  // Asks the port, opening it at the station's line settings when it is closed.
  virtual Probe probe(std::string* address, std::string* reason) = 0;
  // The Done event of a unit the unit log has as programmed, logged without
  // touching the unit; empty when the unit is to be programmed.
  virtual std::optional<StationEvent> alreadyProvisioned(const std::string& address) = 0;
  // Reads, programs, verifies and logs the unit at `address`, telling each
  // step to `step` ("reading", "programming 2 of 5", "verifying"); its Done
  // event.
  virtual StationEvent program(const std::string& address,
                               const std::function<void(const std::string& step)>& step) = 0;
  // The unit was taken out: the next one is looked for at the station's
  // line settings again.
  virtual void unitGone() = 0;
  // Does the main thread's work for up to `ms` (returns early when woken).
  virtual void wait(int ms) = 0;
};

// How often the loop asks the port for a unit.
inline constexpr int kUnitProbeIntervalMs = 500;

// Runs the fixture until `stop` is set, the unit being programmed finished
// first. `emit` reports an event and returns false when it could not (the
// station no longer reads them): the loop then ends at once rather than
// program a unit that nobody would hear of. False when it ended that way.
bool runFixture(FixtureUnits& units, const std::atomic<bool>& stop,
                const std::function<bool(const StationEvent&)>& emit);

}  // namespace kx::production
