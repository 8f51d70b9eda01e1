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
  // Opens an existing database only to read it: no table is made, nothing written (a
  // read-only file, a server role that may only select).
  static std::unique_ptr<ResultsStore> OpenToRead(const ResultsUrl& where, std::string& error);
  explicit ResultsStore(std::unique_ptr<Connection> c) : db_(std::move(c)) {}

  // kRefused: the database refused the run for its content (it would refuse it again).
  enum class Saved { kStored, kAlreadyThere, kFailed, kRefused };
  // The whole run or nothing, its texts made valid UTF-8 (Printable). A run whose uuid is
  // stored already is left as it is (a run sent twice is kept once).
  Saved Save(const RunRecord& run);
  // As Save, inside a transaction the caller holds (bulk loads).
  Saved Write(const RunRecord& run);

  bool Load(const std::string& uuid, RunRecord& out);
  // Every run of a unit, oldest first (values included when asked).
  bool RunsOfSerial(const std::string& serial, bool withValues, std::vector<RunRecord>& out);
  bool PendingUuids(std::vector<std::string>& out);
  bool MarkSent(const std::string& uuid);
  // A run a server refused for its content: no longer pending, kept with the reason.
  bool SetAside(const std::string& uuid, const std::string& reason);
  struct Waiting {
    std::string uuid, kind, serial, startedUtc, verdict;
    std::string reason;  // "" while it waits to be sent; why it was set aside
  };
  // Every run kept here that is not on its server, oldest first.
  bool WaitingRuns(std::vector<Waiting>& out);
  // Whether a run can be written: a trial write undone (a read-only or damaged file).
  bool CheckWritable();

  // Creates or updates the schema (done by Open).
  bool Migrate();

  // The schema version of the database as opened (after Open, this program's).
  int Version() const { return version_; }
  Connection& Db() { return *db_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail() {
    error_ = db_->Error();
    return false;
  }
  bool LoadValues(int64_t runId, RunRecord& run);
  // The version of the schema as stored (0 for a database with no tables); false with
  // the error for one changed by hand.
  bool StoredVersion(int& version);

  std::unique_ptr<Connection> db_;
  std::string error_;
  int version_ = 0;
};

}  // namespace records
