#include "production/station_run.h"

namespace kx::production {

StationRun::StationRun(std::vector<Fixture> fixtures, bool takeInterrupts)
    : processes_(takeInterrupts), shift_(fixtures), workers_(fixtures.size()) {}

void StationRun::start(const std::string& program,
                       const std::function<std::vector<std::string>(std::size_t)>& arguments) {
  for (std::size_t i = 0; i < workers_.size(); ++i) {
    if (processes_.start(program, arguments(i))) continue;
    workers_[i] = Worker{true, 1, 0, true};
    shift_.output(i, "could not start " + program + "\n", true);
    shift_.ended(i, 1);
  }
}

StationRun::Changes StationRun::poll(int timeoutMs) {
  Changes changes;
  std::vector<ChildProcesses::Output> output;
  std::vector<ChildProcesses::Exit> exits;
  changes.interrupts = processes_.wait(timeoutMs, output, exits);
  for (const ChildProcesses::Output& o : output) {
    if (o.bytes.empty()) {
      --workers_[o.child].openStreams;
      endIfDone(o.child, changes);
      continue;
    }
    if (shift_.output(o.child, o.bytes, o.isError)) changes.fixtures.push_back(o.child);
  }
  for (const ChildProcesses::Exit& e : exits) {
    workers_[e.child].exited = true;
    workers_[e.child].exitCode = e.code;
    endIfDone(e.child, changes);
  }
  return changes;
}

// A worker's end counts once everything it wrote has been taken.
void StationRun::endIfDone(std::size_t fixture, Changes& changes) {
  Worker& w = workers_[fixture];
  if (w.reported || !w.exited || w.openStreams > 0) return;
  w.reported = true;
  shift_.ended(fixture, w.exitCode);
  changes.fixtures.push_back(fixture);
}

void StationRun::stop(bool atOnce) {
  shift_.stopRequested();
  for (std::size_t i = 0; i < workers_.size(); ++i) {
    if (workers_[i].exited) continue;
    // A worker that no longer reads its input is ended at once.
    if (atOnce || !processes_.sendLine(i, kStopLine)) processes_.interrupt(i, true);
  }
}

}  // namespace kx::production
