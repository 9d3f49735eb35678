#include "cli/station.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "atcmd/transmission.h"
#include "cli/child_processes.h"
#include "cli/console.h"
#include "cli/session.h"
#include "common/address.h"
#include "common/records.h"
#include "common/text.h"
#include "device/initialise.h"
#include "platform/clock.h"
#include "serial/port_enum.h"
#include "serial/uart.h"

namespace kx::cli {

// ------------------------------------------------------------------ one port

namespace {

// The station asks about twice a second whether a unit is there.
constexpr int kProbeTimeoutMs = 400;
constexpr int kProbeIntervalMs = 500;

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

bool Session::probeAddress(std::string* address) {
  address->clear();
  if (uart.isUartActive == 0) {
    setUpLocalPage(page_, o_.baud, o_.parity, o_.stopBits, o_.flow, o_.port);
    if (!openPortFromPage(page_)) return false;
  }
  const int32_t r = sendATCommand("AT+ADDR?\r", 0, 0, kProbeTimeoutMs);
  std::string answer;
  {
    std::lock_guard lock(atCommandMutex);
    answer = std::string(fieldView(atCommand.param)) + std::string(fieldView(atCommand.response));
    clearAtCommand();
  }
  // A USB adapter pulled out takes its port with it: closed, and waited for.
  if (r != 0 && (adapterGone() || !portExists(o_.port))) {
    UartDeinit();
    return false;
  }
  *address = addressIn(answer);
  return true;
}

int Session::station() {
  std::FILE* const events = out_;
  out_ = stderr;  // apply's per-key lines: the trace, not the events
  // False when the station can no longer read the events.
  auto emit = [&](nlohmann::ordered_json event) {
    std::fprintf(events, "%s\n", event.dump().c_str());
    return std::fflush(events) == 0 && !std::ferror(events);
  };
  const std::atomic<bool>& stop = *production_->stopAfterUnit;
  std::string done;  // the unit just programmed, until it goes
  bool portMissing = false;
  emit({{"state", "waiting"}});
  while (!stop) {
    std::string address;
    if (!probeAddress(&address)) {
      if (!portMissing) emit({{"state", "no port"}});
      portMissing = true;
      w_.processPosted(kProbeIntervalMs);
      continue;
    }
    if (portMissing) emit({{"state", "waiting"}});
    portMissing = false;
    if (address.empty() || address == done) {
      if (address.empty() && !done.empty()) {
        // The unit is gone; the next one is looked for at the command
        // line's settings again.
        done.clear();
        UartDeinit();
        emit({{"state", "waiting"}});
      }
      w_.processPosted(kProbeIntervalMs);
      continue;
    }
    // A unit is programmed only when its result can be reported.
    if (!emit({{"state", "programming"}, {"address", address}})) {
      out_ = events;
      return kExitFailed;
    }
    w_.forgetStatusTexts();
    const long long started = monotonicMs();
    gReport = RunReport{};
    gReport.port = o_.port;
    int code = connectAndRead();
    if (code == kExitOk) {
      code = programUnit();
    } else {
      gReport.address = address;
      gReport.result = code == kExitPortFailed ? portFailureWord(UartLastOpenError()) : "";
      gReport.reason = resultWord(code);
    }
    const std::string word = gReport.result.empty() ? resultWord(code) : gReport.result;
    emit({{"state", "done"},
          {"address", gReport.address.empty() ? address : gReport.address},
          {"name", latin1ToUtf8(gReport.name)},
          {"result", word},
          {"exit", code},
          {"reason", latin1ToUtf8(gReport.reason.empty() ? word : gReport.reason)},
          {"seconds", static_cast<double>(monotonicMs() - started) / 1000.0}});
    done = address;
  }
  out_ = events;
  return kExitOk;
}

// ------------------------------------------------------------------ the shift

namespace {

using Clock = std::chrono::steady_clock;

struct Port {
  std::string name;
  std::string pending;  // a line not yet ended
  bool ended = false;   // the child has ended...
  bool outputEnded = false;  // ...and its events are all read
  int exitCode = 0;
  std::string state = "starting";
  std::string address;
  Clock::time_point since = Clock::now();
  std::string last;  // the last unit's result, as shown
  int passed = 0, failed = 0, skipped = 0;
};

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

class Shift {
 public:
  Shift(std::vector<Port>& ports, bool live) : ports_(ports), live_(live) {}

  // One event line from a port's child.
  void event(Port& p, const std::string& line) {
    const nlohmann::json e = nlohmann::json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object()) return;
    const std::string state = e.value("state", "");
    p.since = Clock::now();
    if (state == "done") {
      const std::string result = e.value("result", "");
      const std::string address = e.value("address", "");
      if (result == "ok") {
        ++p.passed;
        p.last = "PASS " + address + " " + e.value("name", "");
      } else if (result == "already provisioned") {
        ++p.skipped;
        p.last = address + " already provisioned";
      } else {
        ++p.failed;
        p.last = "FAIL " + address + ": " + e.value("reason", result);
      }
      p.state = "remove the unit";
      p.address = address;
      if (!live_)
        plain(p, p.last + formatBounded(40, " (%.1f s)", e.value("seconds", 0.0)));
    } else {
      p.state = state == "programming" ? "programming"
                : state == "no port"   ? "port missing, waiting for it"
                                       : "waiting for a unit";
      p.address = e.value("address", "");
      if (!live_) plain(p, p.state + (p.address.empty() ? "" : " " + p.address));
    }
    draw();
  }

  // A child that ended while it programmed a unit: that unit failed.
  void ended(Port& p) {
    if (p.state == "programming") {
      ++p.failed;
      p.last = "FAIL " + p.address + ": stopped while programming";
      if (!live_) plain(p, p.last);
    }
    p.state = "stopped";
    p.since = Clock::now();
    draw();
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
    for (const Port& p : ports_) width = std::max(width, p.name.size());
    for (const Port& p : ports_) {
      const long long seconds =
          std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - p.since).count();
      const char* colour = p.last.rfind("PASS", 0) == 0   ? "\x1b[1;32m"
                           : p.last.rfind("FAIL", 0) == 0 ? "\x1b[1;31m"
                                                          : "";
      std::printf("\x1b[2K%-*s  %-28s %-15s %4llds  %s%s\x1b[0m\n", static_cast<int>(width),
                  p.name.c_str(), p.state.c_str(), p.address.c_str(), seconds, colour,
                  p.last.c_str());
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
    int passed = 0, failed = 0, skipped = 0;
    for (const Port& p : ports_) {
      passed += p.passed;
      failed += p.failed;
      skipped += p.skipped;
    }
    std::string text = formatBounded(100, "%d passed, %d failed", passed, failed);
    if (skipped) text += formatBounded(60, ", %d already provisioned", skipped);
    return text;
  }

 private:
  void plain(const Port& p, const std::string& text) {
    std::printf("%s: %s\n", p.name.c_str(), text.c_str());
    std::fflush(stdout);
  }

  std::vector<Port>& ports_;
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
  ChildProcesses processes;  // takes Ctrl-C from here on
  std::vector<Port> ports(options.ports.size());
  Shift shift(ports, redrawsLines(stdout));
  for (std::size_t i = 0; i < ports.size(); ++i) {
    Port& p = ports[i];
    p.name = options.ports[i];
    if (!processes.start(self, workerArguments(argv, p.name))) {
      p.state = "could not start";
      p.ended = true;
      p.exitCode = kExitFailed;
    }
  }
  shift.draw();
  int cancels = 0;
  while (processes.busy()) {
    std::vector<ChildProcesses::Output> output;
    std::vector<ChildProcesses::Exit> exits;
    // Once a second at least, for the elapsed times of the live lines.
    const int interrupts = processes.wait(1000, output, exits);
    auto finish = [&](Port& p) {
      if (!p.ended || !p.outputEnded) return;
      shift.ended(p);
      if (p.exitCode != kExitOk && cancels < 2)
        shift.note(p.name + ": stopped with exit code " + std::to_string(p.exitCode) + " (" +
                   resultWord(p.exitCode) + ")");
    };
    for (const ChildProcesses::Output& o : output) {
      Port& p = ports[o.child];
      if (o.isError) continue;  // the trace of the port's work
      if (o.bytes.empty()) {
        p.outputEnded = true;
        finish(p);
        continue;
      }
      takeLines(p.pending, o.bytes,
                [&](std::string_view line) { shift.event(p, std::string(line)); });
    }
    for (const ChildProcesses::Exit& e : exits) {
      Port& p = ports[e.child];
      p.ended = true;
      p.exitCode = e.code;
      finish(p);
    }
    if (interrupts > 0) {
      cancels += interrupts;
      shift.note(cancels == 1 ? "Stopping: every port finishes the unit it is programming "
                                "(Ctrl-C again stops at once)"
                              : "Stopping at once");
      for (std::size_t i = 0; i < ports.size(); ++i)
        if (!ports[i].ended) processes.interrupt(i, cancels > 1);
    }
    shift.draw();
  }
  int failed = 0, stopped = kExitOk;
  for (const Port& p : ports) {
    failed += p.failed;
    if (stopped == kExitOk && p.exitCode != kExitOk && cancels < 2) stopped = p.exitCode;
  }
  std::printf("Shift: %s\n", shift.count().c_str());
  std::fflush(stdout);
  // A port that could not work at all (its log, its values) ends the shift
  // with its code.
  return failed > 0 ? kExitFailed : stopped;
}

}  // namespace kx::cli
