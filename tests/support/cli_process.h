// Runs build/bin/kx627-cli as a user or a script would: arguments, standard
// input written by the test, standard output and standard error collected
// separately, signals, the exit code.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kx::test {

std::string cliPath();

class CliProcess {
 public:
  // Runs `program` (default: cliPath()) with args.
  explicit CliProcess(const std::vector<std::string>& args, const std::string& program = {});
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool started() const { return pid_ > 0 || exitCode_ >= 0; }
  pid_t pid() const { return pid_; }
  // Waits until standard error holds `needle` (searched from byte `from` on);
  // true when it arrived within timeoutMs.
  bool waitForError(const std::string& needle, int timeoutMs, std::size_t from = 0);
  // The same on standard output.
  bool waitForOutput(const std::string& needle, int timeoutMs, std::size_t from = 0);
  void writeInput(const std::string& text);
  void closeInput();
  void signal(int sig);
  // Collects the output until the program ends; its exit code (128+signal
  // when killed), -1 when it did not end within timeoutMs (it is killed).
  int finish(int timeoutMs);

  // The CPU time the program used, once finish() has seen it end.
  double cpuSeconds() const { return cpuSeconds_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  bool waitFor(const std::string& stream, const std::string& needle, int timeoutMs,
               std::size_t from);
  // Reads what is available within waitMs; false when both streams ended.
  bool pump(int waitMs);

  pid_t pid_ = -1;
  int toChild_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int exitCode_ = -1;
  double cpuSeconds_ = 0;
  std::string out_, err_;
};

// Runs to the end (closed input) and returns the exit code.
struct CliResult {
  int code;
  std::string out, err;
};
CliResult runCli(const std::vector<std::string>& args, int timeoutMs = 60000,
                 const std::string& input = {});
// The same for another program (the Windows one under Wine).
CliResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     int timeoutMs = 60000);

// The running processes (Linux /proc; Wine's Windows processes too) whose
// command line holds `marker`, but `except`.
std::vector<pid_t> processesWith(const std::string& marker, pid_t except = -1);
// Waits until each of `pids` has ended (a zombie counts as ended: it holds
// nothing open); true when they all did within timeoutMs.
bool waitForEnds(const std::vector<pid_t>& pids, int timeoutMs);

}  // namespace kx::test
