#pragma once

#include <cstdint>
#include <optional>

namespace sentrel {

// What the history keeps of the requests in one stretch of time (a minute,
// an hour, a bucket of the graph). Sums rather than averages, so that
// stretches merge exactly: the roll-up of sixty minutes gives the same
// figures as the sixty minutes themselves.
struct TrafficStats {
  int64_t sent = 0;      // requests
  int64_t received = 0;  // replies
  int64_t rttMin = 0;    // us; meaningful while received > 0
  int64_t rttMax = 0;
  int64_t rttSum = 0;
  // Jitter: the absolute differences of consecutive round trips of the host.
  int64_t jitterSum = 0;
  int64_t jitterCount = 0;
  // Minutes with at least one request, and of those the ones without any
  // reply (the lost minutes); a minute row counts as one.
  int64_t minutes = 0;
  int64_t lostMinutes = 0;

  void AddRequest(bool reply, int64_t rtt);
  void AddJitter(int64_t difference);
  // Adds another stretch; the minute counts add up as they are.
  void Merge(const TrafficStats& other);
  // Marks this as one whole minute: minutes 1, lostMinutes 1 when nothing
  // answered. No requests: both stay 0.
  void CountAsMinute();

  // Per cent of requests without reply; nothing without requests.
  std::optional<double> LossPercent() const;
  std::optional<double> AverageRtt() const;
  std::optional<double> Jitter() const;

  // The round trips in milliseconds, as the window, the report and the CSV
  // show them: fractions for the mean figures, whole ones for the extremes.
  std::optional<double> AverageRttMs() const;
  std::optional<double> JitterMs() const;
  int64_t RttMinMs() const { return (rttMin + 500) / 1000; }
  int64_t RttMaxMs() const { return (rttMax + 500) / 1000; }
};

}  // namespace sentrel
