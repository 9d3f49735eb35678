#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace kx {
namespace {
std::atomic<double> gScale{1.0};
}

void sleepMs(int ms) {
  if (ms <= 0) return;
  const double scaled = ms * gScale.load();
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(scaled * 1000.0)));
}

void setClockScale(double scale) { gScale.store(scale > 0 ? scale : 1.0); }
double clockScale() { return gScale.load(); }

long long monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kx
