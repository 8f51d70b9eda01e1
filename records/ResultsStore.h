// The results database: opened (its schema brought up to date) from a ResultsUrl, runs
// written whole in one transaction, read back, and the runs a server did not take.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/Connection.h"
#include "records/ResultsUrl.h"
#include "records/RunRecord.h"

namespace records {

class ResultsStore {
 public:
  // The schema version this program writes.
  static int SchemaVersion();

  // Null with error when the database cannot be opened or is newer than this program.
  static std::unique_ptr<ResultsStore> Open(const ResultsUrl& where, std::string& error,
                                            int connectTimeoutS = 5);
  explicit ResultsStore(std::unique_ptr<Connection> c) : db_(std::move(c)) {}

  enum class Saved { kStored, kAlreadyThere, kFailed };
  // The whole run or nothing. A run whose uuid is stored already is left as it is (a run
  // sent twice is kept once).
  Saved Save(const RunRecord& run);
  // As Save, inside a transaction the caller holds (bulk loads).
  Saved Write(const RunRecord& run);

  bool Load(const std::string& uuid, RunRecord& out);
  // Every run of a unit, oldest first (values included when asked).
  bool RunsOfSerial(const std::string& serial, bool withValues, std::vector<RunRecord>& out);
  bool PendingUuids(std::vector<std::string>& out);
  bool MarkSent(const std::string& uuid);

  // Creates or updates the schema (done by Open).
  bool Migrate();

  Connection& Db() { return *db_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail() {
    error_ = db_->Error();
    return false;
  }
  bool LoadValues(int64_t runId, RunRecord& run);

  std::unique_ptr<Connection> db_;
  std::string error_;
};

}  // namespace records
