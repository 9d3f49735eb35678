// The command-line tool's window: a WindowInterface on a terminal. Status
// lines and message boxes are printed to the error stream; OK/Cancel and
// Yes/No questions are asked on the input stream (or answered yes by
// --yes). As in the window, one thread does the user-interface thread's
// work: the thread that made the TerminalWindow (the program's main thread),
// in processPosted().
//
// Threading contract: every member may be called from any thread. Printing
// is serialised by one lock, so lines never mix; questions by another, which
// printing never waits for (the read thread's event lines go out while a
// question waits for its answer). Notifications posted are queued for the
// main thread; sent ones, invokeOnUi() and the spinner run at once on the
// main thread and, from another thread, are queued and waited for (a link
// thread must not send, as in the window). Timer expiries are queued too, at
// most one per timer, and a timer killed before its expiry is handled stays
// quiet; the timer thread never runs a handler.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/hook.h"
#include "platform/window.h"

namespace kx::cli {

class TerminalWindow : public WindowInterface {
 public:
  struct Notification {
    int32_t id;
    int64_t lParam;
    std::string text;
  };

  // `out` receives status lines, boxes and questions; answers are read from
  // `in`. With assumeYes every question is answered OK/Yes without reading.
  TerminalWindow(std::FILE* out, std::FILE* in, bool assumeYes);
  ~TerminalWindow() override;
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  void post(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void send(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void sendSpinner(int32_t step) override;
  void setTimer(int32_t id, int periodMs) override;
  void killTimer(int32_t id) override;
  MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon = MsgIcon::None) override;
  void postMessageBox(const std::string& text) override;
  void invokeOnUi(const std::function<void()>& fn) override;
  void setWaitCursor(bool) override {}
  bool isUiThread() const override { return std::this_thread::get_id() == owner_; }

  // Handlers for everything but status texts (which are printed). Set before
  // the link opens.
  Hook<void(const Notification&)> notificationHandler;
  Hook<void(int32_t id)> timerHandler;
  // Called with each spinner step (the settings search's progress).
  Hook<void(int32_t step)> spinnerHandler;

  // While *flag is true a question being asked is answered Cancel/No (the
  // user pressed Ctrl-C).
  void setCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }

  // Handles queued posts, timer expiries and work handed over from other
  // threads; waits up to timeoutMs for one when none is queued. Main thread.
  void processPosted(int timeoutMs);
  // Wakes a processPosted() that is waiting.
  void wake();

  bool timerArmed(int32_t id) const;
  // True once a question has been answered Cancel or No.
  bool questionRefused() const { return refused_.load(); }
  // Status texts printed so far (in order).
  std::vector<std::string> statusTexts() const;
  // Forgets the status texts printed so far (a station between units).
  void forgetStatusTexts();
  bool sawStatus(const std::string& text) const;
  // Prints one line to the error stream under the output lock.
  void printLine(const std::string& line);
  // On a terminal: one line that each call rewrites in place (the next
  // ordinary line replaces it). Elsewhere: an ordinary line.
  void printProgress(const std::string& line);

 private:
  // Work for the main thread, in the order it was queued.
  struct Task {
    std::function<void()> fn;
    bool done = false;  // queueMutex_
  };
  struct Queued {
    enum Kind { Notice, TimerExpiry, Work } kind;
    Notification notice;
    int32_t timer = 0;
    uint64_t timerGeneration = 0;  // the setTimer it came from
    Task* task = nullptr;          // the waiting caller's
  };
  void handle(const Notification& n);
  void runOnMainThread(const std::function<void()>& fn);
  void timerExpired(int32_t id, uint64_t generation);
  void timerLoop();
  MsgResult ask(MsgButtons buttons);
  void print(const char* text);

  std::FILE* out_;
  std::FILE* in_;
  const bool assumeYes_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::atomic<bool> refused_{false};

  std::mutex askMutex_;            // one question at a time
  mutable std::mutex printMutex_;  // output and the status list
  bool progressShown_ = false;     // a progress line stands unfinished; printMutex_
  void endProgressLocked();
  std::vector<std::string> status_;


  const std::thread::id owner_ = std::this_thread::get_id();

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<Queued> queue_;
  bool woken_ = false;

  using Clock = std::chrono::steady_clock;
  struct Timer {
    int periodMs;
    Clock::time_point due;
    uint64_t generation;  // which setTimer this is
    bool queued = false;  // an expiry waits in queue_
  };
  uint64_t timerGenerations_ = 0;
  mutable std::mutex timerMutex_;
  std::condition_variable timerChanged_;
  std::map<int32_t, Timer> timers_;
  bool stopping_ = false;
  std::thread timerThread_;
};

}  // namespace kx::cli
