#include "history/history_reader.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "history/history_db.h"
#include "history/history_time.h"

namespace sentrel {

namespace {

TrafficStats StatsOfRow(const SqlStatement& row, int first) {
  TrafficStats stats;
  stats.sent = row.Int(first);
  stats.received = row.Int(first + 1);
  stats.rttMin = row.MaybeInt(first + 2).value_or(0);
  stats.rttMax = row.MaybeInt(first + 3).value_or(0);
  stats.rttSum = row.Int(first + 4);
  stats.jitterSum = row.Int(first + 5);
  stats.jitterCount = row.Int(first + 6);
  return stats;
}

}  // namespace

bool HistoryReader::Recorded(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool HistoryReader::Open(const std::string& path, std::string* error) {
  if (!Recorded(path)) {
    if (error) *error = "no history has been recorded yet (" + path + ")";
    return false;
  }
  int code = db_.Open(path, true, 2000);
  SqlStatement probe;
  if (code == SQLITE_OK) code = db_.Prepare("SELECT count(*) FROM hosts", probe);
  if (code == SQLITE_OK && (code = probe.Step()) == SQLITE_ROW) return true;
  if (error) *error = path + ": " + (db_.IsOpen() ? db_.Error() : sqlite3_errstr(code));
  probe = {};
  db_.Close();
  return false;
}

std::vector<StoredHost> HistoryReader::Hosts() {
  std::vector<StoredHost> hosts;
  SqlStatement rows;
  if (db_.Prepare("SELECT id, address, name FROM hosts ORDER BY address, name", rows) != SQLITE_OK)
    return hosts;
  while (rows.Step() == SQLITE_ROW) hosts.push_back({rows.Int(0), {rows.Text(1), rows.Text(2)}});
  return hosts;
}

std::optional<int64_t> HistoryReader::FindHost(const HistoryHost& host) {
  SqlStatement row;
  if (db_.Prepare(kFindHostSql, row) != SQLITE_OK)
    return std::nullopt;
  row.Bind(1, host.address).Bind(2, host.name);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  return row.Int(0);
}

int64_t HistoryReader::RolledThrough() {
  SqlStatement row;
  if (db_.Prepare("SELECT value FROM meta WHERE key = ?1", row) != SQLITE_OK ||
      row.Bind(1, std::string(kRolledThroughKey)).Step() != SQLITE_ROW) {
    return std::numeric_limits<int64_t>::min() / 2;
  }
  return row.Int(0);
}

std::optional<int64_t> HistoryReader::FirstMinute(int64_t host) {
  SqlStatement row;
  if (db_.Prepare("SELECT min(minute) FROM minutes WHERE host = ?1", row) != SQLITE_OK)
    return std::nullopt;
  row.Bind(1, host);
  if (row.Step() != SQLITE_ROW) return std::nullopt;
  return row.MaybeInt(0);
}

void HistoryReader::ReadMinutes(int64_t host, int64_t from, int64_t to,
                                const std::function<void(Bucket)>& add) {
  SqlStatement rows;
  if (db_.Prepare("SELECT minute, sent, received, rtt_min, rtt_max, rtt_sum, jitter_sum, jitter_n "
                  "FROM minutes WHERE host = ?1 AND minute >= ?2 AND minute < ?3 ORDER BY minute",
                  rows) != SQLITE_OK) {
    return;
  }
  rows.Bind(1, host).Bind(2, from).Bind(3, to);
  while (rows.Step() == SQLITE_ROW) {
    Bucket bucket{rows.Int(0), 1, StatsOfRow(rows, 1)};
    bucket.stats.CountAsMinute();
    add(bucket);
  }
}

void HistoryReader::ReadHours(int64_t host, int64_t fromHour, int64_t toHour,
                              const std::function<void(Bucket)>& add) {
  SqlStatement rows;
  if (db_.Prepare("SELECT hour, sent, received, rtt_min, rtt_max, rtt_sum, jitter_sum, jitter_n, "
                  "minutes, lost_minutes FROM hours "
                  "WHERE host = ?1 AND hour >= ?2 AND hour < ?3 ORDER BY hour",
                  rows) != SQLITE_OK) {
    return;
  }
  rows.Bind(1, host).Bind(2, fromHour).Bind(3, toHour);
  while (rows.Step() == SQLITE_ROW) {
    Bucket bucket{rows.Int(0) * 60, 60, StatsOfRow(rows, 1)};
    bucket.stats.minutes = rows.Int(8);
    bucket.stats.lostMinutes = rows.Int(9);
    add(bucket);
  }
}

std::vector<Bucket> HistoryReader::Buckets(int64_t host, int64_t fromMinute, int64_t toMinute,
                                           int bucketMinutes) {
  std::vector<Bucket> buckets;
  if (toMinute <= fromMinute || bucketMinutes < 1) return buckets;
  // Hours before this one come from the hour rows, minutes from it on.
  int64_t hourLimit = 0;
  if (bucketMinutes >= 60) {
    hourLimit = RolledThrough() + 1;
  } else {
    const std::optional<int64_t> first = FirstMinute(host);
    hourLimit = first ? HourOfMinute(*first) : HourOfMinute(toMinute) + 1;
  }
  const auto add = [&](Bucket row) {
    const int64_t start = fromMinute + (row.startMinute - fromMinute) / bucketMinutes * bucketMinutes;
    if (buckets.empty() || buckets.back().startMinute != start) {
      buckets.push_back({start, std::max<int64_t>(bucketMinutes, row.spanMinutes), {}});
    }
    buckets.back().stats.Merge(row.stats);
  };
  const int64_t firstHour = HourOfMinute(fromMinute);
  if (firstHour < hourLimit) {
    // An hour row counts only when the whole hour lies in the span.
    const int64_t fromHour = fromMinute % 60 == 0 ? firstHour : firstHour + 1;
    ReadHours(host, fromHour, std::min(hourLimit, toMinute / 60), add);
  }
  ReadMinutes(host, std::max(fromMinute, hourLimit * 60), toMinute, add);
  return buckets;
}

std::vector<Bucket> HistoryReader::Minutes(int64_t host, int64_t fromMinute, int64_t toMinute) {
  std::vector<Bucket> rows;
  ReadMinutes(host, fromMinute, toMinute, [&rows](Bucket row) { rows.push_back(row); });
  return rows;
}

std::vector<DegradedPeriod> HistoryReader::Degradations(int64_t host, int64_t fromSecond,
                                                       int64_t toSecond) {
  std::vector<DegradedPeriod> periods;
  SqlStatement rows;
  // A history written before degradations were kept has no such table.
  if (db_.Prepare("SELECT start_second, end_second FROM degradations WHERE host = ?1 "
                  "AND start_second < ?3 AND (end_second IS NULL OR end_second > ?2) "
                  "ORDER BY start_second",
                  rows) != SQLITE_OK) {
    return periods;
  }
  rows.Bind(1, host).Bind(2, fromSecond).Bind(3, toSecond);
  while (rows.Step() == SQLITE_ROW) periods.push_back({rows.Int(0), rows.MaybeInt(1)});
  return periods;
}

std::vector<OutageRow> HistoryReader::Outages(int64_t host, int64_t fromSecond, int64_t toSecond) {
  std::vector<OutageRow> outages;
  SqlStatement rows;
  const auto query = [](const char* notified) {
    return std::string("SELECT start_second, end_second, status, interrupted, coalesce(trace, ''), ") +
           notified +
           " FROM outages WHERE host = ?1 AND start_second < ?3 "
           "AND (end_second IS NULL OR end_second > ?2) ORDER BY start_second";
  };
  // A database that no newer program has opened yet has no notifications.
  if (db_.Prepare(query("coalesce(notified, '')"), rows) != SQLITE_OK &&
      db_.Prepare(query("''"), rows) != SQLITE_OK) {
    return outages;
  }
  rows.Bind(1, host).Bind(2, fromSecond).Bind(3, toSecond);
  std::optional<int64_t> lastMinute;
  bool lastMinuteRead = false;
  while (rows.Step() == SQLITE_ROW) {
    OutageRow outage;
    outage.start = rows.Int(0);
    outage.end = rows.MaybeInt(1);
    outage.status = static_cast<uint32_t>(rows.Int(2));
    outage.interrupted = rows.Int(3) != 0;
    outage.trace = rows.Text(4);
    outage.notified = rows.Text(5);
    if (!outage.end) {
      if (!lastMinuteRead) {
        SqlStatement last;
        if (db_.Prepare("SELECT max(minute) FROM minutes WHERE host = ?1", last) == SQLITE_OK) {
          last.Bind(1, host);
          if (last.Step() == SQLITE_ROW) lastMinute = last.MaybeInt(0);
        }
        lastMinuteRead = true;
      }
      outage.knownUntil = lastMinute ? (*lastMinute + 1) * 60 : outage.start;
    }
    outages.push_back(std::move(outage));
  }
  return outages;
}

}  // namespace sentrel
