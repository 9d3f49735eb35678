#include "atcmd/receive_dispatch.h"

#include <cstring>
#include <mutex>
#include <string_view>

#include "atcmd/answer_tracking.h"
#include "atcmd/connect_event.h"
#include "atcmd/engine_hooks.h"
#include "atcmd/event_line.h"
#include "atcmd/inquiry_framer.h"
#include "atcmd/response_framer.h"
#include "atcmd/transmission.h"
#include "common/notify.h"
#include "common/records.h"
#include "platform/window.h"
#include "serial/uart.h"

namespace kx {
namespace {

constexpr int kCollectCapacity = kResponseSize - 1;

// A timer-driven command collects every byte; nothing is parsed until its
// timer fires. Returns false when no such command is in progress.
bool collectForTimerCommand(const uint8_t* data, uint32_t count) {
  std::lock_guard lock(atCommandMutex);
  if (atCommand.timerMode.load() != 1) return false;
  int32_t& at = atCommand.rxIndex;
  if (at < 0 || at > kCollectCapacity) at = kCollectCapacity;
  for (uint32_t i = 0; i < count && at < kCollectCapacity; ++i)
    atCommand.response[at++] = static_cast<char>(data[i]);
  atCommand.response[at] = '\0';
  return true;
}

bool noCommandPending() {
  std::lock_guard lock(atCommandMutex);
  return atCommand.command[0] == '\0';
}

// Bytes held back from the remote adapter's answer receiver while they may
// still turn out to be an event line: the link's DISCONNECT must end the wait
// as the event it is, not be taken byte by byte for the two-byte answer.
// Written on the read thread; cleared by resetCommandEngine.
constexpr std::size_t kHeldCapacity = kResponseSize - 1;
std::mutex gHeldMutex;
char gHeld[kHeldCapacity];
std::size_t gHeldSize = 0;

int32_t pendingShowInStatus() {
  std::lock_guard lock(atCommandMutex);
  return atCommand.showInStatus;
}

// The remote adapter's answer is awaited. Returns how many bytes of the read
// it took: once the wait has ended (an answer handled, an event), the rest is
// the caller's to route anew.
uint32_t receiveRemoteAnswer(const uint8_t* data, uint32_t count) {
  uint32_t i = 0;
  while (i < count && localDev.handshaked.load() == 1) {
    char held[kHeldCapacity];
    std::size_t size = 0;
    {
      std::lock_guard lock(gHeldMutex);
      gHeld[gHeldSize++] = static_cast<char>(data[i++]);
      if (gHeldSize < kHeldCapacity && mayBeEventLineStart({gHeld, gHeldSize})) continue;
      std::memcpy(held, gHeld, gHeldSize);
      size = gHeldSize;
      gHeldSize = 0;
    }
    const std::string_view line(held, size);
    ConnectEvent event;
    if (line.back() == '\n' && parseEventLine(lineText(line), &event)) {
      // The link went (or a stray CONNECT arrived): no answer will come.
      if (!remoteLinkLost.tryCall()) localDev.handshaked = 0;
      handleConnectEvent(event, pendingShowInStatus());
      continue;
    }
    std::size_t used = 0;
    while (used < size && localDev.handshaked.load() == 1) {
      const auto byte = static_cast<uint8_t>(held[used++]);
      remoteAnswerReceiver(&byte, 1);
    }
    // Held bytes after the answer come before the rest of the read.
    if (used < size)
      dispatchReceivedData(reinterpret_cast<const uint8_t*>(held) + used,
                           static_cast<uint32_t>(size - used));
  }
  return i;
}

// Bytes held for a wait that has ended meanwhile (its timer expired) are
// routed before the next read, as if they had just arrived.
void routeStaleHeldBytes() {
  char held[kHeldCapacity];
  std::size_t size = 0;
  {
    std::lock_guard lock(gHeldMutex);
    if (gHeldSize == 0 || localDev.handshaked.load() == 1) return;
    std::memcpy(held, gHeld, gHeldSize);
    size = gHeldSize;
    gHeldSize = 0;
  }
  dispatchReceivedData(reinterpret_cast<const uint8_t*>(held), static_cast<uint32_t>(size));
}

}  // namespace

void installCommandEngine() { receiveHandler = dispatchReceivedData; }
void uninstallCommandEngine() { receiveHandler = nullptr; }

void resetCommandEngine() {
  std::lock_guard lock(atCommandMutex);
  clearAtCommand();
  detail::clearRecord(detail::trailingFrame);
  detail::answerTracking = detail::AnswerTracking{};
  atCommandEvent.set();
  std::lock_guard held(gHeldMutex);
  gHeldSize = 0;
}

void dispatchReceivedData(const uint8_t* data, uint32_t count) {
  if (count > 0 && data == nullptr) return;
  routeStaleHeldBytes();
  if (collectForTimerCommand(data, count)) return;
  const bool idle = noCommandPending();
  if (idle && localDev.inquiryActive.load() == 1) {
    processInquiryData(data, count);
    return;
  }
  if (idle && localDev.handshaked.load() == 1 && remoteAnswerReceiver) {
    // The receiver gets bytes only while an answer is awaited. Once it has
    // handled one, or an event has ended the wait, the rest of the read is
    // routed anew, as it would be had it arrived in a read of its own (a
    // DISCONNECT right after the answer).
    const uint32_t taken = receiveRemoteAnswer(data, count);
    if (taken < count) dispatchReceivedData(data + taken, count - taken);
    return;
  }
  processCmdResponse(data, count);
}

void processCmdResponse(const uint8_t* data, uint32_t count) {
  const FramingContext ctx = currentFramingContext();
  // After a complete answer only final lines and events matter.
  const FramingContext trailingCtx{};
  // Filled by the framer only when it reports an event; kept out of the loop
  // so that a chunk costs no per-byte clearing of its 630 bytes.
  ConnectEvent event;
  uint32_t i = 0;
  while (i < count) {
    FrameResult result = FrameResult::None;
    int32_t showInStatus = 0;
    {
      // One lock for a run of bytes; it is let go to handle an event, whose
      // notifications and message box must not be raised under the lock.
      std::lock_guard lock(atCommandMutex);
      for (; i < count && result != FrameResult::Event; ++i) {
        if (atCommand.responseComplete == 1) {
          result = feedResponseByte(detail::trailingFrame, data[i], trailingCtx, &event);
          if (result == FrameResult::Complete) {
            detail::clearRecord(detail::trailingFrame);
            detail::noteAnswerFramed();
          }
        } else {
          detail::answerTracking.bytesSinceWrite = true;
          result = feedResponseByte(atCommand, data[i], ctx, &event);
          if (result == FrameResult::Complete) {
            detail::clearRecord(detail::trailingFrame);
            detail::noteAnswerFramed();
            atCommandEvent.set();
          } else if (result == FrameResult::Event) {
            // An event line is no answer to the pending command.
            detail::answerTracking.bytesSinceWrite = false;
            if (atCommand.command[0] == '\0') clearAtCommand();
          }
        }
      }
      showInStatus = atCommand.showInStatus;
    }
    if (result == FrameResult::Event) handleConnectEvent(event, showInStatus);
  }
}

void processInquiryData(const uint8_t* data, uint32_t count) {
  ConnectEvent event;  // filled only when the feed reports an event
  uint32_t i = 0;
  while (i < count) {
    InquiryFeed feed{};
    {
      // One lock for the bytes up to the end of a line; the line is acted
      // on (notifications, events) without the lock.
      std::lock_guard lock(inquiryMutex);
      for (; i < count && feed.line == InquiryLine::None; ++i)
        feed = feedInquiryByte(inquiry, data[i], &event);
    }
    switch (feed.line) {
      case InquiryLine::None:
      case InquiryLine::ResultDropped:
        break;
      case InquiryLine::Result:
        postNotify(NOTIFY_INQUIRY_RESULTS);
        break;
      case InquiryLine::End:
        localDev.inquiryActive = 0;
        postNotify(NOTIFY_STATUS_TEXT, 0, "Inquiry Complete.");
        postNotify(NOTIFY_CONNECTION_BUTTONS);
        if (feed.stored) postNotify(NOTIFY_INQUIRY_RESULTS);
        break;
      case InquiryLine::Event: {
        localDev.inquiryActive = 0;
        int32_t showInStatus;
        {
          std::lock_guard lock(atCommandMutex);
          showInStatus = atCommand.showInStatus;
        }
        handleConnectEvent(event, showInStatus);
        break;
      }
    }
    // The inquiry is over: the rest of the read is routed anew, as it would
    // be had it arrived in a read of its own.
    if ((feed.line == InquiryLine::End || feed.line == InquiryLine::Event) && i < count) {
      dispatchReceivedData(data + i, count - i);
      return;
    }
  }
}

}  // namespace kx
