// Where the collector keeps its records: SQLite in a file, or a PostgreSQL
// database that several collectors share. Beside the records it keeps the
// funnel's aggregates (funnel_sql.h), updated in the commit that adds them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/collector/funnel.h"
#include "tools/collector/report_parser.h"
#include "tools/collector/schema_migrations.h"
#include "tools/collector/sql_session.h"

namespace collector {

// How long a store waits for its database (PostgreSQL: a server that stops
// answering would otherwise hold every request for ever); past them the
// call fails and the connection is dropped, to be made again by the next.
struct StoreDeadlines {
  int connect_ms = 5000;
  int statement_ms = 5000;
  int commit_ms = 5000;
};

// Makes a connection to the store's database (one per thread that uses it).
using SqlConnector = std::function<std::unique_ptr<SqlSession>(std::string* error)>;

class Store {
 public:
  // `shared`: other connections see the same database (false for SQLite in
  // memory, whose readers then use the writer's connection).
  Store(SqlConnector connect, std::unique_ptr<SqlSession> writer, bool shared);

  // Applies the schema's steps the store lacks; builds the aggregates from
  // the records when they are missing or were built for another version
  // (once, at start). Over `session` when given (one with the long
  // deadlines a step over many records needs), else the writer's.
  bool Prepare(std::string* error, SqlSession* session = nullptr);
  // What Prepare did.
  const SchemaChange& schema_change() const { return schema_change_; }

  // Writes the records and their aggregates in one transaction; true only
  // once it is committed, so that a record is answered only when a crash can
  // no longer lose it. A record the store holds already (sent again because
  // its answer was lost) is neither stored nor counted again, and is done.
  // Called from one thread at a time (the writer's).
  bool Append(const std::vector<ReportRecord>& records, std::string* error);
  // Every record received at or after `since_ms` and before `until_ms`, in
  // the order stored, read a bounded number at a time. Safe while another
  // thread appends (it reads over a connection of its own).
  bool ForEach(int64_t since_ms, const std::function<void(const ReportRecord&)>& visit,
               std::string* error, int64_t until_ms = INT64_MAX);
  // How many records were received at or after `since_ms` and before
  // `until_ms`, over a connection of its own.
  std::optional<uint64_t> CountReceived(int64_t since_ms, int64_t until_ms, std::string* error);
  // The funnel from the aggregates, over a connection of its own.
  std::optional<FunnelReport> Funnel(const std::optional<std::string>& build, std::string* error);
  // The bytes the database takes (SQLite: its pages in use; PostgreSQL: the
  // database's size). The writer's thread.
  std::optional<uint64_t> UsedBytes(std::string* error);
  // Removes the records received before `before_ms`, a bounded number a
  // transaction, and leaves the aggregates counting them; how many were
  // removed. A later rebuild of the aggregates (by a collector whose
  // aggregates have another version) has only the records left to count,
  // and forgets the removed ones. The writer's thread.
  std::optional<uint64_t> Prune(int64_t before_ms, std::string* error);

 private:
  // Stores what is new of `records`, which it gives `fresh` (in order).
  bool InsertRecords(const std::vector<ReportRecord>& records, std::vector<ReportRecord>* fresh,
                     std::string* error);
  bool RebuildAggregates(SqlSession& session, std::string* error);
  bool ForEachOn(SqlSession& session, int64_t since_ms, int64_t until_ms,
                 const std::function<bool(std::vector<ReportRecord>&)>& chunk, std::string* error);

  SqlConnector connect_;
  std::unique_ptr<SqlSession> writer_;  // the writer's thread only
  bool shared_;
  SchemaChange schema_change_;
};

// "postgresql://..." (or "postgres://...") opens PostgreSQL through libpq;
// anything else names an SQLite file, created with its tables when missing
// (":memory:" a database in memory). Null, with the reason in `error`, when
// the store cannot be opened.
std::unique_ptr<Store> OpenStore(const std::string& location, std::string* error,
                                 const StoreDeadlines& deadlines = {});

// A store's own kind of connection, for OpenStore.
std::unique_ptr<SqlSession> ConnectSqlite(const std::string& path, std::string* error);
std::unique_ptr<SqlSession> ConnectPostgres(const std::string& url, const StoreDeadlines& deadlines,
                                            std::string* error);

}  // namespace collector
