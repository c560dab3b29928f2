#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history/history_types.h"
#include "history/sql_database.h"

namespace sentrel {

// Read-only access to the history database for the history window and the
// command line, beside a running writer (the write-ahead log lets readers
// see every committed round without waiting).
class HistoryReader {
 public:
  // False when there is no readable history at `path` (`error` says why).
  bool Open(const std::string& path, std::string* error = nullptr);
  // Whether a history has been recorded at `path` at all, readable or not.
  static bool Recorded(const std::string& path);

  // Every host with something stored, by address and name.
  std::vector<StoredHost> Hosts();
  std::optional<int64_t> FindHost(const HistoryHost& host);

  // The host's requests over [fromMinute, toMinute) in buckets of
  // `bucketMinutes` counted from `fromMinute`; empty buckets are left out.
  // Minute rows where they are kept; hour rows before them (the minutes of
  // those hours are pruned), each an hour long. With buckets of an hour or
  // more, the hour rows serve every hour already rolled up.
  std::vector<Bucket> Buckets(int64_t host, int64_t fromMinute, int64_t toMinute,
                              int bucketMinutes);
  // The stored minute rows alone, oldest first (the CSV of the command line).
  std::vector<Bucket> Minutes(int64_t host, int64_t fromMinute, int64_t toMinute);
  // Outages that overlap [fromSecond, toSecond), oldest first.
  std::vector<OutageRow> Outages(int64_t host, int64_t fromSecond, int64_t toSecond);
  // Degraded periods that overlap [fromSecond, toSecond), oldest first.
  std::vector<DegradedPeriod> Degradations(int64_t host, int64_t fromSecond, int64_t toSecond);

 private:
  int64_t RolledThrough();
  std::optional<int64_t> FirstMinute(int64_t host);
  void ReadMinutes(int64_t host, int64_t from, int64_t to, const std::function<void(Bucket)>& add);
  void ReadHours(int64_t host, int64_t fromHour, int64_t toHour,
                 const std::function<void(Bucket)>& add);

  SqlDatabase db_;
};

}  // namespace sentrel
