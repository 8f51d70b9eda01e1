#include "records/ResultsStore.h"

#include <cmath>
#include <map>
#include <tuple>

#include "records/CapabilitySums.h"
#include "records/PgConnection.h"
#include "records/Printable.h"
#include "records/ReportData.h"
#include "records/Sql.h"
#include "records/SqliteConnection.h"
#include "records/RunFacts.h"

namespace records {

namespace {

SqlValue Text(const std::string& s) { return s; }
SqlValue Number(const std::optional<double>& d) {
  if (!d || !std::isfinite(*d)) return std::monostate{};
  return *d;
}
SqlValue TextOrNull(const std::string& s) {
  if (s.empty()) return std::monostate{};
  return s;
}

// Rows per multi-row statement: few round trips, well within both databases' limits.
constexpr int kChunk = 200;

void ReadRun(const SqlRow& r, RunRecord& run, int64_t& id) {
  size_t k = 0;
  id = AsInt(r[k++]);
  run.uuid = AsText(r[k++]);
  run.kind = AsText(r[k++]);
  run.serial = AsText(r[k++]);
  run.station = AsText(r[k++]);
  run.operatorName = AsText(r[k++]);
  run.startedUtc = AsText(r[k++]);
  run.toolVersion = AsText(r[k++]);
  run.firmwareVersion = AsText(r[k++]);
  run.xCount = static_cast<int>(AsInt(r[k++]));
  run.yCount = static_cast<int>(AsInt(r[k++]));
  run.resolution = static_cast<int>(AsInt(r[k++]));
  run.xRange = static_cast<int>(AsInt(r[k++]));
  run.yRange = static_cast<int>(AsInt(r[k++]));
  run.limitsName = AsText(r[k++]);
  run.limitsSha256 = AsText(r[k++]);
  run.verdict = AsText(r[k++]);
  run.note = AsText(r[k++]);
  run.durationS = AsDouble(r[k++]);
  run.capturePath = AsText(r[k++]);
  run.captureSha256 = AsText(r[k++]);
  ++k;  // value_count: the values themselves are read
  run.pending = AsInt(r[k++]) != 0;
  run.device = AsText(r[k++]);
}

// The run as stored: every text valid UTF-8 without control characters.
RunRecord Cleaned(const RunRecord& in) {
  RunRecord run = in;
  for (std::string* t : {&run.kind, &run.serial, &run.station, &run.operatorName,
                         &run.startedUtc, &run.toolVersion, &run.firmwareVersion,
                         &run.limitsName, &run.limitsSha256, &run.verdict, &run.note,
                         &run.capturePath, &run.captureSha256, &run.setAsideReason, &run.device})
    *t = Printable(*t);
  for (analysis::Check& m : run.checks) {
    m = m.Kept();
    for (std::string* t : {&m.group, &m.item, &m.check, &m.text, &m.unit, &m.limitText})
      *t = Printable(*t);
  }
  return run;
}

}  // namespace

int ResultsStore::SchemaVersion() {
  return static_cast<int>(sql::Migrations(Connection::Dialect::kSqlite).size());
}

std::unique_ptr<ResultsStore> ResultsStore::Open(const ResultsUrl& where, std::string& error,
                                                 int connectTimeoutS) {
  std::unique_ptr<Connection> c;
  if (where.kind == ResultsUrl::Kind::kSqlite)
    c = SqliteConnection::Open(where.path, error);
  else if (where.kind == ResultsUrl::Kind::kPostgres)
    c = PgConnection::Open(where.url, connectTimeoutS, error);
  else
    error = "no results database (--results none)";
  if (!c) return nullptr;
  auto store = std::make_unique<ResultsStore>(std::move(c));
  if (!store->Migrate()) {
    error = store->Error();
    return nullptr;
  }
  return store;
}

std::unique_ptr<ResultsStore> ResultsStore::OpenToRead(const ResultsUrl& where,
                                                       std::string& error) {
  std::unique_ptr<Connection> c;
  if (where.kind == ResultsUrl::Kind::kSqlite)
    c = SqliteConnection::Open(where.path, error, true);
  else if (where.kind == ResultsUrl::Kind::kPostgres)
    c = PgConnection::Open(where.url, 5, error, true);
  else
    error = "no results database (--results none)";
  if (!c) return nullptr;
  auto store = std::make_unique<ResultsStore>(std::move(c));
  int version = 0;
  if (!store->StoredVersion(version)) {
    error = store->Error();
    return nullptr;
  }
  // What is read exists since the first version; a newer one may have moved it.
  if (version == 0) {
    error = "holds no results (no run has been kept there)";
    return nullptr;
  }
  if (version > SchemaVersion()) {
    error = "the results database is of a newer version (" + std::to_string(version) +
            ") than this program knows (" + std::to_string(SchemaVersion()) + ")";
    return nullptr;
  }
  store->version_ = version;
  return store;
}

bool ResultsStore::StoredVersion(int& version) {
  Connection& db = *db_;
  std::vector<SqlRow> rows;
  version = 0;
  if (!db.Exec(sql::VersionTableExists(db.GetDialect()), {}, &rows)) return Fail();
  if (!rows.empty() && AsInt(rows[0][0]) > 0) {
    rows.clear();
    if (!db.Exec(sql::kSelectVersion, {}, &rows)) return Fail();
    if (!rows.empty() && !IsNull(rows[0][0])) {
      version = static_cast<int>(AsInt(rows[0][0]));
      return true;
    }
  }
  // No version but the tables: made by hand, or its version row was deleted.
  rows.clear();
  if (!db.Exec(sql::RunsTableExists(db.GetDialect()), {}, &rows)) return Fail();
  if (!rows.empty() && AsInt(rows[0][0]) > 0) {
    error_ =
        "the results database has its tables but no schema version (table schema_version "
        "is empty or missing): it was changed by hand; put its version row back";
    return false;
  }
  return true;
}

bool ResultsStore::Migrate() {
  Connection& db = *db_;
  const auto migrations = sql::Migrations(db.GetDialect());
  if (!db.BeginWrite()) return Fail();
  std::vector<SqlRow> locked;
  const std::string_view lock = sql::MigrationLock(db.GetDialect());
  int version = 0;
  bool ok = (lock.empty() || db.Exec(lock, {}, &locked)) || Fail();
  if (!ok || !StoredVersion(version)) {
    db.Rollback();
    return false;
  }
  if (version > static_cast<int>(migrations.size())) {
    db.Rollback();
    error_ = "the results database is of a newer version (" + std::to_string(version) +
             ") than this program knows (" + std::to_string(migrations.size()) + ")";
    return false;
  }
  if (version < static_cast<int>(migrations.size())) {
    const bool fresh = version == 0;
    const std::string_view timeout = sql::MigrationTimeout(db.GetDialect());
    ok = (timeout.empty() || db.Exec(timeout)) && (!fresh || db.Exec(sql::kCreateVersionTable));
    for (size_t m = static_cast<size_t>(version); ok && m < migrations.size(); ++m)
      for (const std::string& statement : migrations[m])
        if (!(ok = db.Exec(statement))) break;
    const SqlValue v = static_cast<int64_t>(migrations.size());
    ok = ok && db.Exec(fresh ? sql::kInsertVersion : sql::kUpdateVersion, {v});
  }
  if (!ok || !db.Commit()) {
    Fail();
    db.Rollback();
    return false;
  }
  version_ = static_cast<int>(migrations.size());
  return true;
}

ResultsStore::Saved ResultsStore::Save(const RunRecord& run) {
  if (!db_->BeginWrite()) {
    Fail();
    return Saved::kFailed;
  }
  const Saved s = Write(run);
  if (s == Saved::kFailed || !db_->Commit()) {
    if (s != Saved::kFailed) Fail();
    const bool refused = db_->RefusedContent();
    db_->Rollback();
    return refused ? Saved::kRefused : Saved::kFailed;
  }
  return s;
}

ResultsStore::Saved ResultsStore::Write(const RunRecord& given) {
  Connection& db = *db_;
  const RunRecord run = Cleaned(given);
  std::vector<SqlRow> ids;
  const std::vector<SqlValue> runRow = {
      Text(run.uuid), Text(run.kind), Text(run.serial), Text(run.station),
      Text(run.operatorName), Text(run.startedUtc), Text(run.toolVersion),
      Text(run.firmwareVersion), int64_t{run.xCount}, int64_t{run.yCount},
      int64_t{run.resolution}, int64_t{run.xRange}, int64_t{run.yRange}, Text(run.limitsName),
      Text(run.limitsSha256), Text(run.verdict), Text(run.note), run.durationS,
      Text(run.capturePath), Text(run.captureSha256), static_cast<int64_t>(run.checks.size()),
      int64_t{run.pending ? 1 : 0}, Text(run.device)};
  // A run set aside keeps its reason beside it.
  const bool setAside = run.pending && !run.setAsideReason.empty();
  if (!db.Exec(sql::kInsertRun, runRow, &ids)) return Fail(), Saved::kFailed;
  if (ids.empty()) return Saved::kAlreadyThere;
  const int64_t id = AsInt(ids[0][0]);
  if (setAside && !(db.Exec(sql::kMarkSetAside, {Text(run.uuid)}) &&
                    db.Exec(sql::kInsertSetAside,
                            {Text(run.uuid), Text(run.setAsideReason), Text(UtcNow())})))
    return Fail(), Saved::kFailed;

  // The values, kChunk rows per statement.
  const size_t n = run.checks.size();
  std::vector<SqlValue> params;
  for (size_t first = 0; first < n; first += kChunk) {
    const size_t count = std::min<size_t>(kChunk, n - first);
    params.clear();
    params.reserve(count * sql::kValueColumns);
    for (size_t i = first; i < first + count; ++i) {
      const analysis::Check& m = run.checks[i];
      const SqlValue value = Number(m.value);
      params.insert(params.end(),
                    {id, static_cast<int64_t>(i), Text(m.group), Text(m.item), Text(m.check),
                     value, IsNull(value) ? TextOrNull(m.text) : SqlValue{}, Text(m.unit),
                     Number(m.low), Number(m.high), TextOrNull(m.limitText),
                     int64_t{m.pass ? 1 : 0}});
    }
    if (!db.Exec(sql::InsertValues(static_cast<int>(count)), params))
      return Fail(), Saved::kFailed;
  }

  // Daily sums of each electrode's mean, in key order (concurrent writers lock rows alike).
  using Key = std::pair<std::string, std::string>;
  std::map<Key, std::pair<int64_t, double>> sums;
  for (const analysis::Check& m : run.checks) {
    if (m.check != kDriftFigure || m.item.empty() || !m.value || !std::isfinite(*m.value))
      continue;
    auto& s = sums[{m.group, m.item}];
    s.first += 1;
    s.second += *m.value;
  }
  const std::string day = run.startedUtc.substr(0, 10);
  auto it = sums.begin();
  while (it != sums.end()) {
    params.clear();
    int count = 0;
    for (; it != sums.end() && count < kChunk; ++it, ++count) {
      const auto& [group, item] = it->first;
      params.insert(params.end(), {Text(day), Text(run.station), Text(group), Text(item),
                                   Text(kDriftFigure), it->second.first, it->second.second});
    }
    if (!db.Exec(sql::AddDailyValues(count), params)) return Fail(), Saved::kFailed;
  }
  if (!AddCapabilitySums(db, run) || !AddRunFacts(db, run, id)) return Fail(), Saved::kFailed;
  return Saved::kStored;
}

bool ResultsStore::LoadValues(int64_t runId, RunRecord& run) {
  std::vector<SqlRow> rows;
  if (!db_->Exec(sql::kSelectValuesOfRun, {runId}, &rows)) return Fail();
  run.checks.clear();
  run.checks.reserve(rows.size());
  for (const SqlRow& r : rows) {
    analysis::Check m;
    m.group = AsText(r[0]);
    m.item = AsText(r[1]);
    m.check = AsText(r[2]);
    if (!IsNull(r[3])) m.value = AsDouble(r[3]);
    m.text = AsText(r[4]);
    m.unit = AsText(r[5]);
    if (!IsNull(r[6])) m.low = AsDouble(r[6]);
    if (!IsNull(r[7])) m.high = AsDouble(r[7]);
    m.limitText = AsText(r[8]);
    m.pass = AsInt(r[9]) != 0;
    run.checks.push_back(std::move(m));
  }
  return true;
}

bool ResultsStore::Load(const std::string& uuid, RunRecord& out) {
  std::vector<SqlRow> rows;
  if (!db_->Exec(sql::kSelectRunByUuid, {uuid}, &rows)) return Fail();
  if (rows.empty()) {
    error_ = "no run " + uuid;
    return false;
  }
  int64_t id = 0;
  ReadRun(rows[0], out, id);
  return LoadValues(id, out);
}

bool ResultsStore::RunsOfSerial(const std::string& serial, bool withValues,
                                std::vector<RunRecord>& out) {
  std::vector<SqlRow> rows;
  if (!db_->Exec(sql::kSelectRunsOfSerial, {serial}, &rows)) return Fail();
  for (const SqlRow& r : rows) {
    RunRecord run;
    int64_t id = 0;
    ReadRun(r, run, id);
    if (!LoadValues(id, run)) return false;
    if (!withValues) {
      // Only the failed values: what a history shows.
      std::erase_if(run.checks, [](const analysis::Check& m) { return m.pass; });
    }
    out.push_back(std::move(run));
  }
  return true;
}

bool ResultsStore::PendingUuids(std::vector<std::string>& out) {
  std::vector<SqlRow> rows;
  if (!db_->Exec(sql::kSelectPendingUuids, {}, &rows)) return Fail();
  for (const SqlRow& r : rows) out.push_back(AsText(r[0]));
  return true;
}

bool ResultsStore::MarkSent(const std::string& uuid) {
  return db_->Exec(sql::kMarkSent, {uuid}) || Fail();
}

bool ResultsStore::SetAside(const std::string& uuid, const std::string& reason) {
  if (!db_->BeginWrite()) return Fail();
  if (db_->Exec(sql::kMarkSetAside, {uuid}) &&
      db_->Exec(sql::kInsertSetAside, {uuid, Printable(reason), UtcNow()}) && db_->Commit())
    return true;
  Fail();
  db_->Rollback();
  return false;
}

bool ResultsStore::WaitingRuns(std::vector<Waiting>& out) {
  std::vector<SqlRow> rows;
  if (!db_->Exec(sql::kSelectWaitingRuns, {}, &rows)) return Fail();
  for (const SqlRow& r : rows) {
    Waiting w{AsText(r[0]), AsText(r[1]), AsText(r[2]), AsText(r[3]), AsText(r[4]), ""};
    if (AsInt(r[5]) == 2) w.reason = IsNull(r[6]) ? "refused by the server" : AsText(r[6]);
    out.push_back(std::move(w));
  }
  return true;
}

bool ResultsStore::CheckWritable() {
  // A run of no values written and undone: reaches every table and index a run is
  // written to.
  RunRecord probe;
  probe.uuid = NewUuid();
  probe.kind = "probe";
  probe.startedUtc = UtcNow();
  analysis::Check m;
  m.group = m.item = m.check = "probe";
  m.value = 0;
  probe.checks.push_back(m);
  if (!db_->BeginWrite()) return Fail();
  const bool ok = Write(probe) == Saved::kStored;
  db_->Rollback();
  return ok;
}

}  // namespace records
