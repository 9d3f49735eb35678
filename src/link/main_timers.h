// The expiry of the main window's three timers: TIMER_AT_COMMAND completes a
// timer-driven command, TIMER_INQUIRY shows inquiry progress, TIMER_HANDSHAKE
// ends the wait for the remote adapter's answer. Whichever front end owns the
// timers (the window, the command-line tool) keeps only the timers and calls
// onMainTimer when one fires.
//
// Threading: user-interface thread (the thread the timers fire on).
#pragma once

#include <cstdint>

#include "platform/form.h"

namespace kx {

// `connectionPage` and `mainWindow` hold the controls the inquiry's end
// unlocks (the Connection page's buttons, the main window's page buttons).
void onMainTimer(int32_t id, FormInterface& connectionPage, FormInterface& mainWindow);

}  // namespace kx
