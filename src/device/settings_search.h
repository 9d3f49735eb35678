// Finding the adapter's line settings, and the old-firmware check.
//
// tryIterations runs one step of the search through all 132 combinations of
// speed (1200..921600) and framing (parity, stop bits, flow control): it sets
// the next combination on the PC port and probes with "AT+RESP?\r".
// Runs on the thread that calls it (the initialisation worker, or the
// pairing procedure); each unanswered step costs the 600 ms settle time plus
// the probe.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/form.h"

namespace kx {

// The search position: bIndex is the next speed index (also the adapter's
// baud code, 10..20), bTry the framing combination 0..11.
extern std::atomic<int32_t> bIndex;
extern std::atomic<int32_t> bTry;

// The steps of a whole search: 11 speeds in each of 12 framings.
constexpr int kSearchSteps = 132;

// What step `step` (1..kSearchSteps, in the order tryIterations goes) tries,
// and how far the search is: "Trying 38400 bit/s, no parity, one stop bit, no
// flow control (17 of 132)". Empty for a step outside the search.
std::string searchStepText(int step);

// Puts the search back to its first combination.
void resetSettingsSearch();

// 0 no answer with this combination (call again), 8 the adapter answered (the
// combination stays set), 1 every combination has been tried (search reset).
int32_t tryIterations();

// Probes with "ATI0\r" at the old firmware's fixed settings (19200, no
// parity, one stop bit, flow on), applies an answer to `page` (which sets
// localDev.oldFirmware), and puts the port back to the settings it found.
void CheckOldFirmware(FormInterface& page);

}  // namespace kx
