#include "history/traffic_stats.h"

#include <algorithm>

namespace sentrel {

void TrafficStats::AddRequest(bool reply, int64_t rtt) {
  ++sent;
  if (!reply) return;
  rttMin = received == 0 ? rtt : std::min(rttMin, rtt);
  rttMax = received == 0 ? rtt : std::max(rttMax, rtt);
  rttSum += rtt;
  ++received;
}

void TrafficStats::AddJitter(int64_t difference) {
  jitterSum += difference < 0 ? -difference : difference;
  ++jitterCount;
}

void TrafficStats::Merge(const TrafficStats& other) {
  if (other.received > 0) {
    rttMin = received == 0 ? other.rttMin : std::min(rttMin, other.rttMin);
    rttMax = received == 0 ? other.rttMax : std::max(rttMax, other.rttMax);
  }
  sent += other.sent;
  received += other.received;
  rttSum += other.rttSum;
  jitterSum += other.jitterSum;
  jitterCount += other.jitterCount;
  minutes += other.minutes;
  lostMinutes += other.lostMinutes;
}

void TrafficStats::CountAsMinute() {
  minutes = sent > 0 ? 1 : 0;
  lostMinutes = sent > 0 && received == 0 ? 1 : 0;
}

std::optional<double> TrafficStats::LossPercent() const {
  if (sent <= 0) return std::nullopt;
  return 100.0 * static_cast<double>(sent - received) / static_cast<double>(sent);
}

std::optional<double> TrafficStats::AverageRtt() const {
  if (received <= 0) return std::nullopt;
  return static_cast<double>(rttSum) / static_cast<double>(received);
}

std::optional<double> TrafficStats::AverageRttMs() const {
  const std::optional<double> us = AverageRtt();
  return us ? std::optional<double>(*us / 1000.0) : std::nullopt;
}

std::optional<double> TrafficStats::JitterMs() const {
  const std::optional<double> us = Jitter();
  return us ? std::optional<double>(*us / 1000.0) : std::nullopt;
}

std::optional<double> TrafficStats::Jitter() const {
  if (jitterCount <= 0) return std::nullopt;
  return static_cast<double>(jitterSum) / static_cast<double>(jitterCount);
}

}  // namespace sentrel
