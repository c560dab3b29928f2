#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/date_time.h"
#include "history/history_types.h"

namespace sentrel {

class HistoryReader;
struct PeriodSpan;

// A stretch of time, [fromSecond, toSecond) in history seconds.
struct TimeStretch {
  int64_t fromSecond = 0;
  int64_t toSecond = 0;
  friend bool operator==(const TimeStretch&, const TimeStretch&) = default;
};

// The figures of a host over a period, as the history window and the
// command line show them. Loss and availability come from the same
// monitored minutes: loss is the share of their requests without a reply,
// availability the share of them (minutes with requests) that had a reply.
// Time in which the host was not checked counts for neither.
struct PeriodFigures {
  TrafficStats traffic;  // loss, round trips and jitter of every request
  std::optional<double> availability;  // nothing without a monitored minute
  int outages = 0;             // outages that overlap the period
  int64_t outageSeconds = 0;   // their time within the period, up to now
  int64_t monitoredSeconds = 0;    // the period up to now in which the host was checked
  int64_t unmonitoredSeconds = 0;  // the rest of the period up to now
};

// Where the host was checked within [fromSecond, toSecond), from the rows
// of Reader::Buckets with one-minute buckets (minute rows, and hour rows
// where the minutes are pruned), oldest first: a minute with requests and
// the minutes after it up to the next one, at most kWatchedGapSeconds; an
// hour row with requests, its hour. Adjoining stretches are joined.
std::vector<TimeStretch> MonitoredStretches(const std::vector<Bucket>& rows, int64_t fromSecond,
                                            int64_t toSecond);

// The stretches of [fromSecond, toSecond) outside `monitored`.
std::vector<TimeStretch> Gaps(const std::vector<TimeStretch>& monitored, int64_t fromSecond,
                              int64_t toSecond);

// `buckets` and `outages` as the reader gives them for [fromSecond, toSecond)
// (toSecond = now), and the monitored stretches within it.
PeriodFigures FiguresOf(const std::vector<Bucket>& buckets, const std::vector<OutageRow>& outages,
                        const std::vector<TimeStretch>& monitored, int64_t fromSecond,
                        int64_t toSecond);

// What a period holds for one host, as the window and the command line
// show it. The figures run from the span's start to `now`, not to its end:
// the rest of the last bucket has not happened yet. An open outage is known
// until now while its host is still checked (OutageGoesOn), so its length
// is its true one; else until its host's last check, never beyond now.
struct PeriodHistory {
  int64_t fromSecond = 0;
  int64_t toSecond = 0;  // now
  std::vector<Bucket> buckets;  // in the span's buckets
  std::vector<OutageRow> outages;
  // The stretches up to now in which the host was not checked (before it
  // was added, while the program or its checks were stopped): the graph
  // shows them as such, not as good time.
  std::vector<TimeStretch> unmonitored;
  // The stretches in which the host was degraded, within the period.
  std::vector<TimeStretch> degraded;
  PeriodFigures figures;
};

// Host ids start at 1; `host` 0 (nothing stored) gives no rows.
PeriodHistory ReadPeriod(HistoryReader& reader, int64_t host, const PeriodSpan& span, DateTime now);

}  // namespace sentrel
