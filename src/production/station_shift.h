// The shift of a station as its workers tell it: what each fixture is doing
// now, the last unit it finished and its counts, from the worker's events
// and its end. The command line draws it as live lines and the production
// window as tiles; neither decides anything here. The shift's counters that
// a restarted window or a second station must agree on come from the unit
// log (shift_figures.h), not from these counts.
//
// Threading: one thread uses a StationShift.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "production/station_event.h"

namespace kx::production {

struct Fixture {
  std::string name;  // what the operator sees ("Fixture 1")
  std::string port;  // the serial port its worker opens
};

struct FixtureStatus {
  enum class State {
    Starting,     // the worker was started and has not said anything yet
    Waiting,      // for a unit
    NoPort,       // the port cannot be opened: event.reason
    Programming,  // event.address, event.step
    Done,         // lastUnit: the unit is still in the fixture
    Stopped,      // the worker ended as it was asked to
    Broken,       // the worker ended by itself: exitCode, errorLines
  };
  Fixture fixture;
  State state = State::Starting;
  StationEvent event;                    // the last event
  std::optional<StationEvent> lastUnit;  // the last unit finished (a Done event)
  int passed = 0, failed = 0, skipped = 0;
  int exitCode = 0;                      // once ended
  std::deque<std::string> errorLines;    // the last lines of its standard error
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
};

class StationShift {
 public:
  explicit StationShift(std::vector<Fixture> fixtures);

  // Takes what worker `fixture` wrote to its standard output (isError:
  // standard error); true when its status changed.
  bool output(std::size_t fixture, std::string_view bytes, bool isError);
  // One event of worker `fixture`, as output() hands them on.
  void event(std::size_t fixture, const StationEvent& e);
  // Worker `fixture` ended with `exitCode`; a unit it was programming then is
  // a failed unit ("stopped while programming").
  void ended(std::size_t fixture, int exitCode);
  // The workers were asked to stop (an end after that is no failure).
  void stopRequested() { stopRequested_ = true; }
  bool stopping() const { return stopRequested_; }

  const std::vector<FixtureStatus>& fixtures() const { return fixtures_; }
  int passed() const;
  int failed() const;
  int skipped() const;
  // The exit code of the first worker that ended by itself with one, else 0.
  int firstWorkerError() const;

  // Lines of standard error kept per fixture.
  static constexpr std::size_t kErrorLines = 12;

 private:
  struct Pending {
    std::string out, err;  // lines not yet ended
  };
  std::vector<FixtureStatus> fixtures_;
  std::vector<Pending> pending_;
  bool stopRequested_ = false;
};

}  // namespace kx::production
