#include <gtest/gtest.h>

#include "fakes/test_files.h"
#include "history/history_reader.h"
#include "history/history_text.h"
#include "history/minute_aggregator.h"
#include "history/period_figures.h"
#include "history_test_util.h"

namespace sentrel {
namespace {

using namespace testing;

const HistoryHost kHost{"10.0.0.1", "router"};

// Requests of three minutes and what they give, worked out by hand.
//   minute 0: replies 10, 14, a failure, reply 11
//   minute 1: reply 20
//   minute 2: a failure only
// Jitter pairs each reply with the previous one, across minutes too:
//   |14-10| = 4 and |11-14| = 3 in minute 0, |20-11| = 9 in minute 1.
void RecordThreeMinutes(MinuteAggregator& minutes, int64_t base) {
  minutes.Add(kHost, base + 1, true, 10);
  minutes.Add(kHost, base + 15, true, 14);
  minutes.Add(kHost, base + 30, false, 0);
  minutes.Add(kHost, base + 45, true, 11);
  minutes.Add(kHost, base + 60, true, 20);
  minutes.Add(kHost, base + 125, false, 0);
}

TEST(AggregationTest, MinutesCountLossRoundTripsAndJitter) {
  MinuteAggregator minutes;
  const int64_t base = At(0);
  RecordThreeMinutes(minutes, base);
  const int64_t first = MinuteOfSecond(base);
  const std::vector<MinuteRow> done = minutes.Take(first + 2, false);
  ASSERT_EQ(done.size(), 2u) << "the third minute is still open";
  const TrafficStats& m0 = done[0].stats;
  EXPECT_EQ(done[0].minute, first);
  EXPECT_EQ(m0.sent, 4);
  EXPECT_EQ(m0.received, 3);
  EXPECT_EQ(m0.rttMin, 10);
  EXPECT_EQ(m0.rttMax, 14);
  EXPECT_DOUBLE_EQ(*m0.AverageRtt(), 35.0 / 3);
  EXPECT_DOUBLE_EQ(*m0.LossPercent(), 25.0);
  EXPECT_DOUBLE_EQ(*m0.Jitter(), 3.5);
  EXPECT_EQ(m0.lostMinutes, 0);
  const TrafficStats& m1 = done[1].stats;
  EXPECT_EQ(m1.sent, 1);
  EXPECT_DOUBLE_EQ(*m1.Jitter(), 9.0) << "paired with the last reply of the minute before";

  const std::vector<MinuteRow> last = minutes.Take(first + 2, true);
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].stats.lostMinutes, 1);
  EXPECT_FALSE(last[0].stats.AverageRtt());
  EXPECT_FALSE(last[0].stats.Jitter());
  EXPECT_TRUE(minutes.Take(first + 100, true).empty()) << "each minute leaves once";
}

// Through the store: the stored minutes, their roll-up into the hour row,
// and the figures of the period.
TEST(AggregationTest, HourRowIsTheRollUpOfItsMinutes) {
  TempDir dir;
  FakeClock clock(kStart);
  const std::string path = HistoryStore::PathIn(dir.Path());
  {
    HistoryStoreSettings settings;
    settings.path = path;
    HistoryStore store(settings, clock);
    HostResults host(store, kHost);
    host.Reply(0, 10);
    host.Reply(15, 14);
    host.Fail(30, false);
    host.Reply(45, 11);
    host.Reply(60, 20);
    host.Fail(125, false);
    host.Reply(3000, 40);  // minute 50: jitter |40-20| = 20
    store.Flush();
    clock.Set(When(3600 + 180));  // the hour is over, with the grace
    store.Flush();
  }
  HistoryReader reader;
  ASSERT_TRUE(reader.Open(path));
  const auto id = reader.FindHost(kHost);
  ASSERT_TRUE(id);
  const int64_t from = MinuteOfSecond(At(0));

  const std::vector<Bucket> minutes = reader.Buckets(*id, from, from + 60, 1);
  ASSERT_EQ(minutes.size(), 4u);
  TrafficStats sum;
  for (const Bucket& b : minutes) sum.Merge(b.stats);

  const std::vector<Bucket> hours = reader.Buckets(*id, from, from + 60, 60);
  ASSERT_EQ(hours.size(), 1u);
  const TrafficStats& hour = hours[0].stats;
  EXPECT_EQ(hours[0].spanMinutes, 60);
  EXPECT_EQ(hour.sent, 7);
  EXPECT_EQ(hour.received, 5);
  // Stored in microseconds: the results came in whole milliseconds.
  EXPECT_EQ(hour.rttMin, 10'000);
  EXPECT_EQ(hour.rttMax, 40'000);
  EXPECT_EQ(hour.rttSum, 95'000);
  EXPECT_EQ(hour.jitterSum, 36'000);
  EXPECT_EQ(hour.jitterCount, 4);
  EXPECT_EQ(hour.minutes, 4);
  EXPECT_EQ(hour.lostMinutes, 1);
  for (auto field : {&TrafficStats::sent, &TrafficStats::received, &TrafficStats::rttSum,
                     &TrafficStats::jitterSum, &TrafficStats::jitterCount, &TrafficStats::minutes,
                     &TrafficStats::lostMinutes}) {
    EXPECT_EQ(hour.*field, sum.*field);
  }

  const PeriodFigures figures = FiguresOf(hours, {}, {}, from * 60, (from + 60) * 60);
  EXPECT_NEAR(*figures.traffic.LossPercent(), 200.0 / 7, 1e-9);
  EXPECT_DOUBLE_EQ(*figures.traffic.AverageRttMs(), 19.0);
  EXPECT_DOUBLE_EQ(*figures.traffic.JitterMs(), 9.0);
  EXPECT_DOUBLE_EQ(*figures.availability, 75.0) << "one of four monitored minutes had no reply";
  EXPECT_EQ(figures.outages, 0);
}

// Availability and loss come from the same monitored minutes; the time
// before the host was first checked and a pause of the checks count for
// neither, and nothing is counted beyond now.
TEST(AggregationTest, FiguresComeFromTheMonitoredMinutesUpToNow) {
  // Checked 10:00-10:04 and again from 10:30 (a minute row each, never a
  // reply); now is 10:31:15, the period began at 09:00.
  std::vector<Bucket> rows;
  for (const int64_t minute : {0, 1, 2, 3, 30, 31}) {
    Bucket row{MinuteOfSecond(At(0)) + minute, 1, {}};
    row.stats.AddRequest(false, 0);
    row.stats.CountAsMinute();
    rows.push_back(row);
  }
  const int64_t now = At(31 * 60 + 15);
  const auto monitored = MonitoredStretches(rows, At(-3600), now);
  EXPECT_EQ(monitored, (std::vector<TimeStretch>{{At(0), At(3 * 60 + kWatchedGapSeconds)},
                                                 {At(30 * 60), now}}));
  EXPECT_EQ(Gaps(monitored, At(-3600), now),
            (std::vector<TimeStretch>{{At(-3600), At(0)}, {At(18 * 60), At(30 * 60)}}));
  OutageRow outage;  // lost at 10:00:20, still open
  outage.start = At(20);
  outage.knownUntil = At(32 * 60);  // the end of the last minute: after now
  const PeriodFigures figures = FiguresOf(rows, {outage}, monitored, At(-3600), now);
  EXPECT_DOUBLE_EQ(*figures.availability, 0.0);
  EXPECT_DOUBLE_EQ(*figures.traffic.LossPercent(), 100.0);
  EXPECT_EQ(figures.outageSeconds, now - At(20));
  EXPECT_EQ(figures.monitoredSeconds, 18 * 60 + 75);
  EXPECT_EQ(figures.unmonitoredSeconds, 3600 + 12 * 60);
  EXPECT_FALSE(FiguresOf({}, {}, {}, At(0), now).availability) << "nothing monitored";
}

TEST(AggregationTest, AnOpenOutageGoesOnOnlyWhileItsHostIsChecked) {
  OutageRow outage;
  outage.start = At(0);
  outage.knownUntil = At(3600);
  EXPECT_EQ(OutageEndText(outage, At(3600 + 600)), "going on");
  EXPECT_EQ(OutageEndText(outage, At(2 * 3600)), "no checks since 2026-03-02 11:00:00");
  // A window's own words; a translation may leave the time out.
  EXPECT_EQ(OutageEndText(outage, At(3600), {"dauert an", "seit %1 ungeprüft"}), "dauert an");
  EXPECT_EQ(OutageEndText(outage, At(2 * 3600), {"dauert an", "seit %1 ungeprüft"}),
            "seit 2026-03-02 11:00:00 ungeprüft");
  EXPECT_EQ(OutageEndText(outage, At(2 * 3600), {"", "ungeprüft"}), "ungeprüft");
  EXPECT_EQ(outage.EffectiveEnd() - outage.start, 3600);
  outage.end = At(5400);
  EXPECT_EQ(OutageEndText(outage, At(99999)), "2026-03-02 11:30:00");
}

}  // namespace
}  // namespace sentrel
