// The adapter's command vocabulary: the ordered pattern table and the lookup
// that turns a command text or an event keyword into its command index. Every
// response handler switches on these indices, so the numbering is fixed.
//
// Threading contract: the table is constant; getCommandIndex may be called
// from any thread.
#pragma once

#include <cstdint>

namespace kx {

constexpr int kCommandPatternSize = 32;
constexpr int kCommandCount = 33;

struct CommandTableRow {
  int32_t index;
  char pattern[kCommandPatternSize];
};

// 33 rows in index order, then a terminating row with index 0.
extern const CommandTableRow commandTable[kCommandCount + 1];

// Command indices the engine and its callers switch on.
enum CommandIndex : int32_t {
  CMD_NONE = 0,
  CMD_AT = 1,
  CMD_VER = 2,
  CMD_ENQ = 3,
  CMD_RESET = 4,
  CMD_BAUD = 5,
  CMD_STOP = 6,
  CMD_PAR = 7,
  CMD_FLOW = 8,
  CMD_ECHO = 9,
  CMD_RESP = 10,
  CMD_ROLE = 11,
  CMD_ADDR = 12,
  CMD_FIND = 13,
  CMD_RSSI = 14,
  CMD_NAME = 15,
  CMD_PIN = 16,
  CMD_DCOV = 17,
  CMD_CONN = 18,
  CMD_DROP = 19,
  CMD_BOND = 20,
  CMD_ACON = 21,
  CMD_ESC = 22,
  CMD_AUTO = 23,
  CMD_RCFG = 24,
  CMD_SLEEP = 25,
  CMD_ESCAPE = 26,
  CMD_DISCONNECT_EVENT = 27,
  CMD_CONNECT_EVENT = 28,
  CMD_UPGRADE = 29,
  CMD_ATI0 = 30,
  CMD_MODEM = 31,
  CMD_RSERVICE = 32,
  CMD_RCOD = 33,
};

// Index 1..33 of the first row matching the upper-cased command, 0 when none
// does. Row 1 ("AT\r") matches only the whole command; every later row
// matches when its pattern occurs anywhere in it. Only the first 29
// characters are looked at (the capacity of a pending command); a longer
// text is judged by those. Null and empty give 0.
int32_t getCommandIndex(const char* command);

}  // namespace kx
