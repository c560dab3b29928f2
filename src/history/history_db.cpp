#include "history/history_db.h"

#include <sqlite3.h>

#include "history/history_time.h"

namespace sentrel {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS hosts(
  id INTEGER PRIMARY KEY,
  address TEXT NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(address, name));
CREATE TABLE IF NOT EXISTS minutes(
  host INTEGER NOT NULL,
  minute INTEGER NOT NULL,
  sent INTEGER NOT NULL,
  received INTEGER NOT NULL,
  rtt_min INTEGER,
  rtt_max INTEGER,
  rtt_sum INTEGER NOT NULL,
  jitter_sum INTEGER NOT NULL,
  jitter_n INTEGER NOT NULL,
  PRIMARY KEY(host, minute)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS hours(
  host INTEGER NOT NULL,
  hour INTEGER NOT NULL,
  sent INTEGER NOT NULL,
  received INTEGER NOT NULL,
  rtt_min INTEGER,
  rtt_max INTEGER,
  rtt_sum INTEGER NOT NULL,
  jitter_sum INTEGER NOT NULL,
  jitter_n INTEGER NOT NULL,
  minutes INTEGER NOT NULL,
  lost_minutes INTEGER NOT NULL,
  PRIMARY KEY(host, hour)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS outages(
  id INTEGER PRIMARY KEY,
  host INTEGER NOT NULL,
  start_second INTEGER NOT NULL,
  end_second INTEGER,
  status INTEGER NOT NULL,
  interrupted INTEGER NOT NULL DEFAULT 0,
  trace TEXT,
  notified TEXT);
CREATE INDEX IF NOT EXISTS outages_by_host ON outages(host, start_second);
CREATE TABLE IF NOT EXISTS degradations(
  id INTEGER PRIMARY KEY,
  host INTEGER NOT NULL,
  start_second INTEGER NOT NULL,
  end_second INTEGER);
CREATE INDEX IF NOT EXISTS degradations_by_host ON degradations(host, start_second);
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);
)sql";

constexpr const char* kMillisecondsToMicroseconds = R"sql(
UPDATE minutes SET rtt_min = rtt_min * 1000, rtt_max = rtt_max * 1000, rtt_sum = rtt_sum * 1000,
                   jitter_sum = jitter_sum * 1000;
UPDATE hours SET rtt_min = rtt_min * 1000, rtt_max = rtt_max * 1000, rtt_sum = rtt_sum * 1000,
                 jitter_sum = jitter_sum * 1000;
)sql";

// A minute written twice (a flush in the middle of it, a restart within it)
// adds up; min() and max() of SQLite give NULL when either side is NULL.
constexpr const char* kUpsertMinute = R"sql(
INSERT INTO minutes(host, minute, sent, received, rtt_min, rtt_max, rtt_sum, jitter_sum, jitter_n)
VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)
ON CONFLICT(host, minute) DO UPDATE SET
  sent = sent + excluded.sent,
  received = received + excluded.received,
  rtt_min = coalesce(min(rtt_min, excluded.rtt_min), rtt_min, excluded.rtt_min),
  rtt_max = coalesce(max(rtt_max, excluded.rtt_max), rtt_max, excluded.rtt_max),
  rtt_sum = rtt_sum + excluded.rtt_sum,
  jitter_sum = jitter_sum + excluded.jitter_sum,
  jitter_n = jitter_n + excluded.jitter_n
)sql";

// Whole hours from their minutes; the join walks the hosts so that each
// host's minutes are read through the primary key. Rolling an hour again
// gives the same row.
constexpr const char* kRollUp = R"sql(
INSERT OR REPLACE INTO hours(host, hour, sent, received, rtt_min, rtt_max, rtt_sum,
                             jitter_sum, jitter_n, minutes, lost_minutes)
SELECT m.host, m.minute / 60, sum(m.sent), sum(m.received), min(m.rtt_min), max(m.rtt_max),
       sum(m.rtt_sum), sum(m.jitter_sum), sum(m.jitter_n), count(*), sum(m.received = 0)
FROM hosts h JOIN minutes m ON m.host = h.id AND m.minute >= ?1 AND m.minute < ?2
WHERE m.sent > 0
GROUP BY m.host, m.minute / 60
)sql";

}  // namespace

std::string HistoryDb::Error() const {
  const std::string error = db_.Error();
  return error.empty() ? lastError_ : error;
}

int HistoryDb::Open(const std::string& path, int64_t nowSecond) {
  Close();
  int code = db_.Open(path, false, 2000);
  if (code != SQLITE_OK) return code;
  // The first statement that reads the file tells a damaged one.
  if ((code = db_.Exec("PRAGMA journal_mode=WAL")) != SQLITE_OK) return code;
  if ((code = db_.Exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK) return code;
  SqlStatement version;
  if ((code = db_.Prepare("PRAGMA user_version", version)) != SQLITE_OK) return code;
  if ((code = version.Step()) != SQLITE_ROW) return code;
  const int64_t stored = version.Int(0);
  version = {};
  if (stored > kSchemaVersion) {
    lastError_ = "written by a later version of the program";
    db_.Close();
    return SQLITE_MISMATCH;
  }
  if ((code = CreateSchema(nowSecond, stored)) != SQLITE_OK) return code;
  return PrepareAll();
}

int HistoryDb::CreateSchema(int64_t nowSecond, int64_t storedVersion) {
  int code = db_.Exec("BEGIN IMMEDIATE");
  if (code != SQLITE_OK) return code;
  code = db_.Exec(kSchema);
  // A database of the first version kept whole milliseconds: its figures
  // are carried over as microseconds, in the same transaction as the new
  // version number, so a crash leaves either all of them or none converted.
  if (code == SQLITE_OK && storedVersion == 1) code = db_.Exec(kMillisecondsToMicroseconds);
  // The degraded periods of version 4 come with the schema above (created
  // where missing), in this same transaction.
  // Before version 3 the outages had no notifications.
  if (code == SQLITE_OK && storedVersion >= 1 && storedVersion <= 2) {
    SqlStatement probe;
    if (db_.Prepare("SELECT notified FROM outages LIMIT 0", probe) != SQLITE_OK) {
      code = db_.Exec("ALTER TABLE outages ADD COLUMN notified TEXT");
    }
  }
  if (code == SQLITE_OK) {
    SqlStatement seed;
    code = db_.Prepare("INSERT OR IGNORE INTO meta(key, value) VALUES(?1, ?2)", seed);
    if (code == SQLITE_OK) {
      // A new database rolls up from the hour it was started in.
      code = seed.Bind(1, std::string(kRolledThroughKey))
                 .Bind(2, HourOfMinute(MinuteOfSecond(nowSecond)) - 1)
                 .Run();
    }
  }
  if (code == SQLITE_OK)
    code = db_.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
  if (code == SQLITE_OK) return db_.Exec("COMMIT");
  db_.Exec("ROLLBACK");
  return code;
}

int HistoryDb::PrepareAll() {
  const std::pair<SqlStatement*, const char*> statements[] = {
      {&statements_.findHost, kFindHostSql},
      {&statements_.addHost, "INSERT INTO hosts(address, name) VALUES(?1, ?2)"},
      {&statements_.upsertMinute, kUpsertMinute},
      {&statements_.beginOutage, "INSERT INTO outages(host, start_second, status) VALUES(?1, ?2, ?3)"},
      {&statements_.endOutage,
       "UPDATE outages SET end_second = ?2, interrupted = interrupted OR ?3 "
       "WHERE host = ?1 AND end_second IS NULL"},
      {&statements_.goOnOutage, "UPDATE outages SET interrupted = 1 WHERE host = ?1 AND end_second IS NULL"},
      {&statements_.insertOutage,
       "INSERT INTO outages(host, start_second, end_second, status, interrupted) "
       "VALUES(?1, ?2, ?3, ?4, ?5)"},
      {&statements_.setTrace,
       "UPDATE outages SET trace = ?2 WHERE id = "
       "(SELECT id FROM outages WHERE host = ?1 ORDER BY start_second DESC LIMIT 1)"},
      {&statements_.addNotification,
       "UPDATE outages SET notified = coalesce(notified || ', ', '') || ?2 WHERE id = "
       "(SELECT id FROM outages WHERE host = ?1 ORDER BY start_second DESC LIMIT 1)"},
      {&statements_.beginDegradation,
       "INSERT INTO degradations(host, start_second) SELECT ?1, ?2 WHERE NOT EXISTS "
       "(SELECT 1 FROM degradations WHERE host = ?1 AND end_second IS NULL)"},
      {&statements_.endDegradation,
       "UPDATE degradations SET end_second = max(start_second, ?2) "
       "WHERE host = ?1 AND end_second IS NULL"},
      {&statements_.rollUp, kRollUp},
      {&statements_.getMeta, "SELECT value FROM meta WHERE key = ?1"},
      {&statements_.setMeta, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)"},
      {&statements_.hostIds, "SELECT id FROM hosts"},
      {&statements_.pruneMinutes, "DELETE FROM minutes WHERE host = ?1 AND minute < ?2"},
      {&statements_.pruneHours, "DELETE FROM hours WHERE host = ?1 AND hour < ?2"},
      {&statements_.pruneHosts,
       "DELETE FROM hosts WHERE "
       "NOT EXISTS (SELECT 1 FROM minutes WHERE host = hosts.id) AND "
       "NOT EXISTS (SELECT 1 FROM hours WHERE host = hosts.id) AND "
       "NOT EXISTS (SELECT 1 FROM outages WHERE host = hosts.id) AND "
       "NOT EXISTS (SELECT 1 FROM degradations WHERE host = hosts.id)"},
  };
  for (const auto& [statement, sql] : statements) {
    const int code = db_.Prepare(sql, *statement);
    if (code != SQLITE_OK) return code;
  }
  return SQLITE_OK;
}

void HistoryDb::Close() {
  statements_ = {};
  ids_.clear();
  db_.Close();
}

int HistoryDb::Begin() { return db_.Exec("BEGIN IMMEDIATE"); }

int HistoryDb::Commit() { return db_.Exec("COMMIT"); }

void HistoryDb::Rollback() {
  if (db_.InTransaction()) db_.Exec("ROLLBACK");
  // Ids handed out in the rolled-back transaction no longer exist.
  ids_.clear();
}

int HistoryDb::HostId(const HistoryHost& host, int64_t& id) {
  if (const auto it = ids_.find(host); it != ids_.end()) {
    id = it->second;
    return SQLITE_OK;
  }
  statements_.findHost.Bind(1, host.address).Bind(2, host.name);
  int code = statements_.findHost.Step();
  if (code == SQLITE_ROW) {
    id = statements_.findHost.Int(0);
    statements_.findHost.Reset();
  } else {
    statements_.findHost.Reset();
    if (code != SQLITE_DONE) return code;
    if ((code = statements_.addHost.Bind(1, host.address).Bind(2, host.name).Run()) != SQLITE_OK) return code;
    id = db_.LastInsertId();
  }
  ids_.emplace(host, id);
  return SQLITE_OK;
}

int HistoryDb::WriteMinutes(const std::vector<MinuteRow>& rows) {
  for (const MinuteRow& row : rows) {
    int64_t id = 0;
    int code = HostId(row.host, id);
    if (code != SQLITE_OK) return code;
    const TrafficStats& s = row.stats;
    const bool replies = s.received > 0;
    code = statements_.upsertMinute.Bind(1, id)
               .Bind(2, row.minute)
               .Bind(3, s.sent)
               .Bind(4, s.received)
               .Bind(5, replies ? std::optional<int64_t>(s.rttMin) : std::nullopt)
               .Bind(6, replies ? std::optional<int64_t>(s.rttMax) : std::nullopt)
               .Bind(7, s.rttSum)
               .Bind(8, s.jitterSum)
               .Bind(9, s.jitterCount)
               .Run();
    if (code != SQLITE_OK) return code;
  }
  return SQLITE_OK;
}

int HistoryDb::ApplyOutage(const HistoryHost& host, const OutageChange& change) {
  int64_t id = 0;
  int code = HostId(host, id);
  if (code != SQLITE_OK) return code;
  using Kind = OutageChange::Kind;
  switch (change.kind) {
    case Kind::Begins:
      return statements_.beginOutage.Bind(1, id).Bind(2, change.start).Bind(3, change.status).Run();
    case Kind::Ends:
      code = statements_.endOutage.Bind(1, id).Bind(2, change.end).Bind(3, change.interrupted ? 1 : 0).Run();
      break;
    case Kind::GoesOn:
      code = statements_.goOnOutage.Bind(1, id).Run();
      break;
  }
  if (code != SQLITE_OK || db_.Changes() > 0) return code;
  // The beginning never reached the database (recording was paused, or the
  // database was new): the change carries enough to store the outage whole.
  return statements_.insertOutage.Bind(1, id)
      .Bind(2, change.start)
      .Bind(3, change.kind == Kind::Ends ? std::optional<int64_t>(change.end) : std::nullopt)
      .Bind(4, change.status)
      .Bind(5, change.interrupted ? 1 : 0)
      .Run();
}

int HistoryDb::SetTrace(const HistoryHost& host, const std::string& text) {
  int64_t id = 0;
  const int code = HostId(host, id);
  if (code != SQLITE_OK) return code;
  return statements_.setTrace.Bind(1, id).Bind(2, text).Run();
}

int HistoryDb::AddNotification(const HistoryHost& host, const std::string& text) {
  int64_t id = 0;
  const int code = HostId(host, id);
  if (code != SQLITE_OK) return code;
  return statements_.addNotification.Bind(1, id).Bind(2, text).Run();
}

int HistoryDb::ApplyDegradation(const HistoryHost& host, int64_t second, bool degraded) {
  int64_t id = 0;
  const int code = HostId(host, id);
  if (code != SQLITE_OK) return code;
  SqlStatement& statement = degraded ? statements_.beginDegradation : statements_.endDegradation;
  return statement.Bind(1, id).Bind(2, second).Run();
}

int HistoryDb::CloseOpenDegradations() {
  return db_.Exec(
      "UPDATE degradations SET end_second = max(start_second, coalesce("
      "(SELECT (max(minute) + 1) * 60 FROM minutes WHERE host = degradations.host), "
      "start_second)) WHERE end_second IS NULL");
}

int HistoryDb::RollUp(int64_t nowSecond) {
  statements_.getMeta.Bind(1, std::string(kRolledThroughKey));
  int code = statements_.getMeta.Step();
  const int64_t rolled = code == SQLITE_ROW ? statements_.getMeta.Int(0) : 0;
  statements_.getMeta.Reset();
  if (code != SQLITE_ROW) return code == SQLITE_DONE ? SQLITE_OK : code;
  // Two minutes of grace: the last results of an hour reach the writer a
  // moment after it ended.
  const int64_t lastWhole = HourOfMinute(MinuteOfSecond(nowSecond - 120)) - 1;
  if (lastWhole <= rolled) return SQLITE_OK;
  code = statements_.rollUp.Bind(1, (rolled + 1) * 60).Bind(2, (lastWhole + 1) * 60).Run();
  if (code != SQLITE_OK) return code;
  return statements_.setMeta.Bind(1, std::string(kRolledThroughKey)).Bind(2, lastWhole).Run();
}

int HistoryDb::Prune(int64_t nowSecond, const HistoryRetention& retention) {
  // Minutes go by whole hours, so that a reader can take the hour row for
  // any hour whose minutes are gone.
  const int64_t nowHour = HourOfMinute(MinuteOfSecond(nowSecond));
  const int64_t minuteCut = (nowHour - int64_t{retention.minuteDays} * 24) * 60;
  const int64_t hourCut = nowHour - int64_t{retention.hourDays} * 24;
  std::vector<int64_t> ids;
  int code = SQLITE_ROW;
  while ((code = statements_.hostIds.Step()) == SQLITE_ROW) ids.push_back(statements_.hostIds.Int(0));
  statements_.hostIds.Reset();
  if (code != SQLITE_DONE) return code;
  // Host by host, so that each delete walks one host's rows in key order
  // instead of the whole table.
  for (const int64_t id : ids) {
    if ((code = statements_.pruneMinutes.Bind(1, id).Bind(2, minuteCut).Run()) != SQLITE_OK) return code;
    if ((code = statements_.pruneHours.Bind(1, id).Bind(2, hourCut).Run()) != SQLITE_OK) return code;
  }
  if ((code = statements_.pruneHosts.Run()) != SQLITE_OK) return code;
  if (db_.Changes() > 0) ids_.clear();
  return SQLITE_OK;
}

int HistoryDb::ForEachOpenOutage(
    const std::function<void(const HistoryHost&, int64_t, uint32_t)>& visit) {
  SqlStatement open;
  int code = db_.Prepare(
      "SELECT h.address, h.name, o.start_second, o.status FROM outages o "
      "JOIN hosts h ON h.id = o.host WHERE o.end_second IS NULL ORDER BY o.start_second",
      open);
  if (code != SQLITE_OK) return code;
  while ((code = open.Step()) == SQLITE_ROW) {
    visit({open.Text(0), open.Text(1)}, open.Int(2), static_cast<uint32_t>(open.Int(3)));
  }
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

int HistoryDb::ForEachMinuteSince(
    int64_t minute,
    const std::function<void(const HistoryHost&, int64_t, int64_t, int64_t)>& visit) {
  SqlStatement rows;
  int code = db_.Prepare(
      "SELECT h.address, h.name, m.minute, m.sent, m.received FROM hosts h "
      "JOIN minutes m ON m.host = h.id AND m.minute >= ?1",
      rows);
  if (code != SQLITE_OK) return code;
  rows.Bind(1, minute);
  while ((code = rows.Step()) == SQLITE_ROW) {
    visit({rows.Text(0), rows.Text(1)}, rows.Int(2), rows.Int(3), rows.Int(4));
  }
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

}  // namespace sentrel
