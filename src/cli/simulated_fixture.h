// A station's fixture in front of simulated units (the hidden option
// --simulate UNITS[,FAIL] of a station worker, which the production window's
// --simulator passes on): the adapter simulator in the worker's process
// stands behind the port, and an operator is played too: unit after unit is
// put in, taken out a while after its result and followed by the next, until
// UNITS have been in (the last one stays); every FAIL-th unit, counted from
// unit 1 + SHIFT, refuses its name, so that it fails its read-back. Each unit has an address of its own, different for every
// port and every run, so that a log kept from an earlier run does not hold
// it as provisioned.
//
// Threading: built and destroyed on the worker's main thread, before the
// serial link opens and after it closes; seen() from that thread. The
// operator works on a thread of its own through the simulator's
// thread-safe controls.
#pragma once

#include <memory>
#include <string>

#include "production/station_event.h"

namespace kx::cli {

class SimulatedFixture {
 public:
  SimulatedFixture(int units, int failEvery, int failShift, const std::string& port);
  ~SimulatedFixture();
  SimulatedFixture(const SimulatedFixture&) = delete;
  SimulatedFixture& operator=(const SimulatedFixture&) = delete;

  // The station reports `event`: after a unit's result, the operator takes
  // it out and puts the next one in.
  void seen(const production::StationEvent& event);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace kx::cli
