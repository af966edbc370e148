#include "tools/collector/store.h"

#include <algorithm>
#include <climits>
#include <set>

#include "tools/collector/funnel_sql.h"

namespace collector {

namespace {

constexpr size_t kRecordsPerRead = 10000;
constexpr size_t kRecordsPerPrune = 10000;
// What a step of the schema or a first build of the aggregates may take on
// PostgreSQL (an index over every record is one statement).
constexpr int kPreparingMs = 600000;
// The key space of the runs' advisory locks (two keys: apart from the
// schema's lock, which takes one).
constexpr int kRunLocks = 7004;

// The store keeps an absent AGENT or WATERMARK as an empty text, as it
// always has: what it reads back cannot tell the two apart.
std::optional<std::string> StoredField(const std::optional<std::string>& cell) {
  if (!cell || cell->empty()) return std::nullopt;
  return cell;
}

// A record's identity as the schema's unique key has it: the token and the
// sender's fields, each after its length.
std::string Identity(const std::string& token, const std::string& event_id,
                     const std::string& timestamp, const std::string& agent,
                     const std::string& watermark, const std::string& description) {
  std::string key;
  for (const std::string* field : {&token, &event_id, &timestamp, &agent, &watermark}) {
    key += std::to_string(field->size()) + ' ' + *field;
  }
  return key + description;
}

std::string Identity(const ReportRecord& r) {
  return Identity(r.token, std::to_string(r.event_id), r.timestamp, r.agent.value_or(""),
                  r.watermark.value_or(""), r.description);
}

// Collectors sharing a PostgreSQL database may commit records of one run at
// once (a resend reaching another collector while the first still commits):
// each run's aggregates are read and written by one transaction at a time.
// Taken in one order, so no two transactions wait for each other.
bool LockRuns(SqlSession& session, const std::vector<ReportRecord>& records, std::string* error) {
  std::vector<int32_t> keys;
  for (const ReportRecord& r : records) {
    uint32_t hash = 2166136261u;  // FNV-1a: runs that share a key share a lock, no more
    for (unsigned char c : r.token) hash = (hash ^ c) * 16777619u;
    keys.push_back(static_cast<int32_t>(hash));
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::string array = "{";
  for (int32_t key : keys) array += (array.size() > 1 ? "," : "") + std::to_string(key);
  return session.Run("SELECT COUNT(pg_advisory_xact_lock(" + std::to_string(kRunLocks) +
                         ", k)) FROM unnest(?::integer[]) AS k",
                     {SqlValue::Text(array + "}")}, nullptr, error);
}

}  // namespace

Store::Store(SqlConnector connect, std::unique_ptr<SqlSession> writer, bool shared)
    : connect_(std::move(connect)), writer_(std::move(writer)), shared_(shared) {}

bool Store::Prepare(std::string* error, SqlSession* on) {
  SqlSession& session = on ? *on : *writer_;
  if (session.dialect() == SqlDialect::kSqlite &&
      // WAL: readers (the report page) never hold up the writer. FULL: a
      // commit is on disk before the report it holds is answered.
      (!session.Run("PRAGMA journal_mode=WAL", {}, nullptr, error) ||
       !session.Run("PRAGMA synchronous=FULL", {}, nullptr, error))) {
    return false;
  }
  std::optional<SchemaChange> change = MigrateSchema(session, error);
  if (!change) return false;
  schema_change_ = std::move(*change);
  // The aggregates are the records counted, not records of their own: a new
  // meaning is a new kAggregateVersion and a rebuild, never a schema step.
  // Under the schema's lock, so that one collector of those starting at once
  // builds them.
  if (!BeginSchemaChange(session, error)) return false;
  bool ok = true;
  for (const std::string& statement : AggregateSchema(session.dialect())) {
    if (ok) ok = session.Run(statement, {}, nullptr, error);
  }
  std::optional<int> version;
  if (ok) ok = (version = AggregateVersion(session, error)).has_value();
  if (ok && *version != kAggregateVersion) {
    ok = RebuildAggregates(session, error);
    schema_change_.aggregates_rebuilt = ok;
  }
  if (!ok) {
    session.Rollback();
    return false;
  }
  return session.Commit(error);
}

bool Store::InsertRecords(const std::vector<ReportRecord>& records,
                          std::vector<ReportRecord>* fresh, std::string* error) {
  std::multiset<std::string> stored;
  SqlRowWriter insert(
      *writer_,
      "INSERT INTO reports (token, event_id, description, timestamp, agent, watermark,"
      " received_ms, sender)",
      8,
      "ON CONFLICT DO NOTHING RETURNING token, event_id, timestamp, agent, watermark, description",
      [&stored](const SqlRow& row) {
        stored.insert(Identity(row[0].value_or(""), row[1].value_or(""), row[2].value_or(""),
                               row[3].value_or(""), row[4].value_or(""), row[5].value_or("")));
      });
  for (const ReportRecord& r : records) {
    if (!insert.Add({SqlValue::Text(r.token), SqlValue::Integer(r.event_id),
                     SqlValue::Text(r.description), SqlValue::Text(r.timestamp),
                     SqlValue::Text(r.agent.value_or("")), SqlValue::Text(r.watermark.value_or("")),
                     SqlValue::Integer(r.received_ms), SqlValue::Text(r.sender)},
                    error)) {
      return false;
    }
  }
  if (!insert.Flush(error)) return false;
  if (stored.size() == records.size()) {
    *fresh = records;
    return true;
  }
  for (const ReportRecord& r : records) {
    auto found = stored.find(Identity(r));
    if (found == stored.end()) continue;
    fresh->push_back(r);
    stored.erase(found);
  }
  return true;
}

bool Store::Append(const std::vector<ReportRecord>& records, std::string* error) {
  if (!writer_->Begin(true, error)) return false;
  std::vector<ReportRecord> fresh;
  if ((writer_->dialect() == SqlDialect::kPostgres && !LockRuns(*writer_, records, error)) ||
      !InsertRecords(records, &fresh, error) || !UpdateAggregates(*writer_, fresh, error)) {
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
  int64_t last = LLONG_MAX;
  if (since_ms > 0 || until_ms < INT64_MAX) {
    // The ids of the range first, from the index of the times received: read
    // by id with the times only as a filter, SQLite would walk every record
    // from the first on.
    bool any = false;
    if (!session.Run(
            "SELECT MIN(id), MAX(id) FROM reports WHERE received_ms >= ? AND received_ms < ?",
            {SqlValue::Integer(since_ms), SqlValue::Integer(until_ms)},
            [&](const SqlRow& row) {
              if (!row[0]) return;
              any = true;
              after = SqlInteger(row[0]) - 1;
              last = SqlInteger(row[1]);
            },
            error)) {
      return false;
    }
    if (!any) return true;
  }
  for (;;) {
    std::vector<ReportRecord> records;
    if (!session.Run(
            "SELECT id, token, event_id, description, timestamp, agent, watermark,"
            " received_ms, sender FROM reports WHERE id > ? AND id <= ? AND received_ms >= ?"
            " AND received_ms < ? ORDER BY id LIMIT ?",
            {SqlValue::Integer(after), SqlValue::Integer(last), SqlValue::Integer(since_ms),
             SqlValue::Integer(until_ms), SqlValue::Integer(kRecordsPerRead)},
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

std::optional<uint64_t> Store::CountReceived(int64_t since_ms, int64_t until_ms,
                                             std::string* error) {
  std::unique_ptr<SqlSession> own = shared_ ? connect_(error) : nullptr;
  if (shared_ && !own) return std::nullopt;
  uint64_t count = 0;
  if (!(own ? *own : *writer_)
           .Run(
               "SELECT COUNT(*) FROM reports WHERE received_ms >= ? AND received_ms < ?",
               {SqlValue::Integer(since_ms), SqlValue::Integer(until_ms)},
               [&count](const SqlRow& row) { count = static_cast<uint64_t>(SqlInteger(row[0])); },
               error)) {
    return std::nullopt;
  }
  return count;
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

bool Store::RebuildAggregates(SqlSession& session, std::string* error) {
  return ResetAggregates(session, error) &&
         ForEachOn(
             session, 0, LLONG_MAX,
             [&session, error](std::vector<ReportRecord>& records) {
               return UpdateAggregates(session, records, error);
             },
             error);
}

std::optional<uint64_t> Store::Prune(int64_t before_ms, std::string* error) {
  uint64_t removed = 0;
  for (;;) {
    // Short transactions: the collectors serving meanwhile wait for none long.
    uint64_t chunk = 0;
    if (!writer_->Begin(true, error)) return std::nullopt;
    if (!writer_->Run(
            "DELETE FROM reports WHERE id IN (SELECT id FROM reports"
            " WHERE received_ms < ? LIMIT ?) RETURNING id",
            {SqlValue::Integer(before_ms), SqlValue::Integer(kRecordsPerPrune)},
            [&chunk](const SqlRow&) { ++chunk; }, error)) {
      writer_->Rollback();
      return std::nullopt;
    }
    if (!writer_->Commit(error)) return std::nullopt;
    removed += chunk;
    if (chunk < kRecordsPerPrune) return removed;
  }
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
  std::unique_ptr<SqlSession> preparer;
  if (writer->dialect() == SqlDialect::kPostgres &&
      !(preparer =
            ConnectPostgres(location, {deadlines.connect_ms, kPreparingMs, kPreparingMs}, error))) {
    return nullptr;
  }
  auto store = std::make_unique<Store>(std::move(connect), std::move(writer), shared);
  if (!store->Prepare(error, preparer.get())) return nullptr;
  return store;
}

}  // namespace collector
