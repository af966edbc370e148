// The SQLite store's connection: a file of our own (or a database in memory).
#include <sqlite3.h>

#include <unordered_map>

#include "tools/collector/store.h"

namespace collector {

namespace {

// Distinct statements kept prepared; a group of another size writes other
// texts, so the cache is emptied when full rather than grown.
constexpr size_t kPreparedStatements = 64;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string Failure(sqlite3* db, const std::string& what) {
  return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

class SqliteSession : public SqlSession {
 public:
  explicit SqliteSession(Database db) : db_(std::move(db)) {}

  SqlDialect dialect() const override { return SqlDialect::kSqlite; }

  bool Run(const std::string& sql, const std::vector<SqlValue>& params, const SqlRowVisitor& visit,
           std::string* error) override {
    sqlite3_stmt* statement = Prepared(sql, error);
    if (!statement) return false;
    for (size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      const SqlValue& value = params[i];
      if (value.kind == SqlValue::Kind::kInteger) {
        sqlite3_bind_int64(statement, at, value.integer);
      } else if (value.kind == SqlValue::Kind::kText) {
        sqlite3_bind_text(statement, at, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_STATIC);
      } else {
        sqlite3_bind_null(statement, at);
      }
    }
    int rc;
    SqlRow row;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      row.assign(static_cast<size_t>(sqlite3_column_count(statement)), std::nullopt);
      for (size_t i = 0; i < row.size(); ++i) {
        const int column = static_cast<int>(i);
        if (sqlite3_column_type(statement, column) == SQLITE_NULL) continue;
        const unsigned char* text = sqlite3_column_text(statement, column);
        row[i] = std::string(reinterpret_cast<const char*>(text),
                             static_cast<size_t>(sqlite3_column_bytes(statement, column)));
      }
      if (visit) visit(row);
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok) *error = Failure(db_.get(), sql.substr(0, 60));
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
  }

  bool Begin(bool write, std::string* error) override {
    return Run(write ? "BEGIN IMMEDIATE" : "BEGIN", {}, nullptr, error);
  }

  bool Commit(std::string* error) override {
    if (Run("COMMIT", {}, nullptr, error)) return true;
    Rollback();
    return false;
  }

  void Rollback() override {
    std::string ignored;
    if (!sqlite3_get_autocommit(db_.get())) Run("ROLLBACK", {}, nullptr, &ignored);
  }

 private:
  sqlite3_stmt* Prepared(const std::string& sql, std::string* error) {
    auto found = prepared_.find(sql);
    if (found != prepared_.end()) return found->second.get();
    if (prepared_.size() >= kPreparedStatements) prepared_.clear();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
        SQLITE_OK) {
      *error = Failure(db_.get(), "prepare " + sql.substr(0, 60));
      return nullptr;
    }
    return prepared_.emplace(sql, Statement(raw)).first->second.get();
  }

  // Declared first: the statements are finalized before the database closes.
  Database db_;
  std::unordered_map<std::string, Statement> prepared_;
};

}  // namespace

std::unique_ptr<SqlSession> ConnectSqlite(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) {
    *error = Failure(raw, "cannot open " + path);
    return nullptr;
  }
  // A reader waits for the writer's checkpoint instead of failing.
  sqlite3_busy_timeout(raw, 10000);
  return std::make_unique<SqliteSession>(std::move(db));
}

}  // namespace collector
