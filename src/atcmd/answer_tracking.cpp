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

void clearRecord(AtCommandRecord& rec) {
  std::memset(rec.command, 0, sizeof rec.command);
  std::memset(rec.response, 0, sizeof rec.response);
  std::memset(rec.param, 0, sizeof rec.param);
  rec.rxState = 0;
  rec.responseComplete = 0;
  rec.firstByteSeen = 0;
  rec.rxIndex = 0;
  rec.showInStatus = 0;
  rec.expectsData = 0;
  rec.timerMode = 0;
}

}  // namespace kx::detail
