// A connection to the results database, SQLite or PostgreSQL, through one small
// interface: statements with `?` parameters, rows as typed cells.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace records {

using SqlValue = std::variant<std::monostate, int64_t, double, std::string>;
using SqlRow = std::vector<SqlValue>;

int64_t AsInt(const SqlValue& v);
double AsDouble(const SqlValue& v);
std::string AsText(const SqlValue& v);
bool IsNull(const SqlValue& v);

class Connection {
 public:
  enum class Dialect { kSqlite, kPostgres };

  virtual ~Connection() = default;
  virtual Dialect GetDialect() const = 0;
  // One statement; `?` stands for each parameter in turn. Rows, when asked for, are
  // appended to rows. False with Error() saying why.
  virtual bool Exec(std::string_view sql, const std::vector<SqlValue>& params = {},
                    std::vector<SqlRow>* rows = nullptr) = 0;
  // Starts a transaction that writes (SQLite takes its write lock at once).
  virtual bool BeginWrite() = 0;
  bool Commit() { return Exec("COMMIT"); }
  // Undoes an open transaction; keeps Error() as it was.
  virtual void Rollback() = 0;
  // False once the server was lost (a PostgreSQL connection that broke).
  virtual bool Alive() const { return true; }
  // Whether the last statement failed for what it carries (a value the database refuses):
  // sending it again would fail again.
  virtual bool RefusedContent() const { return false; }
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

}  // namespace records
