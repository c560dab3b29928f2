#include "history/history_period.h"

#include <algorithm>

#include "history/history_time.h"

namespace sentrel {

namespace {

struct PeriodShape {
  int buckets;
  int bucketMinutes;
};

PeriodShape ShapeOf(HistoryPeriod period) {
  switch (period) {
    case HistoryPeriod::Hour:
      return {60, 1};
    case HistoryPeriod::Day:
      return {720, 2};
    case HistoryPeriod::Week:
      return {1008, 10};
    case HistoryPeriod::Month:
      return {720, 60};
  }
  return {60, 1};
}

int64_t RoundUp(int64_t value, int64_t step) {
  const int64_t rest = value % step;
  return rest == 0 ? value : value + (step - rest);
}

}  // namespace

PeriodSpan SpanOf(HistoryPeriod period, DateTime now) {
  const PeriodShape shape = ShapeOf(period);
  PeriodSpan span;
  span.bucketMinutes = shape.bucketMinutes;
  span.toMinute = RoundUp(MinuteOfSecond(HistorySecond(now)) + 1, shape.bucketMinutes);
  span.fromMinute = span.toMinute - int64_t{shape.buckets} * shape.bucketMinutes;
  return span;
}

PeriodSpan SpanSince(DateTime from, DateTime now) {
  PeriodSpan span;
  span.toMinute = MinuteOfSecond(HistorySecond(now)) + 1;
  span.fromMinute = std::min(MinuteOfSecond(HistorySecond(from)), span.toMinute);
  return span;
}

const char* PeriodName(HistoryPeriod period) {
  switch (period) {
    case HistoryPeriod::Hour:
      return "Hour";
    case HistoryPeriod::Day:
      return "Day";
    case HistoryPeriod::Week:
      return "Week";
    case HistoryPeriod::Month:
      return "Month";
  }
  return "";
}

}  // namespace sentrel
