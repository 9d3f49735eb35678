// Finding and initialising the adapter: the local device page's Read
// Settings, Abort and Re-initialize buttons, and the page's start-up.
//
// Threading: every function here runs on the user-interface thread except
// initialiseDevice, which runs on its own worker thread started by
// onReadSettings. The worker reaches the window only through
// WindowInterface calls (status lines, the spinner, applying answers to the
// page through invokeOnUi) and the posted NOTIFY_DEVICE_INITIALISED.
// Before the window goes away, stopInitialisation() ends the worker.
#pragma once

#include <cstdint>
#include <string>

#include "platform/form.h"

namespace kx {

// The status line of an initialisation that found the adapter in data mode
// and brought it back to command mode with the escape sequence.
constexpr const char* kLeftDataModeStatus =
    "The adapter was in data mode and is back in command mode; it is still connected";

// How the front end lets the user stop the settings search, appended to the
// status line that announces the search. Set once at start-up, before any
// initialisation runs.
extern std::string searchStopHint;

// The query commands read by readAllSettings, in order.
extern const char* const readCommandList[20];

// The page's start-up: COM Port list, serial controls from `uart`, device
// controls disabled while not initialised.
void initLocalDevicePage(FormInterface& page);

// Takes port and line settings from the page into `uart` and opens the port.
bool openPortFromPage(FormInterface& page);

// What came of the last Read Settings. Callers decide on this, never on
// the status lines, which are words for the user.
enum class InitOutcome : int32_t {
  None,         // none yet, or the worker still runs
  Initialised,  // the adapter answered (already initialised: every setting read)
  PortFailed,   // the port did not open or refused the line settings
  OldFirmware,  // the adapter runs unsupported old firmware
  NotFound,     // no answer with any line settings
  Aborted,      // Abort, Ctrl-C or the window's close
  ReadFailed,   // already initialised, and reading the settings failed
};
InitOutcome initialisationOutcome();
// True when the last initialisation found the adapter in data mode and
// brought it back to command mode: it still has a radio link.
bool initialisationLeftDataMode();

void onReadSettings(FormInterface& page);
void onAbort();
void onReinitialize(FormInterface& page);

// Reads every setting into localDev and the page; stops on an answer that
// cannot be applied. 0 when every setting was read, 1 otherwise.
int32_t readAllSettings(FormInterface& page);

// The worker's body; exposed so that tests can run it on a thread of theirs.
void initialiseDevice(FormInterface& page);

// Empties the device fields of the page (serial controls and the firmware
// label keep their content).
void clearLocalDevicePage(FormInterface& page);

// True while the initialisation worker runs.
bool initialisationRunning();
// Asks a running worker to stop at its next step (like Abort, but silent
// towards the window) and, when the worker has ended, joins it. Returns true
// when no worker is left. The caller keeps the window's event processing going
// between calls while the worker may still wait for it.
bool stopInitialisation();

}  // namespace kx
