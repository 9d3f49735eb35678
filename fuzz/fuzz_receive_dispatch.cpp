// Fuzzes the receive path with every consumer installed: command answers and
// their application to the device, timer-collected answers, unsolicited
// events, inquiry lines and the remote adapter's answers. Everything runs on
// this thread: the adapter answers each write at once, inside the write, by
// feeding the dispatcher as the read thread would. The first two bytes
// choose the state the bytes arrive in; the rest arrives in chunks.
//
//   byte 0  bits 0-2  pending command: none, AT, AT+NAME?, AT+VER, AT+ENQ
//                     (timer-driven), +++, AT+FIND?, AT+ADDR?
//           bit 3     echo on: the adapter echoes the command first
//           bit 4     command responses off
//           bit 5     an inquiry is running
//           bit 6     a remote-access answer is awaited (handshake started)
//           bit 7     the device is initialised
//   byte 1  bits 0-5  chunk size - 1
//           bits 6-7  pairing state: idle, started, device 2 initialised,
//                     device 2 unpairing
//
// After the bytes the records must be intact, and a fresh "AT\r" answered
// "\r\nOK\r\n" must complete with exactly that answer, at its first write.
// The same input is then delivered again as a single read: how the bytes were
// split into reads must not change what the records and the window end up
// with.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "atcmd/answer_tracking.h"
#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/response_apply.h"
#include "fuzz_support.h"
#include "link/remote_config.h"
#include "serial/uart.h"

namespace {

using kx::fuzz::require;

constexpr const char* kPending[] = {"",         "AT\r", "AT+NAME?\r", "AT+VER\r",
                                    "AT+ENQ\r", "+++",  "AT+FIND?\r", "AT+ADDR?\r"};
constexpr int32_t kPairStates[] = {kx::PAIR_IDLE, kx::PAIRING_STARTED, kx::DEV2_INITIALISED,
                                   kx::DEV2_UNPAIRING};

void answerWrite(const uint8_t* data, std::size_t length);

struct Harness {
  kx::fuzz::FuzzWindow window;
  kx::fuzz::NullForm page;  // written by the answers' application, never read
  kx::fuzz::LoopbackAdapter adapter{answerWrite};

  // What the adapter answers to the next write, and to every one after it.
  std::string first;
  std::size_t chunk = 1;
  bool firstTaken = true;
  std::string later = "\r\nOK\r\n";
  int writes = 0;
};

Harness* gHarness = nullptr;

void deliver(const std::string& bytes, std::size_t chunk) {
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    kx::dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data() + at),
                             static_cast<uint32_t>(n));
  }
}

void answerWrite(const uint8_t*, std::size_t) {
  Harness& h = *gHarness;
  ++h.writes;
  if (!h.firstTaken) {
    h.firstTaken = true;
    deliver(h.first, h.chunk);
  } else {
    deliver(h.later, h.later.size());
  }
  // The fuzzed command waits 0 ms: whatever the answer made of the record is
  // what the sender finds. Setting the event ends that wait at once, as the
  // time-out would, without a trip through the scheduler.
  kx::atCommandEvent.set();
}

int32_t applyToPage() { return kx::applyCommandResponse(gHarness->page); }

void resetWorld() {
  kx::clearLocalDev();
  kx::clearInquiry();
  kx::clearPair();
  kx::clearRemote();
  kx::resetCommandEngine();
  gHarness->window.clear();
}

// The input's bytes, in reads of `chunk` bytes, in the state bytes 0 and 1 choose.
void runInput(const uint8_t* data, std::size_t size, std::size_t chunk) {
  Harness& h = *gHarness;
  resetWorld();

  const uint8_t state = data[0];
  const char* pending = kPending[state & 7];
  const bool echo = state & 0x08;
  kx::localDev.echo = echo;
  kx::localDev.cmdResponse = (state & 0x10) ? 0 : 1;
  kx::localDev.inquiryActive = (state & 0x20) ? 1 : 0;
  if (state & 0x40) {
    std::lock_guard lock(kx::remoteMutex);
    kx::remote.handshakeState = kx::HANDSHAKE_STARTED;
    kx::localDev.handshaked = 1;
    kx::localDev.connected = 1;
  }
  kx::localDev.initialised = (state & 0x80) ? 1 : 0;
  h.chunk = chunk;
  kx::pair.state = kPairStates[data[1] >> 6];
  kx::pair.dev2CmdResponse = kx::localDev.cmdResponse.load();

  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  if (pending[0] == '\0') {
    deliver(bytes, h.chunk);
  } else {
    h.first = (echo ? std::string(pending) : std::string()) + bytes;
    h.firstTaken = false;
    h.later = "\r\nOK\r\n";
    const bool timed = std::strcmp(pending, "AT+ENQ\r") == 0;
    // A zero wait: the answer (if the bytes make one) is in before the
    // sender looks, since the adapter answers inside the write.
    const int32_t result = kx::sendATCommand(pending, 1, timed ? 1 : 0, 0);
    if (timed) {
      // TIMER_AT_COMMAND fires: the window stops it and completes the command.
      require(result == 0, "timer-driven AT+ENQ not written");
      h.window.killTimer(kx::TIMER_AT_COMMAND);
      kx::completeTimerCommand();
    } else if (result == 0) {
      // The window applies a blocking command's answer.
      kx::applyCommandResponse(h.page);
    }
  }
  kx::fuzz::checkRecordInvariants();
}

// A fresh command on an adapter back in command mode with responses on.
void checkFreshCommand() {
  Harness& h = *gHarness;
  kx::localDev.dataMode = 0;
  kx::localDev.cmdResponse = 1;
  kx::pair.state = kx::PAIR_IDLE;
  h.firstTaken = true;
  h.later = "\r\nOK\r\n";
  {
    // Late answers of a command that went unanswered are waited for until
    // its time-out has passed once more. For the fuzzed command (0 ms) that
    // moment is already past and nothing arrives on this thread meanwhile:
    // the wait ends with the count cleared, as here.
    std::lock_guard lock(kx::atCommandMutex);
    if (kx::detail::answerTracking.staleDeadline <= std::chrono::steady_clock::now())
      kx::detail::answerTracking.stale = 0;
  }
  h.writes = 0;
  const int32_t fresh = kx::sendATCommand("AT\r", 0, 0, 1000);
  require(fresh == 0, "fresh AT after the input was not answered");
  require(h.writes == 1, "fresh AT not answered by the answer to its first write");
  {
    std::lock_guard lock(kx::atCommandMutex);
    require(kx::atCommand.responseComplete == 1, "fresh AT not complete");
    require(std::string(kx::fieldView(kx::atCommand.command)) == "AT\r",
            "fresh AT credited to another command");
    KX_FUZZ_REQUIRE(std::string(kx::fieldView(kx::atCommand.response)) == "\r\nOK\r\n",
                    "fresh AT answered " + kx::escapeBytes(kx::fieldView(kx::atCommand.response)));
  }
  kx::fuzz::checkRecordInvariants();
}

// The snapshot is kept raw, items apart by kItem, and only rendered for a
// report: building it costs a copy, not an escape per byte.
constexpr char kItem = '\x1f';

template <std::size_t N>
void add(std::string& s, const char* name, const char (&f)[N]) {
  s += name;
  s += '=';
  s += kx::fieldView(f);
  s += kItem;
}

void add(std::string& s, const char* name, int64_t value) {
  s += name;
  s += '=';
  s += std::to_string(value);
  s += kItem;
}

void addFrame(std::string& s, const kx::AtCommandRecord& r) {
  add(s, "command", r.command);
  add(s, "response", r.response);
  add(s, "param", r.param);
  add(s, "rxState", r.rxState);
  add(s, "rxIndex", r.rxIndex);
  add(s, "firstByteSeen", r.firstByteSeen);
  add(s, "responseComplete", r.responseComplete);
  add(s, "timerMode", r.timerMode.load());
}

// What the input left in the records and the window.
std::string snapshot() {
  std::string s;
  s.reserve(1024);
  {
    std::lock_guard lock(kx::atCommandMutex);
    s += "atCommand:";
    addFrame(s, kx::atCommand);
    s += "trailing:";
    addFrame(s, kx::detail::trailingFrame);
    add(s, "stale", kx::detail::answerTracking.stale);
    add(s, "bytesSinceWrite", kx::detail::answerTracking.bytesSinceWrite);
  }
  {
    std::lock_guard lock(kx::inquiryMutex);
    add(s, "inquiry.count", kx::inquiry.count.load());
    add(s, "inquiry.skipNext", kx::inquiry.skipNext.load());
    s.append("inquiry.line=")
        .append(kx::inquiry.line, static_cast<std::size_t>(kx::inquiry.lineLen)) += kItem;
    for (int i = 0; i < kx::inquiry.count.load() && i < kx::kMaxInquiryResults; ++i)
      add(s, "result", kx::inquiry.results[i]);
  }
  {
    std::lock_guard lock(kx::remoteMutex);
    add(s, "remote.peerAddress", kx::remote.peerAddress);
    add(s, "remote.handshakeState", kx::remote.handshakeState.load());
    add(s, "remote.answer0", kx::remote.handshakeResp[0]);
    add(s, "remote.answer1", kx::remote.handshakeResp[1]);
    add(s, "remote.answerLength", kx::remote.handshakeRespLen);
  }
  const kx::LocalDevRecord& d = kx::localDev;
  add(s, "connected", d.connected.load());
  add(s, "dataMode", d.dataMode.load());
  add(s, "inquiryActive", d.inquiryActive.load());
  add(s, "handshaked", d.handshaked.load());
  add(s, "initialised", d.initialised.load());
  add(s, "name", d.name);
  add(s, "address", d.address);
  add(s, "fwVersion", d.fwVersion);
  add(s, "bondedAddress", d.bondedAddress);
  const kx::fuzz::FuzzWindow& w = gHarness->window;
  add(s, "window.received", static_cast<int64_t>(w.received()));
  add(s, "window.digest", static_cast<int64_t>(w.digest()));
  for (const auto& n : w.notifications()) {
    add(s, "notify", n.id);
    add(s, "lParam", n.lParam);
    (s += n.text) += kItem;
  }
  for (const auto& b : w.boxes()) (s.append("box=") += b) += kItem;
  (s.append("timers=") += w.timers()) += kItem;
  return s;
}

void print(const std::string& snapshot) {
  std::size_t from = 0;
  for (std::size_t at; (at = snapshot.find(kItem, from)) != std::string::npos; from = at + 1)
    std::fprintf(stderr, "  %s\n",
                 kx::escapeBytes(std::string_view(snapshot).substr(from, at - from)).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  gHarness->window.setRecording(false);  // the snapshot compares the window's digest
  kx::mainWindowHandle = &gHarness->window;
  kx::clearUart();
  kx::copyField(kx::uart.comPort, "/dev/fuzzed-adapter");
  kx::uart.baud = 19200;
  kx::uart.stopBits = 1;
  kx::uart.parity = kx::PARITY_NONE_FLAG;
  kx::uart.handle = &gHarness->adapter;
  kx::applyResponseHook = applyToPage;
  kx::installRemoteConfiguration();
  kx::installCommandEngine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = (data[1] & 0x3F) + 1u;
  runInput(data, size, chunk);
  const std::string split = snapshot();
  checkFreshCommand();

  // The first read's length: the echoed command and the input's bytes.
  const char* pending = kPending[data[0] & 7];
  const std::size_t length = size - 2 + ((data[0] & 0x08) ? std::strlen(pending) : 0);
  if (length > chunk) {
    runInput(data, size, length);
    const std::string whole = snapshot();
    if (whole != split) {
      // Once more with the window's texts kept, for the report.
      gHarness->window.setRecording(true);
      runInput(data, size, chunk);
      std::fprintf(stderr, "--- in reads of %zu bytes:\n", chunk);
      print(snapshot());
      runInput(data, size, length);
      std::fprintf(stderr, "--- in one read:\n");
      print(snapshot());
      require(false, "the records depend on how the bytes were split into reads");
    }
  }
  return 0;
}
