#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/date_time.h"
#include "history/history_types.h"

namespace sentrel {

class HistoryReader;
struct PeriodSpan;

// The figures of a host over a period, as the history window and the
// command line show them.
struct PeriodFigures {
  TrafficStats traffic;  // loss, round trips and jitter of every request
  // Per cent of the watched time (from the first to the end of the last
  // stored stretch within the period) that was not inside an outage.
  std::optional<double> availability;
  int outages = 0;             // outages that overlap the period
  int64_t outageSeconds = 0;   // their time within the period
};

// `buckets` and `outages` as the reader gives them for [fromSecond, toSecond).
PeriodFigures FiguresOf(const std::vector<Bucket>& buckets, const std::vector<OutageRow>& outages,
                        int64_t fromSecond, int64_t toSecond);

// What a period holds for one host, as the window and the command line
// show it. The figures run from the span's start to `now`, not to its end:
// the rest of the last bucket has not happened yet.
struct PeriodHistory {
  int64_t fromSecond = 0;
  int64_t toSecond = 0;
  std::vector<Bucket> buckets;  // in the span's buckets
  std::vector<OutageRow> outages;
  PeriodFigures figures;
};

// Host ids start at 1; `host` 0 (nothing stored) gives no rows.
PeriodHistory ReadPeriod(HistoryReader& reader, int64_t host, const PeriodSpan& span, DateTime now);

}  // namespace sentrel
