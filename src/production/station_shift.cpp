#include "production/station_shift.h"

#include "production/child_processes.h"

namespace kx::production {

StationShift::StationShift(std::vector<Fixture> fixtures)
    : fixtures_(fixtures.size()), pending_(fixtures.size()) {
  for (std::size_t i = 0; i < fixtures.size(); ++i) fixtures_[i].fixture = std::move(fixtures[i]);
}

bool StationShift::output(std::size_t fixture, std::string_view bytes, bool isError) {
  FixtureStatus& f = fixtures_.at(fixture);
  bool changed = false;
  if (isError) {
    takeLines(pending_[fixture].err, bytes, [&](std::string_view line) {
      if (line.empty()) return;
      f.errorLines.emplace_back(line);
      if (f.errorLines.size() > kErrorLines) f.errorLines.pop_front();
    });
    return false;
  }
  takeLines(pending_[fixture].out, bytes, [&](std::string_view line) {
    if (const auto e = parseStationEvent(line)) {
      event(fixture, *e);
      changed = true;
    }
  });
  return changed;
}

void StationShift::event(std::size_t fixture, const StationEvent& e) {
  FixtureStatus& f = fixtures_.at(fixture);
  f.event = e;
  f.since = std::chrono::steady_clock::now();
  switch (e.kind) {
    case StationEvent::Kind::Waiting:
      f.state = FixtureStatus::State::Waiting;
      break;
    case StationEvent::Kind::NoPort:
      f.state = FixtureStatus::State::NoPort;
      break;
    case StationEvent::Kind::Programming:
      f.state = FixtureStatus::State::Programming;
      break;
    case StationEvent::Kind::Done:
      f.state = FixtureStatus::State::Done;
      f.lastUnit = e;
      switch (e.outcome) {
        case UnitOutcome::Passed:
          ++f.passed;
          break;
        case UnitOutcome::Failed:
          ++f.failed;
          break;
        case UnitOutcome::AlreadyProvisioned:
          ++f.skipped;
          break;
      }
      break;
  }
}

void StationShift::ended(std::size_t fixture, int exitCode) {
  FixtureStatus& f = fixtures_.at(fixture);
  if (f.state == FixtureStatus::State::Programming) {
    StationEvent lost = f.event;
    lost.kind = StationEvent::Kind::Done;
    lost.outcome = UnitOutcome::Failed;
    lost.result = "stopped";
    lost.reason = "stopped while programming";
    f.lastUnit = lost;
    ++f.failed;
  }
  f.exitCode = exitCode;
  // Asked to stop, a worker ends with 0, or is stopped at once: either way
  // no fault of its own.
  f.state = stopRequested_ || exitCode == 0 ? FixtureStatus::State::Stopped
                                            : FixtureStatus::State::Broken;
  f.since = std::chrono::steady_clock::now();
}

int StationShift::passed() const {
  int n = 0;
  for (const FixtureStatus& f : fixtures_) n += f.passed;
  return n;
}

int StationShift::failed() const {
  int n = 0;
  for (const FixtureStatus& f : fixtures_) n += f.failed;
  return n;
}

int StationShift::skipped() const {
  int n = 0;
  for (const FixtureStatus& f : fixtures_) n += f.skipped;
  return n;
}

int StationShift::firstWorkerError() const {
  for (const FixtureStatus& f : fixtures_)
    if (f.state == FixtureStatus::State::Broken) return f.exitCode;
  return 0;
}

}  // namespace kx::production
