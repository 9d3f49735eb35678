#include "atcmd/command_table.h"

#include <cctype>
#include <cstring>

#include "common/debug_log.h"
#include "common/records.h"

namespace kx {

const CommandTableRow commandTable[kCommandCount + 1] = {
    {1, "AT\r"},        {2, "AT+VER"},     {3, "AT+ENQ"},      {4, "AT+RESET"},
    {5, "AT+BAUD"},     {6, "AT+STOP"},    {7, "AT+PAR"},      {8, "AT+FLOW"},
    {9, "AT+ECHO"},     {10, "AT+RESP"},   {11, "AT+ROLE"},    {12, "AT+ADDR"},
    {13, "AT+FIND"},    {14, "AT+RSSI\r"}, {15, "AT+NAME"},    {16, "AT+PIN"},
    {17, "AT+DCOV"},    {18, "AT+CONN"},   {19, "AT+DROP"},    {20, "AT+BOND"},
    {21, "AT+ACON"},    {22, "AT+ESC"},    {23, "AT+AUTO"},    {24, "AT+RCFG"},
    {25, "AT+SLEEP"},   {26, "+++"},       {27, "DISCONNECT"}, {28, "CONNECT"},
    {29, "AT+UPGRADE"}, {30, "ATI0"},      {31, "AT+MODEM"},   {32, "AT+RSERVICE"},
    {33, "AT+RCOD"},    {0, ""},
};

int32_t getCommandIndex(const char* command) {
  if (!command) return 0;
  char work[kCommandSize] = {};
  for (int i = 0; i < kCommandSize - 1 && command[i] != '\0'; ++i)
    work[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(command[i])));

  if (std::strcmp(work, commandTable[0].pattern) == 0) {
    debugLog("getCommandIndex: Found command %d %s", commandTable[0].index,
             commandTable[0].pattern);
    return commandTable[0].index;
  }
  for (const CommandTableRow* row = &commandTable[1]; row->index != 0; ++row) {
    if (std::strstr(work, row->pattern) != nullptr) {
      debugLog("getCommandIndex: Found command %d %s", row->index, row->pattern);
      return row->index;
    }
  }
  return 0;
}

}  // namespace kx
