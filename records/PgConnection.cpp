#include "records/PgConnection.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstring>

namespace records {

namespace {
// Type identifiers of the server's catalogue for the columns we read as numbers.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

void Quiet(void*, const char*) {}  // notices such as "relation already exists, skipping"

std::string Trimmed(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}
}  // namespace

PgConnection::~PgConnection() {
  if (conn_) PQfinish(conn_);
}

std::unique_ptr<PgConnection> PgConnection::Open(const std::string& url, int connectTimeoutS,
                                                 std::string& error, bool readOnly) {
  // Keywords before dbname are defaults the URL may override. Every call to the server is
  // bounded: a statement by the server, a network that drops by the TCP time-out and
  // keep-alives.
  const std::string timeout = std::to_string(connectTimeoutS);
  const std::string bound = std::to_string(kStatementTimeoutS * 1000);
  const std::string options = "-c statement_timeout=" + bound +
                              (readOnly ? " -c default_transaction_read_only=on" : "");
  const char* keys[] = {"connect_timeout", "application_name", "options",
                        "tcp_user_timeout", "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "dbname", nullptr};
  const char* values[] = {timeout.c_str(), "vantrel", options.c_str(), bound.c_str(), "5",
                          "2", "3", url.c_str(), nullptr};
  std::unique_ptr<PgConnection> c(new PgConnection);
  c->conn_ = PQconnectdbParams(keys, values, 1);
  if (!c->conn_ || PQstatus(c->conn_) != CONNECTION_OK) {
    error = "cannot reach the results server: " +
            (c->conn_ ? Trimmed(PQerrorMessage(c->conn_)) : std::string("out of memory"));
    return nullptr;
  }
  PQsetNoticeProcessor(c->conn_, Quiet, nullptr);
  return c;
}

std::string PgConnection::Numbered(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + sql.size() / 4);
  int n = 0;
  char quote = 0;
  for (char ch : sql) {
    if (quote) {
      if (ch == quote) quote = 0;
      out += ch;
    } else if (ch == '\'' || ch == '"') {
      quote = ch;
      out += ch;
    } else if (ch == '?') {
      out += '$' + std::to_string(++n);
    } else {
      out += ch;
    }
  }
  return out;
}

bool PgConnection::Exec(std::string_view sql, const std::vector<SqlValue>& params,
                        std::vector<SqlRow>* rows) {
  // Every parameter goes as text; the server takes its type from the statement.
  std::vector<std::string> texts(params.size());
  std::vector<const char*> ptrs(params.size(), nullptr);
  for (size_t i = 0; i < params.size(); ++i) {
    if (IsNull(params[i])) continue;
    texts[i] = AsText(params[i]);
    ptrs[i] = texts[i].c_str();
  }
  const std::string text = Numbered(sql);
  PGresult* r = PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr,
                             ptrs.data(), nullptr, nullptr, 0);
  const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    error_ = "results server: " + Trimmed(PQerrorMessage(conn_));
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    sqlState_ = state ? state : "";
    PQclear(r);
    return false;
  }
  if (rows && status == PGRES_TUPLES_OK) {
    const int n = PQntuples(r), cols = PQnfields(r);
    for (int i = 0; i < n; ++i) {
      SqlRow row;
      row.reserve(static_cast<size_t>(cols));
      for (int c = 0; c < cols; ++c) {
        if (PQgetisnull(r, i, c)) {
          row.emplace_back(std::monostate{});
          continue;
        }
        const char* v = PQgetvalue(r, i, c);
        switch (PQftype(r, c)) {
          case kInt2:
          case kInt4:
          case kInt8:
            row.emplace_back(static_cast<int64_t>(std::strtoll(v, nullptr, 10)));
            break;
          case kFloat4:
          case kFloat8:
          case kNumeric:
            row.emplace_back(std::strtod(v, nullptr));
            break;
          default:
            row.emplace_back(std::string(v, static_cast<size_t>(PQgetlength(r, i, c))));
        }
      }
      rows->push_back(std::move(row));
    }
  }
  PQclear(r);
  return true;
}

void PgConnection::Rollback() {
  if (PQstatus(conn_) != CONNECTION_OK) return;
  if (PQtransactionStatus(conn_) == PQTRANS_IDLE) return;
  PQclear(PQexec(conn_, "ROLLBACK"));
}

bool PgConnection::Alive() const { return PQstatus(conn_) == CONNECTION_OK; }

bool PgConnection::RefusedContent() const {
  // Data exceptions (22: a text not in the encoding, a number out of range) and integrity
  // violations (23: a check the server's owner added) come from the values sent.
  return Alive() && sqlState_.size() == 5 &&
         (sqlState_.rfind("22", 0) == 0 || sqlState_.rfind("23", 0) == 0);
}

}  // namespace records
