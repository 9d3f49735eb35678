// Engine-internal state shared by the sending side and the receive path,
// all guarded by atCommandMutex.
//
// Late answers: a command that was written twice (timeout and resend) may be
// answered twice, and a command that failed may be answered after it was
// given up. Such an answer must never complete the next command. The sender
// records how many answers may still be in flight when a command ends
// (`stale`); the receive path counts each answer framed after that down; the
// next command waits until they have arrived, at most `timeoutMs` after the
// previous command ended, before it clears the record and writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>

#include "common/records.h"

namespace kx::detail {

struct AnswerTracking {
  int32_t stale = 0;  // answers of earlier transmissions still expected
  std::chrono::steady_clock::time_point staleDeadline{};
  bool bytesSinceWrite = false;  // any byte reached the record since the command was written
};

extern AnswerTracking answerTracking;            // atCommandMutex
extern std::condition_variable staleAnswerSeen;  // waits on atCommandMutex

// Frames what arrives after the pending answer is complete and before the
// next command clears the record: events still count, and late answers are
// absorbed here without touching the completed answer.
extern AtCommandRecord trailingFrame;  // atCommandMutex

// A whole answer (final line or completed value) has been framed; the caller
// holds atCommandMutex.
void noteAnswerFramed();

void clearRecord(AtCommandRecord& rec);

}  // namespace kx::detail
