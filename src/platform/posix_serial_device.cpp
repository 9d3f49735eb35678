#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/serial_device.h"
#include "platform/termios_baud.h"

namespace kx {

std::unique_ptr<SerialDevice> createNativeSerialDevice() {
  return std::make_unique<PosixSerialDevice>();
}

std::string errnoText(int err) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not be buf.
  return std::string(strerror_r(err, buf, sizeof buf));
}

PosixSerialDevice::~PosixSerialDevice() { close(); }

int PosixSerialDevice::open(const std::string& path) {
  if (fd_ >= 0) return EBUSY;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // TIOCEXCL refuses later opens by other processes, but root bypasses it and
  // it races with a concurrent open; flock() closes both gaps for programs
  // that lock too (as serial tools conventionally do).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return err;
  }
  if (::isatty(fd) && ::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  // Raw 8-bit bytes both ways: no line editing, no CR/LF translation, no echo.
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    const int err = errno;
    ::close(fd);
    return err;
  }
  fd_ = fd;
  wakeFd_ = wake;
  return 0;
}

void PosixSerialDevice::close() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  ::close(wakeFd_);
  fd_ = -1;
  wakeFd_ = -1;
}

bool PosixSerialDevice::isOpen() const { return fd_ >= 0; }

int PosixSerialDevice::configure(const LineSettings& s) {
  if (fd_ < 0) return EBADF;
  if (!isSupportedBaud(s.baud)) return EINVAL;
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return errno;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8;
  if (s.parity != Parity::None) {
    tio.c_cflag |= PARENB;
    if (s.parity == Parity::Odd) tio.c_cflag |= PARODD;
    tio.c_iflag |= INPCK;
  }
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  if (s.rtsCts) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    // Linux refuses with EINVAL a request of which it can honour nothing new.
    // A pseudo-terminal cannot hold PARENB, so asking it again for the parity
    // it already shows fails although the line is as requested: accept that.
    const int err = errno;
    termios now{};
    if (err != EINVAL || !(tio.c_cflag & PARENB) || ::tcgetattr(fd_, &now) != 0 ||
        (now.c_cflag | PARENB) != (tio.c_cflag | PARENB))
      return err;
  }
  if (const int err = termiosSetBaud(fd_, s.baud)) return err;
  settings_ = s;
  return 0;
}

LineSettings PosixSerialDevice::settings() const { return settings_; }

int PosixSerialDevice::read(uint8_t* buffer, std::size_t capacity, int timeoutMs,
                            std::size_t* got) {
  *got = 0;
  if (fd_ < 0) return EBADF;
  pollfd pfd[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  int rc;
  do {
    rc = ::poll(pfd, 2, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return errno;
  if (pfd[1].revents & POLLIN) {
    uint64_t wakes = 0;
    (void)!::read(wakeFd_, &wakes, sizeof wakes);
    return 0;
  }
  if (rc == 0) return 0;
  if (pfd[0].revents & POLLIN) {
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n > 0) {
      *got = static_cast<std::size_t>(n);
      return 0;
    }
    // In raw mode (VMIN = VTIME = 0) read() gives 0 when the queue is empty:
    // a purge on another thread can empty it between poll() and read(). Only
    // a hang-up reported with it means the other end has gone.
    if (n == 0) return (pfd[0].revents & POLLHUP) ? ENODEV : 0;
    if (errno == EAGAIN || errno == EINTR) return 0;
    return errno == EIO || errno == ENXIO ? ENODEV : errno;
  }
  // POLLHUP without data: the other end has gone (a pty whose master closed,
  // a USB adapter pulled out).
  if (pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return ENODEV;
  return 0;
}

void PosixSerialDevice::interruptRead() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

int PosixSerialDevice::write(const uint8_t* data, std::size_t length, int timeoutMs) {
  if (fd_ < 0) return EBADF;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd_, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return ETIMEDOUT;
    pollfd pfd{fd_, POLLOUT, 0};
    if (::poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return errno;
    if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return EIO;
  }
  return 0;
}

int PosixSerialDevice::purge(bool input, bool output) {
  if (fd_ < 0) return EBADF;
  const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  if (!input && !output) return 0;
  return ::tcflush(fd_, which) == 0 ? 0 : errno;
}

int PosixSerialDevice::modemStatus(uint32_t* bits) {
  *bits = 0;
  if (fd_ < 0) return EBADF;
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) != 0) return errno;
  if (lines & TIOCM_CTS) *bits |= MODEM_CTS_ON;
  if (lines & TIOCM_DSR) *bits |= MODEM_DSR_ON;
  return 0;
}

int PosixSerialDevice::modemLine(int bit, bool on) {
  if (fd_ < 0) return EBADF;
  return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : errno;
}

int PosixSerialDevice::setDtr(bool on) { return modemLine(TIOCM_DTR, on); }
int PosixSerialDevice::setRts(bool on) { return modemLine(TIOCM_RTS, on); }

}  // namespace kx
