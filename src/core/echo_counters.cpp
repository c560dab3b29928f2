#include "core/echo_counters.h"

#include <algorithm>

namespace sentrel {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

void CountEcho(EchoCounters& counters, const std::array<int32_t, 4>& lightTimes, uint32_t status,
               uint32_t rttMs, int64_t unixMs) {
  counters.Requests.fetch_add(1, kRelaxed);
  counters.LastResultUnixMs.store(unixMs, kRelaxed);
  if (status != 0) return;
  counters.Replies.fetch_add(1, kRelaxed);

  // The thresholds are edited freely, so they need not be in order.
  std::array<int32_t, 4> bounds = lightTimes;
  std::sort(bounds.begin(), bounds.end());
  bool same = true;
  for (std::size_t i = 0; i < bounds.size(); ++i) same = same && counters.BoundsMs[i].load(kRelaxed) == bounds[i];
  if (!same) {
    for (auto& bucket : counters.Buckets) bucket.store(0, kRelaxed);
    counters.RttSumMs.store(0, kRelaxed);
    for (std::size_t i = 0; i < bounds.size(); ++i) counters.BoundsMs[i].store(bounds[i], kRelaxed);
  }
  const auto slot = static_cast<std::size_t>(
      std::lower_bound(bounds.begin(), bounds.end(), static_cast<int64_t>(rttMs),
                       [](int32_t bound, int64_t rtt) { return bound < rtt; }) -
      bounds.begin());
  counters.Buckets[slot].fetch_add(1, kRelaxed);
  counters.RttSumMs.fetch_add(rttMs, kRelaxed);
}

RttHistogram ReadRttHistogram(const EchoCounters& counters) {
  RttHistogram histogram;
  uint64_t running = 0;
  for (std::size_t i = 0; i < EchoCounters::kBounds; ++i) {
    histogram.boundsMs[i] = counters.BoundsMs[i].load(kRelaxed);
    running += counters.Buckets[i].load(kRelaxed);
    histogram.cumulative[i] = running;
  }
  histogram.count = running + counters.Buckets[EchoCounters::kBounds].load(kRelaxed);
  histogram.sumMs = counters.RttSumMs.load(kRelaxed);
  return histogram;
}

}  // namespace sentrel
