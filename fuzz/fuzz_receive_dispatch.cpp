// Fuzzes the receive path with every consumer installed: command answers and
// their application to the device, timer-collected answers, unsolicited
// events, inquiry lines and the remote adapter's answers. The first two bytes
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
// "\r\nOK\r\n" must complete with exactly that answer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "common/text.h"
#include "device/response_apply.h"
#include "fuzz_support.h"
#include "link/remote_config.h"
#include "platform/clock.h"
#include "platform/memory_form.h"
#include "platform/recording_window.h"
#include "platform/scripted_serial_device.h"
#include "platform/window.h"

namespace {

using kx::fuzz::require;

constexpr const char* kPending[] = {"",      "AT\r",     "AT+NAME?\r", "AT+VER\r",
                                    "AT+ENQ\r", "+++",   "AT+FIND?\r", "AT+ADDR?\r"};
constexpr int32_t kPairStates[] = {kx::PAIR_IDLE, kx::PAIRING_STARTED, kx::DEV2_INITIALISED,
                                   kx::DEV2_UNPAIRING};

struct Harness {
  kx::RecordingWindow window;
  kx::MemoryForm page;
  std::shared_ptr<kx::ScriptedPort> port = std::make_shared<kx::ScriptedPort>();
  std::unique_ptr<kx::ScriptedSerialDevice> device;

  // What the adapter answers to the next write, and to every one after it.
  std::string first;
  std::size_t chunk = 1;
  bool firstTaken = true;
  std::string later = "\r\nOK\r\n";
};

Harness* gHarness = nullptr;

void deliver(const std::string& bytes, std::size_t chunk) {
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    kx::dispatchReceivedData(reinterpret_cast<const uint8_t*>(bytes.data() + at),
                             static_cast<uint32_t>(n));
  }
}

// The adapter: answers each write at once, on the writing thread, as the
// read thread would hand the bytes on.
void onWrite(const std::string&) {
  Harness& h = *gHarness;
  if (!h.firstTaken) {
    h.firstTaken = true;
    deliver(h.first, h.chunk);
  } else {
    deliver(h.later, h.later.size());
  }
}

int32_t applyToPage() { return kx::applyCommandResponse(gHarness->page); }

void resetWorld() {
  kx::clearLocalDev();
  kx::clearInquiry();
  kx::clearPair();
  kx::clearRemote();
  kx::resetCommandEngine();
  gHarness->window.clear();
  gHarness->port->takeWritten();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::quietStartup();
  gHarness = new Harness;
  kx::setClockScale(0.0001);  // the escape guard and settle times
  kx::mainWindowHandle = &gHarness->window;
  gHarness->device = std::make_unique<kx::ScriptedSerialDevice>(gHarness->port);
  gHarness->device->open("/dev/fuzzed-adapter");
  kx::clearUart();
  kx::copyField(kx::uart.comPort, "/dev/fuzzed-adapter");
  kx::uart.baud = 19200;
  kx::uart.stopBits = 1;
  kx::uart.parity = kx::PARITY_NONE_FLAG;
  kx::uart.handle = gHarness->device.get();
  gHarness->port->writeObserver = onWrite;
  kx::applyResponseHook = applyToPage;
  kx::installRemoteConfiguration();
  kx::installCommandEngine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
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
  h.chunk = (data[1] & 0x3F) + 1u;
  kx::pair.state = kPairStates[data[1] >> 6];
  kx::pair.dev2CmdResponse = kx::localDev.cmdResponse.load();

  std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  if (pending[0] == '\0') {
    deliver(bytes, h.chunk);
  } else {
    h.first = (echo ? std::string(pending) : std::string()) + bytes;
    h.firstTaken = false;
    const bool timed = std::strcmp(pending, "AT+ENQ\r") == 0;
    // A zero wait: the answer (if the bytes make one) is in before the
    // sender looks, since the adapter answers inside the write.
    const int32_t result = kx::sendATCommand(pending, 1, timed ? 1 : 0, 0);
    if (timed) {
      // TIMER_AT_COMMAND fires: the window stops it and completes the command.
      require(result == 0, "timer-driven AT+ENQ not written");
      h.window.killTimer(kx::TIMER_AT_COMMAND);
      kx::atCommand.timerMode = 0;
      kx::completeTimerCommand();
    } else if (result == 0) {
      // The window applies a blocking command's answer.
      kx::applyCommandResponse(h.page);
    }
  }
  kx::fuzz::checkRecordInvariants();

  // A fresh command on an adapter back in command mode with responses on.
  kx::localDev.dataMode = 0;
  kx::localDev.cmdResponse = 1;
  kx::pair.state = kx::PAIR_IDLE;
  h.firstTaken = true;
  h.later = "\r\nOK\r\n";
  const int32_t fresh = kx::sendATCommand("AT\r", 0, 0, 1000);
  require(fresh == 0, "fresh AT after the input was not answered");
  {
    std::lock_guard lock(kx::atCommandMutex);
    require(kx::atCommand.responseComplete == 1, "fresh AT not complete");
    require(std::string(kx::fieldView(kx::atCommand.command)) == "AT\r",
            "fresh AT credited to another command");
    require(std::string(kx::fieldView(kx::atCommand.response)) == "\r\nOK\r\n",
            "fresh AT answered " + kx::escapeBytes(kx::fieldView(kx::atCommand.response)));
  }
  kx::fuzz::checkRecordInvariants();
  return 0;
}
