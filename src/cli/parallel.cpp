#include "cli/parallel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "common/text.h"
#include "production/child_processes.h"

namespace kx::cli {
namespace {

using production::ChildProcesses;
using production::takeLines;

using Clock = std::chrono::steady_clock;

// A child that has not ended after this long is killed and reported: every
// wait of a run is bounded, so only a fault gets here.
constexpr auto kChildDeadline = std::chrono::minutes(30);

struct PortRun {
  std::string port;
  std::string reportPath;
  std::string outLine, errLine;  // a line not yet ended
  int exitCode = -1;
  bool killed = false;
  Clock::time_point started;
  double seconds = 0;
};

// Every argument but --port X and --report X; the child gets its own.
std::vector<std::string> childArguments(const std::vector<std::string>& argv) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if ((argv[i] == "--port" || argv[i] == "--report") && i + 1 < argv.size()) {
      ++i;
      continue;
    }
    out.push_back(argv[i]);
  }
  return out;
}

// Passes on the complete lines of `pending` + what was read, prefixed.
void passLines(std::string& pending, const char* data, std::size_t n, const std::string& prefix,
               std::FILE* to) {
  takeLines(pending, std::string_view(data, n), [&](std::string_view line) {
    std::fprintf(to, "%s: %.*s\n", prefix.c_str(), static_cast<int>(line.size()), line.data());
  });
  std::fflush(to);
}

std::string readFileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int runOnEveryPort(const Options& options, const std::vector<std::string>& argv) {
  const std::string self = ChildProcesses::selfPath();
  if (self.empty()) {
    std::fprintf(stderr, "kx627-cli: cannot find its own program file\n");
    return kExitFailed;
  }
  ChildProcesses processes;  // takes Ctrl-C from here on
  const std::filesystem::path dir = ChildProcesses::makeTempDirectory();
  std::error_code noTemp;
  const std::filesystem::path reportDir =
      dir.empty() ? std::filesystem::temp_directory_path(noTemp) : dir;
  std::vector<PortRun> children(options.ports.size());
  const std::vector<std::string> args = childArguments(argv);
  for (std::size_t i = 0; i < children.size(); ++i) {
    PortRun& c = children[i];
    c.port = options.ports[i];
    c.reportPath = (reportDir / ("report-" + std::to_string(i))).string();
    std::vector<std::string> childArgs = args;
    childArgs.insert(childArgs.end(), {"--port", c.port, "--report", c.reportPath});
    c.started = Clock::now();
    if (!processes.start(self, childArgs)) {
      std::fprintf(stderr, "%s: could not start a process for this port\n", c.port.c_str());
      c.exitCode = kExitFailed;
    }
  }

  int cancels = 0;
  while (processes.busy()) {
    std::vector<ChildProcesses::Output> output;
    std::vector<ChildProcesses::Exit> exits;
    const int interrupts = processes.wait(200, output, exits);
    for (const ChildProcesses::Output& o : output) {
      PortRun& c = children[o.child];
      std::string& pending = o.isError ? c.errLine : c.outLine;
      std::FILE* to = o.isError ? stderr : stdout;
      if (!o.bytes.empty())
        passLines(pending, o.bytes.data(), o.bytes.size(), c.port, to);
      else if (!pending.empty())
        passLines(pending, "\n", 1, c.port, to);  // the last line, unended
    }
    for (const ChildProcesses::Exit& e : exits) {
      PortRun& c = children[e.child];
      c.exitCode = e.code;
      c.seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
    }
    if (interrupts > 0) {
      cancels += interrupts;
      std::fprintf(stderr, "Cancelling every port...%s\n",
                   cancels > 1 ? " (again: stopping them at once)" : "");
      for (std::size_t i = 0; i < children.size(); ++i)
        if (children[i].exitCode < 0) processes.interrupt(i, cancels > 1);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      PortRun& c = children[i];
      if (c.exitCode >= 0 || c.killed || Clock::now() - c.started <= kChildDeadline) continue;
      std::fprintf(stderr, "%s: no end after %d minutes; stopped\n", c.port.c_str(),
                   static_cast<int>(kChildDeadline.count()));
      processes.interrupt(i, true);
      c.killed = true;
    }
  }

  // The summary, and the reports in port order.
  std::string reports;
  std::fprintf(stdout, "\n%-24s %-16s %-20s %-17s %-28s %s\n", "port", "address", "name",
               "result", "mismatched", "seconds");
  int first = kExitOk;
  for (PortRun& c : children) {
    std::string json = readFileText(c.reportPath);
    while (!json.empty() && json.back() == '\n') json.pop_back();
    RunReport r;
    if (const auto parsed = parseReportJson(json)) {
      r = *parsed;
    } else {
      r.port = c.port;
      r.exitCode = c.exitCode;
      r.seconds = c.seconds;
      json = reportJson(r);
    }
    if (c.killed) r.result = "timed out";
    std::string mismatched;
    for (const std::string& key : r.mismatched) mismatched += (mismatched.empty() ? "" : ",") + key;
    reports += json + "\n";
    std::fprintf(stdout, "%-24s %-16s %-20s %-17s %-28s %.1f\n", c.port.c_str(), r.address.c_str(),
                 r.name.c_str(), r.result.empty() ? resultWord(c.exitCode) : r.result.c_str(),
                 mismatched.c_str(), c.seconds);
    if (first == kExitOk && c.exitCode != kExitOk) first = c.exitCode;
    std::error_code ignored;
    std::filesystem::remove(c.reportPath, ignored);
  }
  if (!dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove(dir, ignored);
  }
  std::fflush(stdout);
  std::string error;
  if (!options.reportPath.empty() && !writeWholeFile(options.reportPath, reports, &error)) {
    std::fprintf(stderr, "kx627-cli: cannot write the report %s: %s\n",
                 options.reportPath.c_str(), error.c_str());
    return first == kExitOk ? kExitFileError : first;
  }
  return first;
}

}  // namespace kx::cli
