#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/result_recorder.h"
#include "history/traffic_stats.h"

namespace sentrel {

struct HistoryHostHash {
  std::size_t operator()(const HistoryHost& host) const {
    const std::size_t a = std::hash<std::string>()(host.address);
    return a ^ (std::hash<std::string>()(host.name) + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
  }
};

// One host's requests in one minute, on their way to the database.
struct MinuteRow {
  HistoryHost host;
  int64_t minute = 0;
  TrafficStats stats;
};

// What a result did to the host's outage timeline.
struct OutageChange {
  enum class Kind {
    Begins,   // the host was lost: an outage starts at `start`
    Ends,     // it answers again: the outage from `start` ends at `end`
    GoesOn,   // checks restarted while it was lost and it is still lost
  };
  Kind kind = Kind::Begins;
  int64_t start = 0;  // history seconds
  int64_t end = 0;
  uint32_t status = 0;  // the failure status of the check that lost the host
  // Checks stopped (program ended, "Stop", host unticked) while the host was
  // lost, so part of the outage was not watched.
  bool interrupted = false;
};

// How long a checked minute vouches for the minutes after it that hold no
// request: a host checked every few minutes is watched between its checks.
// An outage whose host was checked this recently is still going on.
inline constexpr int64_t kWatchedGapSeconds = 15 * 60;

// A host as the history knows it.
struct StoredHost {
  int64_t id = 0;
  HistoryHost host;
};

// One outage as stored.
struct OutageRow {
  int64_t start = 0;
  std::optional<int64_t> end;  // nothing while it goes on
  // For an outage that goes on: the end of the host's last recorded minute,
  // the latest moment known to be inside the outage.
  int64_t knownUntil = 0;
  uint32_t status = 0;
  bool interrupted = false;
  std::string trace;
  // The notifications that left the outbox for it ("loss > ops: delivered, ...").
  std::string notified;

  int64_t EffectiveEnd() const { return end ? *end : std::max(knownUntil, start); }
};

// One period in which the host was degraded, as stored.
struct DegradedPeriod {
  int64_t start = 0;
  std::optional<int64_t> end;  // nothing while it goes on
};

// A stretch of the graph or of a report: `spanMinutes` long from
// `startMinute`, with the requests in it.
struct Bucket {
  int64_t startMinute = 0;
  int64_t spanMinutes = 1;
  TrafficStats stats;
  int64_t EndMinute() const { return startMinute + spanMinutes; }
};

}  // namespace sentrel
