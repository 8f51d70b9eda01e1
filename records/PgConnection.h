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
  // answer within connectTimeoutS is an error.
  static std::unique_ptr<PgConnection> Open(const std::string& url, int connectTimeoutS,
                                            std::string& error);

  Dialect GetDialect() const override { return Dialect::kPostgres; }
  bool Exec(std::string_view sql, const std::vector<SqlValue>& params = {},
            std::vector<SqlRow>* rows = nullptr) override;
  bool BeginWrite() override { return Exec("BEGIN"); }
  void Rollback() override;
  bool Alive() const override;

  // `?` placeholders as $1, $2, ... (outside quoted text).
  static std::string Numbered(std::string_view sql);

 private:
  PgConnection() = default;
  pg_conn* conn_ = nullptr;
};

}  // namespace records
