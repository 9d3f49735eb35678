// The command-line tool's console plumbing, one file per platform
// (console_posix.cpp, console_win.cpp): Ctrl-C, the progress line, and
// reading an answer while a cancel may come.
#pragma once

#include <cstdio>
#include <functional>

namespace kx::cli {

// Takes Ctrl-C (and on POSIX SIGTERM) away from the default handling, so that
// they reach an InterruptWatch instead. Call before the first thread starts.
void holdInterrupts();

// While it lives, each Ctrl-C calls onInterrupt on a thread of its own (POSIX:
// a sigwait thread; Windows: the console's control handler thread), never in
// a signal handler.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  struct State;
  State* state_ = nullptr;
};

// True when `out` is a terminal that can redraw a line in place (Windows: a
// console with VT processing, switched on here); else progress is printed as
// plain lines.
bool redrawsLines(std::FILE* out);

// Makes `out` write its bytes as they are: on Windows a text-mode stream
// turns every LF into CR LF, so a file that brings its own CR LF gets CR CR
// LF. Nothing to do elsewhere.
void writeBytesAsGiven(std::FILE* out);

// Waits up to timeoutMs for `in` to have input: 1 input (or its end) is
// there to read, 0 not yet.
int waitForInput(std::FILE* in, int timeoutMs);

// Reads one byte of `in` without stdio's buffering: 1 read, 0 the end, -1 an
// error.
int readInputByte(std::FILE* in, char* c);

}  // namespace kx::cli
