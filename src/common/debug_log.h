// The diagnostic log: Debug.txt in the start directory, written by debugLog
// from any thread while it is switched on from the Debug menu.
//
// Threading contract: debugLog may be called from any thread at any time,
// also while another thread switches the log off; one lock covers the
// check-and-write and the close, so lines never mix and never hit a closed
// file. toggleDebug runs on the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/printf_format.h"

namespace kx {

// 1 while the log is on.
extern std::atomic<int32_t> debugFlag;

// The directory the program started in; Debug.txt, settings.txt and the
// manuals always live here.
extern std::string startupDirectory;

// While the log is on: formats into 1024 bytes (at most 1023 characters;
// longer text is cut) and writes it followed by a line break.
void debugLog(const char* fmt, ...) KX_PRINTF_FORMAT(1, 2);

// True while the log is on; lets a caller skip preparing costly arguments.
inline bool debugEnabled() { return debugFlag.load(std::memory_order_relaxed) == 1; }

// Switches the log. `checked` is the menu item's current check mark; returns
// the new one. Switching on creates Debug.txt anew in startupDirectory and
// writes "Setting debugFlag = TRUE" first; a failure leaves the log off and
// puts the errno in *err (the menu shows debugOpenErrorText for it).
bool toggleDebug(bool checked, int* err = nullptr);

// Creates the log anew at `path` and switches it on (the command-line tool's
// --log). False, with errno in *err, when the file cannot be created.
bool openDebugLogAt(const std::string& path, int* err = nullptr);

// The message box text for a failed open of Debug.txt with this errno.
std::string debugOpenErrorText(int err);

// Closes the log if it is open (program end, tests). False when some of it
// could not be written (a full disk): the log is incomplete.
bool closeDebugLog();

}  // namespace kx
