// The command-line tool's window: status lines and boxes printed, questions
// answered from the input (or --yes, or refused on Ctrl-C and at end of
// input), posts queued for the main thread, and the timer thread firing a
// repeating window timer until it is killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/terminal_window.h"
#include "common/notify.h"
#include "support/temp_dir.h"

namespace {

using kx::MsgButtons;
using kx::MsgResult;
using kx::cli::TerminalWindow;

// A pipe standing for the terminal's input, and a file for its error stream
// (binary: the same bytes on every system).
struct Terminal {
  Terminal() {
    int fds[2];
#ifdef _WIN32
    EXPECT_EQ(::_pipe(fds, 4096, _O_BINARY), 0);
#else
    EXPECT_EQ(::pipe(fds), 0);
#endif
    in = ::fdopen(fds[0], "r");
    writeFd = fds[1];
    out = std::fopen(outPath.c_str(), "w+b");
  }
  ~Terminal() {
    if (writeFd >= 0) ::close(writeFd);
    std::fclose(in);
    std::fclose(out);
  }
  void type(const std::string& text) { ASSERT_EQ(::write(writeFd, text.data(), text.size()), static_cast<ssize_t>(text.size())); }
  void endInput() {
    ::close(writeFd);
    writeFd = -1;
  }
  // Waits until `text` has been printed, reading the file on its own (the
  // window may be printing on another thread).
  bool waitPrinted(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (kx::test::readFile(outPath).find(text) != std::string::npos) return true;
      std::this_thread::yield();
    }
    return false;
  }
  std::string printed() {
    std::fflush(out);
    return kx::test::readFile(outPath);
  }
  kx::test::TempDir dir;
  const std::string outPath = dir.file("terminal.txt");
  FILE* in;
  FILE* out;
  int writeFd;
};

TEST(CliTerminalWindow, PrintsStatusLinesAndBoxes) {
  Terminal t;
  TerminalWindow w(t.out, t.in, false);
  w.send(kx::NOTIFY_STATUS_TEXT, 0, "Reading Device Settings...");
  EXPECT_EQ(w.messageBox("Pairing completed successfully", "", MsgButtons::Ok), MsgResult::Ok);
  EXPECT_EQ(w.messageBox("text", "Caption", MsgButtons::Ok), MsgResult::Ok);
  EXPECT_EQ(t.printed(), "Reading Device Settings...\nPairing completed successfully\nCaption: text\n");
  EXPECT_TRUE(w.sawStatus("Reading Device Settings..."));
  EXPECT_FALSE(w.sawStatus("Pairing completed successfully"));  // a box, not a status line
  EXPECT_FALSE(w.questionRefused());
}

struct Answer {
  const char* typed;
  MsgButtons buttons;
  MsgResult expected;
};

TEST(CliTerminalWindow, AnswersQuestionsFromTheInput) {
  const Answer rows[] = {
      {"\n", MsgButtons::OkCancel, MsgResult::Ok},  // Enter takes the default button
      {"ok\n", MsgButtons::OkCancel, MsgResult::Ok},
      {"  Y \r\n", MsgButtons::OkCancel, MsgResult::Ok},
      {"c\n", MsgButtons::OkCancel, MsgResult::Cancel},
      {"Cancel\n", MsgButtons::OkCancel, MsgResult::Cancel},
      {"what\nc\n", MsgButtons::OkCancel, MsgResult::Cancel},  // asked again
      {"yes\n", MsgButtons::YesNo, MsgResult::Yes},
      {"\nmaybe\nn\n", MsgButtons::YesNo, MsgResult::No},  // Yes/No has no default
  };
  for (const Answer& row : rows) {
    Terminal t;
    TerminalWindow w(t.out, t.in, false);
    t.type(row.typed);
    EXPECT_EQ(w.messageBox("Connect Device 2 to /dev/x and then Press OK", "", row.buttons),
              row.expected)
        << row.typed;
    EXPECT_NE(t.printed().find("Connect Device 2 to /dev/x"), std::string::npos);
    EXPECT_EQ(w.questionRefused(), row.expected == MsgResult::Cancel || row.expected == MsgResult::No);
  }
}

TEST(CliTerminalWindow, EndOfInputRefusesAndYesAccepts) {
  {
    Terminal t;
    TerminalWindow w(t.out, t.in, false);
    t.endInput();
    EXPECT_EQ(w.messageBox("q", "", MsgButtons::OkCancel), MsgResult::Cancel);
    EXPECT_EQ(w.messageBox("q", "", MsgButtons::YesNo), MsgResult::No);
    EXPECT_TRUE(w.questionRefused());
  }
  {
    Terminal t;
    TerminalWindow w(t.out, t.in, true);  // --yes: the input is never read
    EXPECT_EQ(w.messageBox("q", "", MsgButtons::OkCancel), MsgResult::Ok);
    EXPECT_EQ(w.messageBox("q", "", MsgButtons::YesNo), MsgResult::Yes);
    EXPECT_NE(t.printed().find("(--yes)"), std::string::npos);
    EXPECT_FALSE(w.questionRefused());
  }
}

TEST(CliTerminalWindow, CtrlCRefusesAPendingQuestion) {
  Terminal t;
  TerminalWindow w(t.out, t.in, false);
  std::atomic<bool> cancel{false};
  w.setCancelFlag(&cancel);
  std::thread user([&] {
    // Nothing is typed; the cancel arrives once the question is asked.
    t.waitPrinted("q", 10000);
    cancel = true;
  });
  EXPECT_EQ(w.messageBox("q", "", MsgButtons::OkCancel), MsgResult::Cancel);
  user.join();
}

TEST(CliTerminalWindow, EventLinesAreNotHeldByAPendingQuestion) {
  Terminal t;
  TerminalWindow w(t.out, t.in, false);
  std::promise<MsgResult> answered;
  std::thread asker([&] { answered.set_value(w.messageBox("swap?", "", MsgButtons::OkCancel)); });
  // The read thread's CONNECT line goes out while nobody has answered yet.
  auto printed = std::async(std::launch::async, [&] { w.printLine("CONNECT \"0012-6F-100002\""); });
  EXPECT_EQ(printed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  t.type("\n");
  auto result = answered.get_future();
  EXPECT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  asker.join();
  EXPECT_EQ(result.get(), MsgResult::Ok);
  EXPECT_NE(t.printed().find("CONNECT \"0012-6F-100002\"\n"), std::string::npos);
}

TEST(CliTerminalWindow, PostsWaitForTheMainThreadSendsRunAtOnce) {
  Terminal t;
  TerminalWindow w(t.out, t.in, false);
  std::vector<int32_t> handled;
  std::mutex m;
  w.notificationHandler = [&](const TerminalWindow::Notification& n) {
    std::lock_guard lock(m);
    handled.push_back(n.id);
  };
  std::thread link([&] { w.post(kx::NOTIFY_DEVICE_INITIALISED, 0); });
  link.join();
  w.send(kx::NOTIFY_ENABLE_ABORT, 1);
  {
    std::lock_guard lock(m);
    EXPECT_EQ(handled, std::vector<int32_t>{kx::NOTIFY_ENABLE_ABORT});
  }
  w.processPosted(1000);
  std::lock_guard lock(m);
  EXPECT_EQ(handled, (std::vector<int32_t>{kx::NOTIFY_ENABLE_ABORT, kx::NOTIFY_DEVICE_INITIALISED}));
}

// The main thread does the user-interface thread's work, as in the window:
// timer expiries and work handed over by another thread run there, in
// processPosted, and a timer killed before its expiry is handled stays quiet.
TEST(CliTerminalWindow, TimersAndHandedOverWorkRunOnTheMainThread) {
  Terminal t;
  TerminalWindow w(t.out, t.in, false);
  int fired = 0;
  std::thread::id firedOn;
  w.timerHandler = [&](int32_t id) {
    EXPECT_EQ(id, kx::TIMER_AT_COMMAND);
    firedOn = std::this_thread::get_id();
    if (++fired == 3) w.killTimer(id);
  };
  w.setTimer(kx::TIMER_AT_COMMAND, 10);
  EXPECT_TRUE(w.timerArmed(kx::TIMER_AT_COMMAND));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fired < 3 && std::chrono::steady_clock::now() < deadline) w.processPosted(100);
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(firedOn, std::this_thread::get_id());
  EXPECT_FALSE(w.timerArmed(kx::TIMER_AT_COMMAND));

  // Expiries queued while the main thread was busy are dropped with the
  // timer.
  w.setTimer(kx::TIMER_INQUIRY, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  w.killTimer(kx::TIMER_INQUIRY);
  w.processPosted(100);
  EXPECT_EQ(fired, 3);

  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_FALSE(w.isUiThread());
    w.invokeOnUi([&] { ranOn = std::this_thread::get_id(); });
  });
  while (ranOn == std::thread::id()) w.processPosted(100);
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  w.timerHandler = nullptr;
}

}  // namespace
