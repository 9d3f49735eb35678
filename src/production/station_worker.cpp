#include "production/station_worker.h"

namespace kx::production {

bool runFixture(FixtureUnits& units, const std::atomic<bool>& stop,
                const std::function<bool(const StationEvent&)>& emit) {
  auto simple = [](StationEvent::Kind kind, std::string reason = {}) {
    StationEvent e;
    e.kind = kind;
    e.reason = std::move(reason);
    return e;
  };
  std::string done;  // the unit just finished, until it is taken out
  std::string missing;  // why the port cannot be opened; empty while it can
  if (!emit(simple(StationEvent::Kind::Waiting))) return false;
  while (!stop) {
    std::string address, reason;
    const FixtureUnits::Probe probe = units.probe(&address, &reason);
    if (probe == FixtureUnits::Probe::NoPort) {
      if (reason.empty()) reason = "the port cannot be opened";
      if (reason != missing && !emit(simple(StationEvent::Kind::NoPort, reason))) return false;
      missing = reason;
      units.wait(kUnitProbeIntervalMs);
      continue;
    }
    if (!missing.empty() && !emit(simple(StationEvent::Kind::Waiting))) return false;
    missing.clear();
    if (address.empty() || address == done) {
      if (address.empty() && !done.empty()) {
        done.clear();
        units.unitGone();
        if (!emit(simple(StationEvent::Kind::Waiting))) return false;
      }
      units.wait(kUnitProbeIntervalMs);
      continue;
    }
    done = address;
    // A unit that is finished already is announced as such, not as being
    // programmed.
    if (const auto settled = units.alreadyProvisioned(address)) {
      if (!emit(*settled)) return false;
      continue;
    }
    // A unit is programmed only when its result can be reported.
    StationEvent programming;
    programming.kind = StationEvent::Kind::Programming;
    programming.address = address;
    programming.step = "reading";
    if (!emit(programming)) return false;
    const StationEvent result = units.program(address, [&](const std::string& step) {
      programming.step = step;
      emit(programming);
    });
    if (!emit(result)) return false;
  }
  return true;
}

}  // namespace kx::production
