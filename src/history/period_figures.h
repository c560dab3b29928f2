#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "history/history_types.h"

namespace sentrel {

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

}  // namespace sentrel
