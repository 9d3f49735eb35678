// A station running: one worker process per fixture (the core's records are
// the process's own, so one port per process) and the shift they tell of.
// `kx627-cli station` and the production window both run their station
// through this, with the same worker program (`kx627-cli station ...
// --station-worker`), the same events and the same stop:
//
//   StationRun run(fixtures, takeInterrupts);
//   run.start(kx627cli, [&](std::size_t i) { return workerArguments(i); });
//   while (run.running()) { auto changes = run.poll(1000); ... run.shift() ... }
//
// stop() asks every worker, on its standard input, to stop once the unit it
// is programming is done; stop(true) ends them at once. Workers die with the
// program that runs the station, however it ends (child_processes.h).
//
// Threading: one thread uses a StationRun.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "production/child_processes.h"
#include "production/station_shift.h"

namespace kx::production {

// The line a worker reads on its standard input as "stop after this unit".
inline constexpr const char* kStopLine = "stop";

class StationRun {
 public:
  // takeInterrupts: Ctrl-C of the terminal is reported by poll() (the
  // command line) instead of ending this program.
  StationRun(std::vector<Fixture> fixtures, bool takeInterrupts);

  // Starts one worker per fixture: `program` with `arguments(fixture)`. A
  // worker that cannot be started is at once Broken (exit code 1).
  void start(const std::string& program,
             const std::function<std::vector<std::string>(std::size_t)>& arguments);

  struct Changes {
    std::vector<std::size_t> fixtures;  // whose status changed, in order, maybe twice
    int interrupts = 0;                 // Ctrl-C since the last poll
  };
  // Waits up to timeoutMs for the workers' news and applies it to the shift.
  Changes poll(int timeoutMs);

  // Asks every running worker to stop after its unit; with `atOnce` ends
  // them at once.
  void stop(bool atOnce);
  // True while any worker runs or has output not yet taken.
  bool running() const { return processes_.busy(); }

  const StationShift& shift() const { return shift_; }

 private:
  struct Worker {
    bool exited = false;
    int exitCode = 0;
    int openStreams = 2;  // standard output and error not yet ended
    bool reported = false;
  };
  void endIfDone(std::size_t fixture, Changes& changes);

  ChildProcesses processes_;
  StationShift shift_;
  std::vector<Worker> workers_;
};

}  // namespace kx::production
