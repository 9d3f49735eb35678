#include "cli/terminal_window.h"

#include <algorithm>
#include <cctype>

#include "cli/console.h"
#include "common/debug_log.h"
#include "common/notify.h"

namespace kx::cli {

TerminalWindow::TerminalWindow(std::FILE* out, std::FILE* in, bool assumeYes)
    : out_(out), in_(in), assumeYes_(assumeYes) {
  timerThread_ = std::thread([this] { timerLoop(); });
}

TerminalWindow::~TerminalWindow() {
  {
    std::lock_guard lock(timerMutex_);
    stopping_ = true;
  }
  timerChanged_.notify_all();
  timerThread_.join();
}

void TerminalWindow::endProgressLocked() {
  if (!progressShown_) return;
  std::fputs("\r\x1b[K", out_);  // the next line takes the progress line's place
  progressShown_ = false;
}

void TerminalWindow::printLine(const std::string& line) {
  std::lock_guard lock(printMutex_);
  endProgressLocked();
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void TerminalWindow::printProgress(const std::string& line) {
  std::lock_guard lock(printMutex_);
  if (!redrawsLines(out_)) {
    std::fprintf(out_, "%s\n", line.c_str());
  } else {
    std::fprintf(out_, "\r\x1b[K%s", line.c_str());
    progressShown_ = true;
  }
  std::fflush(out_);
}

void TerminalWindow::handle(const Notification& n) {
  if (n.id == NOTIFY_STATUS_TEXT) {
    // The status window's lone "." continues the current line; on a terminal
    // each status text is a line of its own.
    std::lock_guard lock(printMutex_);
    status_.push_back(n.text);
    endProgressLocked();
    std::fprintf(out_, "%s\n", n.text.c_str());
    std::fflush(out_);
    return;
  }
  notificationHandler(n);
}

void TerminalWindow::post(int32_t id, int64_t lParam, const std::string& text) {
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back({Queued::Notice, {id, lParam, text}, 0, 0, nullptr});
  }
  queueChanged_.notify_all();
}

void TerminalWindow::runOnMainThread(const std::function<void()>& fn) {
  if (isUiThread()) {
    fn();
    return;
  }
  Task task{fn};
  std::unique_lock lock(queueMutex_);
  queue_.push_back({Queued::Work, {}, 0, 0, &task});
  queueChanged_.notify_all();
  queueChanged_.wait(lock, [&] { return task.done; });
}

void TerminalWindow::send(int32_t id, int64_t lParam, const std::string& text) {
  runOnMainThread([&] { handle({id, lParam, text}); });
}

void TerminalWindow::sendSpinner(int32_t step) {
  runOnMainThread([&] { spinnerHandler(step); });
}

void TerminalWindow::invokeOnUi(const std::function<void()>& fn) { runOnMainThread(fn); }

void TerminalWindow::processPosted(int timeoutMs) {
  std::deque<Queued> batch;
  {
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !queue_.empty() || woken_; });
    woken_ = false;
    batch.swap(queue_);
  }
  for (const Queued& q : batch) {
    switch (q.kind) {
      case Queued::Notice:
        handle(q.notice);
        break;
      case Queued::TimerExpiry:
        timerExpired(q.timer, q.timerGeneration);
        break;
      case Queued::Work:
        q.task->fn();
        {
          std::lock_guard lock(queueMutex_);
          q.task->done = true;
        }
        queueChanged_.notify_all();
        break;
    }
  }
}

void TerminalWindow::wake() {
  {
    std::lock_guard lock(queueMutex_);
    woken_ = true;
  }
  queueChanged_.notify_all();
}

// ------------------------------------------------------------------ timers

void TerminalWindow::setTimer(int32_t id, int periodMs) {
  {
    std::lock_guard lock(timerMutex_);
    const int period = std::max(1, periodMs);
    // An expiry of the timer as it was set before is not handled.
    timers_[id] = {period, Clock::now() + std::chrono::milliseconds(period), ++timerGenerations_};
  }
  timerChanged_.notify_all();
}

void TerminalWindow::killTimer(int32_t id) {
  {
    std::lock_guard lock(timerMutex_);
    timers_.erase(id);
  }
  timerChanged_.notify_all();
}

bool TerminalWindow::timerArmed(int32_t id) const {
  std::lock_guard lock(timerMutex_);
  return timers_.count(id) != 0;
}

void TerminalWindow::timerLoop() {
  std::unique_lock lock(timerMutex_);
  while (!stopping_) {
    if (timers_.empty()) {
      timerChanged_.wait(lock);
      continue;
    }
    auto next = timers_.begin();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.due < next->second.due) next = it;
    if (Clock::now() < next->second.due) {
      // A copy: while this waits, another thread may kill the timer and its
      // map entry with it.
      const Clock::time_point due = next->second.due;
      timerChanged_.wait_until(lock, due);
      continue;  // re-examine: the timers may have changed
    }
    // Window timers repeat until killed (the handler usually kills it); an
    // expiry not yet handled is not queued again.
    const int32_t id = next->first;
    const uint64_t generation = next->second.generation;
    next->second.due = Clock::now() + std::chrono::milliseconds(next->second.periodMs);
    if (next->second.queued) continue;
    next->second.queued = true;
    lock.unlock();
    {
      std::lock_guard queue(queueMutex_);
      queue_.push_back({Queued::TimerExpiry, {}, id, generation, nullptr});
    }
    queueChanged_.notify_all();
    lock.lock();
  }
}

void TerminalWindow::timerExpired(int32_t id, uint64_t generation) {
  {
    std::lock_guard lock(timerMutex_);
    const auto timer = timers_.find(id);
    // Killed (or set anew) since it expired: Windows drops such an expiry.
    if (timer == timers_.end() || timer->second.generation != generation) return;
    timer->second.queued = false;
  }
  timerHandler(id);
}

// ------------------------------------------------------------------ boxes

MsgResult TerminalWindow::ask(MsgButtons buttons) {
  const bool yesNo = isYesNo(buttons);
  const MsgResult positive = yesNo ? MsgResult::Yes : MsgResult::Ok;
  const MsgResult negative = yesNo ? MsgResult::No : MsgResult::Cancel;
  const char* question = yesNo ? "[Y]es / [N]o? " : "Press Enter for OK, or type c for Cancel: ";
  if (assumeYes_) {
    print((std::string(question) + (yesNo ? "Yes" : "OK") + " (--yes)\n").c_str());
    return positive;
  }
  while (true) {
    print(question);
    std::string line;
    bool eof = in_ == nullptr;
    while (!eof) {
      if (cancel_ && cancel_->load()) {
        print("\n");
        return negative;
      }
      if (waitForInput(in_, 100) == 0) continue;
      char c;
      if (readInputByte(in_, &c) <= 0) {
        eof = true;
        break;
      }
      if (c == '\n') break;
      if (c != '\r') line += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (eof && line.empty()) {
      // Nobody to answer: a question without an answer is a refusal.
      print(yesNo ? "(no input: No)\n" : "(no input: Cancel)\n");
      return negative;
    }
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t") + 1);
    if (yesNo) {
      if (line == "y" || line == "yes") return positive;
      if (line == "n" || line == "no") return negative;
    } else {
      if (line.empty() || line == "ok" || line == "o" || line == "y" || line == "yes")
        return positive;
      if (line == "c" || line == "cancel" || line == "n" || line == "no") return negative;
    }
    if (eof) return negative;
  }
}

MsgResult TerminalWindow::messageBox(const std::string& text, const std::string& caption,
                                     MsgButtons buttons, MsgIcon) {
  debugLog("CLI: message box: %s", text.c_str());
  // Questions are asked one at a time; the output lock is only held while
  // printing, so that the read thread's event lines never wait for an answer.
  std::unique_lock asking(askMutex_, std::defer_lock);
  if (buttons != MsgButtons::Ok) asking.lock();
  printLine(caption.empty() ? text : caption + ": " + text);
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  const MsgResult answer = ask(buttons);
  if (answer == MsgResult::Cancel || answer == MsgResult::No) refused_ = true;
  return answer;
}

void TerminalWindow::postMessageBox(const std::string& text) {
  debugLog("CLI: message box: %s", text.c_str());
  printLine(text);
}

void TerminalWindow::print(const char* text) {
  std::lock_guard lock(printMutex_);
  endProgressLocked();
  std::fputs(text, out_);
  std::fflush(out_);
}

void TerminalWindow::forgetStatusTexts() {
  std::lock_guard lock(printMutex_);
  status_.clear();
}

std::vector<std::string> TerminalWindow::statusTexts() const {
  std::lock_guard lock(printMutex_);
  return status_;
}

bool TerminalWindow::sawStatus(const std::string& text) const {
  std::lock_guard lock(printMutex_);
  return std::find(status_.begin(), status_.end(), text) != status_.end();
}

}  // namespace kx::cli
