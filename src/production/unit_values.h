// The values one unit is programmed with: a settings file's lines, the
// --set KEY=VALUE options over them and, with --values, one row of a CSV list
// between the two. A value may hold placeholders, filled for each adapter
// after it has been read:
//   {address}    the adapter's 12 hex digits, without hyphens
//   {address:N}  its last N hex digits (1..12)
//   {seq}        the unit's number in the unit log; {seq:N} zero-padded to N
// A filled value is checked by the settings file's rules before anything is
// sent: a name that grows past its field is that unit's error, not a cut.
// Pure functions but for reading the files; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/settings_check.h"

namespace kx::production {

// One value before filling: a checked line when it holds no placeholder.
struct TemplateLine {
  int key = -1;           // a SettingsKey
  std::string value;      // as written
  bool placeholders = false;
  SettingsLine checked;   // when !placeholders
};

// The values list: the header's keys and each row's values (an empty cell
// leaves the settings file's value).
struct ValuesList {
  std::string path;
  std::vector<int> keys;                         // SettingsKey per column
  std::vector<std::vector<std::string>> rows;    // rows[i] is the list's row i + 2
  int lastRow() const { return static_cast<int>(rows.size()) + 1; }
};

struct UnitTemplate {
  std::vector<TemplateLine> lines;  // the settings file's, in its order
  std::vector<TemplateLine> sets;   // --set, laid over the file and the list row
  std::optional<ValuesList> values;
  bool usesSeq = false;             // some value holds {seq}
};

// Reads the settings file, the --set options and the values list, and
// checks every value that holds no placeholder and the placeholders' form.
// Problems are appended to `messages` as "FILE:LINE: problem"; false when
// there is any (or a file cannot be read: `readError` says so).
bool loadUnitTemplate(const std::string& file, const std::vector<std::string>& sets,
                      const std::string& valuesPath, UnitTemplate* out,
                      std::vector<std::string>* messages);

// The problem with the placeholders in `value` ("unknown placeholder
// {adress}"), or empty.
std::string placeholderProblem(std::string_view value);
// `value` with its placeholders filled; `address` in any form the adapter
// gives it (hyphens allowed).
std::string fillPlaceholders(std::string_view value, std::string_view address, long long seq);

// The checked lines for one unit: the template with row `row` of the list
// (0: none) laid over it and every placeholder filled. Empty, and `problem`
// set ("Name: 21 characters, at most 19 fit in its field"), when a filled
// value breaks a rule.
std::optional<std::vector<SettingsLine>> unitSettings(const UnitTemplate& t, int row,
                                                      std::string_view address, long long seq,
                                                      std::string* problem);

}  // namespace kx::production
