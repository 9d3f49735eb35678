#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "cli/console.h"

namespace kx::cli {
namespace {

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void holdInterrupts() {
  const sigset_t set = interruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Ctrl-C and SIGTERM are blocked everywhere and taken by this thread, so that
// the handler is ordinary code, not work in a signal handler.
struct InterruptWatch::State {
  std::atomic<bool> quitting{false};
  std::thread thread;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) : state_(new State) {
  state_->thread = std::thread([state = state_, onInterrupt = std::move(onInterrupt)] {
    const sigset_t set = interruptSignals();
    while (true) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (state->quitting) return;
      onInterrupt();
    }
  });
}

InterruptWatch::~InterruptWatch() {
  state_->quitting = true;
  // The thread waits in sigwait() for the blocked SIGINT/SIGTERM; this wakes
  // it to end, it does not terminate anything.
  pthread_kill(state_->thread.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  state_->thread.join();
  delete state_;
}

bool redrawsLines(std::FILE* out) { return ::isatty(::fileno(out)) != 0; }

void writeBytesAsGiven(std::FILE*) {}

int waitForInput(std::FILE* in, int timeoutMs) {
  struct pollfd p {::fileno(in), POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0 ? 1 : 0;
}

int readInputByte(std::FILE* in, char* c) {
  const ssize_t n = ::read(::fileno(in), c, 1);
  return n > 0 ? 1 : n == 0 ? 0 : -1;
}

}  // namespace kx::cli
