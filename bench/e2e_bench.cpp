// End-to-end figures of the tool against the simulator with wire-time pacing:
// each measured figure is printed with its physical limit and the ratio.
//
//   kx_bench_e2e [--quick]
//
// - reading all 20 settings at 9600 and 115200 bit/s against the wire time
//   of every byte exchanged (both directions, 10 bits a byte at 8N1);
// - one command's round trip against its wire time;
// - the settings search: time to find an adapter at step k against the
//   nominal cost of k steps (600 ms settle, two 500 ms probes when silent);
// - the idle cost of an open link: CPU time per second on a pseudo-terminal.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "device/settings_search.h"
#include "platform/memory_form.h"
#include "platform/recording_window.h"
#include "platform/serial_device.h"
#include "serial/uart.h"
#include "sim/in_process.h"
#include "sim/world.h"

namespace {

using namespace kx;
using Clock = std::chrono::steady_clock;

std::atomic<std::size_t> gReceived{0};

void countingHandler(const uint8_t* data, uint32_t count) {
  gReceived += count;
  dispatchReceivedData(data, count);
}

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void fillPage(MemoryForm& page) {
  for (const char* s : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                        "230400", "460800", "921600"})
    page.addRow(ctl::kBaudRateList, s);
  for (const char* p : {"None", "Odd", "Even"}) page.addRow(ctl::kParityList, p);
  for (const char* m : {"Disabled", "Local Loopback", "Remote Transfer"})
    page.addRow(ctl::kModemSignalList, m);
}

// An open link to a simulated adapter at `baud` (8N1, no flow control).
struct SimLink {
  explicit SimLink(int baud, bool flow = false, int startBaud = 0) : world(options(baud, flow)) {
    link = sim::attachInProcess(world);
    clearUart();
    clearLocalDev();
    copyField(uart.comPort, "/dev/kx627-sim");
    uart.baud = startBaud ? startBaud : baud;
    uart.parity = PARITY_NONE_FLAG;
    uart.stopBits = 1;
    uart.flow = flow ? 1 : 0;
    resetCommandEngine();
    receiveHandler = &countingHandler;
    ok = UartInit() == 0;
  }
  ~SimLink() {
    UartDeinit();
    link->detach();
    serialDeviceFactory = nullptr;
  }
  static sim::WorldOptions options(int baud, bool flow) {
    sim::WorldOptions o;
    o.baud = baud;
    o.flow = flow;
    o.pace = true;
    return o;
  }
  sim::World world;
  std::shared_ptr<sim::InProcessTransport> link;
  bool ok = false;
};

double wireMs(std::size_t bytes, int baud) { return bytes * 10.0 * 1000.0 / baud; }

void row(const char* what, double measured, double limit) {
  std::printf("| %-44s | %10.1f ms | %10.1f ms | %6.3f |\n", what, measured, limit,
              measured / limit);
}

void readAll(int baud, int rounds) {
  SimLink s(baud);
  if (!s.ok) {
    std::printf("could not open the simulated link at %d\n", baud);
    return;
  }
  MemoryForm page;
  fillPage(page);
  std::vector<double> times, limits;
  for (int r = 0; r < rounds; ++r) {
    localDev.initialised = 1;
    s.link->port()->takeWritten();
    gReceived = 0;
    const auto t0 = Clock::now();
    readAllSettings(page);
    times.push_back(msSince(t0));
    limits.push_back(wireMs(s.link->port()->takeWritten().size() + gReceived.load(), baud));
  }
  char what[64];
  std::snprintf(what, sizeof what, "read all 20 settings at %d bit/s", baud);
  row(what, median(times), median(limits));
}

void roundTrip(int baud, int rounds) {
  SimLink s(baud);
  if (!s.ok) return;
  MemoryForm page;
  fillPage(page);
  localDev.initialised = 1;
  std::vector<double> times, limits;
  for (int r = 0; r < rounds; ++r) {
    s.link->port()->takeWritten();
    gReceived = 0;
    const auto t0 = Clock::now();
    if (sendATCommand("AT+NAME?\r", 0, 0, 1000) == 0) applyCommandResponse(page);
    times.push_back(msSince(t0));
    limits.push_back(wireMs(s.link->port()->takeWritten().size() + gReceived.load(), baud));
  }
  char what[64];
  std::snprintf(what, sizeof what, "one command round trip at %d bit/s", baud);
  row(what, median(times), median(limits));
}

// The adapter runs 38400, no parity, one stop bit, no flow control, the
// most common setting after the factory one; the PC starts at the factory
// setting (19200), which the caller has probed, so the search begins with
// the other common settings.
void search() {
  SimLink s(38400, false, 19200);
  if (!s.ok) return;
  resetSettingsSearch();
  const auto t0 = Clock::now();
  int steps = 0;
  int32_t r = 0;
  while (r != 8 && r != 1) {
    r = tryIterations();
    ++steps;
  }
  const double took = msSince(t0);
  // Each silent step: 600 ms settle plus two 500 ms probes; the answered
  // step: the settle plus the probe's wire time (21 bytes at 38400).
  const double nominal = (steps - 1) * (600.0 + 1000.0) + 600.0 + wireMs(9 + 12, 38400);
  char what[96];
  std::snprintf(what, sizeof what, "settings search from 19200, 38400 found at step %d of %d%s",
                steps, searchStepCount(), r == 8 ? "" : " (NOT FOUND)");
  row(what, took, nominal);
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void idleCost(int seconds) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
  char name[128];
  ptsname_r(master, name, sizeof name);
  clearUart();
  clearLocalDev();
  copyField(uart.comPort, name);
  uart.baud = 115200;
  uart.parity = PARITY_NONE_FLAG;
  uart.stopBits = 1;
  receiveHandler = &countingHandler;
  if (UartInit() != 0) return;
  const double c0 = cpuSeconds();
  const auto t0 = Clock::now();
  sleep(static_cast<unsigned>(seconds));
  const double cpu = cpuSeconds() - c0;
  const double wall = msSince(t0) / 1000.0;
  UartDeinit();
  close(master);
  std::printf("| %-44s | %9.3f %% | %9.3f %% | %6.3f |\n", "idle open link: CPU of one core",
              100.0 * cpu / wall, 0.5, (100.0 * cpu / wall) / 0.5);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  RecordingWindow window;
  mainWindowHandle = &window;
  std::printf("| figure | measured | limit | ratio |\n|---|---|---|---|\n");
  std::fflush(stdout);
  readAll(9600, quick ? 1 : 5);
  readAll(115200, quick ? 1 : 5);
  roundTrip(9600, quick ? 3 : 21);
  roundTrip(115200, quick ? 3 : 51);
  if (!quick) search();
  idleCost(quick ? 1 : 5);
  mainWindowHandle = nullptr;
  return 0;
}
