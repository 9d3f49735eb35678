// The calls the command engine makes into higher layers, each installed by
// the layer that owns it at start-up (or by a test). Until one is installed
// the engine does without it, as described per hook.
//
// Threading contract: that of Hook (common/hook.h): installed and called from
// any thread; what a hook refers to must outlive the threads that call it.
#pragma once

#include <cstdint>
#include <string>

#include "common/hook.h"

namespace kx {

// Applies the answer now in `atCommand` to the local device and clears the
// record (the device layer's applyCommandResponse for the local page).
// Returns 0 when the answer was invalid, 1 otherwise. The hook reads and
// clears `atCommand` under atCommandMutex. Called by completeTimerCommand on
// the user-interface thread. Not installed: the answer is not applied.
extern Hook<int32_t()> applyResponseHook;

// Receives the bytes of the remote adapter's two-byte answers while
// localDev.handshaked is 1 and no command is pending (the remote
// configuration's processHandshakeData). Called on the serial read thread;
// must not wait for the user-interface thread. Not installed: such bytes go
// to the command-answer parser like any other.
extern Hook<void(const uint8_t* data, uint32_t count)> remoteAnswerReceiver;

// Ends the wait for a remote adapter's answer because a CONNECT or
// DISCONNECT event arrived in its place: the link the answer would have come
// over is gone (the remote configuration reports it and stops its timer).
// Called on the serial read thread, before the event itself is handled;
// must not wait for the user-interface thread. Not installed: the wait is
// called off (localDev.handshaked cleared) without a word.
extern Hook<void()> remoteLinkLost;

}  // namespace kx
