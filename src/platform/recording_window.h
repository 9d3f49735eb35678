// A WindowInterface without a toolkit: it records every notification, timer
// and message box, answers boxes from a script, and runs invokeOnUi on the
// calling thread. Used by the core tests and by programs without a window.
// All members are safe to call from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/hook.h"
#include "platform/window.h"

namespace kx {

class RecordingWindow : public WindowInterface {
 public:
  struct Notification {
    int32_t id;
    int64_t lParam;
    std::string text;
    bool sent;  // true for send(), false for post()
  };
  struct Box {
    std::string text;
    std::string caption;
    MsgButtons buttons;
  };

  void post(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void send(int32_t id, int64_t lParam, const std::string& text = {}) override;
  void sendSpinner(int32_t step) override;
  void setTimer(int32_t id, int periodMs) override;
  void killTimer(int32_t id) override;
  MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon = MsgIcon::None) override;
  void postMessageBox(const std::string& text) override;
  void invokeOnUi(const std::function<void()>& fn) override;
  void setWaitCursor(bool on) override;
  bool isUiThread() const override { return true; }

  // Answers for the next message boxes, in order; when none is queued a box
  // is answered Ok (OK box), Yes (Yes/No) or Ok (OK/Cancel).
  void queueAnswer(MsgResult answer);
  // Called for every notification as it arrives (before it is recorded), on
  // the sender's thread.
  Hook<void(const Notification&)> handler;

  std::vector<Notification> notifications() const;
  std::vector<Box> boxes() const;
  std::vector<int32_t> spinnerSteps() const;
  std::vector<std::string> statusTexts() const;  // texts of NOTIFY_STATUS_TEXT
  int count(int32_t id) const;
  bool timerArmed(int32_t id) const;
  int timerPeriod(int32_t id) const;  // 0 when not armed
  void clear();

  // Waits up to timeoutMs until pred() holds (checked after every recorded
  // event); true when it did.
  bool waitFor(const std::function<bool()>& pred, int timeoutMs);

 private:
  void record(Notification n);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> notifications_;
  std::vector<Box> boxes_;
  std::vector<int32_t> spinner_;
  std::map<int32_t, int> timers_;
  std::deque<MsgResult> answers_;
};

}  // namespace kx
