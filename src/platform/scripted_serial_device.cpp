#include "platform/scripted_serial_device.h"

#include <cerrno>
#include <chrono>

namespace kx {

void ScriptedPort::feed(const std::string& bytes) {
  {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }
  cv_.notify_all();
}

std::string ScriptedPort::takeWritten() {
  std::lock_guard lock(mutex_);
  std::string out;
  out.swap(written_);
  return out;
}

bool ScriptedPort::waitWritten(std::size_t n, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return written_.size() >= n; });
}

void ScriptedPort::setModemBits(uint32_t bits) {
  std::lock_guard lock(mutex_);
  modemBits_ = bits;
}

void ScriptedPort::hangUp() {
  {
    std::lock_guard lock(mutex_);
    hungUp_ = true;
  }
  cv_.notify_all();
}

void ScriptedPort::failOpenWith(int err) {
  std::lock_guard lock(mutex_);
  openError_ = err;
}

LineSettings ScriptedPort::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}
int ScriptedPort::configureCount() const {
  std::lock_guard lock(mutex_);
  return configureCount_;
}
int ScriptedPort::purgeCount() const {
  std::lock_guard lock(mutex_);
  return purgeCount_;
}
bool ScriptedPort::dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}
bool ScriptedPort::rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}
bool ScriptedPort::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}
std::string ScriptedPort::openedPath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

int ScriptedSerialDevice::open(const std::string& path) {
  std::lock_guard lock(port_->mutex_);
  if (port_->openError_) return port_->openError_;
  if (port_->open_) return EBUSY;
  port_->open_ = true;
  port_->interrupted_ = false;
  port_->path_ = path;
  return 0;
}

void ScriptedSerialDevice::close() {
  {
    std::lock_guard lock(port_->mutex_);
    port_->open_ = false;
    port_->interrupted_ = false;
  }
  port_->cv_.notify_all();
}

bool ScriptedSerialDevice::isOpen() const { return port_->isOpen(); }

int ScriptedSerialDevice::configure(const LineSettings& settings) {
  std::lock_guard lock(port_->mutex_);
  if (!SerialDevice::isSupportedBaud(settings.baud)) return EINVAL;
  port_->settings_ = settings;
  ++port_->configureCount_;
  return 0;
}

LineSettings ScriptedSerialDevice::settings() const { return port_->settings(); }

int ScriptedSerialDevice::read(uint8_t* buffer, std::size_t capacity, int timeoutMs,
                               std::size_t* got) {
  *got = 0;
  std::unique_lock lock(port_->mutex_);
  port_->cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return !port_->input_.empty() || port_->hungUp_ || !port_->open_ || port_->interrupted_;
  });
  if (port_->interrupted_) {
    port_->interrupted_ = false;
    return 0;
  }
  if (!port_->input_.empty()) {
    while (*got < capacity && !port_->input_.empty()) {
      buffer[(*got)++] = port_->input_.front();
      port_->input_.pop_front();
    }
    return 0;
  }
  if (port_->hungUp_) return ENODEV;
  return 0;
}

void ScriptedSerialDevice::interruptRead() {
  {
    std::lock_guard lock(port_->mutex_);
    port_->interrupted_ = true;
  }
  port_->cv_.notify_all();
}

int ScriptedSerialDevice::write(const uint8_t* data, std::size_t length, int) {
  std::string chunk(reinterpret_cast<const char*>(data), length);
  {
    std::lock_guard lock(port_->mutex_);
    if (port_->hungUp_) return EIO;
    port_->written_ += chunk;
  }
  port_->cv_.notify_all();
  port_->writeObserver(chunk);
  return 0;
}

int ScriptedSerialDevice::purge(bool input, bool) {
  std::lock_guard lock(port_->mutex_);
  ++port_->purgeCount_;
  if (input) port_->input_.clear();
  return 0;
}

int ScriptedSerialDevice::modemStatus(uint32_t* bits) {
  std::lock_guard lock(port_->mutex_);
  *bits = port_->modemBits_;
  return 0;
}

int ScriptedSerialDevice::setDtr(bool on) {
  std::lock_guard lock(port_->mutex_);
  port_->dtr_ = on;
  return 0;
}

int ScriptedSerialDevice::setRts(bool on) {
  std::lock_guard lock(port_->mutex_);
  port_->rts_ = on;
  return 0;
}

void useScriptedPort(const std::shared_ptr<ScriptedPort>& port) {
  serialDeviceFactory = [port] { return std::make_unique<ScriptedSerialDevice>(port); };
}

}  // namespace kx
