// The results database on a PostgreSQL server, through libpq.
#pragma once

#include <string>

#include "records/Connection.h"

struct pg_conn;

namespace records {

class PgConnection : public Connection {
 public:
  ~PgConnection() override;
  // url: a libpq connection URL ("postgresql://host/db?..."). A server that does not
  // answer within connectTimeoutS is an error; so is a statement that takes longer than
  // kStatementTimeoutS or a connection silent that long (unless the URL sets its own).
  // readOnly: every transaction of the session only reads.
  static std::unique_ptr<PgConnection> Open(const std::string& url, int connectTimeoutS,
                                            std::string& error, bool readOnly = false);
  static constexpr int kStatementTimeoutS = 15;

  Dialect GetDialect() const override { return Dialect::kPostgres; }
  bool Exec(std::string_view sql, const std::vector<SqlValue>& params = {},
            std::vector<SqlRow>* rows = nullptr) override;
  bool BeginWrite() override { return Exec("BEGIN"); }
  void Rollback() override;
  bool Alive() const override;
  bool RefusedContent() const override;

  // `?` placeholders as $1, $2, ... (outside quoted text).
  static std::string Numbered(std::string_view sql);

 private:
  PgConnection() = default;
  pg_conn* conn_ = nullptr;
  std::string sqlState_;  // of the last failed statement
};

}  // namespace records
