// The unit log of a production line: one row per unit attempted, in an SQLite
// file (one station) or a PostgreSQL database (several stations), with the
// numbers and list rows each unit was given. The same SQL runs on both; each
// write is one transaction, so a killed program or a pulled plug leaves every
// finished unit's row whole and no half row.
//
// Tables:
//   units         the rows `kx627-cli log` prints (columns as in UnitRecord;
//                 fixture, seconds and reason were added later: a log made
//                 before them gets them when a station next opens it)
//   unit_numbers  address -> seq: each unit's number, given once
//   values_rows   (values file, row) -> address: each row of a values list,
//                 given to one unit ever
//
// Threading: a UnitLog belongs to the thread that opened it. Several
// processes may share one log: SQLite waits for the other's write
// (WAL mode, a busy time-out), PostgreSQL's own locks order the writers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "production/calendar.h"
#include "production/log_address.h"

namespace kx::production {

// A connection to an SQL database as the unit log uses it: statements with
// text parameters $1, $2, ... and text results.
class SqlDatabase {
 public:
  using Value = std::optional<std::string>;  // empty: NULL
  using Row = std::vector<Value>;
  virtual ~SqlDatabase() = default;
  // Runs one statement; false when it failed (error() says why).
  virtual bool run(const std::string& sql, const std::vector<Value>& params = {},
                   std::vector<Row>* rows = nullptr) = 0;
  virtual const std::string& error() const = 0;
  // Starts a transaction that will write. SQLite takes the write lock at
  // once (BEGIN IMMEDIATE) so that two stations never deadlock upgrading a
  // read lock.
  virtual bool beginWrite() = 0;
  // The expression units are ordered by to list them as they were added.
  virtual const char* insertionOrder() const = 0;
};

// `path` an SQLite file, created when missing, in WAL mode; with `readOnly`
// an existing file opened to be read alone (nothing created or changed).
std::unique_ptr<SqlDatabase> openSqliteDatabase(const std::string& path, std::string* error,
                                                bool readOnly = false);
// `conninfo` a libpq connection string or URI (postgresql://...).
std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string& conninfo,
                                                  std::string* error);

// One row of the table `units`.
struct UnitRecord {
  std::string time;      // UTC, ISO 8601 with milliseconds
  std::string station;   // --station, else the host name
  std::string operatorName;  // --operator, else the login name
  std::string port, address, firmware;
  std::string result;    // the --report word
  int exitCode = 0;
  std::optional<int> valuesRow;  // the values list's row (the header is row 1)
  std::string applied = "{}";    // the values sent: a JSON object
  std::string settings = "{}";   // every setting read back: a JSON object
  std::string fixture;           // the station's name for the port (else the port)
  std::optional<double> seconds;  // from the unit's first answer to its row
  std::string reason;            // why it failed, in a few words (empty: it passed)
};

// What a unit was given: its number and, with a values list, its row.
struct UnitAssignment {
  long long seq = 0;
  std::optional<int> valuesRow;  // empty: no values list, or no row left
};

class UnitLog {
 public:
  // A postgresql:// or postgres:// URI, or a libpq "key=value" string
  // holding "dbname=", is a PostgreSQL database; anything else an SQLite file.
  static bool isPostgres(const std::string& where);
  // Opens the log and creates its tables on first use; null and `error`
  // when it cannot.
  static std::unique_ptr<UnitLog> open(const std::string& where, std::string* error);
  // Opens an existing log only to read it: no table is created and nothing
  // is written, so a read-only file or a role that may only SELECT will do.
  static std::unique_ptr<UnitLog> openForReading(const std::string& where, std::string* error);

  explicit UnitLog(std::unique_ptr<SqlDatabase> db) : db_(std::move(db)) {}

  // True in `yes` when `address` already has a row with result "ok".
  bool provisioned(const std::string& address, bool* yes);
  // The unit's number and row of `valuesFile` (a list with `lastRow` as its
  // last row, 0 without a list). A unit keeps what it was given once: tried
  // again, it gets the same. New numbers and rows follow the highest given.
  // With `reserve` false nothing is written (a dry run sees what would be).
  bool assign(const std::string& address, const std::string& valuesFile, int lastRow,
              bool reserve, UnitAssignment* out);
  bool add(const UnitRecord& record);
  // The rows in the order they were added; with `from` and `to` (times as
  // the log writes them) those from `from` up to, not including, `to`.
  bool records(std::vector<UnitRecord>* out, const std::string& from = {},
               const std::string& to = {});

  const std::string& error() const { return error_; }

 private:
  bool fail();
  bool tryAssign(const std::string& address, const std::string& valuesFile, int lastRow,
                 bool reserve, UnitAssignment* out);

  std::unique_ptr<SqlDatabase> db_;
  std::string error_;
  // Whether the units table has the columns added later (a log of an older
  // version, opened only to be read, may not); unknown until asked.
  std::optional<bool> addedColumns_;
};

// The platform's part (unit_log_posix.cpp, unit_log_win.cpp): this PC's
// host name and the user's login name.
std::string hostName();
std::string loginName();

}  // namespace kx::production
