#include "platform/recording_window.h"

#include <chrono>

namespace kx {

void RecordingWindow::record(Notification n) {
  handler(n);
  {
    std::lock_guard lock(mutex_);
    notifications_.push_back(std::move(n));
  }
  changed_.notify_all();
}

void RecordingWindow::post(int32_t id, int64_t lParam, const std::string& text) {
  record({id, lParam, text, false});
}

void RecordingWindow::send(int32_t id, int64_t lParam, const std::string& text) {
  record({id, lParam, text, true});
}

void RecordingWindow::sendSpinner(int32_t step) {
  {
    std::lock_guard lock(mutex_);
    spinner_.push_back(step);
  }
  changed_.notify_all();
}

void RecordingWindow::setTimer(int32_t id, int periodMs) {
  {
    std::lock_guard lock(mutex_);
    timers_[id] = periodMs;
  }
  changed_.notify_all();
}

void RecordingWindow::killTimer(int32_t id) {
  {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
  }
  changed_.notify_all();
}

MsgResult RecordingWindow::messageBox(const std::string& text, const std::string& caption,
                                      MsgButtons buttons, MsgIcon) {
  MsgResult answer;
  {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption, buttons});
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    } else {
      answer = isYesNo(buttons) ? MsgResult::Yes : MsgResult::Ok;
    }
  }
  changed_.notify_all();
  return answer;
}

void RecordingWindow::postMessageBox(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, {}, MsgButtons::Ok});
  }
  changed_.notify_all();
}

void RecordingWindow::invokeOnUi(const std::function<void()>& fn) { fn(); }

void RecordingWindow::setWaitCursor(bool) {}

void RecordingWindow::queueAnswer(MsgResult answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<RecordingWindow::Notification> RecordingWindow::notifications() const {
  std::lock_guard lock(mutex_);
  return notifications_;
}

std::vector<RecordingWindow::Box> RecordingWindow::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<int32_t> RecordingWindow::spinnerSteps() const {
  std::lock_guard lock(mutex_);
  return spinner_;
}

std::vector<std::string> RecordingWindow::statusTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& n : notifications_)
    if (n.id == 20001) out.push_back(n.text);
  return out;
}

int RecordingWindow::count(int32_t id) const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const auto& x : notifications_) n += x.id == id;
  return n;
}

bool RecordingWindow::timerArmed(int32_t id) const {
  std::lock_guard lock(mutex_);
  return timers_.count(id) != 0;
}

int RecordingWindow::timerPeriod(int32_t id) const {
  std::lock_guard lock(mutex_);
  auto it = timers_.find(id);
  return it == timers_.end() ? 0 : it->second;
}

void RecordingWindow::clear() {
  std::lock_guard lock(mutex_);
  notifications_.clear();
  boxes_.clear();
  spinner_.clear();
  timers_.clear();
  answers_.clear();
}

bool RecordingWindow::waitFor(const std::function<bool()>& pred, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  while (true) {
    lock.unlock();
    const bool ok = pred();
    lock.lock();
    if (ok) return true;
    // Re-check at least every 50 ms: pred may depend on state other than ours.
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
  }
}

}  // namespace kx
