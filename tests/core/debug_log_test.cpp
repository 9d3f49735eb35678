// The diagnostic log: switching on and off, the start directory, cut-off of
// long messages, concurrent writers while the log is switched, open errors.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_log.h"
#include "platform/recording_window.h"
#include "support/temp_dir.h"

namespace kx::test {
namespace {

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    closeDebugLog();
    mainWindowHandle = &window;
    startupDirectory = dir.path();
  }
  void TearDown() override {
    closeDebugLog();
    mainWindowHandle = nullptr;
    std::filesystem::current_path(original);
  }
  TempDir dir;
  RecordingWindow window;
  std::filesystem::path original = std::filesystem::current_path();
};

TEST_F(DebugLogTest, SwitchingOnStartsAFreshFileInTheStartDirectory) {
  // A file dialog may have made another directory current.
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());

  debugLog("dropped while off");
  EXPECT_FALSE(std::filesystem::exists(dir.file("Debug.txt")));

  EXPECT_TRUE(toggleDebug(false));
  EXPECT_EQ(debugFlag.load(), 1);
  debugLog("UART: value %d", 42);
  EXPECT_FALSE(toggleDebug(true));
  EXPECT_EQ(debugFlag.load(), 0);
  EXPECT_EQ(readFile(dir.file("Debug.txt")), "Setting debugFlag = TRUE\nUART: value 42\n");
  EXPECT_FALSE(std::filesystem::exists(elsewhere.file("Debug.txt")));
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(elsewhere.path()));

  // Off and on again empties the file.
  EXPECT_TRUE(toggleDebug(false));
  EXPECT_FALSE(toggleDebug(true));
  EXPECT_EQ(readFile(dir.file("Debug.txt")), "Setting debugFlag = TRUE\n");
}

TEST_F(DebugLogTest, LongMessagesAreCutAt1023Characters) {
  ASSERT_TRUE(toggleDebug(false));
  const std::string longText(5000, 'x');
  debugLog("Read Line %s", longText.c_str());
  toggleDebug(true);
  const std::string log = readFile(dir.file("Debug.txt"));
  const std::string second = log.substr(log.find('\n') + 1);
  EXPECT_EQ(second, "Read Line " + std::string(1023 - 10, 'x') + "\n");
}

TEST_F(DebugLogTest, WritersOnManyThreadsNeverMixLinesWhileTheLogIsSwitched) {
  std::atomic<bool> stop{false};
  std::atomic<long> written{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t, &stop, &written] {
      const std::string body(60, static_cast<char>('a' + t));
      while (!stop) {
        debugLog("T%d %s", t, body.c_str());
        ++written;
      }
    });
  }
  for (int i = 0; i < 40; ++i) {
    bool on = toggleDebug(false);
    ASSERT_TRUE(on);
    toggleDebug(true);
  }
  ASSERT_TRUE(toggleDebug(false));
  // Let every writer get lines into the last file before they stop.
  const long before = written.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (written.load() < before + 400 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  stop = true;
  for (auto& w : writers) w.join();
  toggleDebug(true);

  std::istringstream lines(readFile(dir.file("Debug.txt")));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "Setting debugFlag = TRUE");
  int count = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.size(), 63u) << line;
    const char c = line[3];
    EXPECT_EQ(line, "T" + std::to_string(c - 'a') + " " + std::string(60, c));
    ++count;
  }
  EXPECT_GT(count, 0);
}

TEST_F(DebugLogTest, AFailedOpenReportsTheErrnoAndLeavesTheLogOff) {
  startupDirectory = dir.file("missing/dir");
  int err = 0;
  EXPECT_FALSE(toggleDebug(false, &err));
  EXPECT_EQ(debugFlag.load(), 0);
  EXPECT_EQ(debugOpenErrorText(err), "Failed to open Debug.txt file. Error 2");
  startupDirectory = dir.path();
  EXPECT_TRUE(toggleDebug(false)) << "the user can try again";
}

TEST(DebugOpenErrorText, EachErrnoHasItsText) {
  const std::pair<int, const char*> rows[] = {
      {EPERM, "Failed to create Debug.txt file.Operation not permitted"},
      {ENOMEM, "Failed to create Debug.txt file.No Space in disk left"},
      {EACCES, "Failed to create Debug.txt file.Access Denied"},
      {EBUSY, "Failed to create Debug.txt file.File in use."},
      {ENAMETOOLONG, "Failed to create Debug.txt file.File name too long"},
      {ENOSPC, "Failed to open Debug.txt file. Error 28"},
  };
  for (const auto& [err, text] : rows) EXPECT_EQ(debugOpenErrorText(err), text) << err;
}

}  // namespace
}  // namespace kx::test
