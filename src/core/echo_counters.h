#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace sentrel {

// A host's echo results since it joined the list, for the metrics endpoint:
// requests, replies, the round-trip times in fixed buckets, the latest round
// trip and reply TTL, the jitter of the latest replies and since when the
// host has been up or down. Written by the thread that handles the host's
// results (one result at a time), read by any thread without a lock: each
// figure is one relaxed atomic.
struct EchoCounters {
  // Upper bounds of the round-trip buckets in microseconds, about 1.8 times
  // apart from 100 us to 10 s. Fixed, so that every host and every Sentrel
  // sums and compares with every other, whatever its light thresholds.
  static constexpr std::array<uint32_t, 21> kBoundsUs{
      100,     180,     320,     560,     1'000,     1'800,     3'200,
      5'600,   10'000,  18'000,  32'000,  56'000,    100'000,   180'000,
      320'000, 560'000, 1'000'000, 1'800'000, 3'200'000, 5'600'000, 10'000'000};
  static constexpr std::size_t kBounds = kBoundsUs.size();
  // Jitter is the mean absolute difference of consecutive replies' round
  // trips, over this many latest pairs.
  static constexpr std::size_t kJitterPairs = 16;

  std::atomic<uint64_t> Requests{0};
  std::atomic<uint64_t> Replies{0};
  // Replies per bucket: bucket i holds times above bound i-1 up to bound i;
  // the last one those above every bound.
  std::array<std::atomic<uint64_t>, kBounds + 1> Buckets{};
  std::atomic<uint64_t> RttSumUs{0};
  std::atomic<int64_t> LastRttUs{-1};  // the latest reply's; -1 before the first
  std::atomic<int32_t> LastReplyTtl{-1};  // TTL of the latest reply; -1 when unknown
  std::atomic<uint64_t> JitterSumUs{0};   // over the pairs in the window
  std::atomic<uint32_t> JitterPairs{0};
  // Wall-clock time of the latest result, ms since 1970; 0 = none yet.
  std::atomic<int64_t> LastResultUnixMs{0};
  // Whether the latest deciding result was a reply (1) or a loss (0), -1
  // before the first, and since when that has been so (ms since 1970).
  std::atomic<int32_t> DecidedUp{-1};
  std::atomic<int64_t> DecidedSinceUnixMs{0};

  // The writer's own memory of the jitter window.
  struct JitterWindow {
    std::array<uint32_t, kJitterPairs> differences{};
    std::size_t next = 0;
    int64_t previousUs = -1;
  } Jitter;
};

// Counts one echo result (status 0 = a reply taking `rttUs`; `replyTtl` -1
// when the reply's TTL is not known).
void CountEcho(EchoCounters& counters, uint32_t status, uint32_t rttUs, int64_t unixMs,
               int32_t replyTtl = -1);
// Counts a result that decided the host's state; the time of the last change
// between up and down moves only when the new state differs. Failures from
// one code to another are one outage and do not move it.
void CountDecision(EchoCounters& counters, bool up, int64_t unixMs);

// A reader's copy of the round-trip figures.
struct RttHistogram {
  std::array<uint64_t, EchoCounters::kBounds> cumulative{};  // replies up to each bound
  uint64_t count = 0;                                        // every reply counted
  uint64_t sumUs = 0;
};
// Cumulative counts are summed from the buckets, so they never decrease
// along the bounds and `count` equals the last of them plus the overflow,
// even while a result is being counted.
RttHistogram ReadRttHistogram(const EchoCounters& counters);

// Mean absolute difference of consecutive round trips over the latest pairs,
// in microseconds; nothing before two replies.
std::optional<double> JitterUs(const EchoCounters& counters);

}  // namespace sentrel
