// The shift's figures from a known unit log: what the production window's
// counters, `kx627-cli report` and the shift report's PDF show.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "production/calendar.h"
#include "production/shift_figures.h"
#include "production/unit_log.h"
#include "support/temp_dir.h"

namespace {

using namespace kx::production;

// Units are logged in the first quarter of each hour, so that each hour's
// units share one of the report's local clock hours in any time zone.
TEST(ShiftFigures, FromAKnownLog) {
  kx::test::TempDir dir;
  std::string error;
  auto log = UnitLog::open(dir.file("units.db"), &error);
  ASSERT_TRUE(log) << error;
  const struct {
    const char* time;
    const char* address;
    const char* result;
    double seconds;  // 0: none
    const char* operatorName;
    const char* fixture;
  } rows[] = {
      {"2026-03-02T07:10:00.000Z", "A", "mismatch", 3.0, "ann", "F1"},  // before the span
      {"2026-03-02T08:05:00.100Z", "A", "ok", 1.0, "ann", "F1"},  // tried before: no first try
      {"2026-03-02T08:06:00.000Z", "B", "ok", 2.0, "ann", "F1"},
      {"2026-03-02T08:07:00.000Z", "C", "mismatch", 3.0, "ann", "F2"},
      {"2026-03-02T09:02:00.000Z", "C", "ok", 2.5, "bob", "F2"},  // passed when tried again
      {"2026-03-02T09:03:00.000Z", "D", "not found", 10.0, "bob", "F1"},
      {"2026-03-02T09:04:00.000Z", "E", "mismatch", 3.5, "bob", "F1"},
      {"2026-03-02T10:01:00.000Z", "B", "already provisioned", 0, "bob", "F1"},
      {"2026-03-02T10:02:00.000Z", "F", "ok", 2.0, "ann", "F2"},
      {"2026-03-02T11:00:00.000Z", "G", "ok", 2.0, "ann", "F2"},  // the span's end: after it
  };
  for (const auto& r : rows) {
    UnitRecord record;
    record.time = r.time;
    record.address = r.address;
    record.result = r.result;
    if (r.seconds > 0) record.seconds = r.seconds;
    record.operatorName = r.operatorName;
    record.fixture = r.fixture;
    record.settings = std::string("{\"Name\":\"Unit-") + r.address + "\"}";
    ASSERT_TRUE(log->add(record)) << log->error();
  }
  std::vector<UnitRecord> records;
  ASSERT_TRUE(log->records(&records, "", "2026-03-02T11:00:00.000Z")) << log->error();
  ASSERT_EQ(records.size(), std::size(rows) - 1) << "the span's end is not in it";

  const ShiftFigures f = shiftFigures(records, *parseLogTime("2026-03-02T08:00:00Z"),
                                      *parseLogTime("2026-03-02T11:00:00Z"));
  EXPECT_EQ(f.passed, 4);
  EXPECT_EQ(f.failed, 3);
  EXPECT_EQ(f.alreadyProvisioned, 1);
  EXPECT_EQ(f.units, 5);  // B C D E F
  EXPECT_EQ(f.firstPassUnits, 2);  // B F
  EXPECT_DOUBLE_EQ(*f.firstPassYield(), 40.0);
  EXPECT_EQ(f.lastHour, 1);
  EXPECT_NEAR(*f.secondsPerUnit, 24.0 / 7, 1e-9);
  std::vector<std::pair<int, int>> hours;
  for (const auto& b : f.buckets)
    if (b.passed + b.failed > 0) hours.emplace_back(b.passed, b.failed);
  EXPECT_EQ(hours, (std::vector<std::pair<int, int>>{{2, 1}, {1, 2}, {1, 0}}));
  ASSERT_EQ(f.reasons.size(), 2u);
  EXPECT_EQ(f.reasons[0].reason, "mismatch");
  EXPECT_EQ(f.reasons[0].count, 2);
  EXPECT_EQ(f.reasons[1].reason, "not found");
  ASSERT_EQ(f.operators.size(), 2u);
  EXPECT_EQ(f.operators[0].name, "ann");
  EXPECT_EQ(std::pair(f.operators[0].passed, f.operators[0].failed), std::pair(3, 1));
  ASSERT_EQ(f.fixtures.size(), 2u);
  EXPECT_NEAR(*f.fixtures[0].secondsPerUnit, 16.5 / 4, 1e-9);
  ASSERT_EQ(f.rows.size(), 8u);
  EXPECT_EQ(f.rows[1].name, "Unit-B");
  EXPECT_EQ(f.rows[6].outcome, UnitOutcome::AlreadyProvisioned);

  // The CSV a spreadsheet opens, and the JSON the window reads, say the same.
  const std::string csv = figuresCsv(f);
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBF" "Figure,Value\r\n", 0), 0u);
  EXPECT_NE(csv.find("\r\nFirst-pass yield,40.0%\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\nmismatch,2,66.7\r\nnot found,1,100.0\r\n"), std::string::npos) << csv;
  const auto read = parseFiguresJson(figuresJson(f));
  ASSERT_TRUE(read);
  EXPECT_EQ(figuresCsv(*read), csv);
  EXPECT_EQ(read->rows.size(), f.rows.size());
}

}  // namespace
