// The serial device on Windows: a COM port through the Win32 comm API, opened
// for overlapped I/O with no sharing.
//
// Reads wait for EV_RXCHAR (WaitCommEvent) together with the interrupt
// event, then take the queued count from ClearCommError and read that many
// bytes with read time-outs of MAXDWORD/0/0 (return at once with what is
// there). This works alike on Windows and under Wine, where a ReadFile with
// a total time-out either never completes or ends with ERROR_TIMEOUT.
//
// Errors are reported as the errno values the POSIX device gives for the
// same condition: ENOENT no such port, EBUSY held by another program, ENOTTY
// not a serial port or a line function the driver lacks, ENODEV the device
// went away, ETIMEDOUT a write the line did not take in time.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace kx {

class Win32SerialDevice : public SerialDevice {
 public:
  Win32SerialDevice();
  ~Win32SerialDevice() override;
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  // `port` is a port name ("COM3", "COM12") or a Win32 device path.
  int open(const std::string& port) override;
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

  // The path CreateFile opens for a port name: "COM3" -> "\\.\COM3" (the
  // only form that reaches COM10 and above); anything else unchanged.
  static std::string devicePath(const std::string& port);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace kx
