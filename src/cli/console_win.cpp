#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <mutex>

#include "cli/console.h"

namespace kx::cli {
namespace {

// The one watch's handler; the console calls ctrlHandler on a thread of its
// own for each event.
std::mutex gHandlerMutex;
std::function<void()> gOnInterrupt;

BOOL WINAPI ctrlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:  // what the parallel runner sends its children
    case CTRL_CLOSE_EVENT: {
      std::lock_guard lock(gHandlerMutex);
      if (!gOnInterrupt) return FALSE;
      gOnInterrupt();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

HANDLE handleOf(std::FILE* f) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f))); }

}  // namespace

// Windows sends Ctrl-C to a handler thread: nothing to hold.
void holdInterrupts() {}

struct InterruptWatch::State {};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) : state_(nullptr) {
  {
    std::lock_guard lock(gHandlerMutex);
    gOnInterrupt = std::move(onInterrupt);
  }
  ::SetConsoleCtrlHandler(ctrlHandler, TRUE);
}

InterruptWatch::~InterruptWatch() {
  ::SetConsoleCtrlHandler(ctrlHandler, FALSE);
  std::lock_guard lock(gHandlerMutex);
  gOnInterrupt = nullptr;
}

void writeBytesAsGiven(std::FILE* out) {
  std::fflush(out);
  _setmode(_fileno(out), _O_BINARY);
}

bool redrawsLines(std::FILE* out) {
  HANDLE h = handleOf(out);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return false;  // not a console
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int waitForInput(std::FILE* in, int timeoutMs) {
  HANDLE h = handleOf(in);
  if (h == INVALID_HANDLE_VALUE) return 1;  // the read reports it
  switch (::GetFileType(h)) {
    case FILE_TYPE_PIPE: {
      // A pipe cannot be waited on: look, and sleep a little between looks.
      const DWORD step = 20;
      for (int waited = 0;; waited += step) {
        DWORD available = 0;
        if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return 1;  // ended
        if (available > 0) return 1;
        if (waited >= timeoutMs) return 0;
        ::Sleep(step);
      }
    }
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      if (!::GetConsoleMode(h, &mode)) return 1;  // a character device that is no console (NUL)
      // The console's handle is signalled by any input event; only a key
      // typed is input for a read, the rest (focus, mouse, key releases) is
      // taken away.
      if (::WaitForSingleObject(h, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return 0;
      INPUT_RECORD records[64];
      DWORD count = 0;
      if (!::PeekConsoleInputA(h, records, 64, &count)) return 1;
      for (DWORD i = 0; i < count; ++i)
        if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
            records[i].Event.KeyEvent.uChar.AsciiChar != 0)
          return 1;
      ::ReadConsoleInputA(h, records, count, &count);
      return 0;
    }
    default:
      return 1;  // a file: always readable
  }
}

int readInputByte(std::FILE* in, char* c) {
  const int n = ::_read(::_fileno(in), c, 1);
  return n > 0 ? 1 : n == 0 ? 0 : -1;
}

}  // namespace kx::cli
