#include "sim/pty_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/termios_baud.h"

namespace kx::sim {

int readLineSettings(int fd, LineSettings* out) {
  struct termios tio {};
  if (::tcgetattr(fd, &tio) != 0) return errno;
  int baud = 0;
  if (const int err = termiosGetBaud(fd, &baud)) return err;
  out->baud = baud;
  out->stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  out->rtsCts = (tio.c_cflag & CRTSCTS) != 0;
  // A pty drops PARENB but keeps PARODD.
  if (tio.c_cflag & PARODD) out->parity = Parity::Odd;
  else if (tio.c_cflag & PARENB) out->parity = Parity::Even;
  else out->parity = Parity::None;
  return 0;
}

PtyTransport::~PtyTransport() { stop(); }

int PtyTransport::start(World& world) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return errno;
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    const int err = errno;
    stop();
    return err;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    const int err = errno;
    stop();
    return err;
  }
  slavePath_ = name;
  slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeeper_ < 0) {
    const int err = errno;
    stop();
    return err;
  }
  // Raw from the start: a cooked slave would echo the simulator's own output
  // back into it and translate CR before anybody has configured the port.
  struct termios tio {};
  if (::tcgetattr(slaveKeeper_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
  }
  termiosSetBaud(slaveKeeper_, 19200);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  running_ = true;
  reader_ = std::thread([this, &world] { readLoop(&world); });
  return 0;
}

void PtyTransport::stop() {
  running_ = false;
  if (reader_.joinable()) reader_.join();
  std::lock_guard lock(ioMutex_);
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
  slaveKeeper_ = master_ = -1;
}

void PtyTransport::readLoop(World* world) {
  char buf[256];
  while (running_) {
    struct pollfd p {master_, POLLIN, 0};
    const int r = ::poll(&p, 1, 100);
    if (r <= 0 || !(p.revents & POLLIN)) continue;
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    LineSettings pc;
    if (readLineSettings(master_, &pc) != 0) continue;
    world->receiveFromPc(std::string(buf, static_cast<std::size_t>(n)), pc, false);
  }
}

bool PtyTransport::pcSettings(LineSettings* out) {
  std::lock_guard lock(ioMutex_);
  return master_ >= 0 && readLineSettings(master_, out) == 0;
}

void PtyTransport::deliver(const std::string& bytes) {
  // Non-blocking: when nobody reads the slave and its queue is full, the rest
  // is lost, as on a line whose receiver is not listening.
  std::lock_guard lock(ioMutex_);
  if (master_ < 0) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace kx::sim
