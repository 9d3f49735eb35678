// kx627-cli station FILE --port A [--port B ...] --log-db DB: programs unit
// after unit on every port until Ctrl-C.
//
// The program the operator starts draws the shift: it runs the station
// (production/station_run.h: one worker process per port, the core holding
// one port per process) and shows what the workers tell: on a terminal each
// port has one live line (port, state, unit, elapsed, last result) under a
// running count, elsewhere each event is one plain line. Ctrl-C asks every
// port to finish the unit it is programming and stop; a second one stops
// them at once. The shift's summary comes last; the exit code is 0 when no
// unit failed and no port failed to work (ports stopped as asked are fine).
//
// Each worker (the same command line with one --port and --station-worker)
// runs the fixture's loop (production/station_worker.h) in a Session and
// writes its events as lines on its standard output; it stops after its
// unit when it reads "stop" on its standard input (StopLineWatch).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"

namespace kx::cli {

// The operator's program. argv: its own command line, repeated for each
// port's child with that --port alone.
int runStation(const Options& options, const std::vector<std::string>& argv);

// While it lives, a thread reads standard input line by line and calls
// onStop (on that thread) for each line "stop". The input's end is no stop.
class StopLineWatch {
 public:
  explicit StopLineWatch(std::function<void()> onStop);
  ~StopLineWatch();
  StopLineWatch(const StopLineWatch&) = delete;
  StopLineWatch& operator=(const StopLineWatch&) = delete;

 private:
  std::atomic<bool> quitting_{false};
  std::thread thread_;
};

}  // namespace kx::cli
