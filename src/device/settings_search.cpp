#include "device/settings_search.h"

#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/records.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/uart.h"

namespace kx {

std::atomic<int32_t> bIndex{10};
std::atomic<int32_t> bTry{0};

namespace {

struct Framing {
  int32_t parity, stopBits, flow;
};

// Each framing runs through all eleven speeds before the next one.
constexpr Framing kFramings[12] = {
    {PARITY_NONE_FLAG, 1, 1}, {PARITY_NONE_FLAG, 1, 0}, {PARITY_ODD_FLAG, 1, 1},
    {PARITY_ODD_FLAG, 1, 0},  {PARITY_EVEN_FLAG, 1, 1}, {PARITY_EVEN_FLAG, 1, 0},
    {PARITY_NONE_FLAG, 2, 1}, {PARITY_NONE_FLAG, 2, 0}, {PARITY_ODD_FLAG, 2, 1},
    {PARITY_ODD_FLAG, 2, 0},  {PARITY_EVEN_FLAG, 2, 1}, {PARITY_EVEN_FLAG, 2, 0},
};

int32_t searchExhausted() {
  bTry = 0;
  bIndex = 10;
  debugLog("ATCOMMAND: Tried all combinations. Device didnot initialise");
  return 1;
}

constexpr int kSpeedsPerFraming = 11;

}  // namespace

std::string searchStepText(int step) {
  if (step < 1 || step > kSearchSteps) return {};
  const Framing& f = kFramings[(step - 1) / kSpeedsPerFraming];
  const int32_t bps = baudCodeToBps(10 + (step - 1) % kSpeedsPerFraming);
  const char* parity = f.parity == PARITY_ODD_FLAG    ? "odd parity"
                       : f.parity == PARITY_EVEN_FLAG ? "even parity"
                                                      : "no parity";
  return "Trying " + std::to_string(bps) + " bit/s, " + parity + ", " +
         (f.stopBits == 1 ? "one stop bit, " : "two stop bits, ") +
         (f.flow == 1 ? "flow control" : "no flow control") + " (" + std::to_string(step) +
         " of " + std::to_string(kSearchSteps) + ")";
}

void resetSettingsSearch() {
  bTry = 0;
  bIndex = 10;
}

int32_t tryIterations() {
  debugLog("ATCOMMAND : +%s bIndex %d bTry %d", "tryIterations", bIndex.load(), bTry.load());
  if (bTry > 11) return searchExhausted();
  if (bIndex > 20) {
    bIndex = 10;
    if (++bTry > 11) return searchExhausted();
  }
  const Framing& f = kFramings[bTry];
  uart.baud = baudCodeToBps(bIndex);
  uart.parity = f.parity;
  uart.stopBits = f.stopBits;
  uart.flow = f.flow;
  ++bIndex;
  debugLog("ATCOMMAND: %s Trying baud %d parity %d stopbits %d flow %d", "tryIterations",
           uart.baud, uart.parity, uart.stopBits, uart.flow);
  if (UartChangeSettings() != 0)
    debugLog("ATCOMMAND: ERROR - Failed to set UART settings baud %d parity %d stopbits %d flow %d",
             uart.baud, uart.parity, uart.stopBits, uart.flow);
  const int32_t result = sendATCommand("AT+RESP?\r", 0, 0, 500);
  debugLog("ATCOMMAND: tryIteration sendATCommand returned %d", result);
  return result != 0 ? 0 : 8;
}

void CheckOldFirmware(FormInterface& page) {
  const int32_t savedBaud = uart.baud, savedStop = uart.stopBits, savedParity = uart.parity,
                savedFlow = uart.flow;
  uart.baud = 19200;
  uart.stopBits = 1;
  uart.parity = PARITY_NONE_FLAG;
  uart.flow = 1;
  debugLog("UART: +%s baud %d flow %d stopbits %d parity %d", "UartChangeSettings", 19200, 1, 1,
           256);
  auto restore = [&] {
    uart.baud = savedBaud;
    uart.stopBits = savedStop;
    uart.parity = savedParity;
    uart.flow = savedFlow;
  };
  if (!UartApplySettings()) {
    debugLog(
        "CheckOldFirmware - Failed to set default uart settings baud 19200, parity NONE, "
        "stopBits 1, flowcontrol ENABLED");
    // The record goes back to what the port still runs.
    restore();
    UartApplySettings();
    return;
  }
  UartPurge();
  sleepMs(kSettleMs);
  if (sendOldFirmwareCommand() == 1)
    debugLog("CheckOldFirmware - Failed to send command %s", "ATI0\r");
  else
    applyCommandResponse(page);
  restore();
  UartChangeSettings();
}

}  // namespace kx
