// The figures of a span of the unit log, as the production window's counters
// and table, `kx627-cli report` and the shift report's PDF show them. They are
// taken from the log alone, so that a restarted window, a second station on
// the same PostgreSQL log and the report agree for the same span.
//
//   passed, failed     rows with the result "ok", and rows with any other
//                      result but "already provisioned" (each attempt counts)
//   first-pass yield   of the units first tried within the span, the share
//                      whose first attempt passed
//   last hour          units passed or failed in the hour before the span's end
//   seconds per unit   the mean of the rows' seconds (first answer to row)
//   per hour           passed and failed by local clock hour (by day for a
//                      span over two days)
//   failure reasons    failed rows by result word, most frequent first (the
//                      Pareto chart's order)
//
// Pure functions; any thread.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "production/station_event.h"
#include "production/unit_log.h"

namespace kx::production {

struct ShiftFigures {
  struct Bucket {  // an hour (or a day) of the span
    std::string label;  // "08:00", or "2026-03-02" by day
    int passed = 0, failed = 0;
  };
  struct Reason {
    std::string reason;  // the result word
    int count = 0;
  };
  struct Group {  // an operator's or a fixture's share
    std::string name;
    int passed = 0, failed = 0;
    std::optional<double> secondsPerUnit;
  };
  struct Row {  // a row of the log, as the window's table shows it
    std::string time;  // local, "2026-03-02 08:15:02"
    std::string fixture, address, name, result, reason, operatorName;
    UnitOutcome outcome = UnitOutcome::Passed;
    std::optional<double> seconds;
  };

  std::string from, to;          // local, "2026-03-02 08:00"
  std::string fromLog, toLog;    // as the log writes times
  int passed = 0, failed = 0, alreadyProvisioned = 0;
  int units = 0, firstPassUnits = 0;
  int lastHour = 0;
  std::optional<double> secondsPerUnit;
  bool byDay = false;
  std::vector<Bucket> buckets;
  std::vector<Reason> reasons;
  std::vector<Group> operators, fixtures;
  std::vector<Row> rows;

  // In percent; empty when no unit was first tried in the span.
  std::optional<double> firstPassYield() const;
};

// The outcome of a log row by its result word.
UnitOutcome outcomeOf(const UnitRecord& record);

// The figures of [from, to) from `records`, every row of the log before
// `to` (the earlier ones tell which units were tried before).
ShiftFigures shiftFigures(const std::vector<UnitRecord>& records, std::time_t from,
                          std::time_t to);

// As one JSON object (the window and kx627-config --report read it), and
// back; empty when the text is none.
std::string figuresJson(const ShiftFigures& figures);
std::optional<ShiftFigures> parseFiguresJson(std::string_view text);
// As CSV for a spreadsheet: a UTF-8 byte-order mark, CR LF line ends, the
// counts as "figure,value" rows, then a table per chart.
std::string figuresCsv(const ShiftFigures& figures);

// One CSV field: quoted when it holds a comma, a quote or a line end.
std::string csvField(std::string_view value);
// A number with one decimal, "2.7" (never the locale's comma).
std::string oneDecimal(double value);

}  // namespace kx::production
