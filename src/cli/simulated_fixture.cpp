#include "cli/simulated_fixture.h"

#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#include "common/text.h"
#include "sim/in_process.h"
#include "sim/world.h"

namespace kx::cli {
namespace {

// The operator: the unit stays in the fixture this long after its result,
// and the next one goes in this long after (real time, whatever the time
// scale: the result must stay long enough for the tile to show it).
constexpr int kTakeOutAfterMs = 1500;
constexpr int kNextUnitAfterMs = 700;

sim::WorldOptions worldOptions(int units) {
  sim::WorldOptions o;
  o.adapters = units;
  o.remotes = 0;
  return o;
}

}  // namespace

struct SimulatedFixture::State {
  sim::World world;
  std::shared_ptr<sim::InProcessTransport> link;
  const int units;
  std::mutex mutex;
  std::condition_variable changed;
  int finished = 0;  // units with a result; mutex
  bool quitting = false;
  std::thread operatorThread;

  State(int unitCount, int failEvery, int failShift, const std::string& port)
      : world(worldOptions(unitCount)), units(unitCount) {
    // Addresses of this port and this run: the port's name and the start
    // time mixed into the last six digits.
    const unsigned seed =
        static_cast<unsigned>(std::hash<std::string>{}(port) ^ static_cast<std::size_t>(std::time(nullptr)));
    for (int n = 1; n <= units; ++n) {
      const unsigned serial = (seed * 4096u + static_cast<unsigned>(n)) & 0xFFFFFFu;
      world.set(n, "addr", formatBounded(20, "0012-6F-%06X", serial));
      if (failEvery > 0 && (n + failShift) % failEvery == 0) world.set(n, "refuse", "AT+NAME=*");
    }
    link = sim::attachInProcess(world);
    operatorThread = std::thread([this] { operate(); });
  }

  ~State() {
    {
      std::lock_guard lock(mutex);
      quitting = true;
    }
    changed.notify_all();
    operatorThread.join();
    link->detach();
  }

  // Waits `ms`; false when the fixture is going away.
  bool pause(std::unique_lock<std::mutex>& lock, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return !changed.wait_until(lock, until, [this] { return quitting; });
  }

  void operate() {
    std::unique_lock lock(mutex);
    for (int unit = 1; unit < units; ++unit) {
      changed.wait(lock, [&] { return quitting || finished >= unit; });
      if (quitting || !pause(lock, kTakeOutAfterMs)) return;
      world.unplug();
      if (!pause(lock, kNextUnitAfterMs)) return;
      world.plug(unit + 1);
    }
  }
};

SimulatedFixture::SimulatedFixture(int units, int failEvery, int failShift, const std::string& port)
    : s_(std::make_unique<State>(units, failEvery, failShift, port)) {}

SimulatedFixture::~SimulatedFixture() = default;

void SimulatedFixture::seen(const production::StationEvent& event) {
  if (event.kind != production::StationEvent::Kind::Done) return;
  {
    std::lock_guard lock(s_->mutex);
    ++s_->finished;
  }
  s_->changed.notify_all();
}

}  // namespace kx::cli
