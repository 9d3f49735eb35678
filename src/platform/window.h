// The window interface: how the core reaches the main window without knowing
// the toolkit. The Qt main window implements it; RecordingWindow implements it
// for tests and the command-line tool.
//
// Threading contract:
// - post() may be called from any thread and never waits.
// - send() and invokeOnUi() may be called from any thread; from the
//   user-interface thread they run the handler directly, from another thread
//   they queue it to the user-interface thread and wait until it has run.
//   A link thread (read or modem-status) must never call them: the
//   user-interface thread may be waiting for that thread.
// - messageBox() may be called from any thread; it is shown on the
//   user-interface thread and the caller waits for the answer.
// - postMessageBox() may be called from any thread, a link thread included,
//   and never waits: the OK box is shown later on the user-interface thread.
// - setTimer()/killTimer() may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

// YesNoDefaultNo: Yes and No with No as the default answer (Enter), for a
// question whose Yes does something that cannot be taken back.
enum class MsgButtons { Ok, YesNo, OkCancel, YesNoDefaultNo };
constexpr bool isYesNo(MsgButtons b) { return b == MsgButtons::YesNo || b == MsgButtons::YesNoDefaultNo; }
enum class MsgResult { Ok, Cancel, Yes, No };
enum class MsgIcon { None, Information, Warning, Error, Question };

class WindowInterface {
 public:
  virtual ~WindowInterface() = default;

  // A notification (NOTIFY_* id) with its value; `text` travels with
  // NOTIFY_STATUS_TEXT.
  virtual void post(int32_t id, int64_t lParam, const std::string& text = {}) = 0;
  virtual void send(int32_t id, int64_t lParam, const std::string& text = {}) = 0;

  // MSG_PROGRESS_SPINNER with the step number, synchronously.
  virtual void sendSpinner(int32_t step) = 0;

  // Repeating timer with a window-timer id (TIMER_*); setting an armed timer
  // again restarts it with the new period.
  virtual void setTimer(int32_t id, int periodMs) = 0;
  virtual void killTimer(int32_t id) = 0;

  virtual MsgResult messageBox(const std::string& text, const std::string& caption,
                               MsgButtons buttons, MsgIcon icon = MsgIcon::None) = 0;

  // An OK box with text, shown on the user-interface thread; nobody waits for
  // it to be dismissed.
  virtual void postMessageBox(const std::string& text) = 0;

  // Runs fn on the user-interface thread and waits for it (see contract).
  virtual void invokeOnUi(const std::function<void()>& fn) = 0;

  // The wait cursor, for operations that block the user-interface thread.
  virtual void setWaitCursor(bool on) = 0;

  // True when called on the user-interface thread.
  virtual bool isUiThread() const = 0;
};

// The main window, target of every notification. Set by the main window at
// start-up (or by a test) before any link is opened; may be null, in which
// case notifications and boxes are dropped (boxes answer Cancel/No/Ok).
extern WindowInterface* mainWindowHandle;

// Convenience wrappers that tolerate a null mainWindowHandle.
void postNotify(int32_t id, int64_t lParam = 0, const std::string& text = {});
void sendNotify(int32_t id, int64_t lParam = 0, const std::string& text = {});
MsgResult showMessageBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                         const std::string& caption = {}, MsgIcon icon = MsgIcon::None);
void postMessageBox(const std::string& text);

// Keeps the lines that appendStatus writes on this thread while it lives, so
// that a box reporting a failure can give the reason the status window has.
// Made and read on one thread (the user-interface thread); they nest.
class StatusLinesSince {
 public:
  StatusLinesSince();
  ~StatusLinesSince();
  StatusLinesSince(const StatusLinesSince&) = delete;
  StatusLinesSince& operator=(const StatusLinesSince&) = delete;

  // The lines kept, each ending in "\n"; progress dots are left out.
  const std::string& text() const { return text_; }

 private:
  friend void appendStatus(const std::string& text);
  std::string text_;
  StatusLinesSince* outer_;
};

// The icon a box of the system's calls for when its caller names none: a
// question where the user decides (Yes/No, OK/Cancel), an error where
// something failed, a warning where a request was refused or cannot be
// carried out yet, information for the rest (a success, a notice).
MsgIcon boxIconFor(std::string_view text, MsgButtons buttons);

// A line in the status window (a lone "." continues the current line),
// shown before this returns. Not for the link threads, which post theirs.
void appendStatus(const std::string& text);

// RAII wait cursor on the main window.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace kx
