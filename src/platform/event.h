// A manual-reset event: once set it stays set, releasing every waiter, until
// it is reset. Safe to use from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kx {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}

  void set() {
    {
      std::lock_guard lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }

  void reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
  }

  bool isSet() const {
    std::lock_guard lock(mutex_);
    return set_;
  }

  // Waits until the event is set or timeoutMs passes; true when set.
  bool wait(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
  }

  void waitForever() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;
};

}  // namespace kx
