#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "history/history_types.h"
#include "history/sql_database.h"

namespace sentrel {

// What the reader asks of the same schema: a host's id, and the meta key
// that holds the last hour rolled up from the minutes.
inline constexpr const char* kFindHostSql = "SELECT id FROM hosts WHERE address = ?1 AND name = ?2";
inline constexpr const char* kRolledThroughKey = "rolled_through";

// How long the history keeps what.
struct HistoryRetention {
  int minuteDays = 14;
  int hourDays = 730;
};

// The writer's connection to the history database: the schema, the writes
// of the store's rounds and the upkeep (roll-up, pruning). Every function
// returns an SQLite result code (SQLITE_OK when done); FaultOf tells what a
// failure means. Writer thread only (or the constructing thread before the
// writer starts).
class HistoryDb {
 public:
  // 2: round trips and jitter in microseconds (1 kept whole milliseconds).
  // 3: outages.notified.
  // 4: degradations, the degraded periods (created where missing; an older
  // program refuses a file of this version rather than lose them unseen).
  static constexpr int kSchemaVersion = 4;

  // Opens or creates the database at `path` with the schema in place. A new
  // database starts its roll-up with the hour of `nowSecond`.
  // SQLITE_NOTADB / SQLITE_CORRUPT: the file is damaged. SQLITE_MISMATCH:
  // a later program's schema, left alone.
  int Open(const std::string& path, int64_t nowSecond);
  void Close();
  bool IsOpen() const { return db_.IsOpen(); }
  std::string Error() const;

  int Begin();
  int Commit();
  // Ends a failed transaction, if one is open.
  void Rollback();

  // Adds the rows to the stored minutes: a minute stored before adds up.
  int WriteMinutes(const std::vector<MinuteRow>& rows);
  int ApplyOutage(const HistoryHost& host, const OutageChange& change);
  // Sets the trace text of the host's latest outage.
  int SetTrace(const HistoryHost& host, const std::string& text);
  // Adds `text` to the notifications of the host's latest outage.
  int AddNotification(const HistoryHost& host, const std::string& text);
  // The host became degraded at `second` (a period opens unless one is
  // open), or stopped being so (the open period ends there).
  int ApplyDegradation(const HistoryHost& host, int64_t second, bool degraded);
  // Ends every open degraded period at the end of its host's last recorded
  // minute: a new run judges its hosts afresh.
  int CloseOpenDegradations();
  // Rolls every hour that ended at least two minutes before `nowSecond` and
  // is not rolled up yet into its hour rows, from the stored minutes.
  int RollUp(int64_t nowSecond);
  // Removes minutes and hours older than the retention, and hosts with
  // nothing left. State changes are kept.
  int Prune(int64_t nowSecond, const HistoryRetention& retention);

  // Start-up reads for the live figures.
  int ForEachOpenOutage(
      const std::function<void(const HistoryHost&, int64_t start, uint32_t status)>& visit);
  int ForEachMinuteSince(
      int64_t minute,
      const std::function<void(const HistoryHost&, int64_t minute, int64_t sent, int64_t received)>&
          visit);

 private:
  // Creates what is missing; `storedVersion` is the file's version before.
  int CreateSchema(int64_t nowSecond, int64_t storedVersion);
  int PrepareAll();
  int HostId(const HistoryHost& host, int64_t& id);

  SqlDatabase db_;
  std::unordered_map<HistoryHost, int64_t, HistoryHostHash> ids_;
  // Together, so that closing finalizes every one: a statement left open
  // would keep the connection, and the file, open.
  struct Statements {
    SqlStatement findHost, addHost, upsertMinute, beginOutage, endOutage, goOnOutage,
        insertOutage, setTrace, addNotification, beginDegradation, endDegradation, rollUp,
        getMeta, setMeta, hostIds, pruneMinutes, pruneHours,
        pruneHosts;
  } statements_;
  std::string lastError_;
};

}  // namespace sentrel
