// The settings search's order: the common settings first, then every other
// combination in the sweep's order, the settings already probed left out and
// nothing tried twice; the progress line reads the same table.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/records.h"
#include "device/settings_search.h"
#include "serial/uart.h"

namespace kx::test {
namespace {

constexpr int32_t N = PARITY_NONE_FLAG, O = PARITY_ODD_FLAG, E = PARITY_EVEN_FLAG;

std::string name(const SearchStep& s) {
  return std::to_string(s.baud) + (s.parity == O ? " O" : s.parity == E ? " E" : " N") +
         std::to_string(s.stopBits) + (s.flow ? " flow" : " -") +
         (s.pass == SearchPass::Likely ? " (common)" : "");
}

struct OrderRow {
  SearchStep own;
  std::vector<std::string> first;  // the steps in order, from the first
  std::size_t count;
};

TEST(SearchOrder, CommonSettingsFirstThenTheSweepWithoutRepeats) {
  const OrderRow rows[] = {
      // The factory setting, probed already: the other common ones, then the
      // sweep from its start (1200, no parity, one stop bit, flow control).
      {{19200, N, 1, 0, SearchPass::Sweep},
       {"9600 N1 - (common)", "38400 N1 - (common)", "57600 N1 - (common)",
        "115200 N1 - (common)", "19200 N1 flow (common)", "1200 N1 flow", "2400 N1 flow"},
       131},
      // The legacy factory setting probed: 19200 without flow control first.
      {{19200, N, 1, 1, SearchPass::Sweep},
       {"19200 N1 - (common)", "9600 N1 - (common)", "38400 N1 - (common)",
        "57600 N1 - (common)", "115200 N1 - (common)", "1200 N1 flow"},
       131},
      // Rare settings: all six common ones, and the sweep skips them.
      {{57600, E, 2, 1, SearchPass::Sweep},
       {"19200 N1 - (common)", "9600 N1 - (common)", "38400 N1 - (common)",
        "57600 N1 - (common)", "115200 N1 - (common)", "19200 N1 flow (common)", "1200 N1 flow",
        "2400 N1 flow", "4800 N1 flow", "9600 N1 flow", "38400 N1 flow"},
       131},
      // Settings outside the combinations (nothing probed that counts).
      {{0, 0, 0, 0, SearchPass::Sweep},
       {"19200 N1 - (common)", "9600 N1 - (common)"},
       132},
  };
  for (const OrderRow& row : rows) {
    const std::vector<SearchStep> order = searchOrder(row.own);
    ASSERT_EQ(order.size(), row.count) << name(row.own);
    for (std::size_t i = 0; i < row.first.size(); ++i)
      EXPECT_EQ(name(order[i]), row.first[i]) << name(row.own) << ", step " << i + 1;
    EXPECT_EQ(name(order.back()), "921600 E2 -") << name(row.own);
    // Every combination once: the order and the probed settings together.
    std::set<std::tuple<int32_t, int32_t, int32_t, int32_t>> all;
    for (const SearchStep& s : order) all.insert({s.baud, s.parity, s.stopBits, s.flow});
    ASSERT_EQ(all.size(), order.size()) << name(row.own) << ": a combination tried twice";
    if (row.count == 131) all.insert({row.own.baud, row.own.parity, row.own.stopBits, row.own.flow});
    EXPECT_EQ(all.size(), 132u) << name(row.own);
  }
}

TEST(SearchOrder, TheProgressLineNamesThePassAndTheSteps) {
  clearUart();
  uart.baud = 19200;
  uart.parity = N;
  uart.stopBits = 1;
  uart.flow = 0;
  resetSettingsSearch();
  EXPECT_EQ(searchStepCount(), 131);
  EXPECT_EQ(searchStepText(2),
            "Common settings: trying 38400 bit/s, no parity, one stop bit, no flow control (2 of 131)");
  EXPECT_EQ(searchStepText(131),
            "All settings: trying 921600 bit/s, even parity, two stop bits, no flow control (131 of 131)");
  EXPECT_EQ(searchStepHeading(6), "Search step 6 of 131 (all settings)");
  EXPECT_EQ(searchStepText(132), "");
  EXPECT_EQ(searchStepNumber.load(), 1);
}

}  // namespace
}  // namespace kx::test
