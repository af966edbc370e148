#include "tools/collector/schema_migrations.h"

#include <chrono>
#include <thread>

namespace collector {

namespace {

// The advisory lock's key: the same in every collector, of every version.
constexpr int64_t kSchemaLock = 7003;
constexpr int kSchemaLockWaitMs = 600000;

std::string Columns(const char* id, const char* integer) {
  return std::string("CREATE TABLE IF NOT EXISTS reports (id ") + id +
         " PRIMARY KEY, token TEXT NOT NULL, event_id INTEGER NOT NULL,"
         " description TEXT NOT NULL, timestamp TEXT NOT NULL, agent TEXT NOT NULL,"
         " watermark TEXT NOT NULL, received_ms " +
         integer + " NOT NULL, sender TEXT NOT NULL)";
}

// A resent record (its answer was lost, so the sender sends it again) is the
// same record: the run's token and every field the sender wrote. The first
// copy stays.
constexpr char kRemoveCopies[] =
    "DELETE FROM reports WHERE id IN (SELECT id FROM (SELECT id, ROW_NUMBER() OVER"
    " (PARTITION BY token, event_id, timestamp, agent, watermark, description ORDER BY id) AS n"
    " FROM reports) AS numbered WHERE n > 1)";

}  // namespace

const std::vector<SchemaStep>& SchemaSteps() {
  static const std::vector<SchemaStep> kSteps = {
      // As collectors kept it before the schema had versions: on such a store
      // the step finds everything there.
      {1,
       "the reports table",
       {Columns("INTEGER", "INTEGER"),
        "CREATE INDEX IF NOT EXISTS reports_received ON reports (received_ms)"},
       {Columns("BIGSERIAL", "BIGINT"),
        "CREATE INDEX IF NOT EXISTS reports_received ON reports (received_ms)"}},
      // PostgreSQL's index entries are bounded (about 2.7 kB) and a description
      // may be 8 kB: its key holds a digest of the record's fields, each after
      // its length so that no two records share one text.
      {2,
       "each record stored once (the copies of resent records removed)",
       {kRemoveCopies,
        "CREATE UNIQUE INDEX reports_once ON reports"
        " (token, event_id, timestamp, agent, watermark, description)"},
       {kRemoveCopies,
        "CREATE UNIQUE INDEX reports_once ON reports (token, event_id, md5("
        "length(timestamp)::text || ' ' || timestamp || length(agent)::text || ' ' || agent ||"
        " length(watermark)::text || ' ' || watermark || description))"}},
  };
  return kSteps;
}

bool BeginSchemaChange(SqlSession& session, std::string* error) {
  if (session.dialect() == SqlDialect::kSqlite) return session.Begin(true, error);
  // Tried rather than waited for: a wait would run into the statement's
  // deadline while another collector builds the aggregates of a large store.
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSchemaLockWaitMs);
  for (;;) {
    bool taken = false;
    if (!session.Begin(true, error)) return false;
    if (!session.Run(
            "SELECT pg_try_advisory_xact_lock(?)", {SqlValue::Integer(kSchemaLock)},
            [&taken](const SqlRow& row) { taken = row[0] == std::string("t"); }, error)) {
      session.Rollback();
      return false;
    }
    if (taken) return true;
    session.Rollback();
    if (std::chrono::steady_clock::now() > give_up) {
      *error = "another collector has been changing the database's schema for too long";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::optional<SchemaChange> MigrateSchema(SqlSession& session, std::string* error) {
  SchemaChange change;
  for (bool first = true;; first = false) {
    if (!BeginSchemaChange(session, error)) return std::nullopt;
    int version = 0;
    bool ok = session.Run(
                  "CREATE TABLE IF NOT EXISTS schema_steps (version INTEGER PRIMARY KEY,"
                  " applied_ms BIGINT NOT NULL)",
                  {}, nullptr, error) &&
              session.Run(
                  "SELECT MAX(version) FROM schema_steps", {},
                  [&version](const SqlRow& row) { version = static_cast<int>(SqlInteger(row[0])); },
                  error);
    if (first) change.from = version;
    change.to = version;
    const SchemaStep* next = nullptr;
    for (const SchemaStep& step : SchemaSteps()) {
      if (!next && step.version > version) next = &step;
    }
    if (ok && next) {
      const std::vector<std::string>& statements =
          session.dialect() == SqlDialect::kPostgres && !next->postgres.empty() ? next->postgres
                                                                                : next->sqlite;
      for (size_t i = 0; ok && i < statements.size(); ++i)
        ok = session.Run(statements[i], {}, nullptr, error);
      const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
      ok = ok && session.Run("INSERT INTO schema_steps (version, applied_ms) VALUES (?, ?)",
                             {SqlValue::Integer(next->version), SqlValue::Integer(now_ms)}, nullptr,
                             error);
    }
    if (!ok) {
      session.Rollback();
      return std::nullopt;
    }
    if (!session.Commit(error)) return std::nullopt;
    if (!next) return change;
    change.to = next->version;
    change.applied.push_back(next);
  }
}

}  // namespace collector
