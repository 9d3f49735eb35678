// A SerialDevice in memory: a test (or the simulator's in-process transport)
// feeds the bytes the port receives, collects what the program wrote, sets
// the modem lines and can make the device vanish. It carries everything a
// pseudo-terminal cannot: full parity, DSR and CTS, DTR and RTS.
//
// All members are safe to call from any thread. The object is shared: the
// serial link owns one handle, the test another (see share()).
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/hook.h"
#include "platform/serial_device.h"

namespace kx {

class ScriptedSerialDevice;

// The state behind a scripted device; a test keeps a shared_ptr to it and
// installs a factory that hands the serial link a device on it.
class ScriptedPort {
 public:
  // Bytes for the program to read.
  void feed(const std::string& bytes);
  // Everything the program has written so far, taken out.
  std::string takeWritten();
  // Waits until the program has written at least n bytes in total since the
  // last takeWritten(); true when it did.
  bool waitWritten(std::size_t n, int timeoutMs);
  void setModemBits(uint32_t bits);
  // The other end goes away: reads report ENODEV, writes fail with EIO.
  void hangUp();
  // Opens fail with this errno (0 = succeed).
  void failOpenWith(int err);
  // Called with every write, on the writer's thread, after it was stored.
  Hook<void(const std::string&)> writeObserver;

  LineSettings settings() const;
  int configureCount() const;
  int purgeCount() const;
  bool dtr() const;
  bool rts() const;
  bool isOpen() const;
  std::string openedPath() const;

 private:
  friend class ScriptedSerialDevice;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<uint8_t> input_;
  std::string written_;
  uint32_t modemBits_ = 0;
  bool hungUp_ = false;
  bool open_ = false;
  bool interrupted_ = false;
  int openError_ = 0;
  LineSettings settings_;
  int configureCount_ = 0;
  int purgeCount_ = 0;
  bool dtr_ = false;
  bool rts_ = false;
  std::string path_;
};

class ScriptedSerialDevice : public SerialDevice {
 public:
  explicit ScriptedSerialDevice(std::shared_ptr<ScriptedPort> port) : port_(std::move(port)) {}

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
  std::shared_ptr<ScriptedPort> port_;
};

// Installs a serial-device factory that opens devices on `port`.
void useScriptedPort(const std::shared_ptr<ScriptedPort>& port);

}  // namespace kx
