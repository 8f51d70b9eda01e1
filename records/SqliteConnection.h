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
  // Opens (creating it and its folder when missing) the database file. readOnly: opens an
  // existing file only to read it, creating and changing nothing.
  static std::unique_ptr<SqliteConnection> Open(const std::string& path, std::string& error,
                                                bool readOnly = false);
  // Whether the file can be written (false for a read-only file or folder).
  bool Writable() const;

  Dialect GetDialect() const override { return Dialect::kSqlite; }
  bool Exec(std::string_view sql, const std::vector<SqlValue>& params = {},
            std::vector<SqlRow>* rows = nullptr) override;
  bool BeginWrite() override { return Exec("BEGIN IMMEDIATE"); }
  void Rollback() override;

 private:
  SqliteConnection() = default;
  sqlite3_stmt* Prepare(std::string_view sql);
  bool Fail(const std::string& what);
  // Waits for another program's lock up to kBusyWaitMs, saying so once.
  static int Busy(void* self, int count);
  static constexpr int kBusyWaitMs = 30000;

  sqlite3* db_ = nullptr;
  std::string path_;
  long long busySinceMs_ = 0;
  bool busySaid_ = false;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace records
