#include "records/RunKeeper.h"

#include <sys/stat.h>

namespace records {

RunKeeper::RunKeeper(ResultsUrl where, std::string localPath)
    : where_(std::move(where)), localPath_(std::move(localPath)) {}

bool RunKeeper::Prepare(std::string& error) {
  if (where_.kind != ResultsUrl::Kind::kSqlite || target_) return true;
  target_ = ResultsStore::Open(where_, error);
  if (target_ && !target_->CheckWritable()) {
    error = "a run cannot be written: " + target_->Error();
    target_.reset();
  }
  return target_ != nullptr;
}

RunKeeper::Outcome RunKeeper::Keep(RunRecord run) {
  Outcome out;
  if (where_.kind == ResultsUrl::Kind::kNone) return out;
  if (where_.kind == ResultsUrl::Kind::kSqlite) {
    if (!target_ && !Prepare(out.error)) {
      out.where = Where::kNotKept;
      return out;
    }
    run.pending = false;
    if (target_->Save(run) == ResultsStore::Saved::kFailed) {
      out.where = Where::kNotKept;
      out.error = target_->Error();
    } else {
      out.where = Where::kStored;
    }
    return out;
  }

  std::string error;
  auto server = ResultsStore::Open(where_, error);
  run.pending = false;
  const ResultsStore::Saved saved = server ? server->Save(run) : ResultsStore::Saved::kFailed;
  if (saved == ResultsStore::Saved::kStored || saved == ResultsStore::Saved::kAlreadyThere) {
    out.where = Where::kStored;
    const SyncResult sync = SyncTo(*server);
    out.sent = sync.sent;
    out.setAside = sync.setAside;
    out.syncError = sync.error;
    return out;
  }
  out.error = server ? server->Error() : error;
  if (saved == ResultsStore::Saved::kRefused) run.setAsideReason = out.error;
  // The server did not take it (or its answer was lost): wait locally.
  ResultsUrl local;
  local.path = localPath_;
  std::string localError;
  auto store = ResultsStore::Open(local, localError);
  run.pending = true;
  const ResultsStore::Saved savedHere =
      store ? store->Save(run) : ResultsStore::Saved::kFailed;
  if (savedHere == ResultsStore::Saved::kStored || savedHere == ResultsStore::Saved::kAlreadyThere) {
    out.where = run.setAsideReason.empty() ? Where::kKeptLocally : Where::kSetAside;
    return out;
  }
  out.where = Where::kNotKept;
  out.error += "; and locally: " + (store ? store->Error() : localError);
  return out;
}

RunKeeper::SyncResult RunKeeper::Sync() {
  SyncResult r;
  if (where_.kind != ResultsUrl::Kind::kPostgres) {
    r.error = "nothing to send to: --results names no server (postgresql://...)";
    return r;
  }
  auto server = ResultsStore::Open(where_, r.error);
  if (!server) {
    struct stat st {};
    if (::stat(localPath_.c_str(), &st) == 0) {
      ResultsUrl local;
      local.path = localPath_;
      std::string ignored;
      std::vector<std::string> pending;
      if (auto store = ResultsStore::Open(local, ignored)) store->PendingUuids(pending);
      r.left = static_cast<int>(pending.size());
    }
    return r;
  }
  return SyncTo(*server);
}

RunKeeper::SyncResult RunKeeper::SyncTo(ResultsStore& server) {
  SyncResult r;
  struct stat st {};
  if (::stat(localPath_.c_str(), &st) != 0) return r;  // no local database: nothing waits
  ResultsUrl local;
  local.path = localPath_;
  auto store = ResultsStore::Open(local, r.error);
  if (!store) return r;
  std::vector<std::string> pending;
  if (!store->PendingUuids(pending)) {
    r.error = store->Error();
    return r;
  }
  for (size_t i = 0; i < pending.size(); ++i) {
    RunRecord run;
    if (!store->Load(pending[i], run)) {
      r.error = store->Error();
      r.left = static_cast<int>(pending.size() - i);
      return r;
    }
    run.pending = false;
    const ResultsStore::Saved s = server.Save(run);
    if (s == ResultsStore::Saved::kRefused) {
      // Refused for what it carries: set aside, the others go on.
      if (!store->SetAside(run.uuid, server.Error())) {
        r.error = store->Error();
        r.left = static_cast<int>(pending.size() - i);
        return r;
      }
      ++r.setAside;
      continue;
    }
    if (s == ResultsStore::Saved::kFailed) {
      r.error = server.Error();
      r.left = static_cast<int>(pending.size() - i);
      return r;
    }
    // Sent before a lost answer, or by another program: it is there once either way.
    (s == ResultsStore::Saved::kStored ? r.sent : r.already) += 1;
    if (!store->MarkSent(run.uuid)) {
      r.error = store->Error();
      r.left = static_cast<int>(pending.size() - i - 1);
      return r;
    }
  }
  return r;
}

}  // namespace records
