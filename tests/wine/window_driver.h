// The real window under Wine's X11 driver, driven from outside with xdotool
// as a user would drive it (Wine offers no accessibility tree to read).
// Needs Wine on an X display of its own (scripts/test-windows starts Xvfb).
#pragma once

#include "support/sim_process.h"

#include <string>

namespace kx::test {

// Wine's loader for 64-bit programs.
inline constexpr const char* kWine = "/usr/lib/wine/wine64";

// The environment variable `name`, or "" when it is not set.
std::string env(const char* name);

// Waits for the window "KX627 Configuration Tool" to show, clicks Read
// Settings and waits until the window has read the simulator's adapter to
// the end, search included. Fails the test (fatally) otherwise.
void readTheAdapterInTheWindow(SimProcess& sim);

// Alt+F4 to the window that has the focus.
void closeTheWindow();

}  // namespace kx::test
