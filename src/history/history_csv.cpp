#include "history/history_csv.h"

#include <cstdio>
#include <optional>

#include "history/history_time.h"

namespace sentrel {

namespace {

// snprintf's "%f" follows LC_NUMERIC, which the program leaves at "C".
std::string Decimal(std::optional<double> value) {
  if (!value) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", *value);
  return text;
}

}  // namespace

std::string HistoryCsv(const std::vector<Bucket>& rows) {
  std::string csv =
      "start,minutes,requests,replies,loss_percent,rtt_min_ms,rtt_avg_ms,rtt_max_ms,jitter_ms,"
      "lost_minutes\r\n";
  for (const Bucket& row : rows) {
    const TrafficStats& s = row.stats;
    const bool replies = s.received > 0;
    csv += MinuteText(row.startMinute) + "," + std::to_string(row.spanMinutes) + "," +
           std::to_string(s.sent) + "," + std::to_string(s.received) + "," +
           Decimal(s.LossPercent()) + "," + (replies ? std::to_string(s.RttMinMs()) : "") + "," +
           Decimal(s.AverageRttMs()) + "," + (replies ? std::to_string(s.RttMaxMs()) : "") + "," +
           Decimal(s.JitterMs()) + "," + std::to_string(s.lostMinutes) + "\r\n";
  }
  return csv;
}

}  // namespace sentrel
