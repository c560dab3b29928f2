#include "core/echo_result.h"

#include <gtest/gtest.h>

#include <tuple>

#include "engine_test_env.h"

namespace sentrel {
namespace {

using testing::EngineEnv;

const IpAddress kAddress = IpAddress::V4(0x0500000A);  // 10.0.0.5
constexpr const char* kReplyLine = "05.12.2026 14:03:07 10.0.0.5 (mail server) is online (12ms).\r\n";
constexpr const char* kFailLine = "05.12.2026 14:03:07 10.0.0.5 (mail server) is failed.\r\n";

// One host whose renewal alarm shows a box captioned "R" and whose loss
// alarm shows one captioned "L", both after one result in the new state.
class EchoResultTest : public ::testing::Test {
 protected:
  EchoResultTest() : services(env.Services()) {
    host.HostName.Set("mail server");
    host.HostIP.Set("10.0.0.5");
    for (auto [set, caption] : {std::pair{&host.OnRenewal, "R"}, std::pair{&host.OnLoss, "L"}}) {
      set->Alarm = true;
      set->ShowBox = true;
      set->Subject.Set(caption);
    }
  }

  void Reply(uint32_t rtt = 12) { OnEchoResult(host, services, 0, kAddress, rtt, "mail server"); }
  void Fail(uint32_t status = kIpRequestTimedOut) {
    OnEchoResult(host, services, status, kAddress, 0, "mail server");
  }
  // A check as the worker runs it: requests until a reply or Retries failures.
  void Check(int failuresBeforeReply, uint32_t status = kIpRequestTimedOut) {
    for (int i = 0; i < failuresBeforeReply && host.FailCount < host.Retries; ++i) Fail(status);
    if (host.FailCount == 0 || host.FailCount < host.Retries) Reply();
    host.FailCount = 0;
  }
  void CheckDown(uint32_t status = kIpRequestTimedOut) { Check(1 << 20, status); }
  std::size_t Renewals() const { return env.BoxesCaptioned("R").size(); }
  std::size_t Losses() const { return env.BoxesCaptioned("L").size(); }

  EngineEnv env;
  MonitorServices services;
  HostEntry host;
};

TEST_F(EchoResultTest, StatusLinesCarryDateTimeAddressAndName) {
  Reply(12);
  EXPECT_EQ(host.StatusStr.Get(), kReplyLine);
  Fail();
  EXPECT_EQ(host.StatusStr.Get(), kFailLine);
  EXPECT_EQ(host.LastCheck.load(), env.clock.Now());
}

TEST_F(EchoResultTest, AverageIsARunningFigureThatRestartsAfterAFailedCheck) {
  Reply(10);
  EXPECT_EQ(host.AvgTime, 10);
  Reply(10);
  EXPECT_EQ(host.AvgTime, 10);
  Reply(10);
  EXPECT_EQ(host.AvgTime, 6);
  EXPECT_EQ(host.ReplyCount, 3);
  Fail();
  EXPECT_EQ(host.AvgTime, -1);
  EXPECT_EQ(host.LastReplyTime, -1);
  EXPECT_EQ(host.ReplyCount, 0);
  Reply(10);
  EXPECT_EQ(host.AvgTime, 9);
  EXPECT_EQ(host.LastReplyTime, 10);
  EXPECT_EQ(host.LastRtt, 10);
}

TEST_F(EchoResultTest, EndpointFiguresKeepMicrosecondsAndTheTimeOfTheLastChange) {
  OnEchoResult(host, services, 0, kAddress, 0, "mail server", EchoDetail{213, 64});
  EXPECT_EQ(host.LastReplyTime, 0);  // the list and the log keep whole ms
  EXPECT_EQ(host.Counters.LastRttUs, 213);
  EXPECT_EQ(host.Counters.LastReplyTtl, 64);
  EXPECT_EQ(host.Counters.RttSumUs, 213u);
  EXPECT_EQ(host.Counters.DecidedUp, 1);
  const int64_t upSince = host.Counters.DecidedSinceUnixMs;
  EXPECT_GT(upSince, 0);
  Reply(12);  // a probe without microseconds: its milliseconds count
  EXPECT_EQ(host.Counters.RttSumUs, 12'213u);
  EXPECT_EQ(host.Counters.DecidedSinceUnixMs, upSince);

  host.Retries = 2;
  Fail();  // not yet a loss: the host is still up
  EXPECT_EQ(host.Counters.DecidedUp, 1);
  Fail();
  EXPECT_EQ(host.Counters.DecidedUp, 0);
  host.Counters.DecidedSinceUnixMs = 1;
  host.FailCount = 0;
  Fail(kIpDestHostUnreachable);
  Fail(kIpDestHostUnreachable);  // another code, the same outage
  EXPECT_EQ(host.Counters.DecidedSinceUnixMs, 1);
}

TEST_F(EchoResultTest, WithRetriesOnlyTheLastFailureOfACheckChangesState) {
  host.Retries = 3;
  Check(0);
  ASSERT_EQ(host.State, 0);
  EXPECT_EQ(Renewals(), 1u) << "the first reply after the start is a change";
  Check(0);
  EXPECT_EQ(Renewals(), 1u);

  Fail();
  Fail();
  EXPECT_EQ(host.State, 0);
  EXPECT_EQ(host.FailCount, 2);
  EXPECT_EQ(Losses(), 0u);
  Fail();
  EXPECT_EQ(host.State, static_cast<int32_t>(kIpRequestTimedOut));
  EXPECT_EQ(host.PrevState, 0);
  EXPECT_EQ(Losses(), 1u);
  host.FailCount = 0;
}

TEST_F(EchoResultTest, EachChangeFiresItsAlarmOnceWhateverTheRetries) {
  host.Retries = 3;
  Check(0);
  CheckDown();
  CheckDown();
  CheckDown();
  EXPECT_EQ(Losses(), 1u) << "a host that stays down is reported once";
  Check(0);
  Check(1);
  Check(2);
  EXPECT_EQ(Renewals(), 2u) << "failed requests inside answered checks are no renewal";
  EXPECT_EQ(host.OnRenewal.RepeatCounter, 2) << "rests at RepeatCount + 1";
}

TEST_F(EchoResultTest, LossRepeatCountNeedsThatManyFailedChecksInARow) {
  host.OnLoss.RepeatCount = 3;
  host.Retries = 2;
  Check(0);
  CheckDown();
  CheckDown();
  EXPECT_EQ(Losses(), 0u);
  CheckDown();
  EXPECT_EQ(Losses(), 1u);
  CheckDown();
  CheckDown();
  EXPECT_EQ(Losses(), 1u);
}

// A router that rate-limits its errors: a dead host alternates between
// "unreachable" and "timed out". Each change is logged, but the outage is
// one, and so is its loss alarm; only a reply ends it.
TEST_F(EchoResultTest, ChangingFailureCodesAreOneOutageWithOneLossAlarm) {
  host.OnLoss.RepeatCount = 2;
  CheckDown(kIpRequestTimedOut);
  CheckDown(kIpDestHostUnreachable);
  EXPECT_EQ(Losses(), 1u);
  for (int i = 0; i < 6; ++i) CheckDown(i % 2 ? kIpDestHostUnreachable : kIpRequestTimedOut);
  EXPECT_EQ(Losses(), 1u);
  EXPECT_EQ(env.pane.Count(), 8u) << "every change of code is logged";
  EXPECT_EQ(host.State, static_cast<int32_t>(kIpDestHostUnreachable));
  EXPECT_EQ(host.PrevState, static_cast<int32_t>(kIpRequestTimedOut));
  Check(0);
  CheckDown(kIpDestHostUnreachable);
  CheckDown(kIpRequestTimedOut);
  EXPECT_EQ(Losses(), 2u) << "a reply ended the first outage";
}

// The judge's changes reach the log and the row; an outage shows as the
// outage and leaves the degradation as it was.
TEST_F(EchoResultTest, DegradationIsLoggedOnceAndShownWhileTheHostAnswers) {
  host.DegradedLatency = 100;
  host.DegradedChecks = 2;
  auto degradationLines = [this] {
    std::vector<std::string> lines;
    for (const std::string& text : env.pane.Texts()) {
      if (text.find("degraded") != std::string::npos) lines.push_back(text);
    }
    return lines;
  };
  host.WasChecked = true;
  for (int i = 0; i < 4; ++i) Reply(300);
  ASSERT_EQ(degradationLines(),
            std::vector<std::string>{"05.12.2026 14:03:07 10.0.0.5 (mail server) is degraded: "
                                     "average 300 ms, loss 0% of the latest 2 requests.\r\n"});
  RowView row = ViewOfRow(host, true);
  EXPECT_EQ(row.image, kDegradedRowImage);
  EXPECT_TRUE(row.degraded);
  EXPECT_EQ(row.lastTime, "300");

  CheckDown();
  EXPECT_EQ(ViewOfRow(host, true).image, 5) << "a host that is down is not degraded";
  Reply(300);
  EXPECT_EQ(ViewOfRow(host, true).image, kDegradedRowImage);
  Reply(10);
  Reply(10);
  EXPECT_EQ(degradationLines().size(), 2u);
  EXPECT_EQ(degradationLines().back(), "05.12.2026 14:03:07 10.0.0.5 (mail server) is no longer "
                                       "degraded: average 10 ms, loss 0% of the latest 2 requests.\r\n");
  EXPECT_EQ(ViewOfRow(host, true).image, 1);
}

TEST_F(EchoResultTest, RepeatCountZeroNeverFires) {
  host.OnRenewal.RepeatCount = 0;
  host.OnLoss.RepeatCount = 0;
  Check(0);
  CheckDown();
  Check(0);
  EXPECT_EQ(Renewals() + Losses(), 0u);
}

TEST_F(EchoResultTest, RetriesZeroNeverDecidesALoss) {
  host.Retries = 0;
  Reply();
  const auto lines = env.pane.Count();
  for (int i = 0; i < 5; ++i) Fail();
  EXPECT_EQ(host.State, 0);
  EXPECT_EQ(host.FailCount, 5);
  EXPECT_EQ(Losses(), 0u);
  EXPECT_EQ(env.pane.Count(), lines) << "LogDetail 1 logs no undecided failure";
}

TEST_F(EchoResultTest, NextCheckFollowsEveryResult) {
  host.CheckEvery = kCheckEveryDay;
  host.Times = uint64_t{1} << 35;  // 17:30
  Reply();
  EXPECT_EQ(host.NextCheck.load(), EncodeDateTime({2026, 12, 5, 17, 30, 0, 0}));
}

// A history that answers the placeholders from what it was given, so that
// an alarm's text shows how many results had reached it.
class CountingHistory final : public ResultRecorder, public HistoryFigures {
 public:
  void Record(const ResultRecord& result) override { records.push_back(result); }
  void RecordTrace(const HistoryHost& host, DateTime, const std::string& text) override {
    traces.push_back(host.name + ":" + text.substr(0, text.find('\r')));
  }
  std::optional<double> LossLastHour(const HistoryHost&, DateTime) const override {
    double failed = 0;
    for (const auto& r : records) failed += r.status != 0 ? 1 : 0;
    return 100.0 * failed / static_cast<double>(records.size());
  }
  std::optional<double> LatestOutageSeconds(const HistoryHost&, DateTime) const override {
    return static_cast<double>(records.size());
  }
  std::vector<ResultRecord> records;
  std::vector<std::string> traces;
};

TEST_F(EchoResultTest, EveryResultReachesTheHistoryBeforeItsAlarm) {
  CountingHistory history;
  services.recorder = &history;
  services.figures = &history;
  host.Retries = 2;
  host.OnLoss.MesBody.Set("down after %Outage%, %Loss% lost");
  host.OnLoss.RunTraceRoute = true;
  Reply(12);
  Fail();
  Fail(kIpDestHostUnreachable);

  ASSERT_EQ(history.records.size(), 3u);
  const HistoryHost who{"10.0.0.5", "mail server"};
  const auto& [reply, early, lost] =
      std::tie(history.records[0], history.records[1], history.records[2]);
  EXPECT_EQ(reply.host, who);
  EXPECT_EQ(reply.when, env.clock.Now());
  EXPECT_EQ(reply.rtt, 12u);
  EXPECT_TRUE(reply.decides);
  EXPECT_EQ(reply.prevState, -1) << "the first result since the checks started";
  EXPECT_FALSE(early.decides) << "Retries 2: the first failure only counts as a request";
  EXPECT_TRUE(lost.decides);
  EXPECT_EQ(lost.state, static_cast<int32_t>(kIpDestHostUnreachable));
  EXPECT_EQ(lost.prevState, 0);
  EXPECT_EQ(history.traces, std::vector<std::string>{"mail server:=== Trace mail server ==="});
  EXPECT_EQ(env.BoxesCaptioned("L"),
            std::vector<std::string>{"box:L:down after 0:00:03, 66.7% lost"});
}

// LogDetail, Retries, failures before the reply in each check (a large
// number: the check fails), checks, expected log lines.
using LogCase = std::tuple<int, int, int, int, std::vector<std::string>>;

class LogLevelTest : public EchoResultTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogLevelTest, WritesTheLinesOfItsLevel) {
  const auto& [detail, retries, failures, checks, expected] = GetParam();
  env.options.LogDetail = detail;
  host.Retries = retries;
  for (int i = 0; i < checks; ++i) Check(failures);
  EXPECT_EQ(env.pane.Texts(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LogLevelTest,
    ::testing::Values(LogCase{2, 3, 2, 1, {kReplyLine}}, LogCase{2, 3, 9, 1, {kFailLine}},
                      LogCase{1, 1, 0, 4, {kReplyLine}}, LogCase{1, 2, 9, 3, {kFailLine}},
                      LogCase{0, 1, 9, 2, {}}, LogCase{2, 1, 0, 2, {kReplyLine, kReplyLine}}),
    [](const ::testing::TestParamInfo<LogCase>& param) { return "Case" + std::to_string(param.index); });

TEST(Light, PicksTheFirstBoundNotExceeded) {
  HostEntry host;
  for (auto [rtt, light] : {std::pair{0, 1}, {1250, 1}, {1300, 2}, {1667, 3}, {5000, 4}, {6000, 1}}) {
    host.LastRtt = rtt;
    EXPECT_EQ(Light(host), light) << rtt;
  }
}

TEST(RowViewOf, ShowsFiguresOnlyForCheckedTickedHosts) {
  HostEntry host;
  host.State = 0;
  host.AvgTime = 7;
  host.LastReplyTime = 9;
  host.LastRtt = 9;
  EXPECT_EQ(ViewOfRow(host, true).image, 0) << "never checked";
  EXPECT_FALSE(ViewOfRow(host, true).avgTime);
  host.WasChecked = true;
  EXPECT_EQ(ViewOfRow(host, false).image, 0) << "box not ticked";

  RowView up = ViewOfRow(host, true);
  EXPECT_EQ(up.image, 1);
  EXPECT_EQ(up.avgTime, "7");
  EXPECT_EQ(up.lastTime, "9");
  EXPECT_FALSE(up.caption);

  for (int32_t state : {-1, 11010}) {
    host.State = state;
    RowView lost = ViewOfRow(host, true);
    EXPECT_EQ(lost.image, 5);
    EXPECT_EQ(lost.avgTime, "Lost");
    EXPECT_EQ(lost.lastTime, "Lost");
  }
  host.PingByIP = false;
  host.HostIP.Set("??.??.??");
  EXPECT_EQ(ViewOfRow(host, true).caption, "??.??.??");
}

}  // namespace
}  // namespace sentrel
