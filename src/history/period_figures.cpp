#include "history/period_figures.h"

#include <algorithm>

#include "history/history_period.h"
#include "history/history_reader.h"
#include "history/history_time.h"

namespace sentrel {

namespace {

int64_t Overlap(int64_t from, int64_t to, int64_t start, int64_t end) {
  return std::max<int64_t>(0, std::min(to, end) - std::max(from, start));
}

}  // namespace

PeriodFigures FiguresOf(const std::vector<Bucket>& buckets, const std::vector<OutageRow>& outages,
                        int64_t fromSecond, int64_t toSecond) {
  PeriodFigures figures;
  std::optional<int64_t> watchedFrom;
  int64_t watchedTo = fromSecond;
  for (const Bucket& bucket : buckets) {
    figures.traffic.Merge(bucket.stats);
    if (bucket.stats.sent == 0) continue;
    if (!watchedFrom) watchedFrom = std::max(fromSecond, bucket.startMinute * 60);
    watchedTo = std::max(watchedTo, std::min(toSecond, bucket.EndMinute() * 60));
  }
  int64_t watchedDown = 0;
  for (const OutageRow& outage : outages) {
    const int64_t end = outage.EffectiveEnd();
    // An outage still open at its very start has no length yet, but it is one.
    if (end <= fromSecond && !(outage.start >= fromSecond && outage.start < toSecond)) continue;
    ++figures.outages;
    figures.outageSeconds += Overlap(fromSecond, toSecond, outage.start, end);
    if (watchedFrom) watchedDown += Overlap(*watchedFrom, watchedTo, outage.start, end);
  }
  if (watchedFrom && watchedTo > *watchedFrom) {
    const double watched = static_cast<double>(watchedTo - *watchedFrom);
    const double up = std::max(0.0, watched - static_cast<double>(watchedDown));
    figures.availability = 100.0 * up / watched;
  }
  return figures;
}

PeriodHistory ReadPeriod(HistoryReader& reader, int64_t host, const PeriodSpan& span, DateTime now) {
  PeriodHistory period;
  period.fromSecond = span.fromMinute * 60;
  period.toSecond = HistorySecond(now);
  if (host > 0) {
    period.buckets = reader.Buckets(host, span.fromMinute, span.toMinute, span.bucketMinutes);
    period.outages = reader.Outages(host, period.fromSecond, period.toSecond);
  }
  period.figures = FiguresOf(period.buckets, period.outages, period.fromSecond, period.toSecond);
  return period;
}

}  // namespace sentrel
