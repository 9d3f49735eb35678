#include "atcmd/engine_hooks.h"

#include <atomic>

namespace kx {
namespace {
std::atomic<ApplyResponseHook> gApplyHook{nullptr};
std::atomic<RemoteAnswerReceiver> gRemoteReceiver{nullptr};
}  // namespace

void setApplyResponseHook(ApplyResponseHook hook) { gApplyHook.store(hook); }
ApplyResponseHook applyResponseHook() { return gApplyHook.load(); }

void setRemoteAnswerReceiver(RemoteAnswerReceiver receiver) { gRemoteReceiver.store(receiver); }
RemoteAnswerReceiver remoteAnswerReceiver() { return gRemoteReceiver.load(); }


}  // namespace kx
