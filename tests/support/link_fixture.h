// Common set-up for tests that open the serial link: a RecordingWindow as the
// main window, cleared records, a receive handler that collects chunks, and
// the link closed and every hook restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/records.h"
#include "platform/recording_window.h"

namespace kx::test {

struct Chunk {
  std::string bytes;
  std::thread::id thread;
};

// Collects every chunk the serial link hands on.
class ChunkCollector {
 public:
  static ChunkCollector& instance();
  static void handler(const uint8_t* data, uint32_t length);
  void clear();
  std::vector<Chunk> chunks() const;
  std::string allBytes() const;
  int emptyCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Chunk> chunks_;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sets the uart record's port and line settings.
  void setLine(const std::string& port, int baud, int parity, int stopBits, int flow);

  RecordingWindow window;
};

}  // namespace kx::test
