// The PostgreSQL store's connection, through libpq without blocking: every
// connect, statement and commit has its deadline, and a server that stops
// answering (paused, or cut off) costs a failed call, not a thread for ever.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "tools/collector/store.h"

namespace collector {

namespace {

using Clock = std::chrono::steady_clock;

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;
using Result = std::unique_ptr<PGresult, ResultClearer>;

std::string Message(PGconn* connection) {
  std::string message = connection ? PQerrorMessage(connection) : "out of memory";
  while (!message.empty() && message.back() == '\n') message.pop_back();
  return message;
}

// Waits until the connection's socket is ready for `events`; false at the deadline.
bool Await(PGconn* connection, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{PQsocket(connection), events, 0};
    const int n = poll(&entry, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// "?" to "$1", "$2", ...: the statements hold no literal question marks.
std::string Numbered(const std::string& sql) {
  std::string out;
  int next = 1;
  for (char c : sql) {
    if (c == '?') {
      out += '$' + std::to_string(next++);
    } else {
      out += c;
    }
  }
  return out;
}

class PostgresSession : public SqlSession {
 public:
  PostgresSession(std::string url, const StoreDeadlines& deadlines)
      : url_(std::move(url)), deadlines_(deadlines) {}

  // With the connect deadline.
  bool Connect(std::string* error) {
    const char* keys[] = {"dbname", "client_encoding", nullptr};
    // The records are 8-bit texts of no declared code page: Latin-1 maps
    // every byte to a character, so any byte goes in and comes back unchanged.
    const char* values[] = {url_.c_str(), "LATIN1", nullptr};
    Connection connection(PQconnectStartParams(keys, values, 1));
    if (!connection || PQstatus(connection.get()) == CONNECTION_BAD) {
      *error = "cannot connect: " + Message(connection.get());
      return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlines_.connect_ms);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
      if (state == PGRES_POLLING_FAILED) {
        *error = "cannot connect: " + Message(connection.get());
        return false;
      }
      if (!Await(connection.get(), state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
        *error =
            "cannot connect: no answer within " + std::to_string(deadlines_.connect_ms) + " ms";
        return false;
      }
      state = PQconnectPoll(connection.get());
    }
    PQsetnonblocking(connection.get(), 1);
    // "relation already exists, skipping" and the like are no news.
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    connection_ = std::move(connection);
    return true;
  }

  SqlDialect dialect() const override { return SqlDialect::kPostgres; }

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, const SqlRowVisitor& visit,
           std::string* error) override {
    return RunWithin(sql, params, visit, deadlines_.statement_ms, error);
  }

  bool Begin(bool write, std::string* error) override {
    if (!connection_ && !Connect(error)) return false;
    in_transaction_ = true;
    return Run(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, nullptr,
               error);
  }

  bool Commit(std::string* error) override {
    const bool ok = RunWithin("COMMIT", {}, nullptr, deadlines_.commit_ms, error);
    in_transaction_ = false;
    return ok;
  }

  void Rollback() override {
    std::string ignored;
    if (connection_) RunWithin("ROLLBACK", {}, nullptr, deadlines_.statement_ms, &ignored);
    in_transaction_ = false;
  }

 private:
  bool RunWithin(const std::string& sql, const std::vector<SqlValue>& params,
                 const SqlRowVisitor& visit, int deadline_ms, std::string* error) {
    if (!connection_) {
      // A connection lost inside a transaction took the transaction along:
      // a new one must not run its rest.
      if (in_transaction_) {
        *error = "the connection was lost during the transaction";
        return false;
      }
      if (!Connect(error)) return false;
    }
    PGconn* connection = connection_.get();
    std::vector<std::string> texts;
    texts.reserve(params.size());
    std::vector<const char*> values;
    for (const SqlValue& value : params) {
      if (value.kind == SqlValue::Kind::kNull) {
        values.push_back(nullptr);
        continue;
      }
      texts.push_back(value.kind == SqlValue::Kind::kText ? value.text
                                                          : std::to_string(value.integer));
      values.push_back(texts.back().c_str());
    }
    const std::string what = sql.substr(0, 40);  // enough to tell which statement
    if (!PQsendQueryParams(connection, Numbered(sql).c_str(), static_cast<int>(values.size()),
                           nullptr, values.data(), nullptr, nullptr, 0)) {
      return Drop(what + ": " + Message(connection), error);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadline_ms);
    const std::string late = what + ": no answer within " + std::to_string(deadline_ms) + " ms";
    int flushed;
    while ((flushed = PQflush(connection)) == 1) {
      if (!Await(connection, POLLIN | POLLOUT, deadline)) return Drop(late, error);
      if (!PQconsumeInput(connection)) return Drop(what + ": " + Message(connection), error);
    }
    if (flushed < 0) return Drop(what + ": " + Message(connection), error);
    bool ok = true;
    for (;;) {
      while (PQisBusy(connection)) {
        if (!Await(connection, POLLIN, deadline)) return Drop(late, error);
        if (!PQconsumeInput(connection)) return Drop(what + ": " + Message(connection), error);
      }
      Result result(PQgetResult(connection));
      if (!result) break;
      const ExecStatusType status = PQresultStatus(result.get());
      if (status == PGRES_TUPLES_OK) {
        SqlRow row(static_cast<size_t>(PQnfields(result.get())));
        for (int r = 0; r < PQntuples(result.get()); ++r) {
          for (size_t c = 0; c < row.size(); ++c) {
            const int column = static_cast<int>(c);
            row[c] = PQgetisnull(result.get(), r, column)
                         ? std::nullopt
                         : std::optional<std::string>(std::string(
                               PQgetvalue(result.get(), r, column),
                               static_cast<size_t>(PQgetlength(result.get(), r, column))));
          }
          if (visit) visit(row);
        }
      } else if (status != PGRES_COMMAND_OK) {
        *error = what + ": " + Message(connection);
        ok = false;
      }
    }
    return ok;
  }

  // Ends a connection whose state is unknown; the next call makes a new one.
  bool Drop(const std::string& why, std::string* error) {
    *error = why;
    connection_.reset();
    return false;
  }

  const std::string url_;
  const StoreDeadlines deadlines_;
  Connection connection_;  // null until made, and after a failure that ended it
  bool in_transaction_ = false;
};

}  // namespace

std::unique_ptr<SqlSession> ConnectPostgres(const std::string& url, const StoreDeadlines& deadlines,
                                            std::string* error) {
  auto session = std::make_unique<PostgresSession>(url, deadlines);
  if (!session->Connect(error)) return nullptr;
  return session;
}

}  // namespace collector
