#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>

#include "platform/win32_error.h"
#include "platform/win32_serial_device.h"

namespace kx {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, 0 once it has passed.
DWORD msLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

// An error while the port is in use: the ones a vanished device gives
// (a USB adapter pulled out) are ENODEV, as on Linux.
int ioError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
      return ENODEV;
    default:
      return errnoFromWin32(error);
  }
}

bool isComName(const std::string& port) {
  if (port.size() < 4 || (port.compare(0, 3, "COM") != 0 && port.compare(0, 3, "com") != 0))
    return false;
  return std::all_of(port.begin() + 3, port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::unique_ptr<SerialDevice> createNativeSerialDevice() {
  return std::make_unique<Win32SerialDevice>();
}

std::string errnoText(int err) {
  // The C runtime's strerror keeps its text per thread.
  return std::generic_category().message(err);
}

// Windows names no holder of a COM port to an ordinary program.
std::string portHolders(const std::string&) { return {}; }

std::string permissionHint(const std::string& port) {
  return "Access to " + port + " is denied: the port is not open to this user.";
}

struct Win32SerialDevice::State {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE interrupt = nullptr;  // auto-reset: one interruptRead() ends one read

  // The read thread's own: the WaitCommEvent that may stay pending from one
  // read() to the next, and the ReadFile of the queued bytes.
  OVERLAPPED waitIo{};
  DWORD waitMask = 0;
  bool waitPending = false;
  OVERLAPPED readIo{};

  std::mutex writeMutex;  // one write at a time, each with its own completion
  OVERLAPPED writeIo{};

  mutable std::mutex settingsMutex;
  LineSettings settings;

  // Ends the pending WaitCommEvent and waits for it to be done with waitIo.
  void endWait() {
    if (!waitPending) return;
    ::SetCommMask(port, 0);  // completes the wait
    ::CancelIoEx(port, &waitIo);
    DWORD ignored = 0;
    ::GetOverlappedResult(port, &waitIo, &ignored, TRUE);
    waitPending = false;
  }

  // Reads up to `capacity` of the queued bytes without waiting.
  int readQueued(uint8_t* buffer, DWORD count, std::size_t* got) {
    ::ResetEvent(readIo.hEvent);
    DWORD done = 0;
    if (!::ReadFile(port, buffer, count, &done, &readIo)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return ioError(error);
      // The time-outs make the read end at once with what is there.
      if (!::GetOverlappedResult(port, &readIo, &done, TRUE)) return ioError(::GetLastError());
    }
    *got = done;  // 0 when a purge took the bytes first
    return 0;
  }
};

Win32SerialDevice::Win32SerialDevice() : s_(std::make_unique<State>()) {}

Win32SerialDevice::~Win32SerialDevice() { close(); }

std::string Win32SerialDevice::devicePath(const std::string& port) {
  return isComName(port) ? "\\\\.\\" + port : port;
}

int Win32SerialDevice::open(const std::string& port) {
  if (s_->port != INVALID_HANDLE_VALUE) return EBUSY;
  const std::string path = devicePath(port);
  // A directory cannot be opened as a file at all (access denied); name it
  // as POSIX does rather than call it busy.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // Opening a COM port that another program holds is refused as access
    // denied: that is the port being busy.
    return error == ERROR_ACCESS_DENIED ? EBUSY : errnoFromWin32(error);
  }
  auto fail = [h](int err) {
    ::CloseHandle(h);
    return err;
  };
  // Reads end at once with what is queued; writes are timed by write(). A
  // file, or a device that is no serial port, refuses comm time-outs: that
  // is the test (GetCommState is no test: under Wine it fails on a port
  // mapped onto a pseudo-terminal).
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (::GetFileType(h) != FILE_TYPE_CHAR || !::SetCommTimeouts(h, &timeouts)) return fail(ENOTTY);
  if (!::SetCommMask(h, EV_RXCHAR)) return fail(errnoFromWin32(::GetLastError()));
  ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);

  // The interrupt event resets itself when a read takes it; the completion
  // events are reset before each operation.
  HANDLE events[4] = {};
  for (int i = 0; i < 4; ++i) {
    const BOOL manualReset = i != 0;
    events[i] = ::CreateEventA(nullptr, manualReset, FALSE, nullptr);
    if (!events[i]) {
      const int err = errnoFromWin32(::GetLastError());
      for (HANDLE made : events)
        if (made) ::CloseHandle(made);
      return fail(err);
    }
  }
  s_->port = h;
  s_->interrupt = events[0];
  s_->waitIo = {};
  s_->waitIo.hEvent = events[1];
  s_->readIo = {};
  s_->readIo.hEvent = events[2];
  s_->writeIo = {};
  s_->writeIo.hEvent = events[3];
  s_->waitPending = false;
  return 0;
}

void Win32SerialDevice::close() {
  if (s_->port == INVALID_HANDLE_VALUE) return;
  s_->endWait();
  ::CloseHandle(s_->port);
  for (HANDLE e : {s_->interrupt, s_->waitIo.hEvent, s_->readIo.hEvent, s_->writeIo.hEvent})
    ::CloseHandle(e);
  s_->port = INVALID_HANDLE_VALUE;
  s_->interrupt = nullptr;
}

bool Win32SerialDevice::isOpen() const { return s_->port != INVALID_HANDLE_VALUE; }

int Win32SerialDevice::configure(const LineSettings& settings) {
  if (s_->port == INVALID_HANDLE_VALUE) return EBADF;
  if (!isSupportedBaud(settings.baud)) return EINVAL;
  // The driver's own state where it gives it (Wine refuses it for a port on
  // a pseudo-terminal: ERROR_INVALID_PARAMETER); every field that matters
  // is set below either way, and SetCommState reports a port that is gone.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(s_->port, &dcb)) {
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
  }
  // Raw 8-bit bytes: binary mode, no XON/XOFF, no byte replaced or dropped,
  // DTR on; RTS on, or driven by the receiver with flow control.
  dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parity != Parity::None;
  dcb.Parity = settings.parity == Parity::Odd    ? ODDPARITY
               : settings.parity == Parity::Even ? EVENPARITY
                                                 : NOPARITY;
  dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fOutxCtsFlow = settings.rtsCts;
  dcb.fRtsControl = settings.rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  if (!::SetCommState(s_->port, &dcb)) return ioError(::GetLastError());
  std::lock_guard lock(s_->settingsMutex);
  s_->settings = settings;
  return 0;
}

LineSettings Win32SerialDevice::settings() const {
  std::lock_guard lock(s_->settingsMutex);
  return s_->settings;
}

int Win32SerialDevice::read(uint8_t* buffer, std::size_t capacity, int timeoutMs,
                            std::size_t* got) {
  *got = 0;
  State& s = *s_;
  if (s.port == INVALID_HANDLE_VALUE) return EBADF;
  if (capacity == 0) return 0;
  const DWORD most = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (true) {
    // Bytes already queued are taken at once. EV_RXCHAR reports only bytes
    // that arrive after the wait started, so the queue is looked at again
    // once the wait is armed.
    for (int look = 0; look < 2; ++look) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!::ClearCommError(s.port, &errors, &status)) return ioError(::GetLastError());
      if (status.cbInQue > 0) return s.readQueued(buffer, std::min(most, status.cbInQue), got);
      if (s.waitPending) break;
      ::ResetEvent(s.waitIo.hEvent);
      s.waitMask = 0;
      if (::WaitCommEvent(s.port, &s.waitMask, &s.waitIo)) continue;  // an event already
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return ioError(error);
      s.waitPending = true;
    }
    if (!s.waitPending) {  // events without input: look again while there is time
      if (msLeft(deadline) == 0) return 0;
      continue;
    }
    const HANDLE handles[2] = {s.interrupt, s.waitIo.hEvent};
    const DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, msLeft(deadline));
    if (woke == WAIT_OBJECT_0 || woke == WAIT_TIMEOUT) return 0;  // interrupted, or no input
    if (woke != WAIT_OBJECT_0 + 1) return errnoFromWin32(::GetLastError());
    // Waiting for the result, now that the event is set: Wine may set it a
    // moment before the result is there (ERROR_IO_INCOMPLETE without a wait).
    DWORD ignored = 0;
    const BOOL ok = ::GetOverlappedResult(s.port, &s.waitIo, &ignored, TRUE);
    s.waitPending = false;
    if (!ok) {
      const DWORD error = ::GetLastError();
      // Wine aborts the first wait after a cold start now and then: wait
      // again. Anything else is the port failing.
      if (error != ERROR_OPERATION_ABORTED) return ioError(error);
      if (msLeft(deadline) == 0) return 0;
    }
  }
}

void Win32SerialDevice::interruptRead() {
  if (s_->interrupt) ::SetEvent(s_->interrupt);
}

int Win32SerialDevice::write(const uint8_t* data, std::size_t length, int timeoutMs) {
  State& s = *s_;
  if (s.port == INVALID_HANDLE_VALUE) return EBADF;
  std::lock_guard lock(s.writeMutex);
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::size_t done = 0;
  while (done < length) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 20));
    DWORD written = 0;
    ::ResetEvent(s.writeIo.hEvent);
    if (!::WriteFile(s.port, data + done, chunk, &written, &s.writeIo)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return ioError(error);
      if (::WaitForSingleObject(s.writeIo.hEvent, msLeft(deadline)) != WAIT_OBJECT_0) {
        ::CancelIoEx(s.port, &s.writeIo);
        ::GetOverlappedResult(s.port, &s.writeIo, &written, TRUE);
        return ETIMEDOUT;
      }
      if (!::GetOverlappedResult(s.port, &s.writeIo, &written, TRUE))  // set: done or nearly
        return ioError(::GetLastError());
    }
    done += written;
    if (written == 0 && msLeft(deadline) == 0) return ETIMEDOUT;
  }
  return 0;
}

int Win32SerialDevice::purge(bool input, bool output) {
  if (s_->port == INVALID_HANDLE_VALUE) return EBADF;
  // Clears the queues only: aborting would also end a write or read that
  // another thread has under way.
  const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
  if (flags == 0) return 0;
  return ::PurgeComm(s_->port, flags) ? 0 : ioError(::GetLastError());
}

int Win32SerialDevice::modemStatus(uint32_t* bits) {
  *bits = 0;
  if (s_->port == INVALID_HANDLE_VALUE) return EBADF;
  DWORD lines = 0;
  if (!::GetCommModemStatus(s_->port, &lines)) return errnoFromWin32(::GetLastError());
  if (lines & MS_CTS_ON) *bits |= MODEM_CTS_ON;
  if (lines & MS_DSR_ON) *bits |= MODEM_DSR_ON;
  return 0;
}

int Win32SerialDevice::setDtr(bool on) {
  if (s_->port == INVALID_HANDLE_VALUE) return EBADF;
  return ::EscapeCommFunction(s_->port, on ? SETDTR : CLRDTR) ? 0
                                                             : errnoFromWin32(::GetLastError());
}

int Win32SerialDevice::setRts(bool on) {
  if (s_->port == INVALID_HANDLE_VALUE) return EBADF;
  return ::EscapeCommFunction(s_->port, on ? SETRTS : CLRRTS) ? 0
                                                             : errnoFromWin32(::GetLastError());
}

}  // namespace kx
