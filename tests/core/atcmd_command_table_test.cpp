#include <gtest/gtest.h>

#include <string>

#include "atcmd/command_table.h"

namespace kx {
namespace {

struct IndexRow {
  const char* command;
  int32_t index;
};

class CommandIndex : public ::testing::TestWithParam<IndexRow> {};

TEST_P(CommandIndex, MatchesTheTable) {
  EXPECT_EQ(getCommandIndex(GetParam().command), GetParam().index) << GetParam().command;
}

INSTANTIATE_TEST_SUITE_P(
    Lookup, CommandIndex,
    ::testing::Values(IndexRow{"at+name=abc\r", 15}, IndexRow{"AT\r", 1}, IndexRow{"at\r", 1},
                      IndexRow{"AT \r", 0}, IndexRow{"ATZ\r", 0}, IndexRow{"\r\nDISCONNECT", 27},
                      IndexRow{"\r\nCONNECT", 28}, IndexRow{"AT+RESP?\r", 10},
                      IndexRow{"AT+RESP+\r", 10}, IndexRow{"AT+RESP-\r", 10},
                      IndexRow{"AT+RSERVICE=x\r", 32}, IndexRow{"AT+RSSI", 0},
                      IndexRow{"AT+RSSI\r", 14}, IndexRow{"AT+NAME=AT+VER\r", 2}, IndexRow{"", 0},
                      IndexRow{"+++", 26}, IndexRow{"ATI0\r", 30}, IndexRow{"AT+ENQ\r", 3},
                      IndexRow{"AT+BAUD15\r", 5}, IndexRow{"AT+MODEML\r", 31},
                      IndexRow{"AT+RCOD=001F00\r", 33}, IndexRow{"AT+UPGRADE\r", 29}));

TEST(CommandTable, HasThirtyThreeRowsInOrderAndATerminator) {
  for (int i = 0; i < kCommandCount; ++i) EXPECT_EQ(commandTable[i].index, i + 1);
  EXPECT_EQ(commandTable[kCommandCount].index, 0);
  // Every later pattern finds its own row (none is shadowed by an earlier one),
  // except where the table's order is the point: "CONNECT" lies inside
  // "DISCONNECT", never the other way round.
  for (int i = 1; i < kCommandCount; ++i) {
    const std::string text = commandTable[i].pattern;
    EXPECT_EQ(getCommandIndex(text.c_str()), commandTable[i].index) << text;
  }
}

TEST(CommandTable, OverlongTextIsJudgedByItsFirst29Characters) {
  const std::string longer = std::string(29, 'X') + "AT+NAME";
  EXPECT_EQ(getCommandIndex(longer.c_str()), 0);
  EXPECT_EQ(getCommandIndex(nullptr), 0);
}

}  // namespace
}  // namespace kx
