// The last outcome of some kind of exchange (a link event, an answer from
// the remote adapter) with a count of how many there have been. A caller
// that acts and then waits notes the count first and waits for it to move:
// no outcome is missed, however quickly it comes, and none is taken twice.
//
// Threading contract: note() and read() from any thread.
#pragma once

#include <cstdint>
#include <mutex>

namespace kx {

template <typename Outcome>
struct OutcomeNote {
  uint32_t count = 0;
  Outcome last{};
};

template <typename Outcome>
class OutcomeCounter {
 public:
  void note(Outcome outcome) {
    std::lock_guard lock(mutex_);
    ++note_.count;
    note_.last = outcome;
  }
  OutcomeNote<Outcome> read() const {
    std::lock_guard lock(mutex_);
    return note_;
  }

 private:
  mutable std::mutex mutex_;
  OutcomeNote<Outcome> note_;
};

}  // namespace kx
