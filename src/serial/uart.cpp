#include "serial/uart.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "common/debug_log.h"
#include "common/notify.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/window.h"

namespace kx {
namespace {

// The open device; uart.handle points at it. Created by UartInit, destroyed by
// UartDeinit after both link threads have been joined.
std::unique_ptr<SerialDevice> gDevice;

// Serialises writes, so that two threads' bytes never interleave.
std::mutex hardwareMutex;
// Serialises opening and closing: two threads closing at once would join the
// link threads twice and free the device under each other.
std::mutex gOpenCloseMutex;

std::atomic<bool> gDeviceLost{false};
// Why the last UartInit failed to open the port (0: it opened), and what the
// last line-settings change of the device returned.
std::atomic<int> gLastOpenError{0};
std::atomic<int> gLastSettingsError{0};

std::thread gReadThread;
std::thread gStatusThread;

// The read thread owns every read of the port and readBuffer; no other thread
// reads, and no lock is held while the reader waits. Where the link's
// contract says "start the next read" (readCallback(2) from the opening
// thread) the reader is signalled instead: reception starts, and a reader
// waiting on the port is woken through the device's interruptRead().
uint8_t readBuffer[kReadBufferSize];
thread_local bool tIsReadThread = false;

// Wakes the link threads from their waits: for the start of reception and for
// the close. Neither thread holds this lock for longer than a flag check.
class LinkSignal {
 public:
  void startReceiving() {
    {
      std::lock_guard lock(mutex_);
      receiving_ = true;
    }
    cv_.notify_all();
  }
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    cv_.notify_all();
  }
  void reset() {
    std::lock_guard lock(mutex_);
    receiving_ = false;
    stopped_ = false;
  }
  bool receiving() {
    std::lock_guard lock(mutex_);
    return receiving_;
  }
  // Waits up to one link cycle (scaled like sleepMs) or until the wanted
  // state; true when the link is closing.
  bool waitCycle(bool untilReceiving) {
    std::unique_lock lock(mutex_);
    const auto cycle = std::chrono::microseconds(
        static_cast<long long>(kLinkCycleMs * 1000.0 * clockScale()));
    cv_.wait_for(lock, cycle, [&] { return stopped_ || (untilReceiving && receiving_); });
    return stopped_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool receiving_ = false;
  bool stopped_ = false;
};
LinkSignal gLinkSignal;

constexpr int kSupportedBauds[] = {1200,  2400,  4800,   9600,   14400,  19200,
                                   38400, 57600, 115200, 230400, 460800, 921600};

bool isListedBaud(int baud) {
  for (int b : kSupportedBauds)
    if (b == baud) return true;
  return false;
}

std::string asText(const uint8_t* data, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(data), length);
}

void dispatch(const uint8_t* data, uint32_t length) {
  receiveHandler(data, length);
}

// The first sign that the port has gone away (a hang-up on read, or a write
// the device refuses) is logged and posted to the window once per open.
void noteDeviceLost(int err) {
  if (!gDeviceLost.exchange(true)) {
    debugLog("UART: Failed to ReadData. Error %d", err);
    debugLog("UART: The device on %s has gone away (unplugged?)", uart.comPort);
    postNotify(NOTIFY_DEVICE_LOST, 0, deviceLostText(std::string(fieldView(uart.comPort))));
  }
}

bool meansDeviceGone(int err) { return err == ENODEV || err == EIO || err == ENXIO; }

}  // namespace

Hook<void(const uint8_t* data, uint32_t length)> receiveHandler;

bool UartDeviceLost() { return gDeviceLost.load(); }

std::string deviceLostText(const std::string& port) {
  return "The adapter on " + port +
         " has gone away (unplugged?). The port was closed; plug the adapter in again and press "
         "Read Settings.";
}

int32_t UartApplySettings() {
  SerialDevice* dev = uart.handle;
  if (!dev) return 0;
  LineSettings s = dev->settings();

  int baud = uart.baud;
  if (!isListedBaud(baud)) {
    debugLog("Unsupported Baudrate %d. Using default baudrate 19200", baud);
    baud = 19200;
  }
  debugLog("UART: Setting baudrate to %d", baud);
  s.baud = baud;

  s.rtsCts = uart.flow == 1;
  debugLog("UART: CTS flowcontrol set to %s", s.rtsCts ? "TRUE" : "FALSE");
  debugLog("UART: RTS Line set to %s", s.rtsCts ? "HARDWARE" : "ENABLED");

  int parityCode;
  switch (uart.parity) {
    case PARITY_ODD_FLAG:
      s.parity = Parity::Odd;
      parityCode = 1;
      break;
    case PARITY_EVEN_FLAG:
      s.parity = Parity::Even;
      parityCode = 2;
      break;
    case PARITY_NONE_FLAG:
      s.parity = Parity::None;
      parityCode = 0;
      break;
    default:
      debugLog("UART: Unsupported Parity %d. Using default PARITY_NONE", uart.parity);
      s.parity = Parity::None;
      parityCode = 0;
      break;
  }
  debugLog("UART: Setting parity to %d", parityCode);

  if (uart.stopBits == 2) {
    s.stopBits = 2;
  } else {
    if (uart.stopBits != 1)
      debugLog("UART: Unsupported Stop Bit Setting %d. Using default STOPBITS_ONE", uart.stopBits);
    s.stopBits = 1;
  }
  debugLog("UART: Setting Stopbits setting to %d", s.stopBits == 2 ? 2 : 0);

  const int err = dev->configure(s);
  gLastSettingsError = err;
  if (err != 0) {
    debugLog("UART: Failed to apply line settings. Error %d (%s)", err, errnoText(err).c_str());
    return 0;
  }
  return 1;
}

int32_t UartChangeSettings() {
  debugLog("UART: +%s baud %d flow %d stopbits %d parity %d", "UartChangeSettings", uart.baud,
           uart.flow, uart.stopBits, uart.parity);
  if (!UartApplySettings()) return 1;
  // Whatever was received or queued under the old settings is garbage now.
  UartPurge();
  sleepMs(kSettleMs);
  return 0;
}

int32_t UartPurge() {
  SerialDevice* dev = uart.handle;
  if (!dev) return 1;
  std::lock_guard lock(hardwareMutex);
  return dev->purge(true, true) == 0 ? 0 : 1;
}

int32_t UartWrite(const void* buffer, uint32_t length) {
  SerialDevice* dev = uart.handle;
  const std::string shown =
      debugEnabled() ? escapeBytes(std::string_view(static_cast<const char*>(buffer), length))
                     : std::string();
  if (!dev) {
    debugLog("UART: WriteFile failed to write buffer %s len %u to UART. Error %d", shown.c_str(),
             length, EBADF);
    return 1;
  }
  int err;
  {
    std::lock_guard lock(hardwareMutex);
    err = dev->write(static_cast<const uint8_t*>(buffer), length, kWriteTimeoutMs);
  }
  if (err != 0) {
    debugLog("UART: WriteFile failed to write buffer %s len %u to UART. Error %d", shown.c_str(),
             length, err);
    if (meansDeviceGone(err)) noteDeviceLost(err);
    return 1;
  }
  debugLog("UART: Written %u bytes to UART. buffer %s len %u", length, shown.c_str(), length);
  return 0;
}

int32_t UartReadData() {
  // On the read thread (after a chunk was handed on) the reader's loop starts
  // the next read itself.
  if (tIsReadThread) return 2;
  SerialDevice* dev = uart.handle;
  if (!dev || uart.isUartActive.load() != 1) {
    debugLog("UART: Readfile failed to read data from UART. Error %d", EBADF);
    return 1;
  }
  gLinkSignal.startReceiving();
  dev->interruptRead();
  return 2;
}

int32_t uartReadCallback(int32_t type, uint32_t* count) {
  switch (type) {
    case 1:
      sendNotify(NOTIFY_REFRESH_INDICATORS);
      appendStatus("UART initialised successfully");
      return 0;
    case 4:
      dispatch(readBuffer, count ? *count : 0);
      [[fallthrough]];
    case 2: {
      const int32_t r = UartReadData();
      if (r != 0 && r != 2) debugLog("UART: Failed to Read data from COM Port.");
      return r;
    }
    default:
      return 0;
  }
}

void tReadThread() {
  tIsReadThread = true;
  debugLog("UART: Started tReadThread");
  // A read completes when bytes arrive or after kReadChunkMs with nothing;
  // the reader wakes at least every link cycle to see whether the link closes.
  long long chunkStarted = monotonicMs();
  while (uart.isUartActive.load() == 1) {
    SerialDevice* dev = uart.handle;
    if (!dev || gDeviceLost.load() || !gLinkSignal.receiving()) {
      // Before reception starts, wait for its start. A device that has gone
      // stays gone until the port is closed: wait a whole cycle for the
      // close, since reception started long ago and would end the wait at
      // once, turning this loop into a spin.
      gLinkSignal.waitCycle(!gDeviceLost.load());
      chunkStarted = monotonicMs();
      continue;
    }
    const long long waited = monotonicMs() - chunkStarted;
    const int wait = static_cast<int>(
        std::max<long long>(0, std::min<long long>(kLinkCycleMs, kReadChunkMs - waited)));
    std::size_t got = 0;
    const int err = dev->read(readBuffer, sizeof readBuffer, wait, &got);
    if (err != 0) {
      if (meansDeviceGone(err)) {
        noteDeviceLost(err);
      } else {
        debugLog("UART: Failed to ReadData. Error %d", err);
        gLinkSignal.waitCycle(false);
      }
      continue;
    }
    if (got == 0 && monotonicMs() - chunkStarted < kReadChunkMs) continue;  // wait again
    if (got > 0 && debugEnabled())
      debugLog("UART: Read %zu bytes from UART. buffer %s len %zu", got,
               escapeBytes(asText(readBuffer, got)).c_str(), got);
    chunkStarted = monotonicMs();
    auto count = static_cast<uint32_t>(got);
    if (ReadCallback cb = uart.readCallback.load()) cb(4, &count);
  }
  debugLog("UART: tReadThread Exiting....");
}

void tMStatusThread() {
  debugLog("UART: Started tMStatusThread");
  while (uart.isUartActive.load() == 1) {
    SerialDevice* dev = uart.handle;
    uint32_t bits = 0;
    if (dev && !gDeviceLost.load() && dev->modemStatus(&bits) == 0) {
      bool ctsChanged = false;
      const bool ctsOn = (bits & MODEM_CTS_ON) != 0;
      if (ctsOn && localDev.cts == 0) {
        localDev.cts = 1;
        ctsChanged = true;
      } else if (!ctsOn && localDev.cts == 1) {
        localDev.cts = 0;
        ctsChanged = true;
      }
      const bool dsrOn = (bits & MODEM_DSR_ON) != 0;
      if (dsrOn && localDev.dsr == 0) {
        localDev.dsr = 1;
        postNotify(NOTIFY_REFRESH_INDICATORS);
      } else if (!dsrOn && localDev.dsr == 1) {
        localDev.dsr = 0;
        postNotify(NOTIFY_REFRESH_INDICATORS);
      } else if (ctsChanged) {
        postNotify(NOTIFY_REFRESH_INDICATORS);
      }
    }
    gLinkSignal.waitCycle(false);
  }
  debugLog("UART::tMStatusThread Exiting....");
}

namespace {

void closeDevice() {
  if (gDevice) gDevice->close();
  gDevice.reset();
  uart.handle = nullptr;
}

unsigned gHandleCounter = 0;

// The first sentence names the port as the user chose it; the second says
// what the system reported, so the user knows what to change.
void reportOpenFailure(int err) {
  const std::string port(fieldView(uart.comPort));
  const std::string reason = openFailureReason(err, port);
  showMessageBox(formatBounded(1024,
                               "Failed to open %s. Please check no other application is using "
                               "the port or the right port is selected\n%s",
                               port.c_str(), reason.c_str()),
                 MsgButtons::Ok);
  debugLog("UART: Failed to open %s. Error %d", port.c_str(), err);
  debugLog("UART: %s: %s", port.c_str(), reason.c_str());
}

}  // namespace

int UartLastOpenError() { return gLastOpenError; }

int32_t UartInit() {
  std::unique_lock openClose(gOpenCloseMutex);
  if (uart.isUartActive.load() == 1) {
    debugLog("UART: UartInit called while the port is open");
    return 1;
  }
  uart.readCallback = uartReadCallback;
  gDeviceLost = false;
  gLinkSignal.reset();

  gDevice = createSerialDevice();
  const int openErr = gDevice->open(uart.comPort);
  gLastOpenError = openErr;
  if (openErr != 0) {
    gDevice.reset();
    openClose.unlock();  // the box waits for the user
    reportOpenFailure(openErr);
    return 4;
  }
  uart.handle = gDevice.get();
  debugLog("UART: Successfully opened %s, handle = H%X", uart.comPort, ++gHandleCounter);

  if (const int err = gDevice->purge(true, true)) {
    debugLog("UART: PurgeComm failed. Error %d", err);
    closeDevice();
    return 1;
  }
  if (const int err = UartApplySettings() ? 0 : gLastSettingsError.load()) {
    debugLog("Failed to apply COM port settings. %s", uart.comPort);
    closeDevice();
    // A device that refuses serial line settings is no serial port.
    gLastOpenError = err == EINVAL ? ENOTTY : err;
    openClose.unlock();
    reportOpenFailure(gLastOpenError);
    return 5;
  }

  uart.isUartActive = 1;
  try {
    gReadThread = std::thread(tReadThread);
  } catch (const std::system_error& e) {
    debugLog("UART: Failed to create Read Thread. Error %d", e.code().value());
    uart.isUartActive = 0;
    closeDevice();
    return 1;
  }
  try {
    gStatusThread = std::thread(tMStatusThread);
  } catch (const std::system_error& e) {
    debugLog("UART: Failed to create Modem Status Thread. Error %d", e.code().value());
    uart.isUartActive = 0;
    gLinkSignal.stop();
    gReadThread.join();
    closeDevice();
    return 1;
  }

  UartRaiseDtr();
  postNotify(NOTIFY_DTR_STATE, 1);
  UartRaiseRts();
  postNotify(NOTIFY_RTS_STATE, 1);
  // The start-up notifications wait for the user-interface thread; no lock is
  // held across them.
  openClose.unlock();

  uartReadCallback(1, nullptr);
  uartReadCallback(2, nullptr);
  return 0;
}

int32_t UartDeinit() {
  std::lock_guard openClose(gOpenCloseMutex);
  debugLog("UART: +UartDeinit");
  if (uart.isUartActive.load() == 1) {
    debugLog("UART: Setting isUartActive to FALSE.");
    uart.isUartActive = 0;
  }
  // Wake both threads from their waits; they leave their loops at once. Wait
  // for them so that neither touches the device or the callback after the
  // close below.
  gLinkSignal.stop();
  if (uart.handle) uart.handle->interruptRead();
  if (gReadThread.joinable()) gReadThread.join();
  if (gStatusThread.joinable()) gStatusThread.join();

  if (uart.handle) {
    UartLowerDtr();
    postNotify(NOTIFY_DTR_STATE, 0);
    UartLowerRts();
    postNotify(NOTIFY_RTS_STATE, 0);
    uart.handle->purge(true, true);
  }
  const bool wasOpen = uart.handle != nullptr;
  closeDevice();
  debugLog("UART: -UartDeinit");
  // The link's state goes with the port; the port's name and line settings
  // stay, as the next open (a reopen after a factory reset, Read Settings
  // again) needs them.
  uart.handle = nullptr;
  uart.isUartActive = 0;
  uart.readCallback = nullptr;
  // Nothing drives the modem lines of a closed port: their LEDs go off.
  localDev.dsr = 0;
  localDev.cts = 0;
  // The UART LED goes off with the port, whoever closed it (Abort, a failed
  // search, Re-initialize, a lost adapter).
  if (wasOpen) postNotify(NOTIFY_REFRESH_INDICATORS);
  return 0;
}

namespace {

int32_t modemLine(bool dtr, bool on) {
  SerialDevice* dev = uart.handle;
  if (!dev) return EBADF;
  int err;
  {
    std::lock_guard lock(hardwareMutex);
    err = dtr ? dev->setDtr(on) : dev->setRts(on);
  }
  if (err != 0) {
    debugLog("UART: Failed to %s %s. Error %d", on ? "raise" : "lower", dtr ? "DTR" : "RTS", err);
    return err;
  }
  return 0;
}

}  // namespace

int32_t UartRaiseDtr() { return modemLine(true, true); }
int32_t UartLowerDtr() { return modemLine(true, false); }
int32_t UartRaiseRts() { return modemLine(false, true); }
int32_t UartLowerRts() { return modemLine(false, false); }

}  // namespace kx
