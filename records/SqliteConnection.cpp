#include "records/SqliteConnection.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <system_error>

namespace records {

SqliteConnection::~SqliteConnection() {
  for (auto& [sql, st] : statements_) sqlite3_finalize(st);
  if (db_) sqlite3_close_v2(db_);
}

std::unique_ptr<SqliteConnection> SqliteConnection::Open(const std::string& path,
                                                         std::string& error, bool readOnly) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !readOnly) std::filesystem::create_directories(folder, ec);
  std::unique_ptr<SqliteConnection> c(new SqliteConnection);
  c->path_ = path;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &c->db_, flags, nullptr) != SQLITE_OK) {
    error = "cannot open " + path + ": " + (c->db_ ? sqlite3_errmsg(c->db_) : "out of memory");
    return nullptr;
  }
  // Other stations' programs writing the same file.
  sqlite3_busy_handler(c->db_, &SqliteConnection::Busy, c.get());
  if (readOnly) return c;
  std::vector<SqlRow> mode;
  if (!c->Exec("PRAGMA journal_mode=WAL", {}, &mode) || !c->Exec("PRAGMA synchronous=NORMAL")) {
    error = c->Error();
    return nullptr;
  }
  return c;
}

int SqliteConnection::Busy(void* self, int count) {
  auto* c = static_cast<SqliteConnection*>(self);
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  if (count == 0) c->busySinceMs_ = now;
  const long long waited = now - c->busySinceMs_;
  if (waited >= kBusyWaitMs) return 0;
  if (waited >= 1000 && !c->busySaid_) {
    c->busySaid_ = true;
    std::fprintf(stderr,
                 "vantrel: results: %s is locked by another program; waiting up to %d s\n",
                 c->path_.c_str(), kBusyWaitMs / 1000);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(count < 10 ? 1 : 10));
  return 1;
}

bool SqliteConnection::Writable() const { return sqlite3_db_readonly(db_, "main") == 0; }

bool SqliteConnection::Fail(const std::string& what) {
  error_ = path_ + ": " + what + ": " + sqlite3_errmsg(db_);
  return false;
}

sqlite3_stmt* SqliteConnection::Prepare(std::string_view sql) {
  std::string key(sql);
  auto it = statements_.find(key);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, key.c_str(), static_cast<int>(key.size()), &st, nullptr) !=
      SQLITE_OK)
    return nullptr;
  statements_.emplace(std::move(key), st);
  return st;
}

bool SqliteConnection::Exec(std::string_view sql, const std::vector<SqlValue>& params,
                            std::vector<SqlRow>* rows) {
  sqlite3_stmt* st = Prepare(sql);
  if (!st) {
    const int code = sqlite3_errcode(db_);
    return Fail(code == SQLITE_NOTADB || code == SQLITE_CORRUPT
                    ? std::string("cannot be read")
                    : "cannot prepare \"" + std::string(sql.substr(0, 60)) + "\"");
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  for (size_t i = 0; i < params.size(); ++i) {
    const int k = static_cast<int>(i) + 1;
    const SqlValue& p = params[i];
    if (auto* n = std::get_if<int64_t>(&p))
      sqlite3_bind_int64(st, k, *n);
    else if (auto* d = std::get_if<double>(&p))
      sqlite3_bind_double(st, k, *d);
    else if (auto* s = std::get_if<std::string>(&p))
      sqlite3_bind_text(st, k, s->data(), static_cast<int>(s->size()), SQLITE_STATIC);
    else
      sqlite3_bind_null(st, k);
  }
  for (;;) {
    const int r = sqlite3_step(st);
    if (r == SQLITE_DONE) break;
    if (r != SQLITE_ROW) {
      const bool ok = Fail("statement failed");
      sqlite3_reset(st);
      return ok;
    }
    if (!rows) continue;
    SqlRow row;
    const int n = sqlite3_column_count(st);
    row.reserve(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
      switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
          row.emplace_back(static_cast<int64_t>(sqlite3_column_int64(st, c)));
          break;
        case SQLITE_FLOAT:
          row.emplace_back(sqlite3_column_double(st, c));
          break;
        case SQLITE_NULL:
          row.emplace_back(std::monostate{});
          break;
        default: {
          const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
          row.emplace_back(std::string(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, c))));
        }
      }
    }
    rows->push_back(std::move(row));
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);  // bound texts belong to the caller
  return true;
}

void SqliteConnection::Rollback() {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace records
