#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "history/history_types.h"

namespace sentrel {

// Sums each host's requests per minute in memory, so that a minute reaches
// the database as one row instead of one write per request. Jitter pairs
// each reply with the host's previous reply, also across minutes, and counts
// in the minute of the later one. Writer thread only.
class MinuteAggregator {
 public:
  // A request of `host` at history second `second`.
  void Add(const HistoryHost& host, int64_t second, bool reply, int64_t rtt);
  // The minutes that are over: a host's minute is over when a request of a
  // later minute came, or when it lies before `beforeMinute`. With `all`, the
  // minutes still open leave too (a later part of such a minute adds to its
  // row). Each minute leaves once.
  std::vector<MinuteRow> Take(int64_t beforeMinute, bool all);
  // Forgets the open minutes and the previous replies.
  void Clear();

 private:
  struct HostMinute {
    std::optional<int64_t> minute;  // the open minute, if any
    TrafficStats stats;
    std::optional<int64_t> lastRtt;
  };

  void Close(const HistoryHost& host, HostMinute& open);

  std::unordered_map<HistoryHost, HostMinute, HistoryHostHash> hosts_;
  std::vector<MinuteRow> done_;
};

}  // namespace sentrel
