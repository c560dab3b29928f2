#pragma once

#include <cstdint>
#include <string>

#include "common/date_time.h"

namespace sentrel {

enum class HistoryPeriod { Hour, Day, Week, Month };

// The stretch of time a period shows: [fromMinute, toMinute) in buckets of
// `bucketMinutes`, the last bucket holding `now`. The edges fall on bucket
// boundaries, so that hour buckets are the stored hour rows.
struct PeriodSpan {
  int64_t fromMinute = 0;
  int64_t toMinute = 0;
  int bucketMinutes = 1;
};

// The last hour in minutes, the last day in 2-minute buckets, the last week
// in 10-minute buckets, the last 30 days in hours: a few hundred to a
// thousand points, about one per pixel of the graph.
PeriodSpan SpanOf(HistoryPeriod period, DateTime now);

// Since `from` up to `now`, in minutes (the command line's --since).
PeriodSpan SpanSince(DateTime from, DateTime now);

const char* PeriodName(HistoryPeriod period);  // "Hour", "Day", "Week", "Month"

}  // namespace sentrel
