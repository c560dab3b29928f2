#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace sentrel {

inline constexpr int32_t kDefaultDegradationChecks = 10;
// A window is kept per host; this bounds its memory for a thousand hosts.
inline constexpr int32_t kMaxDegradationChecks = 1000;
// A degraded host recovers only when every figure it is judged by is below
// this share of its threshold, so that a host hovering at the threshold
// does not raise an alarm at every other check.
inline constexpr int32_t kRecoveryPercent = 80;

// When a host that answers counts as degraded: an average reply time above
// `latencyMs`, or a loss above `lossPercent`, over its latest `checks` echo
// requests. A threshold of 0 is off.
struct DegradationLimits {
  int32_t latencyMs = 0;
  int32_t lossPercent = 0;
  int32_t checks = kDefaultDegradationChecks;

  bool Active() const { return latencyMs > 0 || lossPercent > 0; }
  // `checks` within 1..kMaxDegradationChecks, negative thresholds off.
  DegradationLimits Sane() const;
};

// What a user may set: thresholds of 0 or more, a loss of at most 100 %,
// 1..kMaxDegradationChecks requests.
bool DegradationLimitsValid(const DegradationLimits& limits);

enum class DegradationChange {
  None,
  Degraded,   // the figures passed a threshold
  Recovered,  // every figure fell below its recovery mark
  Dropped,    // judging was switched off while the host was degraded
};

// The figures of the window as it stands.
struct DegradationFigures {
  int32_t requests = 0;
  int32_t lost = 0;
  std::optional<double> averageMs;  // none without a reply in the window
  double LossPercent() const { return requests == 0 ? 0.0 : 100.0 * lost / requests; }
};

// Judges one host's latest echo results against its limits, with hysteresis.
// A host that is down is not judged: its outage is the loss alarm's matter,
// and it stays as it was judged before until it answers again.
// Only the request that found the host down counts towards its loss, so a
// long outage does not leave a window full of losses behind it, while a host
// that loses every third echo (and is down for a moment each time) does add
// up to a degraded one. Judging starts once the window holds `checks`
// results: an average over fewer than asked for is noisier than the user
// chose. Not thread-safe: one host's results come one at a time.
class DegradationJudge {
 public:
  // One echo result: a reply taking `rttUs`, or no reply; `downBefore`: the
  // host was down before this result. A change comes only with a reply.
  DegradationChange Judge(const DegradationLimits& limits, std::optional<uint32_t> rttUs,
                          bool downBefore);

  bool Degraded() const { return degraded_; }
  DegradationFigures Figures() const;

 private:
  DegradationChange Decide(const DegradationLimits& limits);

  std::deque<std::optional<uint32_t>> window_;  // newest last; a lost request is empty
  bool degraded_ = false;
};

}  // namespace sentrel
