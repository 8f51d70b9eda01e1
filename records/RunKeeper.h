// Keeps each run where `--results` says. Runs a server did not take wait in the local
// database, marked pending, until Sync (or the next run kept on the server) sends them;
// the run's uuid makes a run sent twice land once.
#pragma once

#include <memory>
#include <string>

#include "records/ResultsStore.h"
#include "records/ResultsUrl.h"
#include "records/RunRecord.h"

namespace records {

class RunKeeper {
 public:
  explicit RunKeeper(ResultsUrl where, std::string localPath = ResultsUrl::LocalPath());

  // Before a run: can it be kept? Opens a SQLite database and tries a write (and so finds
  // a bad path, a read-only or damaged file before anything is measured). False with error.
  bool Prepare(std::string& error);

  // kSetAside: kept locally, the server refused it for its content (never sent again by
  // itself, never in the way of other runs).
  enum class Where { kNowhere, kStored, kKeptLocally, kSetAside, kNotKept };
  struct Outcome {
    Where where = Where::kNowhere;
    std::string error;  // why the server, or every place, refused it
    int sent = 0;       // pending runs sent along
    int setAside = 0;   // pending runs the server refused along
    std::string syncError;  // why pending runs could not be sent along
  };
  Outcome Keep(RunRecord run);

  struct SyncResult {
    int sent = 0;     // now on the server
    int already = 0;  // were there already (a send whose answer was lost)
    int left = 0;     // still pending
    int setAside = 0;  // refused by the server for their content now
    std::string error;
  };
  // Sends every pending run of the local database to the server.
  SyncResult Sync();

  const ResultsUrl& Target() const { return where_; }
  const std::string& LocalPath() const { return localPath_; }

 private:
  SyncResult SyncTo(ResultsStore& server);

  ResultsUrl where_;
  std::string localPath_;
  std::unique_ptr<ResultsStore> target_;  // opened by Prepare (SQLite)
};

}  // namespace records
