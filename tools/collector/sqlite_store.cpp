#include <sqlite3.h>

#include "tools/collector/store.h"

namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS reports ("
    " id INTEGER PRIMARY KEY,"
    " token TEXT NOT NULL, event_id INTEGER NOT NULL, description TEXT NOT NULL,"
    " timestamp TEXT NOT NULL, agent TEXT NOT NULL, watermark TEXT NOT NULL,"
    " received_ms INTEGER NOT NULL, sender TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS reports_received ON reports (received_ms);";

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string Failure(sqlite3* db, const char* what) {
  return std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

Database Open(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) {
    *error = Failure(raw, ("cannot open " + path).c_str());
    return nullptr;
  }
  // A reader waits for the writer's checkpoint instead of failing.
  sqlite3_busy_timeout(raw, 10000);
  return db;
}

bool Execute(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = std::string(sql) + ": " + (message ? message : "failed");
  sqlite3_free(message);
  return false;
}

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

class SqliteStore : public Store {
 public:
  SqliteStore(std::string path, Database db) : path_(std::move(path)), db_(std::move(db)) {}

  bool Prepare(std::string* error) {
    // WAL: readers (the report page) never hold up the writer. FULL: a
    // commit is on disk before the report it holds is answered.
    if (!Execute(db_.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", error) ||
        !Execute(db_.get(), kSchema, error)) {
      return false;
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(),
                           "INSERT INTO reports (token, event_id, description, timestamp, agent,"
                           " watermark, received_ms, sender) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &raw, nullptr) != SQLITE_OK) {
      *error = Failure(db_.get(), "prepare insert");
      return false;
    }
    insert_.reset(raw);
    return true;
  }

  bool Append(const std::vector<ReportRecord>& records, std::string* error) override {
    if (!Execute(db_.get(), "BEGIN IMMEDIATE", error)) return false;
    sqlite3_stmt* insert = insert_.get();
    for (const ReportRecord& r : records) {
      sqlite3_reset(insert);
      const std::string* texts[] = {&r.token, &r.description, &r.timestamp, &r.agent, &r.watermark};
      const int text_columns[] = {1, 3, 4, 5, 6};
      for (int i = 0; i < 5; ++i) {
        sqlite3_bind_text(insert, text_columns[i], texts[i]->data(),
                          static_cast<int>(texts[i]->size()), SQLITE_STATIC);
      }
      sqlite3_bind_int(insert, 2, r.event_id);
      sqlite3_bind_int64(insert, 7, r.received_ms);
      sqlite3_bind_text(insert, 8, r.sender.data(), static_cast<int>(r.sender.size()),
                        SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) {
        *error = Failure(db_.get(), "insert");
        sqlite3_reset(insert);
        std::string ignored;
        Execute(db_.get(), "ROLLBACK", &ignored);
        return false;
      }
    }
    sqlite3_reset(insert);
    if (Execute(db_.get(), "COMMIT", error)) return true;
    std::string ignored;
    Execute(db_.get(), "ROLLBACK", &ignored);
    return false;
  }

  bool ForEach(int64_t since_ms, const std::function<void(const ReportRecord&)>& visit,
               std::string* error) override {
    Database reader = Open(path_, error);
    if (!reader) return false;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(reader.get(),
                           "SELECT token, event_id, description, timestamp, agent, watermark,"
                           " received_ms, sender FROM reports WHERE received_ms >= ? ORDER BY id",
                           -1, &raw, nullptr) != SQLITE_OK) {
      *error = Failure(reader.get(), "prepare select");
      return false;
    }
    Statement select(raw);
    sqlite3_bind_int64(raw, 1, since_ms);
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      ReportRecord r;
      r.token = Text(raw, 0);
      r.event_id = sqlite3_column_int(raw, 1);
      r.description = Text(raw, 2);
      r.timestamp = Text(raw, 3);
      r.agent = Text(raw, 4);
      r.watermark = Text(raw, 5);
      r.received_ms = sqlite3_column_int64(raw, 6);
      r.sender = Text(raw, 7);
      visit(r);
    }
    if (rc != SQLITE_DONE) {
      *error = Failure(reader.get(), "select");
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  Database db_;  // the writer's connection; Append's thread only
  Statement insert_;
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, std::string* error) {
  Database db = Open(path, error);
  if (!db) return nullptr;
  auto store = std::make_unique<SqliteStore>(path, std::move(db));
  if (!store->Prepare(error)) return nullptr;
  return store;
}

std::unique_ptr<Store> OpenStore(const std::string& location, std::string* error) {
  if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
    return OpenPostgresStore(location, error);
  }
  return OpenSqliteStore(location, error);
}
