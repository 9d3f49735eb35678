// The calls the command engine makes into higher layers, each installed by
// the layer that owns it at start-up (or by a test). Until one is installed
// the engine does without it, as described per hook.
//
// Threading contract: setters may be called from any thread; the engine
// loads a hook atomically at each use. A hook must stay callable until it is
// replaced (install plain functions, not closures over short-lived objects).
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// Applies the answer now in `atCommand` to the local device and clears the
// record (the device layer's applyCommandResponse for the local page).
// Returns 0 when the answer was invalid, 1 otherwise. The hook reads and
// clears `atCommand` under atCommandMutex. Called by completeTimerCommand on
// the user-interface thread. Not installed: the answer is not applied.
using ApplyResponseHook = int32_t (*)();
void setApplyResponseHook(ApplyResponseHook hook);
ApplyResponseHook applyResponseHook();

// Receives the bytes of the remote adapter's two-byte answers while
// localDev.handshaked is 1 and no command is pending (the remote
// configuration's processHandshakeData). Called on the serial read thread;
// must not wait for the user-interface thread. Not installed: such bytes go
// to the command-answer parser like any other.
using RemoteAnswerReceiver = void (*)(const uint8_t* data, uint32_t count);
void setRemoteAnswerReceiver(RemoteAnswerReceiver receiver);
RemoteAnswerReceiver remoteAnswerReceiver();

}  // namespace kx
