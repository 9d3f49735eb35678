#include "production/unit_log.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cstdlib>
#include <string_view>


namespace kx::production {
namespace {

// "time", "operator" and "exit" are quoted: words of SQL in one database or
// the other.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS units ("
    "\"time\" TEXT NOT NULL, station TEXT NOT NULL, \"operator\" TEXT NOT NULL, "
    "port TEXT NOT NULL, address TEXT NOT NULL, firmware TEXT NOT NULL, "
    "result TEXT NOT NULL, \"exit\" INTEGER NOT NULL, values_row INTEGER, "
    "applied TEXT NOT NULL, settings TEXT NOT NULL, "
    "fixture TEXT, seconds DOUBLE PRECISION, reason TEXT)",
    "CREATE INDEX IF NOT EXISTS units_by_address ON units (address)",
    "CREATE INDEX IF NOT EXISTS units_by_time ON units (\"time\")",
    "CREATE TABLE IF NOT EXISTS unit_numbers ("
    "address TEXT PRIMARY KEY, seq BIGINT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS values_rows ("
    "file TEXT NOT NULL, values_row INTEGER NOT NULL, address TEXT NOT NULL, "
    "PRIMARY KEY (file, values_row))",
};

// The columns of `units` added after its first version, with their types.
const struct {
  const char* name;
  const char* type;
} kAddedColumns[] = {{"fixture", "TEXT"}, {"seconds", "DOUBLE PRECISION"}, {"reason", "TEXT"}};

bool hasColumn(SqlDatabase& db, const char* name) {
  return db.run(std::string("SELECT ") + name + " FROM units LIMIT 0");
}

// A log made before the columns were added gets them; two stations adding
// one at once: the second finds it there.
bool addMissingColumns(SqlDatabase& db) {
  for (const auto& c : kAddedColumns) {
    if (hasColumn(db, c.name)) continue;
    if (!db.run(std::string("ALTER TABLE units ADD COLUMN ") + c.name + " " + c.type) &&
        !hasColumn(db, c.name))
      return false;
  }
  return true;
}

std::string secondsText(double seconds) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 3);
  return std::string(text, r.ptr);
}

std::optional<double> secondsValue(const SqlDatabase::Value& v) {
  if (!v) return std::nullopt;
  double seconds = 0;
  const auto r = std::from_chars(v->data(), v->data() + v->size(), seconds);
  if (r.ec != std::errc()) return std::nullopt;
  return seconds;
}

// Two writers that meet (two stations giving out the next number) make one
// of them fail on a unique key; it reads again and takes the next.
constexpr int kAssignAttempts = 8;

long long toNumber(const SqlDatabase::Value& v) {
  return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

}  // namespace

bool UnitLog::isPostgres(const std::string& where) { return isPostgresAddress(where); }

#ifndef KX_HAVE_SQLITE
std::unique_ptr<SqlDatabase> openSqliteDatabase(const std::string&, std::string* error, bool) {
  *error = "this build of kx627-cli has no SQLite support";
  return nullptr;
}
#endif

#ifndef KX_HAVE_LIBPQ
std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string&, std::string* error) {
  *error = "this build of kx627-cli has no PostgreSQL support (libpq)";
  return nullptr;
}
#endif

std::unique_ptr<UnitLog> UnitLog::open(const std::string& where, std::string* error) {
  std::unique_ptr<SqlDatabase> db =
      isPostgres(where) ? openPostgresDatabase(where, error) : openSqliteDatabase(where, error);
  // libpq may quote a part of a malformed address in its message.
  *error = withoutPassword(*error, where);
  if (!db) return nullptr;
  // Two stations starting at once may both create the tables; the second
  // one's CREATE can fail on PostgreSQL's catalogue and succeeds when tried
  // again.
  for (int attempt = 0;; ++attempt) {
    bool ok = db->beginWrite();
    for (const char* statement : kSchema) ok = ok && db->run(statement);
    ok = ok && db->run("COMMIT");
    if (ok) break;
    *error = db->error();
    db->run("ROLLBACK");
    if (attempt == 2) return nullptr;
  }
  if (!addMissingColumns(*db)) {
    *error = db->error();
    return nullptr;
  }
  return std::make_unique<UnitLog>(std::move(db));
}

std::unique_ptr<UnitLog> UnitLog::openForReading(const std::string& where, std::string* error) {
  std::unique_ptr<SqlDatabase> db = isPostgres(where) ? openPostgresDatabase(where, error)
                                                      : openSqliteDatabase(where, error, true);
  *error = withoutPassword(*error, where);
  if (!db) return nullptr;
  return std::make_unique<UnitLog>(std::move(db));
}

bool UnitLog::fail() {
  error_ = db_->error();
  return false;
}

bool UnitLog::provisioned(const std::string& address, bool* yes) {
  std::vector<SqlDatabase::Row> rows;
  if (!db_->run("SELECT 1 FROM units WHERE address = $1 AND result = 'ok' LIMIT 1", {address},
                &rows))
    return fail();
  *yes = !rows.empty();
  return true;
}

bool UnitLog::assign(const std::string& address, const std::string& valuesFile, int lastRow,
                     bool reserve, UnitAssignment* out) {
  for (int attempt = 1;; ++attempt) {
    if (tryAssign(address, valuesFile, lastRow, reserve, out)) return true;
    error_ = db_->error();
    db_->run("ROLLBACK");
    if (attempt == kAssignAttempts) return false;
  }
}

bool UnitLog::tryAssign(const std::string& address, const std::string& valuesFile, int lastRow,
                        bool reserve, UnitAssignment* out) {
  *out = UnitAssignment{};
  if (!db_->beginWrite()) return false;
  std::vector<SqlDatabase::Row> rows;
  if (!db_->run("SELECT seq FROM unit_numbers WHERE address = $1", {address}, &rows)) return false;
  if (!rows.empty()) {
    out->seq = toNumber(rows[0][0]);
  } else {
    if (!db_->run("SELECT COALESCE(MAX(seq), 0) + 1 FROM unit_numbers", {}, &rows)) return false;
    out->seq = toNumber(rows[0][0]);
    if (reserve && !db_->run("INSERT INTO unit_numbers (address, seq) VALUES ($1, $2)",
                             {address, std::to_string(out->seq)}))
      return false;
  }
  if (lastRow > 0) {
    if (!db_->run("SELECT values_row FROM values_rows WHERE file = $1 AND address = $2",
                  {valuesFile, address}, &rows))
      return false;
    if (!rows.empty()) {
      out->valuesRow = static_cast<int>(toNumber(rows[0][0]));
    } else {
      // Row 1 is the list's header.
      if (!db_->run("SELECT COALESCE(MAX(values_row), 1) + 1 FROM values_rows WHERE file = $1",
                    {valuesFile}, &rows))
        return false;
      const long long next = toNumber(rows[0][0]);
      if (next <= lastRow) {
        out->valuesRow = static_cast<int>(next);
        if (reserve &&
            !db_->run("INSERT INTO values_rows (file, values_row, address) VALUES ($1, $2, $3)",
                      {valuesFile, std::to_string(next), address}))
          return false;
      }
    }
  }
  return db_->run(reserve ? "COMMIT" : "ROLLBACK");
}

bool UnitLog::add(const UnitRecord& r) {
  const SqlDatabase::Value row =
      r.valuesRow ? SqlDatabase::Value(std::to_string(*r.valuesRow)) : std::nullopt;
  const SqlDatabase::Value seconds =
      r.seconds ? SqlDatabase::Value(secondsText(*r.seconds)) : std::nullopt;
  // One statement: its own transaction in either database.
  if (!db_->run("INSERT INTO units (\"time\", station, \"operator\", port, address, firmware, "
                "result, \"exit\", values_row, applied, settings, fixture, seconds, reason) "
                "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14)",
                {r.time, r.station, r.operatorName, r.port, r.address, r.firmware, r.result,
                 std::to_string(r.exitCode), row, r.applied, r.settings,
                 r.fixture.empty() ? r.port : r.fixture, seconds, r.reason}))
    return fail();
  return true;
}

bool UnitLog::records(std::vector<UnitRecord>* out, const std::string& from,
                      const std::string& to) {
  if (!addedColumns_) {
    bool all = true;
    for (const auto& c : kAddedColumns) all = all && hasColumn(*db_, c.name);
    addedColumns_ = all;
  }
  std::string sql =
      "SELECT \"time\", station, \"operator\", port, address, firmware, result, \"exit\", "
      "values_row, applied, settings";
  sql += *addedColumns_ ? ", fixture, seconds, reason" : ", NULL, NULL, NULL";
  sql += " FROM units";
  std::vector<SqlDatabase::Value> params;
  if (!from.empty() || !to.empty()) {
    params = {from, to.empty() ? std::string("9999") : to};
    sql += R"( WHERE "time" >= $1 AND "time" < $2)";
  }
  sql += std::string(" ORDER BY ") + db_->insertionOrder();
  std::vector<SqlDatabase::Row> rows;
  if (!db_->run(sql, params, &rows)) return fail();
  out->clear();
  for (const SqlDatabase::Row& row : rows) {
    auto text = [&](std::size_t i) { return row[i].value_or(std::string()); };
    UnitRecord r;
    r.time = text(0);
    r.station = text(1);
    r.operatorName = text(2);
    r.port = text(3);
    r.address = text(4);
    r.firmware = text(5);
    r.result = text(6);
    r.exitCode = static_cast<int>(toNumber(row[7]));
    if (row[8]) r.valuesRow = static_cast<int>(toNumber(row[8]));
    r.applied = text(9);
    r.settings = text(10);
    r.fixture = row[11] ? *row[11] : r.port;
    r.seconds = secondsValue(row[12]);
    r.reason = text(13);
    out->push_back(std::move(r));
  }
  return true;
}

}  // namespace kx::production
