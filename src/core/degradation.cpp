#include "core/degradation.h"

#include <algorithm>

namespace sentrel {

DegradationLimits DegradationLimits::Sane() const {
  DegradationLimits sane;
  sane.latencyMs = std::max(latencyMs, 0);
  sane.lossPercent = std::max(lossPercent, 0);
  sane.checks = std::clamp(checks, 1, kMaxDegradationChecks);
  return sane;
}

bool DegradationLimitsValid(const DegradationLimits& limits) {
  return limits.latencyMs >= 0 && limits.lossPercent >= 0 && limits.lossPercent <= 100 &&
         limits.checks >= 1 && limits.checks <= kMaxDegradationChecks;
}

DegradationChange DegradationJudge::Judge(const DegradationLimits& given,
                                          std::optional<uint32_t> rttUs, bool downBefore) {
  const DegradationLimits limits = given.Sane();
  if (!limits.Active()) {
    window_.clear();
    if (!degraded_) return DegradationChange::None;
    degraded_ = false;
    return DegradationChange::Dropped;
  }
  // The failures of an outage after the one that found it say nothing new.
  if (!(downBefore && !rttUs)) window_.push_back(rttUs);
  while (window_.size() > static_cast<std::size_t>(limits.checks)) window_.pop_front();
  // Judged at replies only: the failures that start an outage would else
  // call the host degraded a moment before it is found down.
  if (!rttUs) return DegradationChange::None;
  return Decide(limits);
}

DegradationChange DegradationJudge::Decide(const DegradationLimits& limits) {
  if (window_.size() < static_cast<std::size_t>(limits.checks)) return DegradationChange::None;
  int64_t lost = 0;
  int64_t replies = 0;
  int64_t sumUs = 0;
  for (const auto& result : window_) {
    if (!result) {
      ++lost;
      continue;
    }
    ++replies;
    sumUs += *result;
  }
  const auto requests = static_cast<int64_t>(window_.size());
  // Integer comparisons: the average and the loss share are never rounded.
  const int64_t latencyUs = int64_t{limits.latencyMs} * 1000;
  const bool slow = limits.latencyMs > 0 && replies > 0 && sumUs > latencyUs * replies;
  const bool lossy = limits.lossPercent > 0 && lost * 100 > int64_t{limits.lossPercent} * requests;
  if (!degraded_) {
    if (!slow && !lossy) return DegradationChange::None;
    degraded_ = true;
    return DegradationChange::Degraded;
  }
  // Without a reply the window tells nothing about the reply time: it
  // cannot count as fast again.
  const bool fastAgain =
      limits.latencyMs == 0 || (replies > 0 && sumUs * 100 < latencyUs * kRecoveryPercent * replies);
  const bool whole = limits.lossPercent == 0 ||
                     lost * 100 * 100 < int64_t{limits.lossPercent} * kRecoveryPercent * requests;
  if (!fastAgain || !whole) return DegradationChange::None;
  degraded_ = false;
  return DegradationChange::Recovered;
}

DegradationFigures DegradationJudge::Figures() const {
  DegradationFigures figures;
  int64_t sumUs = 0;
  int32_t replies = 0;
  for (const auto& result : window_) {
    ++figures.requests;
    if (!result) {
      ++figures.lost;
      continue;
    }
    ++replies;
    sumUs += *result;
  }
  if (replies > 0) figures.averageMs = static_cast<double>(sumUs) / 1000.0 / replies;
  return figures;
}

}  // namespace sentrel
