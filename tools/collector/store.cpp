#include "tools/collector/store.h"

#include <chrono>
#include <climits>
#include <thread>

#include "tools/collector/funnel_sql.h"

namespace collector {

namespace {

constexpr size_t kRecordsPerRead = 10000;
// Several collectors may start at once against one PostgreSQL database: one
// prepares it while the others wait (a first start over many records builds
// the aggregates, which takes a while).
constexpr int64_t kPrepareLock = 7003;
constexpr int kPrepareLockWaitMs = 600000;

std::vector<std::string> RecordSchema(SqlDialect dialect) {
  const bool postgres = dialect == SqlDialect::kPostgres;
  return {std::string("CREATE TABLE IF NOT EXISTS reports (") +
              (postgres ? " id BIGSERIAL PRIMARY KEY," : " id INTEGER PRIMARY KEY,") +
              " token TEXT NOT NULL, event_id INTEGER NOT NULL, description TEXT NOT NULL,"
              " timestamp TEXT NOT NULL, agent TEXT NOT NULL, watermark TEXT NOT NULL,"
              " received_ms " +
              (postgres ? "BIGINT" : "INTEGER") + " NOT NULL, sender TEXT NOT NULL)",
          "CREATE INDEX IF NOT EXISTS reports_received ON reports (received_ms)"};
}

// The store keeps an absent AGENT or WATERMARK as an empty text, as it
// always has: what it reads back cannot tell the two apart.
std::optional<std::string> StoredField(const std::optional<std::string>& cell) {
  if (!cell || cell->empty()) return std::nullopt;
  return cell;
}

bool TakePrepareLock(SqlSession& session, std::string* error) {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kPrepareLockWaitMs);
  for (;;) {
    bool taken = false;
    if (!session.Run(
            "SELECT pg_try_advisory_lock(?)", {SqlValue::Integer(kPrepareLock)},
            [&taken](const SqlRow& row) { taken = row[0] == std::string("t"); }, error)) {
      return false;
    }
    if (taken) return true;
    if (std::chrono::steady_clock::now() > give_up) {
      *error = "another collector has been preparing the database for too long";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

Store::Store(SqlConnector connect, std::unique_ptr<SqlSession> writer, bool shared)
    : connect_(std::move(connect)), writer_(std::move(writer)), shared_(shared) {}

bool Store::Prepare(std::string* error) {
  SqlSession& session = *writer_;
  const bool postgres = session.dialect() == SqlDialect::kPostgres;
  if (postgres) {
    if (!TakePrepareLock(session, error)) return false;
  } else if (!session.Run("PRAGMA journal_mode=WAL", {}, nullptr, error) ||
             // WAL: readers (the report page) never hold up the writer. FULL: a
             // commit is on disk before the report it holds is answered.
             !session.Run("PRAGMA synchronous=FULL", {}, nullptr, error)) {
    return false;
  }
  std::vector<std::string> schema = RecordSchema(session.dialect());
  for (std::string& statement : AggregateSchema(session.dialect())) schema.push_back(statement);
  bool ok = session.Begin(true, error);
  for (size_t i = 0; ok && i < schema.size(); ++i) ok = session.Run(schema[i], {}, nullptr, error);
  std::optional<int> version;
  if (ok) ok = (version = AggregateVersion(session, error)).has_value();
  if (ok && *version != kAggregateVersion) ok = RebuildAggregates(error);
  if (ok) {
    ok = session.Commit(error);
  } else {
    session.Rollback();
  }
  std::string ignored;
  if (postgres) {
    session.Run("SELECT pg_advisory_unlock(?)", {SqlValue::Integer(kPrepareLock)}, nullptr,
                &ignored);
  }
  return ok;
}

bool Store::InsertRecords(const std::vector<ReportRecord>& records, std::string* error) {
  SqlRowWriter insert(*writer_,
                      "INSERT INTO reports (token, event_id, description, timestamp, agent,"
                      " watermark, received_ms, sender)",
                      8);
  for (const ReportRecord& r : records) {
    if (!insert.Add({SqlValue::Text(r.token), SqlValue::Integer(r.event_id),
                     SqlValue::Text(r.description), SqlValue::Text(r.timestamp),
                     SqlValue::Text(r.agent.value_or("")), SqlValue::Text(r.watermark.value_or("")),
                     SqlValue::Integer(r.received_ms), SqlValue::Text(r.sender)},
                    error)) {
      return false;
    }
  }
  return insert.Flush(error);
}

bool Store::Append(const std::vector<ReportRecord>& records, std::string* error) {
  if (!writer_->Begin(true, error)) return false;
  if (!InsertRecords(records, error) || !UpdateAggregates(*writer_, records, error)) {
    writer_->Rollback();
    return false;
  }
  // A COMMIT that fails (or whose answer is lost or late) counts as not
  // done: the reports are answered with an error rather than claimed stored.
  return writer_->Commit(error);
}

bool Store::ForEachOn(SqlSession& session, int64_t since_ms, int64_t until_ms,
                      const std::function<bool(std::vector<ReportRecord>&)>& chunk,
                      std::string* error) {
  int64_t after = LLONG_MIN;
  for (;;) {
    std::vector<ReportRecord> records;
    if (!session.Run(
            "SELECT id, token, event_id, description, timestamp, agent, watermark,"
            " received_ms, sender FROM reports WHERE id > ? AND received_ms >= ?"
            " AND received_ms < ? ORDER BY id LIMIT ?",
            {SqlValue::Integer(after), SqlValue::Integer(since_ms), SqlValue::Integer(until_ms),
             SqlValue::Integer(kRecordsPerRead)},
            [&records, &after](const SqlRow& row) {
              after = SqlInteger(row[0]);
              ReportRecord r;
              r.token = row[1].value_or("");
              r.event_id = static_cast<diagnostics::EventId>(SqlInteger(row[2]));
              r.description = row[3].value_or("");
              r.timestamp = row[4].value_or("");
              r.agent = StoredField(row[5]);
              r.watermark = StoredField(row[6]);
              r.received_ms = SqlInteger(row[7]);
              r.sender = row[8].value_or("");
              records.push_back(std::move(r));
            },
            error)) {
      return false;
    }
    if (records.empty()) return true;
    if (!chunk(records)) return false;
    if (records.size() < kRecordsPerRead) return true;
  }
}

bool Store::ForEach(int64_t since_ms, const std::function<void(const ReportRecord&)>& visit,
                    std::string* error, int64_t until_ms) {
  std::unique_ptr<SqlSession> own = shared_ ? connect_(error) : nullptr;
  if (shared_ && !own) return false;
  return ForEachOn(
      own ? *own : *writer_, since_ms, until_ms,
      [&visit](std::vector<ReportRecord>& records) {
        for (const ReportRecord& r : records) visit(r);
        return true;
      },
      error);
}

std::optional<FunnelReport> Store::Funnel(const std::optional<std::string>& build,
                                          std::string* error) {
  std::unique_ptr<SqlSession> own = shared_ ? connect_(error) : nullptr;
  if (shared_ && !own) return std::nullopt;
  SqlSession& session = own ? *own : *writer_;
  // One snapshot: the counts and their rows agree.
  if (!session.Begin(false, error)) return std::nullopt;
  std::optional<FunnelReport> report = ReadAggregates(session, build, error);
  if (!report) {
    session.Rollback();
    return std::nullopt;
  }
  if (!session.Commit(error)) return std::nullopt;
  return report;
}

std::optional<uint64_t> Store::UsedBytes(std::string* error) {
  std::optional<uint64_t> bytes;
  const char* sql = writer_->dialect() == SqlDialect::kPostgres
                        ? "SELECT pg_database_size(current_database())"
                        : "SELECT (page_count - freelist_count) * page_size FROM"
                          " pragma_page_count(), pragma_freelist_count(), pragma_page_size()";
  if (!writer_->Run(
          sql, {},
          [&bytes](const SqlRow& row) { bytes = static_cast<uint64_t>(SqlInteger(row[0])); },
          error)) {
    return std::nullopt;
  }
  return bytes.value_or(0);
}

bool Store::RebuildAggregates(std::string* error) {
  return ResetAggregates(*writer_, error) &&
         ForEachOn(
             *writer_, 0, LLONG_MAX,
             [this, error](std::vector<ReportRecord>& records) {
               return UpdateAggregates(*writer_, records, error);
             },
             error);
}

std::optional<uint64_t> Store::Prune(int64_t before_ms, std::string* error) {
  uint64_t removed = 0;
  const std::vector<SqlValue> before = {SqlValue::Integer(before_ms)};
  if (!writer_->Begin(true, error)) return std::nullopt;
  const bool ok =
      writer_->Run(
          "SELECT COUNT(*) FROM reports WHERE received_ms < ?", before,
          [&removed](const SqlRow& row) { removed = static_cast<uint64_t>(SqlInteger(row[0])); },
          error) &&
      writer_->Run("DELETE FROM reports WHERE received_ms < ?", before, nullptr, error) &&
      RebuildAggregates(error);
  if (!ok) {
    writer_->Rollback();
    return std::nullopt;
  }
  if (!writer_->Commit(error)) return std::nullopt;
  return removed;
}

std::unique_ptr<Store> OpenStore(const std::string& location, std::string* error,
                                 const StoreDeadlines& deadlines) {
  SqlConnector connect;
  bool shared = true;
  if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
    connect = [location, deadlines](std::string* why) {
      return ConnectPostgres(location, deadlines, why);
    };
  } else {
    connect = [location](std::string* why) { return ConnectSqlite(location, why); };
    shared = location != ":memory:";
  }
  std::unique_ptr<SqlSession> writer = connect(error);
  if (!writer) return nullptr;
  auto store = std::make_unique<Store>(std::move(connect), std::move(writer), shared);
  if (!store->Prepare(error)) return nullptr;
  return store;
}

}  // namespace collector
