// The unit log in PostgreSQL, for a line with several station PCs: libpq,
// every parameter and result as text.
#include <libpq-fe.h>

#include "production/unit_log.h"

namespace kx::production {
namespace {

class PostgresDatabase final : public SqlDatabase {
 public:
  explicit PostgresDatabase(PGconn* connection) : connection_(connection) {}
  ~PostgresDatabase() override { PQfinish(connection_); }
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  bool run(const std::string& sql, const std::vector<Value>& params,
           std::vector<Row>* rows) override {
    if (rows) rows->clear();
    std::vector<const char*> values;
    for (const Value& v : params) values.push_back(v ? v->c_str() : nullptr);
    PGresult* result = PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                    nullptr, values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error_ = PQerrorMessage(connection_);
      while (!error_.empty() && error_.back() == '\n') error_.pop_back();
      PQclear(result);
      return false;
    }
    if (rows) {
      for (int r = 0; r < PQntuples(result); ++r) {
        Row row;
        for (int c = 0; c < PQnfields(result); ++c) {
          if (PQgetisnull(result, r, c))
            row.emplace_back(std::nullopt);
          else
            row.emplace_back(std::string(PQgetvalue(result, r, c),
                                         static_cast<std::size_t>(PQgetlength(result, r, c))));
        }
        rows->push_back(std::move(row));
      }
    }
    PQclear(result);
    return true;
  }

  const std::string& error() const override { return error_; }
  bool beginWrite() override { return run("BEGIN", {}, nullptr); }
  // Rows of one log come in time order; the port breaks a tie.
  const char* insertionOrder() const override { return "\"time\", port"; }

 private:
  PGconn* connection_;
  std::string error_;
};

}  // namespace

std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string& conninfo,
                                                  std::string* error) {
  PGconn* connection = PQconnectdb(conninfo.c_str());
  if (!connection || PQstatus(connection) != CONNECTION_OK) {
    *error = connection ? PQerrorMessage(connection) : "out of memory";
    while (!error->empty() && error->back() == '\n') error->pop_back();
    PQfinish(connection);
    return nullptr;
  }
  // The log's notices ("relation already exists, skipping") are not the
  // operator's business.
  PQsetNoticeProcessor(connection, [](void*, const char*) {}, nullptr);
  return std::make_unique<PostgresDatabase>(connection);
}

}  // namespace kx::production
