// Inquiry output: result lines, the closing line, and events that end an
// inquiry, fed whole, byte by byte and split at every position.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "atcmd/receive_dispatch.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "support/engine_fixture.h"

namespace kx {
namespace {

struct InquiryRow {
  const char* name;
  std::string bytes;
  std::vector<std::string> results;
  int resultPosts;      // 20006
  int buttonPosts;      // 20008
  int32_t activeAfter;  // inquiryActive
  int32_t connected;
};

struct InquiryOutcome {
  std::vector<std::string> results;
  int resultPosts = 0, buttonPosts = 0;
  int32_t active = 0, connected = 0;
  std::vector<std::string> status;
  bool operator==(const InquiryOutcome&) const = default;
};

class Inquiry : public test::EngineTest {
 protected:
  void start() {
    SetUp();
    window.clear();
    localDev.inquiryActive = 1;
    std::lock_guard lock(inquiryMutex);
    inquiry.skipNext = 1;  // set when the inquiry command was answered
  }
  void feed(const std::string& bytes) {
    dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<uint32_t>(bytes.size()));
  }
  InquiryOutcome outcome() {
    InquiryOutcome o;
    {
      std::lock_guard lock(inquiryMutex);
      for (int i = 0; i < inquiry.count.load(); ++i) o.results.emplace_back(inquiry.results[i]);
      EXPECT_LT(inquiry.lineLen, kResponseSize);
    }
    o.resultPosts = window.count(NOTIFY_INQUIRY_RESULTS);
    o.buttonPosts = window.count(NOTIFY_CONNECTION_BUTTONS);
    o.active = localDev.inquiryActive.load();
    o.connected = localDev.connected.load();
    o.status = window.statusTexts();
    return o;
  }
};

std::string deviceLines(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "\r\n0001-02-03040" + std::to_string(i % 10) + ",KX" + std::to_string(i);
  return s;
}

TEST_F(Inquiry, TranscriptsWholeBytewiseAndSplit) {
  std::vector<std::string> twelve;
  for (int i = 0; i < 10; ++i)
    twelve.push_back("0001-02-03040" + std::to_string(i) + ",KX" + std::to_string(i));
  const InquiryRow rows[] = {
      {"TwoDevicesAndEnd",
       "\r\n0001-02-030405,KXA\r\n0001-02-030406,KXB\r\nInquiry End\r\n",
       {"0001-02-030405,KXA", "0001-02-030406,KXB", "Inquiry End"},
       3,
       1,
       0,
       0},
      {"ConnectEndsInquiry",
       "\r\n0001-02-030405,KXA\r\nCONNECT \"0001-02-030405\"\r\n",
       {"0001-02-030405,KXA"},
       1,
       1,
       0,
       1},
      {"DisconnectEndsInquiry", "\r\nDISCONNECT 0001-02-030405\r\n", {}, 0, 1, 0, 0},
      // Once an event has ended the inquiry, later lines of the same read
      // are no results.
      {"LinesAfterTheEndingEventAreNoResults",
       "\r\n0001-02-030405,KXA\r\nDISCONNECT \"0001-02-030405\"\r\nstray line\r\n",
       {"0001-02-030405,KXA"},
       1,
       1,
       0,
       0},
      // A device line is a device whatever its name says; the closing line
      // may carry more text.
      {"DevicesNamedLikeEventsAndTheEnd",
       "\r\nBT-CONNECT           001F00 -40   0012-6F-102222"
       "\r\nCONNECT              001F00 -41   0012-6F-102223"
       "\r\nDISCONNECT           001F00 -42   0012-6F-102224"
       "\r\nInquiry End          001F00 -43   0012-6F-102225"
       "\r\nInquiry End. 4 devices found\r\n",
       {"BT-CONNECT           001F00 -40   0012-6F-102222",
        "CONNECT              001F00 -41   0012-6F-102223",
        "DISCONNECT           001F00 -42   0012-6F-102224",
        "Inquiry End          001F00 -43   0012-6F-102225", "Inquiry End. 4 devices found"},
       5,
       1,
       0,
       0},
      // At most ten results are kept; the end line still ends the inquiry.
      {"TwelveDevicesKeepTen", deviceLines(12) + "\r\nInquiry End\r\n", twelve, 10, 1, 0, 0},
      // A cut line is a result, never the end.
      {"OverlongLineIsNoEnd",
       "\r\n" + std::string(700, 'q') + "Inquiry End\r\n",
       {std::string(597, 'q')},
       1,
       0,
       1,
       0},
  };
  for (const InquiryRow& r : rows) {
    SCOPED_TRACE(r.name);
    start();
    feed(r.bytes);
    const InquiryOutcome whole = outcome();
    EXPECT_EQ(whole.results, r.results);
    EXPECT_EQ(whole.resultPosts, r.resultPosts);
    EXPECT_EQ(whole.buttonPosts, r.buttonPosts);
    EXPECT_EQ(whole.active, r.activeAfter);
    EXPECT_EQ(whole.connected, r.connected);

    start();
    for (char c : r.bytes) feed(std::string(1, c));
    EXPECT_EQ(outcome(), whole) << "byte by byte";
    for (std::size_t at = 1; at<r.bytes.size(); at += r.bytes.size()> 200 ? 7 : 1) {
      start();
      feed(r.bytes.substr(0, at));
      feed(r.bytes.substr(at));
      const InquiryOutcome split = outcome();
      EXPECT_EQ(split, whole) << "split at " << at;
      if (!(split == whole)) break;
    }
  }
}

TEST_F(Inquiry, EndLineReportsCompletion) {
  start();
  feed("\r\nInquiry End\r\n");
  EXPECT_EQ(window.statusTexts(), std::vector<std::string>{"Inquiry Complete."});
}

TEST_F(Inquiry, PendingCommandTakesTheBytesInstead) {
  start();
  {
    std::lock_guard lock(atCommandMutex);
    copyField(atCommand.command, "AT+FIND-\r");
    atCommand.expectsData = 1;
  }
  feed("\r\nOK\r\n");
  EXPECT_EQ(test::recordView().responseComplete, 1);
  std::lock_guard lock(inquiryMutex);
  EXPECT_EQ(inquiry.count.load(), 0);
}

}  // namespace
}  // namespace kx
