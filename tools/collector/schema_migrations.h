// The store's schema as one ordered list of steps, each applied once, in a
// transaction of its own, under a lock that every collector on the database
// takes: collectors started at the same moment on an empty database bring
// it up once between them. The applied steps are kept in schema_steps.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/collector/sql_session.h"

namespace collector {

struct SchemaStep {
  int version;
  const char* what;  // what `migrate` says it did
  std::vector<std::string> sqlite;
  std::vector<std::string> postgres;  // empty: the SQLite statements serve both
};

// In the order they apply; a step once released never changes (a store that
// took it is past it), a change is a new step.
const std::vector<SchemaStep>& SchemaSteps();

// What opening a store did to its schema.
struct SchemaChange {
  int from = 0;  // the version found
  int to = 0;    // the version now
  std::vector<const SchemaStep*> applied;
  bool aggregates_rebuilt = false;
};

// Begins a write transaction that holds the schema's lock until it ends.
// PostgreSQL: a transaction's advisory lock, waited for a bounded time (a
// first start over many records may take minutes); SQLite: BEGIN IMMEDIATE.
bool BeginSchemaChange(SqlSession& session, std::string* error);

// Applies the steps the store has not taken, one transaction each.
std::optional<SchemaChange> MigrateSchema(SqlSession& session, std::string* error);

}  // namespace collector
