// The results database in a SQLite file: write-ahead log, a wait of its own for other
// writers, prepared statements kept for reuse.
#pragma once

#include <string>
#include <unordered_map>

#include "records/Connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace records {

class SqliteConnection : public Connection {
 public:
  ~SqliteConnection() override;
  // Opens (creating it and its folder when missing) the database file.
  static std::unique_ptr<SqliteConnection> Open(const std::string& path, std::string& error);

  Dialect GetDialect() const override { return Dialect::kSqlite; }
  bool Exec(std::string_view sql, const std::vector<SqlValue>& params = {},
            std::vector<SqlRow>* rows = nullptr) override;
  bool BeginWrite() override { return Exec("BEGIN IMMEDIATE"); }
  void Rollback() override;

 private:
  SqliteConnection() = default;
  sqlite3_stmt* Prepare(std::string_view sql);
  bool Fail(const std::string& what);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace records
