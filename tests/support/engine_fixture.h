// Test support for the AT command engine: a fixture with clean records, a
// RecordingWindow as the main window and the engine installed, and a scripted
// adapter peer that answers the commands written to an in-memory port.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/recording_window.h"
#include "platform/scripted_serial_device.h"

namespace kx::test {

// One reply of the peer: `bytes` fed to the port `delayMs` after the command
// was written.
struct Reply {
  int delayMs = 0;
  std::string bytes;
};

// Answers every complete command written to the port (a text ending in CR, or
// "+++") with the replies a script chooses. Runs its own thread so that
// delayed replies arrive while the sender waits.
class AdapterPeer {
 public:
  // script(command, nthTimeThisCommandWasSeen starting at 1) -> replies
  using Script = std::function<std::vector<Reply>(const std::string&, int)>;

  AdapterPeer(std::shared_ptr<ScriptedPort> port, Script script);
  ~AdapterPeer();
  AdapterPeer(const AdapterPeer&) = delete;
  AdapterPeer& operator=(const AdapterPeer&) = delete;

  // Commands seen so far, in order.
  std::vector<std::string> commands() const;
  // Waits until n commands have been seen.
  bool waitCommands(std::size_t n, int timeoutMs) const;
  // Write times (monotonicMs) and sizes of every write.
  std::vector<std::pair<long long, std::size_t>> writes() const;

 private:
  void onWrite(const std::string& chunk);
  void run();

  std::shared_ptr<ScriptedPort> port_;
  Script script_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::string pending_;
  std::vector<std::string> commands_;
  std::vector<std::pair<long long, std::size_t>> writes_;
  std::deque<std::pair<long long, std::string>> due_;  // (time, bytes)
  bool stop_ = false;
  std::thread thread_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the serial link on an in-memory port with the engine behind it.
  void openLink();
  void startPeer(AdapterPeer::Script script);

  // Waits until the read thread has consumed everything fed so far and the
  // predicate holds.
  bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 3000);

  RecordingWindow window;
  std::shared_ptr<ScriptedPort> port;
  std::unique_ptr<AdapterPeer> peer;
};

// Snapshot of the pending-command record, taken under its lock.
struct RecordView {
  std::string command, response, param;
  int rxState = 0, responseComplete = 0, rxIndex = 0, expectsData = 0, showInStatus = 0;
  bool operator==(const RecordView&) const = default;
};
RecordView recordView();
void PrintTo(const RecordView& v, std::ostream* os);

}  // namespace kx::test
