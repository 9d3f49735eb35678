#include "atcmd/answer_tracking.h"

#include <cstring>

namespace kx::detail {

AnswerTracking answerTracking;
std::condition_variable staleAnswerSeen;
AtCommandRecord trailingFrame;

void noteAnswerFramed() {
  if (answerTracking.stale > 0) {
    --answerTracking.stale;
    staleAnswerSeen.notify_all();
  }
}

void clearRecord(AtCommandRecord& rec) { clearAtCommandRecord(rec); }

}  // namespace kx::detail
