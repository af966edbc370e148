// The aggregate tables a store keeps beside its records, and the one copy of
// the SQL that keeps and reads them for both stores. Every scope (every build
// together: all_builds 1, build ''; one build: all_builds 0) has a row of
// counts, a row per step and per failure; each run has its own state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/collector/funnel.h"
#include "tools/collector/sql_session.h"

namespace collector {

// Raised whenever what the tables hold changes meaning (a new step rule,
// another text cut): a store finding another version builds them again.
// 2: the rows of what the checks found missing (4002, 4004, 4006); each
// run's day and failure, and the runs of each day (funnel_days). 3: the
// records counted once each (a resend's copy was counted again).
constexpr int kAggregateVersion = 3;

// CREATE statements, one a string; each can run again on tables already there.
std::vector<std::string> AggregateSchema(SqlDialect dialect);
// The version the tables were built for, or 0 (none yet, or built by an
// older collector that kept no aggregates).
std::optional<int> AggregateVersion(SqlSession& session, std::string* error);
// Makes the tables anew, empty, marked as built for kAggregateVersion (the
// caller found them built for another).
bool ResetAggregates(SqlSession& session, std::string* error);

// Inside the transaction that stores the records.
bool UpdateAggregates(SqlSession& session, const std::vector<ReportRecord>& records,
                      std::string* error);

// The funnel of every build (no `build`) or of one, from the tables alone:
// a fixed number of rows whatever the store holds, but for the launch
// percentiles, which walk an index over the build's launched runs.
std::optional<FunnelReport> ReadAggregates(SqlSession& session,
                                           const std::optional<std::string>& build,
                                           std::string* error);

}  // namespace collector
