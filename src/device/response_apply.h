// Applying the adapter's answers: every command sent to the local adapter
// (but the pairing procedure's and the remote-access bytes) ends here once its
// answer is in `atCommand`. The answer is stored in `localDev` (and the four
// line settings in `uart`, re-tuning the PC port when the adapter changed
// them), shown on the local device page and in the status window, and the
// follow-ups of a few commands are started. `atCommand` is cleared afterwards.
//
// Runs on the user-interface thread (a worker reaches it through
// WindowInterface::invokeOnUi); not re-entrant.
#pragma once

#include <cstdint>
#include <functional>

#include "common/hook.h"
#include "platform/form.h"

namespace kx {

// 1 when the answer was applied (an ERROR answer included), 0 when it was
// invalid or the command is not in the command set.
int applyCommandResponse(FormInterface& page);

// Sends `command` blocking, without status echo, waiting 1000 ms, and applies
// the answer when one came. Returns the send result.
int32_t sendAndApplyCommand(const char* command, FormInterface& page);

// The main window's RTS check box is disabled while hardware flow control
// owns the RTS line; the window installs this hook at start-up.
extern Hook<void(bool)> rtsBoxEnabledHook;

// Pure value extraction from an answer, exposed for the tests.
std::string framedValue(const std::string& param);          // "\r\nX\r\n" -> "X"
std::string commandValue(const std::string& command);       // after '=', up to CR

}  // namespace kx
