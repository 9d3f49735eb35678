// Shared by the fuzz targets: the record invariants every harness checks
// after each input, and a check that stops the run with a message (libFuzzer
// then saves the input that broke it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::fuzz {

// Stops the process with `what` when `ok` is false.
void require(bool ok, const std::string& what);

// Every fixed-size text field of the global records (and of the last
// settings file read) holds its NUL within its capacity; the counters and
// indices stay inside their arrays; the inquiry keeps at most 10 results.
// Takes each record's lock.
void checkRecordInvariants();

// Silences the debug log and the libFuzzer-irrelevant output of the tool.
void quietStartup();

}  // namespace kx::fuzz
