// The unit log's SQLite file: WAL mode (readers never wait for the writer,
// and a killed writer leaves the last committed state), full sync (a
// finished unit's row is on disk when the program goes on to the next), and
// a busy time-out so that two processes on one file take turns.
#include <sqlite3.h>

#include <cctype>
#include <filesystem>
#include <system_error>

#include "production/unit_log.h"

namespace kx::production {
namespace {

constexpr int kBusyTimeoutMs = 30000;

class SqliteDatabase final : public SqlDatabase {
 public:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  ~SqliteDatabase() override { sqlite3_close_v2(db_); }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  bool run(const std::string& sql, const std::vector<Value>& params,
           std::vector<Row>* rows) override {
    if (rows) rows->clear();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement,
                           nullptr) != SQLITE_OK)
      return fail();
    // $1, $2, ... are named parameters to SQLite; bound by their names.
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int index =
          sqlite3_bind_parameter_index(statement, ("$" + std::to_string(i + 1)).c_str());
      if (index == 0) continue;
      const int r = params[i] ? sqlite3_bind_text(statement, index, params[i]->data(),
                                                  static_cast<int>(params[i]->size()),
                                                  SQLITE_TRANSIENT)
                              : sqlite3_bind_null(statement, index);
      if (r != SQLITE_OK) {
        sqlite3_finalize(statement);
        return fail();
      }
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      if (!rows) continue;
      Row row;
      for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        const auto* text = sqlite3_column_text(statement, c);
        if (text)
          row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
        else
          row.emplace_back(std::nullopt);
      }
      rows->push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return step == SQLITE_DONE || fail();
  }

  const std::string& error() const override { return error_; }
  bool beginWrite() override { return run("BEGIN IMMEDIATE", {}, nullptr); }
  const char* insertionOrder() const override { return "rowid"; }

 private:
  bool fail() {
    error_ = sqlite3_errmsg(db_);
    return false;
  }

  sqlite3* db_;
  std::string error_;
};

// `path` as an SQLite URI ("file:/srv/units.db", "file:///C:/Line/units.db"),
// with every byte that a URI gives a meaning percent-encoded.
std::string fileUri(const std::string& path) {
  std::string uri = "file:";
  const bool drive = path.size() > 1 && path[1] == ':';
  if (drive) uri += "///";
  static const char* const kHex = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (c == '\\') c = '/';
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~' || c == ':') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// A log in WAL mode that the reader may not write beside (a read-only
// folder) cannot be opened for reading the usual way: SQLite wants its
// shared-memory file. When no write-ahead log is waiting to be merged, the
// database file alone holds every row, and SQLite reads it as it stands.
std::unique_ptr<SqlDatabase> readable(std::unique_ptr<SqlDatabase> database,
                                      const std::string& path, std::string* error) {
  if (database->run("SELECT count(*) FROM sqlite_master", {}, nullptr)) return database;
  std::error_code ignored;
  if (std::filesystem::exists(path + "-wal", ignored)) {
    *error = database->error() + " (the log is being written; reading it needs write access to " +
             "its folder)";
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((fileUri(path) + "?immutable=1").c_str(), &db,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    return nullptr;
  }
  return std::make_unique<SqliteDatabase>(db);
}

}  // namespace

std::unique_ptr<SqlDatabase> openSqliteDatabase(const std::string& path, std::string* error,
                                                bool readOnly) {
  sqlite3* db = nullptr;
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  auto database = std::make_unique<SqliteDatabase>(db);
  // A reader takes the file as it is, in whatever journal mode its writers
  // left it.
  if (readOnly) return readable(std::move(database), path, error);
  std::vector<SqlDatabase::Row> mode;
  if (!database->run("PRAGMA journal_mode = WAL", {}, &mode) ||
      !database->run("PRAGMA synchronous = FULL", {}, nullptr)) {
    *error = database->error();
    return nullptr;
  }
  if (mode.empty() || !mode[0][0] || *mode[0][0] != "wal") {
    *error = "the file cannot be put in WAL mode";
    return nullptr;
  }
  return database;
}

}  // namespace kx::production
