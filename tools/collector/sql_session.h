// One connection to a store's database, as the SQL both stores share runs
// on it: `?` marks each parameter, and every value of a result comes back as
// text (or null). Each store's own kind of connection implements it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace collector {

enum class SqlDialect { kSqlite, kPostgres };

struct SqlValue {
  enum class Kind { kNull, kInteger, kText };
  static SqlValue Null() { return {Kind::kNull, 0, {}}; }
  static SqlValue Integer(int64_t value) { return {Kind::kInteger, value, {}}; }
  static SqlValue Text(std::string value) { return {Kind::kText, 0, std::move(value)}; }
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  std::string text;
};

using SqlRow = std::vector<std::optional<std::string>>;
using SqlRowVisitor = std::function<void(const SqlRow&)>;

class SqlSession {
 public:
  virtual ~SqlSession() = default;
  virtual SqlDialect dialect() const = 0;
  // One statement; each row of its result goes to `visit` (may be empty).
  virtual bool Run(const std::string& sql, const std::vector<SqlValue>& params,
                   const SqlRowVisitor& visit, std::string* error) = 0;
  // A transaction: `write` takes the write lock at once (a reader sees one
  // snapshot throughout).
  virtual bool Begin(bool write, std::string* error) = 0;
  // False when the commit failed, or its outcome is unknown (its answer was
  // lost or late): the caller must take the records as not stored.
  virtual bool Commit(std::string* error) = 0;
  virtual void Rollback() = 0;
};

// A whole number from a result's text; 0 for null or no number.
int64_t SqlInteger(const std::optional<std::string>& value);

// Writes many rows with as few statements as the parameter bounds allow:
// `head` VALUES (?, ...), (?, ...) `tail`; the rows a statement returns
// (a `tail` with RETURNING) go to `visit`.
class SqlRowWriter {
 public:
  SqlRowWriter(SqlSession& session, std::string head, size_t columns, std::string tail = "",
               SqlRowVisitor visit = nullptr);
  // Runs a statement whenever the rows gathered reach the bound.
  bool Add(std::vector<SqlValue> row, std::string* error);
  // Runs the statement for the rows still gathered.
  bool Flush(std::string* error);

 private:
  SqlSession& session_;
  const std::string head_;
  const size_t columns_;
  const std::string tail_;
  const SqlRowVisitor visit_;
  std::vector<SqlValue> values_;
};

}  // namespace collector
