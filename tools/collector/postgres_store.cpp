#include <libpq-fe.h>

#include <algorithm>
#include <string>

#include "tools/collector/store.h"

namespace {

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;
using Result = std::unique_ptr<PGresult, ResultClearer>;

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS reports ("
    " id BIGSERIAL PRIMARY KEY,"
    " token TEXT NOT NULL, event_id INTEGER NOT NULL, description TEXT NOT NULL,"
    " timestamp TEXT NOT NULL, agent TEXT NOT NULL, watermark TEXT NOT NULL,"
    " received_ms BIGINT NOT NULL, sender TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS reports_received ON reports (received_ms);";

// Rows per INSERT: eight parameters each, within the protocol's 65535.
constexpr size_t kRowsPerStatement = 4000;

std::string Failure(PGconn* connection, const char* what) {
  std::string message = connection ? PQerrorMessage(connection) : "out of memory";
  while (!message.empty() && message.back() == '\n') message.pop_back();
  return std::string(what) + ": " + message;
}

bool Execute(PGconn* connection, const char* sql, std::string* error) {
  Result result(PQexec(connection, sql));
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  *error = Failure(connection, sql);
  return false;
}

Connection Connect(const std::string& url, std::string* error) {
  Connection connection(PQconnectdb(url.c_str()));
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    *error = Failure(connection.get(), "cannot connect");
    return nullptr;
  }
  // "relation already exists, skipping" and the like are no news.
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  // The records are 8-bit texts of no declared code page: Latin-1 maps every
  // byte to a character, so any byte goes in and comes back unchanged.
  if (PQsetClientEncoding(connection.get(), "LATIN1") != 0) {
    *error = Failure(connection.get(), "client encoding");
    return nullptr;
  }
  return connection;
}

class PostgresStore : public Store {
 public:
  PostgresStore(std::string url, Connection connection)
      : url_(std::move(url)), connection_(std::move(connection)) {}

  bool Prepare(std::string* error) {
    // Several collectors may start at once against one database.
    return Execute(connection_.get(), "SELECT pg_advisory_lock(7003)", error) &&
           Execute(connection_.get(), kSchema, error) &&
           Execute(connection_.get(), "SELECT pg_advisory_unlock(7003)", error);
  }

  bool Append(const std::vector<ReportRecord>& records, std::string* error) override {
    PGconn* connection = connection_.get();
    if (PQstatus(connection) != CONNECTION_OK) PQreset(connection);
    if (!Execute(connection, "BEGIN", error)) return false;
    for (size_t start = 0; start < records.size(); start += kRowsPerStatement) {
      const size_t end = std::min(records.size(), start + kRowsPerStatement);
      if (!InsertRows(records, start, end, error)) {
        std::string ignored;
        Execute(connection, "ROLLBACK", &ignored);
        return false;
      }
    }
    // A COMMIT that fails (or whose answer is lost) counts as not done: the
    // reports are answered with an error rather than claimed stored.
    return Execute(connection, "COMMIT", error);
  }

  bool ForEach(int64_t since_ms, const std::function<void(const ReportRecord&)>& visit,
               std::string* error) override {
    Connection reader = Connect(url_, error);
    if (!reader) return false;
    const std::string since = std::to_string(since_ms);
    const char* values[] = {since.c_str()};
    // Row by row, so that a large table is never held whole in memory.
    if (!PQsendQueryParams(reader.get(),
                           "SELECT token, event_id, description, timestamp, agent, watermark,"
                           " received_ms, sender FROM reports WHERE received_ms >= $1 ORDER BY id",
                           1, nullptr, values, nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(reader.get())) {
      *error = Failure(reader.get(), "select");
      return false;
    }
    bool ok = true;
    while (PGresult* raw = PQgetResult(reader.get())) {
      Result result(raw);
      const ExecStatusType status = PQresultStatus(raw);
      if (status == PGRES_SINGLE_TUPLE) {
        ReportRecord r;
        r.token = PQgetvalue(raw, 0, 0);
        r.event_id = std::stoi(PQgetvalue(raw, 0, 1));
        r.description = PQgetvalue(raw, 0, 2);
        r.timestamp = PQgetvalue(raw, 0, 3);
        r.agent = PQgetvalue(raw, 0, 4);
        r.watermark = PQgetvalue(raw, 0, 5);
        r.received_ms = std::stoll(PQgetvalue(raw, 0, 6));
        r.sender = PQgetvalue(raw, 0, 7);
        visit(r);
      } else if (status != PGRES_TUPLES_OK) {
        *error = Failure(reader.get(), "select");
        ok = false;
      }
    }
    return ok;
  }

 private:
  bool InsertRows(const std::vector<ReportRecord>& records, size_t start, size_t end,
                  std::string* error) {
    std::string sql =
        "INSERT INTO reports (token, event_id, description, timestamp, agent, watermark,"
        " received_ms, sender) VALUES ";
    std::vector<std::string> numbers;
    std::vector<const char*> values;
    numbers.reserve((end - start) * 2);
    values.reserve((end - start) * 8);
    int parameter = 1;
    for (size_t i = start; i < end; ++i) {
      const ReportRecord& r = records[i];
      if (i > start) sql += ',';
      sql += '(';
      for (int column = 0; column < 8; ++column) {
        if (column) sql += ',';
        sql += '$' + std::to_string(parameter++);
      }
      sql += ')';
      numbers.push_back(std::to_string(r.event_id));
      numbers.push_back(std::to_string(r.received_ms));
    }
    // The numbers are all in place now: their texts no longer move.
    for (size_t i = start; i < end; ++i) {
      const ReportRecord& r = records[i];
      const size_t n = (i - start) * 2;
      for (const char* value :
           {r.token.c_str(), numbers[n].c_str(), r.description.c_str(), r.timestamp.c_str(),
            r.agent.c_str(), r.watermark.c_str(), numbers[n + 1].c_str(), r.sender.c_str()}) {
        values.push_back(value);
      }
    }
    Result result(PQexecParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()),
                               nullptr, values.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return true;
    *error = Failure(connection_.get(), "insert");
    return false;
  }

  std::string url_;
  Connection connection_;  // the writer's; Append's thread only
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, std::string* error) {
  Connection connection = Connect(url, error);
  if (!connection) return nullptr;
  auto store = std::make_unique<PostgresStore>(url, std::move(connection));
  if (!store->Prepare(error)) return nullptr;
  return store;
}
