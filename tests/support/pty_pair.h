// A pseudo-terminal pair for tests: the program under test opens the slave
// path like a serial port, the test talks on the master like the adapter.
#pragma once

#include <string>

namespace kx::test {

class PtyPair {
 public:
  PtyPair();   // opens the master in raw mode; aborts the test on failure
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  void write(const std::string& bytes);
  // Reads until at least n bytes arrived or timeoutMs passed.
  std::string readAtLeast(std::size_t n, int timeoutMs);
  // Closes the master: the slave sees a hang-up, like an unplugged adapter.
  void closeMaster();

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace kx::test
