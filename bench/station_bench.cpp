// The station's seconds per unit per fixture against the wire floor.
//
//   kx_bench_station [--quick]
//
// For one and for two fixtures at once: each fixture is an adapter-sim with
// wire-time pacing at 19200 bit/s (8N1) and a real station worker
// (`kx627-cli station ... --station-worker`, run as `kx627-cli station` and
// the production window run it: its typed events on its output, "stop" on
// its input). The bench plays the operator: it puts a unit in, waits for its
// result, takes it out and puts the next one in.
//
// Per unit it prints the station's seconds (the unit's first answer to its
// row in the log) against the wire floor: every byte the unit and the PC
// exchanged for it (the simulator counts them) at 10 bits a byte. Where the
// rest of the time goes comes from the events' times: reading the unit
// (find it, then read its 20 settings), programming, and verifying with the
// log's row; and, outside the unit's seconds, the time from putting the unit
// in to the station noticing it (the probe asks about twice a second).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "production/child_processes.h"
#include "production/station_event.h"
#include "production/station_run.h"

namespace {

using namespace kx::production;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 19200;
constexpr int kBitsPerByte = 10;  // 8N1
// The settings every unit gets: two values to program, the rest as the
// factory left them.
constexpr const char* kSettings = "Name = Bench-{address:6}\nPin = 4321\n";

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One child and its output, line by line.
class Child {
 public:
  bool start(const std::string& program, const std::vector<std::string>& args) {
    return processes_.start(program, args);
  }
  // The next line of its standard output; empty after timeoutMs.
  std::string line(int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
      const std::size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string l = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return l;
      }
      if (Clock::now() > end || !processes_.busy()) return {};
      std::vector<ChildProcesses::Output> output;
      std::vector<ChildProcesses::Exit> exits;
      processes_.wait(50, output, exits);
      for (const auto& o : output)
        if (!o.isError) pending_ += o.bytes;
    }
  }
  void send(const std::string& line) { processes_.sendLine(0, line); }
  void finish() {
    while (processes_.busy()) {
      std::vector<ChildProcesses::Output> output;
      std::vector<ChildProcesses::Exit> exits;
      processes_.wait(100, output, exits);
    }
  }

 private:
  ChildProcesses processes_{false};
  std::string pending_;
};

struct Unit {
  double stationSeconds = 0;  // the event's: first answer to row
  double floorSeconds = 0;    // the wire time of its bytes
  double detect = 0, reading = 0, programming = 0, verifying = 0;
};

// One fixture: its simulator, its worker, its units.
struct BenchFixture {
  Child sim, worker;
  std::string port;
  std::vector<Unit> units;
  std::string error;

  std::string control(const std::string& command) {
    sim.send(command);
    return sim.line(5000);
  }
  long long traffic(int n) {
    const std::string answer = control("get " + std::to_string(n) + " traffic");
    long long in = 0, out = 0;
    std::sscanf(answer.c_str(), "OK %lld %lld", &in, &out);
    return in + out;
  }

  // Fixture `index` of `fixtures`, with a unit log of its own for each line.
  void run(const std::string& dir, int index, int fixtures, int count) {
    if (!sim.start(KX_ADAPTER_SIM_PATH, {"--pace", "--adapters", std::to_string(count)})) {
      error = "cannot start adapter-sim";
      return;
    }
    port = sim.line(5000);
    control("unplug");
    const std::string file = dir + "/line.txt";
    const std::string db =
        dir + "/units-" + std::to_string(fixtures) + "-" + std::to_string(index) + ".db";
    if (!worker.start(KX_CLI_PATH, {"station", file, "--port", port, "--log-db", db,
                                    "--station-worker", "--fixture",
                                    "Fixture " + std::to_string(index + 1)})) {
      error = "cannot start kx627-cli";
      return;
    }
    for (int n = 1; n <= count; ++n) {
      const std::string unit = std::to_string(n);
      const long long before = traffic(n);
      const auto plugged = Clock::now();
      control("plug " + unit);
      Unit u;
      Clock::time_point found{}, programming{}, verifying{};
      while (true) {
        const std::string line = worker.line(60000);
        const auto e = parseStationEvent(line);
        if (!e) {
          if (line.empty()) error = "the worker said nothing for a minute";
          if (line.empty()) return;
          continue;
        }
        const auto now = Clock::now();
        if (e->kind == StationEvent::Kind::Programming && e->step == "reading") found = now;
        if (e->kind == StationEvent::Kind::Programming && e->step.starts_with("programming") &&
            programming == Clock::time_point{})
          programming = now;
        if (e->kind == StationEvent::Kind::Programming && e->step == "verifying") verifying = now;
        if (e->kind != StationEvent::Kind::Done) continue;
        if (e->outcome != UnitOutcome::Passed) {
          error = "unit " + unit + " failed: " + e->reason;
          return;
        }
        u.stationSeconds = e->seconds;
        u.detect = seconds(found - plugged);
        u.reading = seconds(programming - found);
        u.programming = seconds(verifying - programming);
        u.verifying = seconds(now - verifying);
        break;
      }
      u.floorSeconds = double(traffic(n) - before) * kBitsPerByte / kBaud;
      units.push_back(u);
      control("unplug");
      // The station goes back to waiting once the unit is gone.
      for (std::string line; !(line = worker.line(10000)).empty();)
        if (const auto e = parseStationEvent(line); e && e->kind == StationEvent::Kind::Waiting) break;
    }
    worker.send(kStopLine);
    worker.finish();
  }
};

void row(const char* what, int fixtures, const std::vector<Unit>& units) {
  std::vector<double> station, floor, detect, reading, programming, verifying;
  for (const Unit& u : units) {
    station.push_back(u.stationSeconds);
    floor.push_back(u.floorSeconds);
    detect.push_back(u.detect);
    reading.push_back(u.reading);
    programming.push_back(u.programming);
    verifying.push_back(u.verifying);
  }
  std::printf("| %s | %d | %zu | %.2f s | %.2f s | %.1f | %.2f s | %.2f s | %.2f s | %.2f s |\n",
              what, fixtures, units.size(), median(station), median(floor),
              median(station) / median(floor), median(reading), median(programming),
              median(verifying), median(detect));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int count = quick ? 2 : 6;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kx-bench-station-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "line.txt") << kSettings;
  std::printf("| station at %d bit/s | fixtures | units | seconds per unit (median) | wire floor | "
              "ratio | reading | programming | verifying and logging | noticing the unit |\n"
              "|---|---|---|---|---|---|---|---|---|---|\n",
              kBaud);
  int status = 0;
  for (int fixtures : {1, 2}) {
    std::vector<BenchFixture> line(static_cast<std::size_t>(fixtures));
    std::vector<std::thread> threads;
    for (int i = 0; i < fixtures; ++i)
      threads.emplace_back([&, i] { line[std::size_t(i)].run(dir.string(), i, fixtures, count); });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < fixtures; ++i) {
      const BenchFixture& f = line[std::size_t(i)];
      if (!f.error.empty()) {
        std::printf("fixture %d: %s\n", i + 1, f.error.c_str());
        status = 1;
        continue;
      }
      const std::string what = "Fixture " + std::to_string(i + 1);
      row(what.c_str(), fixtures, f.units);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return status;
}
