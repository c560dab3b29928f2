#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace sentrel {

// A host's echo results since it joined the list, for the metrics endpoint:
// requests, replies, the round-trip times sorted into buckets bounded by the
// host's light thresholds, and when the latest result arrived. Written by
// the thread that handles the host's results, read by any thread without a
// lock: each figure is one relaxed atomic.
struct EchoCounters {
  static constexpr std::size_t kBounds = 4;
  std::atomic<uint64_t> Requests{0};
  std::atomic<uint64_t> Replies{0};
  // Upper bounds (ms, ascending) that the buckets were counted with.
  std::array<std::atomic<int32_t>, kBounds> BoundsMs{};
  // Replies per bucket: bucket i holds times above bound i-1 up to bound i;
  // the last one those above every bound.
  std::array<std::atomic<uint64_t>, kBounds + 1> Buckets{};
  std::atomic<uint64_t> RttSumMs{0};
  // Wall-clock time of the latest result, ms since 1970; 0 = none yet.
  std::atomic<int64_t> LastResultUnixMs{0};
};

// Counts one echo result (status 0 = a reply taking `rttMs`). When the
// light thresholds differ from the bounds the buckets were counted with, the
// round-trip figures start afresh under the new bounds, since old counts
// would claim bounds they were never sorted by.
void CountEcho(EchoCounters& counters, const std::array<int32_t, 4>& lightTimes, uint32_t status,
               uint32_t rttMs, int64_t unixMs);

// A reader's copy of the round-trip figures.
struct RttHistogram {
  std::array<int32_t, EchoCounters::kBounds> boundsMs{};
  std::array<uint64_t, EchoCounters::kBounds> cumulative{};  // replies up to each bound
  uint64_t count = 0;                                        // every reply counted
  uint64_t sumMs = 0;
};
// Cumulative counts are summed from the buckets, so they never decrease
// along the bounds and `count` equals the last of them plus the overflow,
// even while a result is being counted.
RttHistogram ReadRttHistogram(const EchoCounters& counters);

}  // namespace sentrel
