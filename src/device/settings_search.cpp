#include "device/settings_search.h"

#include <mutex>
#include <optional>

#include "atcmd/transmission.h"
#include "common/debug_log.h"
#include "common/records.h"
#include "device/local_device.h"
#include "device/response_apply.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "serial/uart.h"

namespace kx {

std::atomic<int32_t> searchStepNumber{1};

namespace {

struct Framing {
  int32_t parity, stopBits, flow;
};

// The sweep's framings; each runs through all eleven speeds before the next.
constexpr Framing kFramings[12] = {
    {PARITY_NONE_FLAG, 1, 1}, {PARITY_NONE_FLAG, 1, 0}, {PARITY_ODD_FLAG, 1, 1},
    {PARITY_ODD_FLAG, 1, 0},  {PARITY_EVEN_FLAG, 1, 1}, {PARITY_EVEN_FLAG, 1, 0},
    {PARITY_NONE_FLAG, 2, 1}, {PARITY_NONE_FLAG, 2, 0}, {PARITY_ODD_FLAG, 2, 1},
    {PARITY_ODD_FLAG, 2, 0},  {PARITY_EVEN_FLAG, 2, 1}, {PARITY_EVEN_FLAG, 2, 0},
};
constexpr int kSpeedsPerFraming = 11;

// What most adapters run at: the current factory setting at the common
// speeds, most used first, and the legacy factory setting.
constexpr SearchStep kLikely[] = {
    {19200, PARITY_NONE_FLAG, 1, 0, SearchPass::Likely},
    {9600, PARITY_NONE_FLAG, 1, 0, SearchPass::Likely},
    {38400, PARITY_NONE_FLAG, 1, 0, SearchPass::Likely},
    {57600, PARITY_NONE_FLAG, 1, 0, SearchPass::Likely},
    {115200, PARITY_NONE_FLAG, 1, 0, SearchPass::Likely},
    {19200, PARITY_NONE_FLAG, 1, 1, SearchPass::Likely},
};

bool sameSettings(const SearchStep& a, const SearchStep& b) {
  return a.baud == b.baud && a.parity == b.parity && a.stopBits == b.stopBits &&
         (a.flow != 0) == (b.flow != 0);
}

// The table of the search under way; written by the reset, read by the
// searcher and the progress line.
std::mutex gOrderMutex;
std::vector<SearchStep> gOrder = searchOrder({0, 0, 0, 0, SearchPass::Sweep});

std::optional<SearchStep> stepAt(int step) {
  std::lock_guard lock(gOrderMutex);
  if (step < 1 || step > static_cast<int>(gOrder.size())) return std::nullopt;
  return gOrder[static_cast<std::size_t>(step - 1)];
}

int32_t searchExhausted() {
  searchStepNumber = 1;
  debugLog("ATCOMMAND: Tried all combinations. Device didnot initialise");
  return 1;
}

}  // namespace

std::vector<SearchStep> searchOrder(const SearchStep& own) {
  std::vector<SearchStep> order;
  order.reserve(kSearchCombinations);
  auto add = [&](const SearchStep& s) {
    if (sameSettings(s, own)) return;
    for (const SearchStep& tried : order)
      if (sameSettings(s, tried)) return;
    order.push_back(s);
  };
  for (const SearchStep& s : kLikely) add(s);
  for (const Framing& f : kFramings)
    for (int code = 10; code < 10 + kSpeedsPerFraming; ++code)
      add({baudCodeToBps(code), f.parity, f.stopBits, f.flow, SearchPass::Sweep});
  return order;
}

void resetSettingsSearch() {
  std::vector<SearchStep> order =
      searchOrder({uart.baud, uart.parity, uart.stopBits, uart.flow, SearchPass::Sweep});
  std::lock_guard lock(gOrderMutex);
  gOrder = std::move(order);
  searchStepNumber = 1;
}

int searchStepCount() {
  std::lock_guard lock(gOrderMutex);
  return static_cast<int>(gOrder.size());
}

namespace {

std::string progressCount(int step) {
  return std::to_string(step) + " of " + std::to_string(searchStepCount());
}

}  // namespace

std::string searchStepText(int step) {
  const std::optional<SearchStep> s = stepAt(step);
  if (!s) return {};
  const char* parity = s->parity == PARITY_ODD_FLAG    ? "odd parity"
                       : s->parity == PARITY_EVEN_FLAG ? "even parity"
                                                       : "no parity";
  return std::string(s->pass == SearchPass::Likely ? "Common settings" : "All settings") +
         ": trying " + std::to_string(s->baud) + " bit/s, " + parity + ", " +
         (s->stopBits == 1 ? "one stop bit, " : "two stop bits, ") +
         (s->flow == 1 ? "flow control" : "no flow control") + " (" + progressCount(step) + ")";
}

std::string searchStepHeading(int step) {
  const std::optional<SearchStep> s = stepAt(step);
  if (!s) return {};
  return "Search step " + progressCount(step) +
         (s->pass == SearchPass::Likely ? " (common settings)" : " (all settings)");
}

int32_t tryIterations() {
  const int32_t step = searchStepNumber;
  debugLog("ATCOMMAND : +%s step %d of %d", "tryIterations", step, searchStepCount());
  const std::optional<SearchStep> s = stepAt(step);
  if (!s) return searchExhausted();
  uart.baud = s->baud;
  uart.parity = s->parity;
  uart.stopBits = s->stopBits;
  uart.flow = s->flow;
  ++searchStepNumber;
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
