// kx627-cli log FILE [--csv]: the unit log's rows, oldest first.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "production/unit_log.h"

namespace kx::cli {

// Prints the log named by options.file: a table (every column but the
// settings read back), or with options.csv every column as CSV with a
// header row. Returns the exit code.
int printUnitLog(const Options& options, std::FILE* out, std::FILE* err);

// The rows of the unit log `file` (an SQLite file or a PostgreSQL address)
// before `before` (every row when empty), opened only for reading. Returns
// kExitOk, or kExitFileError with the reason written to `err`.
int readUnitLogRows(const std::string& file, const std::string& before,
                    std::vector<production::UnitRecord>* rows, std::FILE* err);

// A time as the unit log stores it (UTC, "2026-12-09T21:40:07.123Z"), shown in
// the local time with its offset from UTC: "2026-12-09 22:40:07.123 +01:00".
// Any other text is shown as stored.
std::string unitTimeText(const std::string& stored);

}  // namespace kx::cli
