#include "history/period_figures.h"

#include <algorithm>

#include "history/history_period.h"
#include "history/history_reader.h"
#include "history/history_text.h"
#include "history/history_time.h"

namespace sentrel {

namespace {

int64_t Overlap(int64_t from, int64_t to, int64_t start, int64_t end) {
  return std::max<int64_t>(0, std::min(to, end) - std::max(from, start));
}

}  // namespace

std::vector<TimeStretch> MonitoredStretches(const std::vector<Bucket>& rows, int64_t fromSecond,
                                            int64_t toSecond) {
  std::vector<TimeStretch> stretches;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Bucket& row = rows[i];
    if (row.stats.sent == 0) continue;
    const int64_t start = row.startMinute * 60;
    int64_t end = row.EndMinute() * 60;
    if (row.spanMinutes == 1) {
      end = start + std::max<int64_t>(60, kWatchedGapSeconds);
      for (std::size_t next = i + 1; next < rows.size(); ++next) {
        if (rows[next].stats.sent == 0) continue;
        end = std::min(end, std::max(start + 60, rows[next].startMinute * 60));
        break;
      }
    }
    const TimeStretch clipped{std::max(start, fromSecond), std::min(end, toSecond)};
    if (clipped.toSecond <= clipped.fromSecond) continue;
    if (!stretches.empty() && clipped.fromSecond <= stretches.back().toSecond) {
      stretches.back().toSecond = std::max(stretches.back().toSecond, clipped.toSecond);
    } else {
      stretches.push_back(clipped);
    }
  }
  return stretches;
}

std::vector<TimeStretch> Gaps(const std::vector<TimeStretch>& monitored, int64_t fromSecond,
                              int64_t toSecond) {
  std::vector<TimeStretch> gaps;
  int64_t at = fromSecond;
  for (const TimeStretch& stretch : monitored) {
    if (stretch.fromSecond > at) gaps.push_back({at, std::min(stretch.fromSecond, toSecond)});
    at = std::max(at, stretch.toSecond);
    if (at >= toSecond) break;
  }
  if (at < toSecond) gaps.push_back({at, toSecond});
  std::erase_if(gaps, [](const TimeStretch& gap) { return gap.toSecond <= gap.fromSecond; });
  return gaps;
}

PeriodFigures FiguresOf(const std::vector<Bucket>& buckets, const std::vector<OutageRow>& outages,
                        const std::vector<TimeStretch>& monitored, int64_t fromSecond,
                        int64_t toSecond) {
  PeriodFigures figures;
  for (const Bucket& bucket : buckets) figures.traffic.Merge(bucket.stats);
  const TrafficStats& t = figures.traffic;
  if (t.minutes > 0) {
    figures.availability = 100.0 * static_cast<double>(t.minutes - t.lostMinutes) /
                           static_cast<double>(t.minutes);
  }
  for (const OutageRow& outage : outages) {
    const int64_t end = std::min(outage.EffectiveEnd(), toSecond);
    // An outage still open at its very start has no length yet, but it is one.
    if (end <= fromSecond && !(outage.start >= fromSecond && outage.start < toSecond)) continue;
    ++figures.outages;
    figures.outageSeconds += Overlap(fromSecond, toSecond, outage.start, end);
  }
  for (const TimeStretch& stretch : monitored) {
    figures.monitoredSeconds += Overlap(fromSecond, toSecond, stretch.fromSecond, stretch.toSecond);
  }
  figures.unmonitoredSeconds =
      std::max<int64_t>(0, toSecond - fromSecond) - figures.monitoredSeconds;
  return figures;
}

PeriodHistory ReadPeriod(HistoryReader& reader, int64_t host, const PeriodSpan& span, DateTime now) {
  PeriodHistory period;
  period.fromSecond = span.fromMinute * 60;
  period.toSecond = HistorySecond(now);
  std::vector<TimeStretch> monitored;
  if (host > 0) {
    period.buckets = reader.Buckets(host, span.fromMinute, span.toMinute, span.bucketMinutes);
    period.outages = reader.Outages(host, period.fromSecond, period.toSecond);
    monitored = MonitoredStretches(reader.Buckets(host, span.fromMinute, span.toMinute, 1),
                                   period.fromSecond, period.toSecond);
    for (const DegradedPeriod& d : reader.Degradations(host, period.fromSecond, period.toSecond)) {
      const int64_t from = std::max(d.start, period.fromSecond);
      const int64_t to = std::min(d.end.value_or(period.toSecond), period.toSecond);
      if (to > from) period.degraded.push_back({from, to});
    }
  }
  for (OutageRow& outage : period.outages) {
    if (outage.end) continue;
    // Nothing is known beyond now; while checks still come, it goes on now.
    outage.knownUntil = std::min(outage.knownUntil, period.toSecond);
    if (OutageGoesOn(outage, period.toSecond)) outage.knownUntil = period.toSecond;
  }
  period.unmonitored = Gaps(monitored, period.fromSecond, period.toSecond);
  period.figures =
      FiguresOf(period.buckets, period.outages, monitored, period.fromSecond, period.toSecond);
  return period;
}

}  // namespace sentrel
