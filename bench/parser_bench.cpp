// Throughput of the receive path on canned transcripts: command answers fed
// to a pending command, inquiry output, and a data-mode flood of arbitrary
// bytes with no command pending.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "atcmd/receive_dispatch.h"
#include "common/records.h"
#include "common/text.h"

namespace {

using namespace kx;

void armCommand(const char* command) {
  std::lock_guard lock(atCommandMutex);
  clearAtCommand();
  copyField(atCommand.command, command);
}

void feed(const std::string& bytes) {
  dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()));
}

// A read-all pass as the adapter answers it, one answer per command.
const std::pair<const char*, const char*> kReadAll[] = {
    {"AT+RESP?\r", "\r\nRESP+\r\nOK\r\n"},
    {"AT+ECHO?\r", "\r\nECHO-\r\nOK\r\n"},
    {"AT+ROLE?\r", "\r\nROLES\r\nOK\r\n"},
    {"AT+ADDR?\r", "\r\n0012-6F-100001\r\nOK\r\n"},
    {"AT+NAME?\r", "\r\nKX627-1\r\nOK\r\n"},
    {"AT+PIN?\r", "\r\n1234\r\nOK\r\n"},
    {"AT+DCOV?\r", "\r\nDCOV+\r\nOK\r\n"},
    {"AT+ESC?\r", "\r\nESC+\r\nOK\r\n"},
    {"AT+SLEEP?\r", "\r\nSLEEP-\r\nOK\r\n"},
    {"AT+ACON?\r", "\r\nACON-\r\nOK\r\n"},
    {"AT+RCFG?\r", "\r\nRCFG+\r\nOK\r\n"},
    {"AT+VER\r", "\r\nv6.80\r\nOK\r\n"},
    {"AT+BAUD?\r", "\r\nBAUD14\r\nOK\r\n"},
    {"AT+STOP?\r", "\r\nSTOP1\r\nOK\r\n"},
    {"AT+PAR?\r", "\r\nPAR0\r\nOK\r\n"},
    {"AT+FLOW?\r", "\r\nFLOW-\r\nOK\r\n"},
    {"AT+BOND?\r", "\r\n0000-00-000000\r\nOK\r\n"},
    {"AT+MODEM?\r", "\r\nMODEM-\r\nOK\r\n"},
    {"AT+RSERVICE?\r", "\r\nNULL\r\nOK\r\n"},
    {"AT+RCOD?\r", "\r\n000000\r\nOK\r\n"},
};

void BM_CommandAnswers(benchmark::State& state) {
  clearLocalDev();
  localDev.cmdResponse = 1;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& [command, answer] : kReadAll) {
      armCommand(command);
      feed(answer);
      bytes += std::strlen(answer);
    }
    benchmark::DoNotOptimize(atCommand.responseComplete);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CommandAnswers);

void BM_InquiryOutput(benchmark::State& state) {
  std::string lines = "\r\n";
  for (int i = 0; i < 9; ++i)
    lines += "Remote-" + std::to_string(i) + std::string(13, ' ') + "001f00 -60   0023-45-B0000" +
             std::to_string(i) + "\r\n";
  lines += "Inquiry End\r\n";
  std::size_t bytes = 0;
  for (auto _ : state) {
    clearInquiry();
    localDev.inquiryActive = 1;
    inquiry.skipNext = 1;
    {
      std::lock_guard lock(atCommandMutex);
      clearAtCommand();
    }
    feed(lines);
    bytes += lines.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_InquiryOutput);

void BM_DataModeFlood(benchmark::State& state) {
  std::mt19937 rng(42);
  std::string chunk(200, '\0');  // one serial read
  for (char& c : chunk) c = static_cast<char>(rng());
  clearLocalDev();
  localDev.dataMode = 1;
  localDev.connected = 1;
  {
    std::lock_guard lock(atCommandMutex);
    clearAtCommand();
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    feed(chunk);
    bytes += chunk.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_DataModeFlood);

}  // namespace

BENCHMARK_MAIN();
