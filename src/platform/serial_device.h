// The serial device: one open port with its line settings, reads with a
// timeout, writes, purge, modem lines. PosixSerialDevice implements it over
// termios, Win32SerialDevice (platform/win32_serial_device.h) over the Win32
// comm API; the simulator's in-process transport implements it for tests
// that need parity or modem lines, which a pseudo-terminal cannot carry.
//
// Threading contract: one thread may be inside read() while another is inside
// write(), purge(), modemStatus(), setDtr()/setRts() or interruptRead();
// configure() may run concurrently with a read. open() and close() are called
// only while no other thread uses the device.
//
// Every call returns 0 on success or an errno value on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/hook.h"

namespace kx {

enum class Parity { None, Odd, Even };

struct LineSettings {
  int baud = 19200;
  Parity parity = Parity::None;
  int stopBits = 1;       // 1 or 2
  bool rtsCts = false;    // hardware flow control
};

// Modem status bits, as the platform reports them.
constexpr uint32_t MODEM_CTS_ON = 0x10;
constexpr uint32_t MODEM_DSR_ON = 0x20;

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens the port for exclusive use. EBUSY when another program holds it.
  virtual int open(const std::string& path) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  virtual int configure(const LineSettings& settings) = 0;
  // The settings last applied (what the port runs with).
  virtual LineSettings settings() const = 0;

  // Waits up to timeoutMs for input, then returns what is there (up to
  // capacity) in *got, 0 bytes on timeout or when interrupted. ENODEV when
  // the other end has gone (an unplugged adapter), EIO or another errno on a
  // read error. Input that vanished between the wait and the read (a purge
  // from another thread) is 0 bytes, not an error.
  virtual int read(uint8_t* buffer, std::size_t capacity, int timeoutMs, std::size_t* got) = 0;

  // Makes a read() waiting on another thread return at once with 0 bytes; if
  // no read is waiting, the next one returns at once. This is how the reader
  // is woken without anyone waiting for it.
  virtual void interruptRead() = 0;

  // Writes all bytes or fails; waits up to timeoutMs for the line to take them.
  virtual int write(const uint8_t* data, std::size_t length, int timeoutMs) = 0;

  virtual int purge(bool input, bool output) = 0;
  virtual int modemStatus(uint32_t* bits) = 0;
  virtual int setDtr(bool on) = 0;
  virtual int setRts(bool on) = 0;

  // Speeds every platform's device programs; others are refused with EINVAL,
  // so that a speed works everywhere or nowhere.
  static bool isSupportedBaud(int baud);
};

// Creates the device the serial link opens. Normally the platform's own
// (createNativeSerialDevice); a test or program may install its own factory
// (null restores the default).
extern Hook<std::unique_ptr<SerialDevice>()> serialDeviceFactory;
std::unique_ptr<SerialDevice> createSerialDevice();
std::unique_ptr<SerialDevice> createNativeSerialDevice();

// The system's text for an errno value ("Permission denied"). The Windows
// device maps its errors onto the same errno values, so the texts below serve
// both platforms.
std::string errnoText(int err);

// Why `port` could not be opened, as one sentence for the user: no such port,
// not a serial port, in use by another program (which, where the system
// tells), no permission (and how to get it), or the system's own text. `err`
// is what open() or configure() returned.
std::string openFailureReason(int err, const std::string& port);

// The other programs that hold `port` open, as "minicom (process 1234)",
// joined by ", "; empty when there are none or the system does not tell.
std::string portHolders(const std::string& port);
// What a user does about a port this platform refuses to open for them.
std::string permissionHint(const std::string& port);

class PosixSerialDevice : public SerialDevice {
 public:
  PosixSerialDevice() = default;
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  int open(const std::string& path) override;
  void close() override;
  bool isOpen() const override;
  int configure(const LineSettings& settings) override;
  LineSettings settings() const override;
  int read(uint8_t* buffer, std::size_t capacity, int timeoutMs, std::size_t* got) override;
  void interruptRead() override;
  int write(const uint8_t* data, std::size_t length, int timeoutMs) override;
  int purge(bool input, bool output) override;
  int modemStatus(uint32_t* bits) override;
  int setDtr(bool on) override;
  int setRts(bool on) override;

 private:
  int modemLine(int bit, bool on);

  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd in the read's poll set; interruptRead() signals it
  LineSettings settings_;
};

}  // namespace kx
