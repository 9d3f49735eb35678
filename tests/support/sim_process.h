// Test helpers that use the adapter simulator as an outside program would:
// SimProcess spawns build/bin/adapter-sim and speaks its control protocol on
// stdin/stdout; PtyTerminal opens the pseudo-terminal it serves like a plain
// terminal program (raw termios, no code of the tool).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace kx::test {

// Path of the adapter-sim program next to the test binary.
std::string adapterSimPath();

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool started() const { return !ptyPath_.empty(); }
  const std::string& ptyPath() const { return ptyPath_; }
  // One control command, its one answer line (empty on time-out or exit).
  std::string control(const std::string& line, int timeoutMs = 5000);
  // Asks `query` until the answer is `expected`; false after timeoutMs.
  bool waitControl(const std::string& query, const std::string& expected, int timeoutMs = 3000);
  // Closes stdin and waits for the exit; the exit status, -1 on time-out.
  int finish(int timeoutMs = 5000);

 private:
  std::string readLine(int timeoutMs);

  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string buffered_;
  std::string ptyPath_;
};

class PtyTerminal {
 public:
  explicit PtyTerminal(const std::string& path);
  ~PtyTerminal();
  PtyTerminal(const PtyTerminal&) = delete;
  PtyTerminal& operator=(const PtyTerminal&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // parity 'N', 'O' or 'E'.
  bool setLine(int baud, char parity = 'N', int stopBits = 1, bool flow = false);
  void send(std::string_view bytes);
  // Collects input until it holds at least n bytes (or timeoutMs passes) and
  // returns the first n (fewer on time-out); the rest stays for later reads.
  std::string readN(std::size_t n, int timeoutMs = 3000);
  // Collects input until `needle` has arrived; returns everything up to and
  // including it (everything collected on time-out).
  std::string readUntil(std::string_view needle, int timeoutMs = 3000);
  // Sends a command and returns exactly as many bytes as `expected` has.
  std::string ask(std::string_view command, std::string_view expected, int timeoutMs = 3000) {
    send(command);
    return readN(expected.size(), timeoutMs);
  }
  // Everything that arrives within ms (used only to show silence).
  std::string collectFor(int ms);

 private:
  bool fill(int timeoutMs);

  int fd_ = -1;
  std::string buffered_;
};

}  // namespace kx::test
