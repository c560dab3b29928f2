#include "core/echo_counters.h"

#include <algorithm>
#include <cstdlib>

namespace sentrel {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void CountJitter(EchoCounters& counters, uint32_t rttUs) {
  EchoCounters::JitterWindow& window = counters.Jitter;
  const int64_t previous = window.previousUs;
  window.previousUs = rttUs;
  if (previous < 0) return;
  const auto difference = static_cast<uint32_t>(std::abs(static_cast<int64_t>(rttUs) - previous));
  const uint32_t pairs = counters.JitterPairs.load(kRelaxed);
  const uint64_t leaving = pairs == EchoCounters::kJitterPairs ? window.differences[window.next] : 0;
  window.differences[window.next] = difference;
  window.next = (window.next + 1) % EchoCounters::kJitterPairs;
  counters.JitterSumUs.store(counters.JitterSumUs.load(kRelaxed) - leaving + difference, kRelaxed);
  if (pairs < EchoCounters::kJitterPairs) counters.JitterPairs.store(pairs + 1, kRelaxed);
}

}  // namespace

void CountEcho(EchoCounters& counters, uint32_t status, uint32_t rttUs, int64_t unixMs,
               int32_t replyTtl) {
  counters.Requests.fetch_add(1, kRelaxed);
  counters.LastResultUnixMs.store(unixMs, kRelaxed);
  if (status != 0) return;
  counters.Replies.fetch_add(1, kRelaxed);
  const auto& bounds = EchoCounters::kBoundsUs;
  const auto slot =
      static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), rttUs) - bounds.begin());
  counters.Buckets[slot].fetch_add(1, kRelaxed);
  counters.RttSumUs.fetch_add(rttUs, kRelaxed);
  counters.LastRttUs.store(rttUs, kRelaxed);
  counters.LastReplyTtl.store(replyTtl, kRelaxed);
  CountJitter(counters, rttUs);
}

void CountDecision(EchoCounters& counters, bool up, int64_t unixMs) {
  const int32_t now = up ? 1 : 0;
  if (counters.DecidedUp.load(kRelaxed) == now) return;
  counters.DecidedSinceUnixMs.store(unixMs, kRelaxed);
  counters.DecidedUp.store(now, kRelaxed);
}

RttHistogram ReadRttHistogram(const EchoCounters& counters) {
  RttHistogram histogram;
  uint64_t running = 0;
  for (std::size_t i = 0; i < EchoCounters::kBounds; ++i) {
    running += counters.Buckets[i].load(kRelaxed);
    histogram.cumulative[i] = running;
  }
  histogram.count = running + counters.Buckets[EchoCounters::kBounds].load(kRelaxed);
  histogram.sumUs = counters.RttSumUs.load(kRelaxed);
  return histogram;
}

std::optional<double> JitterUs(const EchoCounters& counters) {
  const uint32_t pairs = counters.JitterPairs.load(kRelaxed);
  if (pairs == 0) return std::nullopt;
  return static_cast<double>(counters.JitterSumUs.load(kRelaxed)) / pairs;
}

}  // namespace sentrel
