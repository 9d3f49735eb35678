#include "atcmd/engine_hooks.h"

#include <atomic>

namespace kx {
namespace {
std::atomic<ApplyResponseHook> gApplyHook{nullptr};
std::atomic<RemoteAnswerReceiver> gRemoteReceiver{nullptr};
std::atomic<EventBoxHook> gEventBoxHook{nullptr};
}  // namespace

void setApplyResponseHook(ApplyResponseHook hook) { gApplyHook.store(hook); }
ApplyResponseHook applyResponseHook() { return gApplyHook.load(); }

void setRemoteAnswerReceiver(RemoteAnswerReceiver receiver) { gRemoteReceiver.store(receiver); }
RemoteAnswerReceiver remoteAnswerReceiver() { return gRemoteReceiver.load(); }

void setEventBoxHook(EventBoxHook hook) { gEventBoxHook.store(hook); }
EventBoxHook eventBoxHook() { return gEventBoxHook.load(); }

}  // namespace kx
