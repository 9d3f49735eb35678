// Shared by the fuzz targets: a check that stops the run with a message
// (libFuzzer then saves the input that broke it), the record invariants every
// harness checks after each input, and the stand-ins that let a harness
// drive the command engine on one thread: a window that only records, a page
// that keeps nothing, and a serial device whose writes are answered at once,
// inside the write.
#pragma once

#include <cstdio>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/form.h"
#include "platform/serial_device.h"
#include "platform/window.h"

namespace kx::fuzz {

// Stops the process with `what`.
[[noreturn]] void fail(const std::string& what);

// Stops the process with `what` when `ok` is false. For a message that costs
// something to build use KX_FUZZ_REQUIRE, which builds it only on failure.
inline void require(bool ok, const char* what) {
  if (!ok) fail(what);
}
#define KX_FUZZ_REQUIRE(ok, what)      \
  do {                                 \
    if (!(ok)) ::kx::fuzz::fail(what); \
  } while (false)

// Every fixed-size text field of the global records (and of the last
// settings file read) holds its NUL within its capacity; the counters and
// indices stay inside their arrays; the inquiry keeps at most 10 results.
// Takes each record's lock.
void checkRecordInvariants();

// The oracles' own model of the adapter's lines, written apart from the
// framers so that a harness checks them against it. `text` is a line
// without its framing CR LF.
// An event line: "CONNECT", one blank and a quoted address or " Attempt
// Fail!!"; or "DISCONNECT" and an address (quoted, or bare after blanks).
// An address is 12 hex digits, hyphens or colons between them.
bool modelIsEventLine(std::string_view text, bool* disconnect = nullptr);
// An address in the adapter's 4-2-6 form, standing as a word of its own.
bool modelHasDeviceAddress(std::string_view text);

// Silences the debug log and sets the clock scale so low that every fixed
// wait of the system (settle times, guard silences) takes no time at all.
void quietStartup();

// The input as a read-only stream (fclose it after use); never null. The
// stream reads through `buffer`, which must outlive it: a harness keeps one
// for all its inputs, where stdio would allocate 8 KiB for each (which the
// sanitizer fills, and quarantines when it is freed).
std::FILE* inputAsFile(const uint8_t* data, std::size_t size, std::span<char> buffer);

// A main window that records what reaches it, cheaply: notifications in
// order, message box texts, armed timers. Boxes are answered Ok, Yes or Ok;
// invokeOnUi runs on the caller's thread.
class FuzzWindow : public WindowInterface {
 public:
  struct Notification {
    int32_t id;
    int64_t lParam;
    std::string text;
  };

  void post(int32_t id, int64_t lParam, const std::string& text) override;
  void send(int32_t id, int64_t lParam, const std::string& text) override;
  void sendSpinner(int32_t) override {}
  void setTimer(int32_t id, int periodMs) override;
  void killTimer(int32_t id) override;
  MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  void postMessageBox(const std::string& text) override;
  void invokeOnUi(const std::function<void()>& fn) override { fn(); }
  void setWaitCursor(bool) override {}
  bool isUiThread() const override { return true; }

  // Runs for every send(), as the main window handles it (before it is
  // recorded).
  void setSendHandler(std::function<void(const Notification&)> handler) {
    sendHandler_ = std::move(handler);
  }

  // With recording off, notifications and boxes are only counted and folded
  // into digest(), no copy kept: for a harness that compares what reached
  // the window and needs the texts only to report a difference.
  void setRecording(bool on) { recording_ = on; }
  // With digesting off as well they are only counted: for a harness that
  // looks at no text (a parser's status lines run to kilobytes).
  void setDigesting(bool on) { digesting_ = on; }

  void clear();
  const std::vector<Notification>& notifications() const { return notifications_; }
  const std::vector<std::string>& boxes() const { return boxes_; }
  // Every notification and box since clear(), in order: how many, and (while
  // digesting) a hash of their ids, values and texts.
  std::size_t received() const { return received_; }
  // Boxes since clear(), counted with recording on or off.
  std::size_t boxCount() const { return boxCount_; }
  uint64_t digest() const { return digest_; }
  // "id:period" of every armed timer, in id order.
  std::string timers() const;

 private:
  static constexpr uint64_t kDigestStart = 14695981039346656037ull;  // FNV-1a
  void fold(int64_t value, const std::string& text);

  bool recording_ = true;
  bool digesting_ = true;
  std::vector<Notification> notifications_;
  std::vector<std::string> boxes_;
  std::size_t received_ = 0;
  std::size_t boxCount_ = 0;
  uint64_t digest_ = kDigestStart;
  std::vector<std::pair<int32_t, int>> timers_;
  std::function<void(const Notification&)> sendHandler_;
};

// A page that takes every write and keeps nothing: for harnesses whose page
// is only written (by the answers' application), never read.
class NullForm : public FormInterface {
 public:
  std::string text(int) const override { return {}; }
  void setText(int, const std::string&) override {}
  bool checked(int) const override { return false; }
  void setChecked(int, bool) override {}
  int selection(int) const override { return -1; }
  void setSelection(int, int) override {}
  int rowCount(int) const override { return 0; }
  std::string rowText(int, int) const override { return {}; }
  void addRow(int, const std::string&) override {}
  void clearRows(int) override {}
  bool enabled(int) const override { return true; }
  void setEnabled(int, bool) override {}
};

// A serial device with no line behind it: every write is handed to `answer`
// on the writing thread, which replies by feeding the receive path as the
// read thread would, before the write returns. Reads find nothing; the line
// settings are kept as configured.
class LoopbackAdapter : public SerialDevice {
 public:
  using Answer = std::function<void(const uint8_t* data, std::size_t length)>;
  explicit LoopbackAdapter(Answer answer) : answer_(std::move(answer)) {}

  int open(const std::string&) override { return 0; }
  void close() override {}
  bool isOpen() const override { return true; }
  int configure(const LineSettings& settings) override;
  LineSettings settings() const override { return settings_; }
  int read(uint8_t*, std::size_t, int, std::size_t* got) override;
  void interruptRead() override {}
  int write(const uint8_t* data, std::size_t length, int) override;
  int purge(bool, bool) override { return 0; }
  int modemStatus(uint32_t* bits) override;
  int setDtr(bool) override { return 0; }
  int setRts(bool) override { return 0; }

 private:
  Answer answer_;
  LineSettings settings_;
};

}  // namespace kx::fuzz
