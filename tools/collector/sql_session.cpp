#include "tools/collector/sql_session.h"

#include <cstdlib>

namespace collector {

namespace {

// Parameters per statement: SQLite takes 32,766, PostgreSQL 65,535.
constexpr size_t kMostParameters = 30000;

}  // namespace

int64_t SqlInteger(const std::optional<std::string>& value) {
  return value ? std::strtoll(value->c_str(), nullptr, 10) : 0;
}

SqlRowWriter::SqlRowWriter(SqlSession& session, std::string head, size_t columns, std::string tail,
                           SqlRowVisitor visit)
    : session_(session),
      head_(std::move(head)),
      columns_(columns),
      tail_(std::move(tail)),
      visit_(std::move(visit)) {}

bool SqlRowWriter::Add(std::vector<SqlValue> row, std::string* error) {
  for (SqlValue& value : row) values_.push_back(std::move(value));
  return values_.size() + columns_ > kMostParameters ? Flush(error) : true;
}

bool SqlRowWriter::Flush(std::string* error) {
  if (values_.empty()) return true;
  std::string row = "(";
  for (size_t i = 0; i < columns_; ++i) row += i ? ",?" : "?";
  row += ")";
  std::string sql = head_ + " VALUES ";
  for (size_t i = 0; i < values_.size() / columns_; ++i) sql += (i ? "," : "") + row;
  if (!tail_.empty()) sql += " " + tail_;
  const bool ok = session_.Run(sql, values_, visit_, error);
  values_.clear();
  return ok;
}

}  // namespace collector
