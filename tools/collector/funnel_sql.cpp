#include "tools/collector/funnel_sql.h"

#include <algorithm>
#include <map>

#include "tools/collector/funnel_tally.h"

namespace collector {

namespace {

constexpr size_t kTokensPerLookup = 500;

SqlValue Optional(const std::optional<int64_t>& value) {
  return value ? SqlValue::Integer(*value) : SqlValue::Null();
}

std::optional<int64_t> OptionalInteger(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return SqlInteger(text);
}

// Runs `sql` ending in "IN (" for the tokens, a bounded number at a time.
bool ForTokens(SqlSession& session, const std::string& sql, const std::vector<std::string>& tokens,
               const SqlRowVisitor& visit, std::string* error) {
  for (size_t start = 0; start < tokens.size(); start += kTokensPerLookup) {
    const size_t end = std::min(tokens.size(), start + kTokensPerLookup);
    std::string statement = sql;
    std::vector<SqlValue> params;
    for (size_t i = start; i < end; ++i) {
      statement += i > start ? ",?" : "?";
      params.push_back(SqlValue::Text(tokens[i]));
    }
    if (!session.Run(statement + ")", params, visit, error)) return false;
  }
  return true;
}

bool LoadBefore(SqlSession& session, const std::vector<ReportRecord>& records, TallyBefore* before,
                std::string* error) {
  std::vector<std::string> tokens;
  {
    std::map<std::string, bool> seen;
    for (const ReportRecord& r : records) {
      if (!seen[r.token]) tokens.push_back(r.token);
      seen[r.token] = true;
    }
  }
  const bool runs = ForTokens(
      session,
      "SELECT token, build, events, records, started_ms, launched_ms, last_event,"
      " last_timestamp, last_received_ms, day, failed FROM funnel_runs WHERE token IN (",
      tokens,
      [before](const SqlRow& row) {
        RunTally run;
        run.token = row[0].value_or("");
        run.build = row[1].value_or("");
        run.events = static_cast<uint64_t>(SqlInteger(row[2]));
        run.records = static_cast<uint64_t>(SqlInteger(row[3]));
        run.started_ms = OptionalInteger(row[4]);
        run.launched_ms = OptionalInteger(row[5]);
        run.last_event = static_cast<diagnostics::EventId>(SqlInteger(row[6]));
        run.last_timestamp = row[7].value_or("");
        run.last_received_ms = SqlInteger(row[8]);
        run.day = SqlInteger(row[9]);
        run.failed = SqlInteger(row[10]) != 0;
        before->runs[run.token] = run;
      },
      error);
  return runs && ForTokens(
                     session,
                     "SELECT token, event_id, description, reports FROM run_failures"
                     " WHERE token IN (",
                     TokensNeedingFailures(records),
                     [before](const SqlRow& row) {
                       FailureKey key{static_cast<diagnostics::EventId>(SqlInteger(row[1])),
                                      row[2].value_or("")};
                       before->run_failures[row[0].value_or("")][key] =
                           static_cast<uint64_t>(SqlInteger(row[3]));
                     },
                     error);
}

// Rows that add their numbers to the row of the same key, or are its first.
SqlRowWriter Adding(SqlSession& session, const std::string& table,
                    const std::vector<std::string>& keys, const std::vector<std::string>& added) {
  std::string columns, key, sums;
  for (const std::string& k : keys) key += (key.empty() ? "" : ", ") + k;
  columns = key;
  for (const std::string& a : added) {
    columns += ", " + a;
    sums += (sums.empty() ? "" : ", ") + a + " = " + table + "." + a + " + excluded." + a;
  }
  return SqlRowWriter(session, "INSERT INTO " + table + " (" + columns + ")",
                      keys.size() + added.size(),
                      "ON CONFLICT (" + key + ") DO UPDATE SET " + sums);
}

SqlValue AllBuilds(const Scope& scope) { return SqlValue::Integer(scope.all ? 1 : 0); }

bool WriteChanges(SqlSession& session, const TallyChanges& changes, std::string* error) {
  SqlRowWriter runs(session,
                    "INSERT INTO funnel_runs (token, build, events, records, started_ms,"
                    " launched_ms, launch_ms, finished, last_event, last_timestamp,"
                    " last_received_ms, day, failed)",
                    13,
                    "ON CONFLICT (token) DO UPDATE SET build = excluded.build,"
                    " events = excluded.events, records = excluded.records,"
                    " started_ms = excluded.started_ms, launched_ms = excluded.launched_ms,"
                    " launch_ms = excluded.launch_ms, finished = excluded.finished,"
                    " last_event = excluded.last_event, last_timestamp = excluded.last_timestamp,"
                    " last_received_ms = excluded.last_received_ms, failed = excluded.failed");
  for (const auto& [token, run] : changes.runs) {
    if (!runs.Add({SqlValue::Text(token), SqlValue::Text(run.build),
                   SqlValue::Integer(static_cast<int64_t>(run.events)),
                   SqlValue::Integer(static_cast<int64_t>(run.records)), Optional(run.started_ms),
                   Optional(run.launched_ms), Optional(run.LaunchMs()),
                   SqlValue::Integer(run.Finished() ? 1 : 0), SqlValue::Integer(run.last_event),
                   SqlValue::Text(run.last_timestamp), SqlValue::Integer(run.last_received_ms),
                   SqlValue::Integer(run.day), SqlValue::Integer(run.failed ? 1 : 0)},
                  error)) {
      return false;
    }
  }
  SqlRowWriter counts =
      Adding(session, "funnel_counts", {"all_builds", "build"}, {"records", "runs", "launches"});
  SqlRowWriter steps = Adding(session, "funnel_steps", {"all_builds", "build", "step"}, {"runs"});
  for (const auto& [scope, change] : changes.counts) {
    if ((change.records || change.runs || change.launches) &&
        !counts.Add(
            {AllBuilds(scope), SqlValue::Text(scope.build), SqlValue::Integer(change.records),
             SqlValue::Integer(change.runs), SqlValue::Integer(change.launches)},
            error)) {
      return false;
    }
    for (const auto& [step, runs_changed] : change.steps) {
      if (runs_changed &&
          !steps.Add({AllBuilds(scope), SqlValue::Text(scope.build),
                      SqlValue::Text(StepRules()[step].label), SqlValue::Integer(runs_changed)},
                     error)) {
        return false;
      }
    }
  }
  SqlRowWriter failures =
      Adding(session, "funnel_failures", {"all_builds", "build", "event_id", "description"},
             {"reports", "runs"});
  for (const auto& [where, change] : changes.failures) {
    const auto& [scope, key] = where;
    if ((change.reports || change.runs) &&
        !failures.Add({AllBuilds(scope), SqlValue::Text(scope.build),
                       SqlValue::Integer(key.event_id), SqlValue::Text(key.description),
                       SqlValue::Integer(change.reports), SqlValue::Integer(change.runs)},
                      error)) {
      return false;
    }
  }
  SqlRowWriter run_failures =
      Adding(session, "run_failures", {"token", "event_id", "description"}, {"reports"});
  for (const auto& [where, reports] : changes.run_failures) {
    if (!run_failures.Add({SqlValue::Text(where.first), SqlValue::Integer(where.second.event_id),
                           SqlValue::Text(where.second.description), SqlValue::Integer(reports)},
                          error)) {
      return false;
    }
  }
  SqlRowWriter days =
      Adding(session, "funnel_days", {"all_builds", "build", "day"}, {"runs", "failed_runs"});
  for (const auto& [where, change] : changes.days) {
    const auto& [scope, day] = where;
    if ((change.runs || change.failed_runs) &&
        !days.Add({AllBuilds(scope), SqlValue::Text(scope.build), SqlValue::Integer(day),
                   SqlValue::Integer(change.runs), SqlValue::Integer(change.failed_runs)},
                  error)) {
      return false;
    }
  }
  return runs.Flush(error) && counts.Flush(error) && steps.Flush(error) && failures.Flush(error) &&
         run_failures.Flush(error) && days.Flush(error);
}

std::vector<SqlValue> ScopeParams(const std::optional<std::string>& build) {
  return {SqlValue::Integer(build ? 0 : 1), SqlValue::Text(build.value_or(""))};
}

// Nearest rank: the smallest launch time with at least `percent` of them at
// or below it.
bool LaunchPercentile(SqlSession& session, const std::optional<std::string>& build, uint64_t count,
                      int percent, std::optional<int64_t>* out, std::string* error) {
  const uint64_t rank = std::max<uint64_t>((count * percent + 99) / 100, 1);
  std::vector<SqlValue> params;
  if (build) params.push_back(SqlValue::Text(*build));
  params.push_back(SqlValue::Integer(static_cast<int64_t>(rank - 1)));
  return session.Run(
      std::string("SELECT launch_ms FROM funnel_runs WHERE ") + (build ? "build = ? AND " : "") +
          "launch_ms IS NOT NULL ORDER BY launch_ms LIMIT 1 OFFSET ?",
      params, [out](const SqlRow& row) { *out = OptionalInteger(row[0]); }, error);
}

// A scope's funnel; its counts row is given (read with the others).
bool ReadBuild(SqlSession& session, const std::optional<std::string>& build, uint64_t runs,
               uint64_t launches, BuildFunnel* out, std::string* error) {
  out->watermark = build.value_or("");
  out->runs = runs;
  out->launches_timed = launches;
  std::map<std::string, uint64_t> by_label;
  if (!session.Run(
          "SELECT step, runs FROM funnel_steps WHERE all_builds = ? AND build = ?",
          ScopeParams(build),
          [&by_label](const SqlRow& row) {
            by_label[row[0].value_or("")] = static_cast<uint64_t>(SqlInteger(row[1]));
          },
          error)) {
    return false;
  }
  for (const StepRule& rule : StepRules()) out->steps.push_back({rule.label, by_label[rule.label]});
  for (const StepRule& rule : StepRules()) {
    if (rule.ids == std::vector<diagnostics::EventId>{diagnostics::kBootstrapperExited})
      out->unfinished = runs - by_label[rule.label];
  }
  std::vector<SqlValue> day_params = ScopeParams(build);
  day_params.push_back(SqlValue::Integer(static_cast<int64_t>(kListedDays)));
  if (!session.Run(
          "SELECT day, runs, failed_runs FROM funnel_days WHERE all_builds = ? AND build = ?"
          " AND runs > 0 ORDER BY day DESC LIMIT ?",
          day_params,
          [out](const SqlRow& row) {
            out->days.push_back({SqlInteger(row[0]), static_cast<uint64_t>(SqlInteger(row[1])),
                                 static_cast<uint64_t>(SqlInteger(row[2]))});
          },
          error)) {
    return false;
  }
  std::reverse(out->days.begin(), out->days.end());
  if (launches == 0) return true;
  return LaunchPercentile(session, build, launches, 50, &out->launch_median_ms, error) &&
         LaunchPercentile(session, build, launches, 90, &out->launch_p90_ms, error);
}

}  // namespace

std::vector<std::string> AggregateSchema(SqlDialect dialect) {
  // PostgreSQL sorts texts by byte, as SQLite does, whatever the database's locale.
  const std::string text = dialect == SqlDialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT";
  return {
      "CREATE TABLE IF NOT EXISTS funnel_meta (name TEXT PRIMARY KEY, value BIGINT NOT NULL)",
      "CREATE TABLE IF NOT EXISTS funnel_runs (token " + text + " PRIMARY KEY, build " + text +
          " NOT NULL, events BIGINT NOT NULL, records BIGINT NOT NULL, started_ms BIGINT,"
          " launched_ms BIGINT, launch_ms BIGINT, finished INTEGER NOT NULL,"
          " last_event INTEGER NOT NULL, last_timestamp TEXT NOT NULL,"
          " last_received_ms BIGINT NOT NULL, day BIGINT NOT NULL, failed INTEGER NOT NULL)",
      "CREATE INDEX IF NOT EXISTS funnel_runs_launch ON funnel_runs (launch_ms)",
      "CREATE INDEX IF NOT EXISTS funnel_runs_build_launch ON funnel_runs (build, launch_ms)",
      "CREATE INDEX IF NOT EXISTS funnel_runs_unfinished ON funnel_runs"
      " (finished, last_received_ms)",
      "CREATE INDEX IF NOT EXISTS funnel_runs_build_unfinished ON funnel_runs"
      " (build, finished, last_received_ms)",
      "CREATE TABLE IF NOT EXISTS funnel_counts (all_builds INTEGER NOT NULL, build " + text +
          " NOT NULL, records BIGINT NOT NULL, runs BIGINT NOT NULL, launches BIGINT NOT NULL,"
          " PRIMARY KEY (all_builds, build))",
      "CREATE INDEX IF NOT EXISTS funnel_counts_top ON funnel_counts"
      " (all_builds, runs DESC, build)",
      "CREATE TABLE IF NOT EXISTS funnel_steps (all_builds INTEGER NOT NULL, build " + text +
          " NOT NULL, step TEXT NOT NULL, runs BIGINT NOT NULL,"
          " PRIMARY KEY (all_builds, build, step))",
      "CREATE TABLE IF NOT EXISTS funnel_failures (all_builds INTEGER NOT NULL, build " + text +
          " NOT NULL, event_id INTEGER NOT NULL, description " + text +
          " NOT NULL, reports BIGINT NOT NULL, runs BIGINT NOT NULL,"
          " PRIMARY KEY (all_builds, build, event_id, description))",
      "CREATE INDEX IF NOT EXISTS funnel_failures_top ON funnel_failures"
      " (all_builds, build, reports DESC, event_id, description)",
      "CREATE TABLE IF NOT EXISTS funnel_days (all_builds INTEGER NOT NULL, build " + text +
          " NOT NULL, day BIGINT NOT NULL, runs BIGINT NOT NULL, failed_runs BIGINT NOT NULL,"
          " PRIMARY KEY (all_builds, build, day))",
      "CREATE TABLE IF NOT EXISTS run_failures (token " + text +
          " NOT NULL,"
          " event_id INTEGER NOT NULL, description " +
          text +
          " NOT NULL,"
          " reports BIGINT NOT NULL, PRIMARY KEY (token, event_id, description))",
  };
}

std::optional<int> AggregateVersion(SqlSession& session, std::string* error) {
  int version = 0;
  if (!session.Run(
          "SELECT value FROM funnel_meta WHERE name = 'version'", {},
          [&version](const SqlRow& row) { version = static_cast<int>(SqlInteger(row[0])); },
          error)) {
    return std::nullopt;
  }
  return version;
}

bool ResetAggregates(SqlSession& session, std::string* error) {
  // Another version's tables may have other columns: dropped and made anew.
  for (const char* table : {"funnel_meta", "funnel_runs", "funnel_counts", "funnel_steps",
                            "funnel_failures", "funnel_days", "run_failures"}) {
    if (!session.Run("DROP TABLE IF EXISTS " + std::string(table), {}, nullptr, error))
      return false;
  }
  for (const std::string& statement : AggregateSchema(session.dialect())) {
    if (!session.Run(statement, {}, nullptr, error)) return false;
  }
  return session.Run("INSERT INTO funnel_meta (name, value) VALUES ('version', ?)",
                     {SqlValue::Integer(kAggregateVersion)}, nullptr, error);
}

bool UpdateAggregates(SqlSession& session, const std::vector<ReportRecord>& records,
                      std::string* error) {
  if (records.empty()) return true;
  TallyBefore before;
  return LoadBefore(session, records, &before, error) &&
         WriteChanges(session, TallyRecords(records, before), error);
}

std::optional<FunnelReport> ReadAggregates(SqlSession& session,
                                           const std::optional<std::string>& build,
                                           std::string* error) {
  FunnelReport report;
  uint64_t launches = 0;
  if (!session.Run(
          "SELECT records, runs, launches FROM funnel_counts"
          " WHERE all_builds = ? AND build = ?",
          ScopeParams(build),
          [&](const SqlRow& row) {
            report.records = static_cast<uint64_t>(SqlInteger(row[0]));
            report.runs = static_cast<uint64_t>(SqlInteger(row[1]));
            launches = static_cast<uint64_t>(SqlInteger(row[2]));
          },
          error) ||
      !ReadBuild(session, build, report.runs, launches, &report.all, error)) {
    return std::nullopt;
  }
  if (build) {
    if (report.runs > 0) report.builds.push_back(report.all);
  } else {
    std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> top;
    if (!session.Run(
            "SELECT build, runs, launches FROM funnel_counts"
            " WHERE all_builds = 0 AND runs > 0 ORDER BY runs DESC, build LIMIT ?",
            {SqlValue::Integer(kListedBuilds + 1)},
            [&top](const SqlRow& row) {
              top.push_back({row[0].value_or(""),
                             {static_cast<uint64_t>(SqlInteger(row[1])),
                              static_cast<uint64_t>(SqlInteger(row[2]))}});
            },
            error)) {
      return std::nullopt;
    }
    report.more_builds = top.size() > kListedBuilds;
    if (report.more_builds) top.pop_back();
    for (const auto& [name, counts] : top) {
      report.builds.emplace_back();
      if (!ReadBuild(session, name, counts.first, counts.second, &report.builds.back(), error)) {
        return std::nullopt;
      }
    }
  }
  std::vector<SqlValue> params = ScopeParams(build);
  params.push_back(SqlValue::Integer(kTopFailures));
  if (!session.Run(
          "SELECT event_id, description, reports, runs FROM funnel_failures"
          " WHERE all_builds = ? AND build = ? AND reports > 0"
          " ORDER BY reports DESC, event_id, description LIMIT ?",
          params,
          [&report](const SqlRow& row) {
            report.failures.push_back({static_cast<diagnostics::EventId>(SqlInteger(row[0])),
                                       row[1].value_or(""),
                                       static_cast<uint64_t>(SqlInteger(row[2])),
                                       static_cast<uint64_t>(SqlInteger(row[3]))});
          },
          error)) {
    return std::nullopt;
  }
  params.clear();
  if (build) params.push_back(SqlValue::Text(*build));
  params.push_back(SqlValue::Integer(kListedUnfinished));
  if (!session.Run(
          std::string("SELECT token, build, last_event, last_timestamp FROM funnel_runs"
                      " WHERE ") +
              (build ? "build = ? AND " : "") +
              "finished = 0 ORDER BY last_received_ms DESC LIMIT ?",
          params,
          [&report](const SqlRow& row) {
            report.unfinished.push_back({RunLabel(row[0].value_or("")), row[1].value_or(""),
                                         static_cast<diagnostics::EventId>(SqlInteger(row[2])),
                                         row[3].value_or("")});
          },
          error)) {
    return std::nullopt;
  }
  return report;
}

}  // namespace collector
