#include "cli/station.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "atcmd/transmission.h"
#include "cli/console.h"
#include "cli/session.h"
#include "cli/simulated_fixture.h"
#include "common/address.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "production/station_run.h"
#include "production/station_worker.h"
#include "serial/port_enum.h"
#include "serial/uart.h"

namespace kx::cli {

// ------------------------------------------------------------------ one port

namespace {

// The probe's wait for the address: a unit answers in milliseconds.
constexpr int kProbeTimeoutMs = 400;

std::string addressIn(const std::string& answer) {
  std::size_t start = 0;
  while (start < answer.size()) {
    std::size_t end = answer.find_first_of("\r\n", start);
    if (end == std::string::npos) end = answer.size();
    const std::string line = answer.substr(start, end - start);
    if (isAddressText(line)) return line;
    start = end + 1;
  }
  return {};
}

}  // namespace

// The station's loop sees the port and the unit through the session.
class StationFixture final : public FixtureUnits {
 public:
  explicit StationFixture(Session& s) : s_(s) {}

  Probe probe(std::string* address, std::string* reason) override {
    address->clear();
    if (uart.isUartActive == 0) {
      setUpLocalPage(s_.page_, s_.o_.baud, s_.o_.parity, s_.o_.stopBits, s_.o_.flow, s_.o_.port);
      if (!openPortFromPage(s_.page_)) {
        // The reason is looked up again only when the error changes (who
        // holds a busy port takes a look at every process).
        const int err = UartLastOpenError();
        if (err != lastOpenError_ || reason_.empty()) reason_ = openFailureReason(err, s_.o_.port);
        lastOpenError_ = err;
        *reason = reason_;
        return Probe::NoPort;
      }
    }
    lastOpenError_ = 0;
    const int32_t r = sendATCommand("AT+ADDR?\r", 0, 0, kProbeTimeoutMs);
    std::string answer;
    {
      std::lock_guard lock(atCommandMutex);
      answer = std::string(fieldView(atCommand.param)) + std::string(fieldView(atCommand.response));
      clearAtCommand();
    }
    // A USB adapter pulled out takes its port with it: closed, and waited for.
    if (r != 0 && (s_.adapterGone() || !portExists(s_.o_.port))) {
      UartDeinit();
      *reason = "the port went away";
      return Probe::NoPort;
    }
    *address = addressIn(answer);
    return address->empty() ? Probe::Empty : Probe::Unit;
  }

  std::optional<StationEvent> alreadyProvisioned(const std::string& address) override {
    UnitLog* log = s_.production_->log;
    bool provisioned = false;
    // A log that cannot answer is met again, and reported, when the unit is
    // programmed.
    if (!log || s_.o_.reprogram || !log->provisioned(address, &provisioned) || !provisioned)
      return std::nullopt;
    startUnit(address);
    s_.w_.printLine(address + " is already provisioned (the unit log has it as \"ok\"); "
                    "--reprogram programs it again");
    UnitRecord record = s_.unitRecord(address);
    return doneEvent(address,
                     s_.logUnit(record, kExitAlreadyProvisioned, "already provisioned", ""));
  }

  StationEvent program(const std::string& address,
                       const std::function<void(const std::string&)>& step) override {
    startUnit(address);
    s_.unitStep_ = step;
    int code = s_.connectAndRead();
    if (code == kExitOk) {
      code = s_.programUnit();
    } else {
      // A unit that could not be read gets its row too: the log keeps every
      // attempt.
      UnitRecord record = s_.unitRecord(address);
      code = s_.logUnit(record, code,
                        code == kExitPortFailed ? portFailureWord(UartLastOpenError()) : "", "");
    }
    s_.unitStep_ = nullptr;
    return doneEvent(address, code);
  }

  void unitGone() override { UartDeinit(); }
  void wait(int ms) override { s_.w_.processPosted(ms); }

 private:
  void startUnit(const std::string& address) {
    s_.w_.forgetStatusTexts();
    s_.unitStartedMs_ = monotonicMs();
    gReport = RunReport{};
    gReport.port = s_.o_.port;
    gReport.address = address;
  }

  StationEvent doneEvent(const std::string& address, int code) const {
    StationEvent e;
    e.kind = StationEvent::Kind::Done;
    e.address = gReport.address.empty() ? address : gReport.address;
    e.outcome = code == kExitOk                  ? UnitOutcome::Passed
                : code == kExitAlreadyProvisioned ? UnitOutcome::AlreadyProvisioned
                                                  : UnitOutcome::Failed;
    e.name = latin1ToUtf8(gReport.name);
    e.result = gReport.result.empty() ? resultWord(code) : gReport.result;
    e.reason = code == kExitOk ? "" : latin1ToUtf8(gReport.reason.empty() ? e.result : gReport.reason);
    e.exitCode = code;
    e.seconds = static_cast<double>(monotonicMs() - s_.unitStartedMs_) / 1000.0;
    return e;
  }

  Session& s_;
  int lastOpenError_ = 0;
  std::string reason_;
};

int Session::station() {
  std::FILE* const events = out_;
  out_ = stderr;  // apply's per-key lines: the trace, not the events
  std::optional<SimulatedFixture> simulated;
  if (o_.simulatedUnits > 0)
    simulated.emplace(o_.simulatedUnits, o_.simulatedFailEvery, o_.simulatedFailShift, o_.port);
  // False when the station can no longer read the events.
  auto emit = [&](const StationEvent& e) {
    std::fprintf(events, "%s\n", toLine(e).c_str());
    if (simulated) simulated->seen(e);
    return std::fflush(events) == 0 && !std::ferror(events);
  };
  StationFixture fixture(*this);
  const bool reported = runFixture(fixture, *production_->stopAfterUnit, emit);
  UartDeinit();  // before the simulated units go
  out_ = events;
  return reported ? kExitOk : kExitFailed;
}

StopLineWatch::StopLineWatch(std::function<void()> onStop) {
  thread_ = std::thread([this, onStop = std::move(onStop)] {
    std::string line;
    while (!quitting_) {
      if (waitForInput(stdin, 100) == 0) continue;
      char c;
      // The input's end is no stop: a worker started by hand with no input
      // goes on; its station's end ends it.
      if (readInputByte(stdin, &c) <= 0) return;
      if (c != '\n') {
        if (c != '\r' && line.size() < 64) line += c;
        continue;
      }
      if (line == kStopLine) onStop();
      line.clear();
    }
  });
}

StopLineWatch::~StopLineWatch() {
  quitting_ = true;
  thread_.join();
}

// ------------------------------------------------------------------ the shift

namespace {

using Clock = std::chrono::steady_clock;
using State = FixtureStatus::State;

// Every argument but --port X; the child gets its own and --station-worker.
std::vector<std::string> workerArguments(const std::vector<std::string>& argv,
                                         const std::string& port) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "--port" && i + 1 < argv.size()) {
      ++i;
      continue;
    }
    out.push_back(argv[i]);
  }
  out.insert(out.end(), {"--port", port, "--station-worker"});
  return out;
}

std::string unitText(const StationEvent& u) {
  switch (u.outcome) {
    case UnitOutcome::Passed:
      return "PASS " + u.address + " " + u.name;
    case UnitOutcome::AlreadyProvisioned:
      return u.address + " already provisioned";
    default:
      return "FAIL " + u.address + ": " + u.reason;
  }
}

// The shift on the terminal: one live line per port under the running count,
// redrawn in place; elsewhere one plain line per event.
class ShiftLines {
 public:
  ShiftLines(const StationShift& shift, bool live) : shift_(shift), live_(live) {}

  // Fixture `i` changed: off a terminal, its line.
  void changed(std::size_t i) {
    if (live_) return;
    const FixtureStatus& f = shift_.fixtures()[i];
    const StationEvent& e = f.event;
    switch (f.state) {
      case State::Waiting:
        return plain(f, "waiting for a unit");
      case State::NoPort:
        return plain(f, "port missing, waiting for it (" + e.reason + ")");
      case State::Programming:
        if (e.step == "reading") plain(f, "programming " + e.address);
        return;
      case State::Done:
        return plain(f, unitText(*f.lastUnit) + formatBounded(40, " (%.1f s)", f.lastUnit->seconds));
      case State::Stopped:
      case State::Broken:
        if (f.lastUnit && f.lastUnit->result == "stopped") plain(f, unitText(*f.lastUnit));
        return plain(f, "stopped");
      default:
        return;
    }
  }

  void note(const std::string& text) {
    if (live_) {
      notes_.push_back(text);
      draw();
    } else {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    }
  }

  // On a terminal: the port lines and the count, redrawn in place.
  void draw() {
    if (!live_) return;
    if (drawn_ > 0) std::printf("\x1b[%dF", drawn_);  // to the first line drawn
    drawn_ = 0;
    std::size_t width = 4;
    for (const FixtureStatus& f : shift_.fixtures()) width = std::max(width, f.fixture.name.size());
    for (const FixtureStatus& f : shift_.fixtures()) {
      const long long seconds =
          std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - f.since).count();
      const std::string last = f.lastUnit ? unitText(*f.lastUnit) : "";
      const char* colour = !f.lastUnit                                      ? ""
                           : f.lastUnit->outcome == UnitOutcome::Passed ? "\x1b[1;32m"
                           : f.lastUnit->outcome == UnitOutcome::Failed ? "\x1b[1;31m"
                                                                        : "";
      std::printf("\x1b[2K%-*s  %-28s %-15s %4llds  %s%s\x1b[0m\n", static_cast<int>(width),
                  f.fixture.name.c_str(), stateText(f).c_str(), f.event.address.c_str(), seconds,
                  colour, last.c_str());
      ++drawn_;
    }
    std::printf("\x1b[2K%s\n", count().c_str());
    ++drawn_;
    for (const std::string& n : notes_) {
      std::printf("\x1b[2K%s\n", n.c_str());
      ++drawn_;
    }
    std::fflush(stdout);
  }

  std::string count() const {
    std::string text = formatBounded(100, "%d passed, %d failed", shift_.passed(), shift_.failed());
    if (shift_.skipped()) text += formatBounded(60, ", %d already provisioned", shift_.skipped());
    return text;
  }

 private:
  static std::string stateText(const FixtureStatus& f) {
    switch (f.state) {
      case State::Starting:
        return "starting";
      case State::Waiting:
        return "waiting for a unit";
      case State::NoPort:
        return "port missing, waiting for it";
      case State::Programming:
        return f.event.step;
      case State::Done:
        return "remove the unit";
      default:
        return "stopped";
    }
  }

  void plain(const FixtureStatus& f, const std::string& text) {
    std::printf("%s: %s\n", f.fixture.name.c_str(), text.c_str());
    std::fflush(stdout);
  }

  const StationShift& shift_;
  const bool live_;
  int drawn_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace

int runStation(const Options& options, const std::vector<std::string>& argv) {
  const std::string self = ChildProcesses::selfPath();
  if (self.empty()) {
    std::fprintf(stderr, "kx627-cli: cannot find its own program file\n");
    return kExitFailed;
  }
  std::vector<Fixture> fixtures;
  for (const std::string& port : options.ports) fixtures.push_back({port, port});
  StationRun run(fixtures, true);  // takes Ctrl-C from here on
  ShiftLines lines(run.shift(), redrawsLines(stdout));
  run.start(self, [&](std::size_t i) { return workerArguments(argv, fixtures[i].port); });
  lines.draw();
  int cancels = 0;
  while (run.running()) {
    // Once a second at least, for the elapsed times of the live lines.
    const StationRun::Changes changes = run.poll(1000);
    for (std::size_t i : changes.fixtures) {
      lines.changed(i);
      const FixtureStatus& f = run.shift().fixtures()[i];
      if (f.state != State::Broken) continue;
      lines.note(f.fixture.name + ": stopped with exit code " + std::to_string(f.exitCode) + " (" +
                 resultWord(f.exitCode) + ")");
    }
    if (changes.interrupts > 0) {
      cancels += changes.interrupts;
      lines.note(cancels == 1 ? "Stopping: every port finishes the unit it is programming "
                                "(Ctrl-C again stops at once)"
                              : "Stopping at once");
      run.stop(cancels > 1);
    }
    lines.draw();
  }
  std::printf("Shift: %s\n", lines.count().c_str());
  std::fflush(stdout);
  // A port that could not work at all (its log, its values) ends the shift
  // with its code; ports stopped as asked are no failure.
  return run.shift().failed() > 0 ? kExitFailed : run.shift().firstWorkerError();
}

}  // namespace kx::cli
