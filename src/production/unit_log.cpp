#include "production/unit_log.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "common/text.h"

namespace kx::production {
namespace {

// "time", "operator" and "exit" are quoted: words of SQL in one database or
// the other.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS units ("
    "\"time\" TEXT NOT NULL, station TEXT NOT NULL, \"operator\" TEXT NOT NULL, "
    "port TEXT NOT NULL, address TEXT NOT NULL, firmware TEXT NOT NULL, "
    "result TEXT NOT NULL, \"exit\" INTEGER NOT NULL, values_row INTEGER, "
    "applied TEXT NOT NULL, settings TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS units_by_address ON units (address)",
    "CREATE TABLE IF NOT EXISTS unit_numbers ("
    "address TEXT PRIMARY KEY, seq BIGINT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS values_rows ("
    "file TEXT NOT NULL, values_row INTEGER NOT NULL, address TEXT NOT NULL, "
    "PRIMARY KEY (file, values_row))",
};

// Two writers that meet (two stations giving out the next number) make one
// of them fail on a unique key; it reads again and takes the next.
constexpr int kAssignAttempts = 8;

long long toNumber(const SqlDatabase::Value& v) {
  return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

// A span of `where` that holds a password.
struct Span {
  std::size_t begin, end;
};

bool isUriLog(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

// The passwords of a postgresql:// URI: after the user name's ':' in the
// part before '@' (which ends before the first '/'), and each password=
// query parameter.
std::vector<Span> uriPasswords(const std::string& where) {
  std::vector<Span> out;
  const std::size_t start = where.find("://") + 3;
  const std::size_t slash = where.find_first_of("/?", start);
  const std::size_t at = where.find('@', start);
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    const std::size_t colon = where.find(':', start);
    if (colon < at) out.push_back({colon + 1, at});
  }
  std::size_t query = where.find('?', start);
  while (query != std::string::npos) {
    const std::size_t begin = query + 1;
    const std::size_t end = std::min(where.find('&', begin), where.size());
    if (where.compare(begin, 9, "password=") == 0) out.push_back({begin + 9, end});
    query = end < where.size() ? end : std::string::npos;
  }
  return out;
}

// The password values of a libpq "key = value" string; a value is bare up
// to white space, or single-quoted with backslash escapes.
std::vector<Span> keywordPasswords(const std::string& where) {
  std::vector<Span> out;
  auto space = [&](std::size_t i) {
    return i < where.size() && std::isspace(static_cast<unsigned char>(where[i]));
  };
  std::size_t i = 0;
  while (i < where.size()) {
    while (space(i)) ++i;
    const std::size_t keyBegin = i;
    while (i < where.size() && where[i] != '=' && !space(i)) ++i;
    const std::string key = where.substr(keyBegin, i - keyBegin);
    while (space(i)) ++i;
    if (i >= where.size() || where[i] != '=') {
      if (i == keyBegin) ++i;  // a stray character: step over it
      continue;
    }
    ++i;
    while (space(i)) ++i;
    const std::size_t valueBegin = i;
    if (i < where.size() && where[i] == '\'') {
      for (++i; i < where.size() && where[i] != '\''; ++i)
        if (where[i] == '\\') ++i;
      i = std::min(i + 1, where.size());
    } else {
      while (i < where.size() && !space(i)) ++i;
    }
    if (key == "password") out.push_back({valueBegin, i});
  }
  return out;
}

std::vector<Span> passwordSpans(const std::string& where) {
  if (isUriLog(where)) return uriPasswords(where);
  if (UnitLog::isPostgres(where)) return keywordPasswords(where);
  return {};
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void replaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
}

}  // namespace

std::string shownAddress(const std::string& where) {
  std::string out = where;
  const auto spans = passwordSpans(where);
  // From the last, so that the earlier spans stay where they were.
  for (std::size_t i = spans.size(); i-- > 0;)
    out.replace(spans[i].begin, spans[i].end - spans[i].begin, "***");
  return out;
}

std::string withoutPassword(std::string text, const std::string& where) {
  for (const Span& s : passwordSpans(where)) {
    std::string secret = where.substr(s.begin, s.end - s.begin);
    if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'') {
      replaceAll(text, secret);
      std::string unquoted;
      for (std::size_t i = 1; i + 1 < secret.size(); ++i) {
        if (secret[i] == '\\' && i + 2 < secret.size()) ++i;
        unquoted += secret[i];
      }
      secret = unquoted;
    }
    replaceAll(text, secret);
    replaceAll(text, percentDecoded(secret));
  }
  return text;
}

bool UnitLog::isPostgres(const std::string& where) {
  return isUriLog(where) || where.find("dbname=") != std::string::npos;
}

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
  // One statement: its own transaction in either database.
  if (!db_->run("INSERT INTO units (\"time\", station, \"operator\", port, address, firmware, "
                "result, \"exit\", values_row, applied, settings) "
                "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
                {r.time, r.station, r.operatorName, r.port, r.address, r.firmware, r.result,
                 std::to_string(r.exitCode), row, r.applied, r.settings}))
    return fail();
  return true;
}

bool UnitLog::records(std::vector<UnitRecord>* out) {
  std::vector<SqlDatabase::Row> rows;
  if (!db_->run(std::string("SELECT \"time\", station, \"operator\", port, address, firmware, "
                            "result, \"exit\", values_row, applied, settings FROM units "
                            "ORDER BY ") +
                    db_->insertionOrder(),
                {}, &rows))
    return fail();
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
    out->push_back(std::move(r));
  }
  return true;
}

std::string utcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const long long ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = utcTime(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return formatBounded(40, "%s.%03lldZ", text, ms);
}

}  // namespace kx::production
