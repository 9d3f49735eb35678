// The simulator on a pseudo-terminal: the simulator holds the master, the PC
// side (the tool, a terminal program, a test) opens the slave like a serial
// port. Before each answer the simulator reads the slave's line settings
// through the master (the two share one termios). A pty cannot show parity
// none and even apart; use the in-process transport where that matters.
// It has no modem lines either.
//
// Threading: start() and stop() from one thread; the reader thread feeds the
// world, and the world's worker thread calls deliver() and pcSettings().
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/world.h"

namespace kx::sim {

class PtyTransport : public Transport, public std::enable_shared_from_this<PtyTransport> {
 public:
  PtyTransport() = default;
  ~PtyTransport() override;
  PtyTransport(const PtyTransport&) = delete;
  PtyTransport& operator=(const PtyTransport&) = delete;

  // Creates the pseudo-terminal and starts reading for `world`; 0 or errno.
  int start(World& world);
  void stop();
  // The slave's path, e.g. /dev/pts/3.
  std::string slavePath() const { return slavePath_; }

  bool pcSettings(LineSettings* out) override;
  bool carriesParity() const override { return false; }
  void deliver(const std::string& bytes) override;
  void setModemLines(bool, bool) override {}

 private:
  void readLoop(World* world);

  // The world's thread delivers with a transport it copied under its own
  // lock, so a delivery can still be under way when the world lets go of the
  // transport: stop() closes the master under this lock, and deliver() and
  // pcSettings() use it under the same lock.
  std::mutex ioMutex_;
  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the slave open so the master never sees a hang-up
  std::string slavePath_;
  std::atomic<bool> running_{false};
  std::thread reader_;
};

// Reads the line settings of the tty whose termios `fd` shares; 0 or errno.
int readLineSettings(int fd, LineSettings* out);

}  // namespace kx::sim
