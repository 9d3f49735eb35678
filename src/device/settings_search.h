// Finding the adapter's line settings, and the old-firmware check.
//
// The search is one table of steps, read in order by tryIterations and by the
// progress line. Before the search the caller has probed at the settings the
// port is at (the page's own), so the table leaves those out and starts with
// the settings most adapters run at (no parity, one stop bit, no flow control
// at 19200, 9600, 38400, 57600 and 115200 bit/s, then the legacy factory
// setting 19200 with flow control), then sweeps every other combination of
// speed (1200..921600) and framing (parity, stop bits, flow control), all
// eleven speeds of a framing before the next framing. Every one of the 132
// combinations is tried exactly once: the own one by the caller's probe, the
// others by one step each.
//
// Threading: resetSettingsSearch and tryIterations run on the thread that
// searches (the initialisation worker, or the pairing procedure on the
// user-interface thread); each unanswered step costs the 600 ms settle time
// plus the probe. searchStepCount and searchStepText may be called from any
// thread (the progress line reads them while the searcher waits).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/form.h"

namespace kx {

// Which part of the search a step belongs to.
enum class SearchPass { Likely, Sweep };

struct SearchStep {
  int32_t baud;      // bits per second
  int32_t parity;    // PARITY_*_FLAG
  int32_t stopBits;  // 1 or 2
  int32_t flow;      // 1 on, 0 off
  SearchPass pass;
};

// The combinations of a whole search: 11 speeds in each of 12 framings.
constexpr int kSearchCombinations = 132;

// The order of a search that starts at `own` (the settings already probed):
// the likely settings, then the sweep, none repeated and `own` left out.
std::vector<SearchStep> searchOrder(const SearchStep& own);

// The number of the next step, 1 based (1 after a reset).
extern std::atomic<int32_t> searchStepNumber;

// Puts the search back to its first step; the settings in `uart` now are the
// ones the caller probed, which the search leaves out.
void resetSettingsSearch();

// Steps in the search set up by the last reset.
int searchStepCount();

// What step `step` (1..searchStepCount()) tries, which pass it is in and how
// far the search is: "Common settings: trying 38400 bit/s, no parity, one stop
// bit, no flow control (3 of 131)". Empty for a step outside the search.
std::string searchStepText(int step);

// The same without the settings, for a progress line that names them apart:
// "Search step 3 of 131 (common settings)".
std::string searchStepHeading(int step);

// 0 no answer with this step's settings (call again), 8 the adapter answered
// (the settings stay set), 1 every step has been tried (search reset).
int32_t tryIterations();

// Probes with "ATI0\r" at the old firmware's fixed settings (19200, no
// parity, one stop bit, flow on), applies an answer to `page` (which sets
// localDev.oldFirmware), and puts the port back to the settings it found.
void CheckOldFirmware(FormInterface& page);

}  // namespace kx
