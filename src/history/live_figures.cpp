#include "history/live_figures.h"

#include <algorithm>

#include "history/history_time.h"

namespace sentrel {

void LiveFigures::Count(HostFigures& figures, int64_t minute, int64_t sent, int64_t received) {
  const auto slot = static_cast<std::size_t>(minute % static_cast<int64_t>(kMinutes));
  if (figures.minuteOf[slot] != minute) {
    figures.minuteOf[slot] = minute;
    figures.sent[slot] = 0;
    figures.received[slot] = 0;
  }
  figures.sent[slot] += static_cast<uint32_t>(sent);
  figures.received[slot] += static_cast<uint32_t>(received);
}

std::optional<OutageChange> LiveFigures::Apply(const ResultRecord& result) {
  HostFigures& figures = hosts_[result.host];
  const int64_t second = HistorySecond(result.when);
  const bool reply = result.status == 0;
  Count(figures, MinuteOfSecond(second), 1, reply ? 1 : 0);
  if (!result.decides) return std::nullopt;
  // PrevState -1: the first result since the checks (re)started, so the
  // time before it was not watched.
  const bool afterRestart = result.prevState == -1;
  using Kind = OutageChange::Kind;
  if (!reply) {
    if (!figures.outageStart) {
      figures.outageStart = second;
      figures.outageStatus = result.status;
      return OutageChange{Kind::Begins, second, 0, result.status, false};
    }
    if (afterRestart) {
      return OutageChange{Kind::GoesOn, *figures.outageStart, 0, figures.outageStatus, true};
    }
    return std::nullopt;
  }
  if (!figures.outageStart) return std::nullopt;
  const OutageChange change{Kind::Ends, *figures.outageStart, second, figures.outageStatus,
                            afterRestart};
  figures.lastOutageSeconds = second - *figures.outageStart;
  figures.outageStart.reset();
  return change;
}

void LiveFigures::SeedOutage(const HistoryHost& host, int64_t start, uint32_t status) {
  HostFigures& figures = hosts_[host];
  if (figures.outageStart) return;
  figures.outageStart = start;
  figures.outageStatus = status;
}

void LiveFigures::SeedMinute(const HistoryHost& host, int64_t minute, int64_t sent,
                             int64_t received) {
  Count(hosts_[host], minute, sent, received);
}

std::optional<double> LiveFigures::LossLastHour(const HistoryHost& host, int64_t nowMinute) const {
  const auto it = hosts_.find(host);
  if (it == hosts_.end()) return std::nullopt;
  const HostFigures& figures = it->second;
  TrafficStats hour;
  for (std::size_t slot = 0; slot < kMinutes; ++slot) {
    const int64_t minute = figures.minuteOf[slot];
    if (minute > nowMinute || minute <= nowMinute - static_cast<int64_t>(kMinutes)) continue;
    hour.sent += figures.sent[slot];
    hour.received += figures.received[slot];
  }
  return hour.LossPercent();
}

std::optional<double> LiveFigures::LatestOutageSeconds(const HistoryHost& host,
                                                       int64_t nowSecond) const {
  const auto it = hosts_.find(host);
  if (it == hosts_.end()) return std::nullopt;
  const HostFigures& figures = it->second;
  if (figures.outageStart) {
    return static_cast<double>(std::max<int64_t>(nowSecond - *figures.outageStart, 0));
  }
  if (figures.lastOutageSeconds) return static_cast<double>(*figures.lastOutageSeconds);
  return std::nullopt;
}

}  // namespace sentrel
