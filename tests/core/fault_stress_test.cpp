// Thousands of commands against a scripted adapter that slips unsolicited
// CONNECT and DISCONNECT lines before its answers and
// delivers everything in chunks cut at random byte offsets, with inquiries
// (result lines, events and the end line, also cut anywhere) between the
// commands. Every command must get exactly its own answer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "atcmd/transmission.h"
#include "common/records.h"
#include "common/text.h"
#include "support/engine_fixture.h"

namespace kx::test {
namespace {

constexpr int kCommands = 10000;
constexpr int kInquiryEvery = 100;

const char* const kEvents[] = {
    "\r\nCONNECT \"0001-02-030405\"\r\n",
    "\r\nDISCONNECT 0001-02-030405\r\n",
    "\r\nCONNECT  Attempt Fail!!\r\n",
};

// The value each query answers the nth time it is asked: unique per command
// and per asking, so that an answer credited to another command shows.
std::string valueFor(const std::string& command, int nth) {
  if (command == "AT+NAME?\r") return "N" + std::to_string(nth);
  if (command == "AT+ADDR?\r") return formatBounded(64, "0001-02-%06d", nth);
  return {};
}

class Injector {
 public:
  explicit Injector(unsigned seed) : rng_(seed) {}

  // Cuts `bytes` into replies at random byte offsets.
  std::vector<Reply> cut(const std::string& bytes) {
    std::vector<Reply> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t n = 1 + pick(12);
      out.push_back({0, bytes.substr(at, n)});
      at += n;
    }
    return out;
  }

  // The adapter's answer to `command` with events slipped in before it, as
  // the adapter emits them between its answers (never after the final line,
  // which ends the exchange for the sender).
  std::vector<Reply> answer(const std::string& command, int nth) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    const std::string value = valueFor(command, nth);
    if (!value.empty()) lines.push_back("\r\n" + value + "\r\n");
    lines.push_back(value.empty() ? "\r\nOK\r\n" : "OK\r\n");
    std::string stream;
    while (pick(3) == 0) {
      stream += kEvents[pick(3)];
      ++events_;
    }
    for (const std::string& line : lines) stream += line;
    return cut(stream);
  }

  std::string inquiry(int devices, bool endWithEvent) {
    std::lock_guard lock(mutex_);
    std::string stream;
    for (int i = 0; i < devices; ++i)
      stream += formatBounded(128, "\r\nKX%02d                 001F00 -%-3d  0001-02-0304%02d", i,
                              40 + i, i);
    stream += endWithEvent ? "\r\nDISCONNECT 0001-02-030405\r\n" : "\r\nInquiry End\r\n";
    return stream;
  }

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
  int events() const { return events_; }

 private:
  std::mutex mutex_;
  std::mt19937 rng_;
  int events_ = 0;
};

class FaultStress : public EngineTest {};

TEST_F(FaultStress, ThousandsOfCommandsWithInjectedLinesGetTheirOwnAnswers) {
  openLink();
  Injector injector(20240611);
  startPeer([&](const std::string& command, int nth) { return injector.answer(command, nth); });

  const std::string commands[] = {"AT+NAME?\r", "AT\r", "AT+ADDR?\r"};
  int asked[3] = {0, 0, 0};
  int answered = 0, misattributed = 0, inquiries = 0;
  for (int i = 0; i < kCommands; ++i) {
    if (i % kInquiryEvery == kInquiryEvery - 1) {
      // An inquiry runs: its lines go to the inquiry table, not to a command.
      ++inquiries;
      const int devices = static_cast<int>(injector.pick(13));
      const bool endWithEvent = injector.pick(4) == 0;
      clearInquiry();  // takes inquiryMutex
      {
        // The inquiry command's answer was applied, which clears the record.
        std::lock_guard lock(atCommandMutex);
        clearAtCommand();
      }
      inquiry.skipNext = 1;  // as the inquiry command's answer leaves it
      localDev.inquiryActive = 1;
      for (const Reply& r : injector.cut(injector.inquiry(devices, endWithEvent))) port->feed(r.bytes);
      ASSERT_TRUE(waitUntil([] { return localDev.inquiryActive.load() == 0; }, 5000));
      std::lock_guard lock(inquiryMutex);
      // Every device line is kept while a slot is free, and the end line too;
      // an event that ends the inquiry is not stored.
      EXPECT_EQ(inquiry.count.load(),
                std::min(devices + (endWithEvent ? 0 : 1), kMaxInquiryResults));
    }
    // The user answers any connect box; the adapter is in command mode again.
    localDev.dataMode = 0;
    localDev.connected = 0;
    const int which = static_cast<int>(injector.pick(3));
    const std::string& command = commands[which];
    const int nth = ++asked[which];
    ASSERT_EQ(sendATCommand(command.c_str(), 0, 0, 3000), 0) << "command " << i << " " << command;
    ++answered;
    const RecordView r = recordView();
    const std::string value = valueFor(command, nth);
    const bool own = r.command == command && r.response == "\r\nOK\r\n" &&
                     r.param == (value.empty() ? "" : "\r\n" + value + "\r\n");
    if (!own) {
      ++misattributed;
      ADD_FAILURE() << "command " << i << " " << escapeBytes(command) << " got " << ::testing::PrintToString(r);
    }
    if (i % 200 == 0) window.clear();  // keeps the recorded notifications small
  }
  EXPECT_EQ(answered, kCommands);
  EXPECT_EQ(misattributed, 0);
  EXPECT_GT(injector.events(), kCommands / 5);
  EXPECT_EQ(inquiries, kCommands / kInquiryEvery);
  RecordProperty("commands", answered);
  RecordProperty("misattributed", misattributed);
  RecordProperty("injected_events", injector.events());
  std::printf("stress: %d commands answered, %d misattributed, %d events injected, %d inquiries\n",
              answered, misattributed, injector.events(), inquiries);
}

}  // namespace
}  // namespace kx::test
