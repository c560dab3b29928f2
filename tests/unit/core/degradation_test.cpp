#include "core/degradation.h"

#include <gtest/gtest.h>

#include <vector>

namespace sentrel {
namespace {

using Change = DegradationChange;
constexpr auto kNone = Change::None;
constexpr auto kDegraded = Change::Degraded;
constexpr auto kRecovered = Change::Recovered;

// Feeds replies of the given milliseconds (negative: a lost request of a host
// that stays up) and returns the changes that came of them.
std::vector<Change> Feed(DegradationJudge& judge, const DegradationLimits& limits,
                         const std::vector<int>& results) {
  std::vector<Change> changes;
  for (const int ms : results) {
    const auto rtt = ms < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(ms) * 1000);
    const Change change = judge.Judge(limits, rtt, false);
    if (change != kNone) changes.push_back(change);
  }
  return changes;
}

TEST(DegradationJudgeTest, LatencyHysteresisRaisesEachChangeOnce) {
  const DegradationLimits limits{100, 0, 4};
  DegradationJudge judge;
  // Three slow replies do not fill the window of four: nothing is judged yet.
  EXPECT_TRUE(Feed(judge, limits, {300, 300, 300}).empty());
  EXPECT_EQ(Feed(judge, limits, {300}), std::vector{kDegraded});
  // Flapping between just under the threshold and over it: the average
  // stays above 80 ms, so nothing more.
  EXPECT_TRUE(Feed(judge, limits, {90, 120, 85, 110, 95, 101, 99, 90}).empty());
  EXPECT_TRUE(judge.Degraded());
  // An average of exactly 80 ms is not below the mark; 79 ms is.
  EXPECT_TRUE(Feed(judge, limits, {80, 80, 80, 80}).empty());
  EXPECT_EQ(Feed(judge, limits, {79}), std::vector{kRecovered});
  // Exactly at the threshold is not above it.
  EXPECT_TRUE(Feed(judge, limits, {100, 100, 100, 100, 100}).empty());
  EXPECT_EQ(Feed(judge, limits, {104}), std::vector{kDegraded});
}

TEST(DegradationJudgeTest, LossCountsLostRequestsOfAnAnsweringHost) {
  const DegradationLimits limits{0, 20, 10};
  DegradationJudge judge;
  // Every third request lost: 33 % of the latest ten, judged at a reply.
  EXPECT_EQ(Feed(judge, limits, {5, 5, -1, 5, 5, -1, 5, 5, -1, 5}), std::vector{kDegraded});
  const DegradationFigures figures = judge.Figures();
  EXPECT_EQ(figures.requests, 10);
  EXPECT_EQ(figures.lost, 3);
  ASSERT_TRUE(figures.averageMs);
  EXPECT_DOUBLE_EQ(*figures.averageMs, 5.0);
  // One lost in ten is 10 %, under 16 %: recovered once the older losses left.
  EXPECT_EQ(Feed(judge, limits, {5, 5, 5, 5, 5, 5, 5, 5, -1, 5}), std::vector{kRecovered});
}

TEST(DegradationJudgeTest, DownHostIsNotJudgedAndItsOutageCountsOnce) {
  const DegradationLimits limits{0, 25, 4};
  DegradationJudge judge;
  Feed(judge, limits, {5, 5, 5, 5});
  // The request that finds the host down counts; the outage's later
  // failures do not, and no change comes while it is down.
  EXPECT_EQ(judge.Judge(limits, std::nullopt, false), kNone);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(judge.Judge(limits, std::nullopt, true), kNone);
  EXPECT_EQ(judge.Figures().lost, 1);
  // Back: one loss in four is 25 %, not above the threshold.
  EXPECT_EQ(judge.Judge(limits, 5000, true), kNone);
  EXPECT_FALSE(judge.Degraded());

  // A degraded host stays so through an outage: no second alarm after it.
  const DegradationLimits slow{50, 0, 2};
  DegradationJudge other;
  EXPECT_EQ(Feed(other, slow, {200, 200}), std::vector{kDegraded});
  other.Judge(slow, std::nullopt, false);
  other.Judge(slow, std::nullopt, true);
  EXPECT_TRUE(other.Degraded());
  EXPECT_TRUE(Feed(other, slow, {200}).empty());
  EXPECT_EQ(Feed(other, slow, {10, 10}), std::vector{kRecovered});
}

TEST(DegradationJudgeTest, LimitsOffOrOutOfRange) {
  DegradationJudge judge;
  EXPECT_TRUE(Feed(judge, {0, 0, 1}, {10'000, -1, 10'000}).empty());
  EXPECT_EQ(judge.Figures().requests, 0);
  // A window of 0 or less judges the latest request alone.
  EXPECT_EQ(Feed(judge, {100, 0, -5}, {500}), std::vector{kDegraded});
  // Switched off while degraded: dropped, without a recovery.
  EXPECT_EQ(judge.Judge({0, 0, 10}, 500'000, false), Change::Dropped);
  EXPECT_FALSE(judge.Degraded());
  // A window larger than allowed is cut to the bound.
  EXPECT_EQ((DegradationLimits{-3, -1, 1'000'000}.Sane().checks), kMaxDegradationChecks);
  EXPECT_FALSE((DegradationLimits{-3, -1, 5}.Sane().Active()));
}

}  // namespace
}  // namespace sentrel
