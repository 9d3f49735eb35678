// Pairing two adapters through the one serial port, and undoing it. The
// user swaps the adapters on the port when asked ("Connect Device 2 to ...").
//
// Threading: the procedures run on the user-interface thread and block it
// in every send, wait and prompt; status lines are repainted as they come.
// requestPairingStop() (from the window's close) makes a running procedure
// end at its next step, cleanly, as if the user had cancelled.
#pragma once

#include <cstdint>
#include <string>

#include "common/control_ids.h"
#include "platform/form.h"

namespace kx {


// What came of a pairing or unpairing; callers decide on this, never on the
// status lines.
enum class PairingOutcome : int32_t {
  Succeeded,
  Failed,
  Cancelled,   // a prompt answered Cancel, or the window closing
  NotStarted,  // the adapter was not initialised (or, to unpair, not bonded)
};

// `pairPage` is the Pairing page, `localPage` the local device page.
PairingOutcome pairDevices(FormInterface& pairPage, FormInterface& localPage);
PairingOutcome unpairDevices(FormInterface& pairPage, FormInterface& localPage);

// Sends a command and applies its answer with processPairResponse.
int32_t sendPairCommand(const char* command, FormInterface& pairPage, FormInterface& localPage);
int processPairResponse(FormInterface& pairPage, FormInterface& localPage);
int32_t restoreUartSettings(int32_t baud, int32_t parity, int32_t flow, int32_t stopBits);

void refreshPairPage(FormInterface& pairPage);
void clearPairPage(FormInterface& pairPage);

void requestPairingStop();
bool pairingRunning();

}  // namespace kx
