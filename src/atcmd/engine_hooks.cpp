#include "atcmd/engine_hooks.h"

namespace kx {

Hook<int32_t()> applyResponseHook;
Hook<void(const uint8_t* data, uint32_t count)> remoteAnswerReceiver;
Hook<void()> remoteLinkLost;

}  // namespace kx
