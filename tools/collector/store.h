// Where the collector keeps its records: SQLite in a file, or a PostgreSQL
// database that several collectors share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/collector/report_parser.h"

class Store {
 public:
  virtual ~Store() = default;
  // Writes the records in one transaction; true only once it is committed,
  // so that a record is answered only when a crash can no longer lose it.
  // Called from one thread at a time.
  virtual bool Append(const std::vector<ReportRecord>& records, std::string* error) = 0;
  // Every record received at or after `since_ms`, in the order stored. Safe
  // while another thread appends (it reads over a connection of its own).
  virtual bool ForEach(int64_t since_ms, const std::function<void(const ReportRecord&)>& visit,
                       std::string* error) = 0;
};

// "postgresql://..." (or "postgres://...") opens PostgreSQL through libpq;
// anything else names an SQLite file, created with its table when missing.
// Null, with the reason in `error`, when the store cannot be opened.
std::unique_ptr<Store> OpenStore(const std::string& location, std::string* error);

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, std::string* error);
