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

// What the adapter said to a command, as applied.
enum class AnswerKind { Accepted, Refused, Invalid };

// 1 when the answer was applied (an ERROR answer included), 0 when it was
// invalid or the command is not in the command set. `kind` (may be null)
// receives which of the three the answer was.
int applyCommandResponse(FormInterface& page, AnswerKind* kind = nullptr);

// Sends `command` blocking, without status echo, waiting 1000 ms, and applies
// the answer when one came. Returns the send result.
int32_t sendAndApplyCommand(const char* command, FormInterface& page);

// The main window's RTS check box is disabled while hardware flow control
// owns the RTS line; the window installs this hook at start-up.
extern Hook<void(bool)> rtsBoxEnabledHook;

// Pure value extraction from an answer, exposed for the tests.
std::string framedValue(const std::string& param);          // "\r\nX\r\n" -> "X"
std::string commandValue(const std::string& command);       // after '=', up to CR

// The one decoding of each answer, shared by the response application and
// the pairing procedure. `command` is the command sent, `param` the value
// line that answered it (empty for a set command answered by OK alone,
// whose value comes from the command's own text). Letter case is ignored.

// A two-state setting named `key` ("RESP", "ACON", ...): 1 for
// "\r\nKEY+\r\n" or "AT+KEY+\r", 0 for the "-" forms, -1 (logged) for
// anything else.
int32_t decodeTwoState(const std::string& command, const std::string& param, const char* key);
// The role: 1 master ("ROLEM"), 2 slave ("ROLES"), -1 (logged) otherwise.
int32_t decodeRole(const std::string& command, const std::string& param);
// The bonded address an answer leaves: the value read, "0000-00-000000"
// after "AT+BOND-", the address set by "AT+BOND=..." in the adapter's form.
// Empty for anything else.
std::string decodeBond(const std::string& command, const std::string& param);

// A setting that drops the radio link was changed: the link state goes and
// the indicators follow.
void linkReset();

}  // namespace kx
