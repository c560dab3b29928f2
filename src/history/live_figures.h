#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "core/result_recorder.h"
#include "history/history_types.h"

namespace sentrel {

// The figures that alarm texts need at once, kept in memory as the results
// arrive: each host's requests and replies of the last sixty minutes, and
// its outage (the one going on, or the last one that ended). Also decides
// where an outage begins and ends, so the database sees the same timeline as
// the alarms. Not thread-safe: the store guards it.
class LiveFigures {
 public:
  // Counts the result; returns what it did to the host's outages. Only a
  // result that decides the state moves the timeline: a deciding failure
  // begins an outage (or, first after a restart of the checks, continues the
  // one that was going on), a reply ends it.
  std::optional<OutageChange> Apply(const ResultRecord& result);

  // Start-up: an outage that was going on when the program last stopped,
  // and the requests of the minutes that are still within the last hour.
  // An outage that the results have already begun is kept.
  void SeedOutage(const HistoryHost& host, int64_t start, uint32_t status);
  void SeedMinute(const HistoryHost& host, int64_t minute, int64_t sent, int64_t received);

  // The current minute and the 59 before it.
  std::optional<double> LossLastHour(const HistoryHost& host, int64_t nowMinute) const;
  // The outage going on up to `nowSecond`, else the last one that ended.
  std::optional<double> LatestOutageSeconds(const HistoryHost& host, int64_t nowSecond) const;

 private:
  static constexpr std::size_t kMinutes = 60;
  struct HostFigures {
    std::array<int64_t, kMinutes> minuteOf{};
    std::array<uint32_t, kMinutes> sent{};
    std::array<uint32_t, kMinutes> received{};
    std::optional<int64_t> outageStart;
    uint32_t outageStatus = 0;
    std::optional<int64_t> lastOutageSeconds;
  };

  static void Count(HostFigures& figures, int64_t minute, int64_t sent, int64_t received);

  std::unordered_map<HistoryHost, HostFigures, HistoryHostHash> hosts_;
};

}  // namespace sentrel
