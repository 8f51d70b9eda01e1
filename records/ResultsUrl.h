// Where results are kept, from `--results`: "sqlite:PATH", a PostgreSQL URL
// ("postgresql://..." or "postgres://..."), or "none".
#pragma once

#include <string>

namespace records {

struct ResultsUrl {
  enum class Kind { kNone, kSqlite, kPostgres };
  Kind kind = Kind::kSqlite;
  std::string path;  // the SQLite file
  std::string url;   // the server's URL as given

  // text "" means the default: $VANTREL_RESULTS when set, else the local database.
  // False with the reason in error.
  static bool Parse(const std::string& text, ResultsUrl& out, std::string& error);
  // The station's own database: $XDG_DATA_HOME/vantrel/results.db (XDG_DATA_HOME
  // defaulting to ~/.local/share). Also where runs a server did not take wait.
  static std::string LocalPath();
  // For messages: the file, or the server without its password.
  std::string Shown() const;
};

}  // namespace records
