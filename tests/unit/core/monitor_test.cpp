#include "core/monitor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "core/host_worker.h"
#include "engine_test_env.h"
#include "fakes/test_files.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::EngineEnv;
using testing::ScriptedEchoLibrary;

// Cycles of 5 waits of 2 ms per PingInterval second.
constexpr WorkerTiming kFastCycles{2ms, 2ms, 5};

ScriptedEchoLibrary::Rule Down(std::chrono::milliseconds delay = {}) {
  return [delay](uint32_t, const IcmpEchoOptions&) {
    return ScriptedEchoLibrary::Answer{std::nullopt, delay};
  };
}

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() {
    folder = std::filesystem::path(::testing::TempDir()) /
             ("sentrel-monitor-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    env.options.PathToData = folder.string();
  }
  ~MonitorTest() override {
    monitor.reset();
    std::filesystem::remove_all(folder);
  }

  Monitor& Make(WorkerTiming timing = kFastCycles) {
    monitor = std::make_unique<Monitor>(env.Services(timing));
    return *monitor;
  }
  // Appends an enabled Always host named `name` that pings 127.0.0.1 once a "second".
  std::size_t AddHost(const std::string& name, bool enabled = true) {
    auto host = monitor->Hosts().CreateHostFromDefault();
    host->HostName.Set(name);
    host->PingInterval = 1;
    host->Enabled = enabled;
    return *monitor->Hosts().AppendHost(std::move(host));
  }
  // Serves the window thread until `done` or the bound.
  bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      env.ui.RunFor(5ms);
    }
    return true;
  }

  EngineEnv env;
  std::filesystem::path folder;
  std::unique_ptr<Monitor> monitor;
};

TEST_F(MonitorTest, ANewEnabledHostIsCheckedAtOnceAndItsLineReachesTheLog) {
  Monitor& m = Make(WorkerTiming{60'000ms, 60'000ms, 99});
  m.Hosts().SetRowChecked(AddHost("web1"), true);
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] { return env.pane.Count() >= 1; }));
  EXPECT_EQ(env.pane.Texts()[0], "05.12.2026 14:03:07 127.0.0.1 (web1) is online (1ms).\r\n");
  EXPECT_TRUE(m.Hosts().Host(0).WasChecked);
  EXPECT_FALSE(m.Hosts().Modified()) << "SetPinging saves a modified list";
  EXPECT_TRUE(std::filesystem::exists(folder / "sentrel.xml"));
}

TEST_F(MonitorTest, StoppingAndStartingAgainFiresTheRenewalAlarmAgain) {
  Monitor& m = Make();
  HostEntry& host = m.Hosts().Host(AddHost("web1"));
  host.OnRenewal.Alarm = true;
  host.OnRenewal.ShowBox = true;
  host.OnRenewal.Subject.Set("R");
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] { return env.BoxesCaptioned("R").size() == 1; }));
  m.SetPinging(false);
  EXPECT_EQ(host.State, -1);
  EXPECT_EQ(host.PrevState, -1);
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] { return env.BoxesCaptioned("R").size() == 2; }));
  env.ui.RunFor(50ms);
  EXPECT_EQ(env.BoxesCaptioned("R").size(), 2u);
}

TEST_F(MonitorTest, TheRowCheckBoxPausesAndResumesItsWorkerAndSaves) {
  Monitor& m = Make();
  const std::size_t row = AddHost("web1");
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] { return env.library->RequestCount() >= 2; }));
  m.Hosts().SetRowChecked(row, false);
  EXPECT_FALSE(m.Hosts().Modified());
  ServeUntil([] { return false; }, 50ms);  // a check in progress finishes
  const long paused = env.library->RequestCount();
  ServeUntil([] { return false; }, 100ms);
  EXPECT_EQ(env.library->RequestCount(), paused);
  m.Hosts().SetRowChecked(row, true);
  EXPECT_TRUE(ServeUntil([&] { return env.library->RequestCount() > paused; }));
}

TEST_F(MonitorTest, PingNowUsesAProbeOfItsOwnAndLeavesTheScheduleAlone) {
  Monitor& m = Make();
  HostEntry& host = m.Hosts().Host(AddHost("web1"));
  host.PBS = 16;
  host.PTTL = 9;
  host.Retries = 2;
  host.TimeOut = 250;
  env.library->SetRule(Down());
  m.PingNow(0);
  const auto requests = env.library->Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.dataSize, 64u);
    EXPECT_EQ(r.options.Ttl, 255);
    EXPECT_EQ(r.timeoutMs, 250);
  }
  EXPECT_EQ(host.State, static_cast<int32_t>(kIpRequestTimedOut));
  EXPECT_EQ(host.FailCount, 0);
  EXPECT_FALSE(host.WasChecked);
  EXPECT_EQ(env.pane.Texts(),
            std::vector<std::string>{"05.12.2026 14:03:07 127.0.0.1 (web1) is failed.\r\n"});
  m.PingNow(7);  // no such row
  EXPECT_EQ(env.library->RequestCount(), 2);

  // The window thread serves its queue meanwhile; deleting the host there
  // ends the check before the host goes.
  env.library->SetRule([](uint32_t, const IcmpEchoOptions&) {
    return ScriptedEchoLibrary::Answer{std::nullopt, 10s};
  });
  host.TimeOut = 10000;
  env.ui.Post([&] { m.Hosts().DeleteHost(0); });
  const auto start = std::chrono::steady_clock::now();
  m.PingNow(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(m.Hosts().Count(), 0u);
}

TEST_F(MonitorTest, TraceNowShowsEachLineAsItComesAndRefusesASecondTraceOrPing) {
  Monitor& m = Make();
  AddHost("");
  std::string nested = "unset";
  std::vector<std::string> seen;
  const std::string text = m.TraceNow(0, [&](const std::string& line) {
    seen.push_back(line);
    EXPECT_TRUE(m.Tracing());
    if (nested == "unset") {
      nested = m.TraceNow(0);
      m.PingNow(0);
    }
  });
  EXPECT_FALSE(m.Tracing());
  EXPECT_EQ(nested, "");
  EXPECT_EQ(text.rfind("=== Trace 127.0.0.1 ===\r\n1. 1ms ", 0), 0u) << text;
  EXPECT_EQ(seen, env.pane.Texts());
  std::string shown;
  for (const std::string& line : seen) shown += line;
  EXPECT_EQ(shown, text);
  EXPECT_EQ(env.library->RequestCount(), 1) << "the ping was refused";
  EXPECT_TRUE(m.Hosts().Host(0).TraceText.Empty()) << "nothing left for a later alarm";
}

TEST_F(MonitorTest, StopTraceEndsTheTraceAfterTheRequestInFlight) {
  Monitor& m = Make();
  AddHost("");
  HostEntry& host = m.Hosts().Host(0);
  host.TraceTimeOut = 300;
  host.TraceTTL = 60;
  env.library->SetRule([](uint32_t, const IcmpEchoOptions&) {
    return ScriptedEchoLibrary::Answer{std::nullopt, 300ms};
  });
  // Escape once the first request is in flight.
  const auto stopInFlight = [&] {
    for (int i = 0; i < 200 && env.library->RequestCount() == 0; ++i) std::this_thread::sleep_for(5ms);
    m.StopTrace();
  };
  const auto start = std::chrono::steady_clock::now();
  m.TraceNow(0, [&](const std::string&) { env.ui.Post(stopInFlight); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(env.library->RequestCount(), 1);
}

// Exit during a trace to a silent host: the trace ends at once, and what it
// had found reaches the log file before the log closes.
TEST_F(MonitorTest, LeavingDuringATraceEndsItAndKeepsItsLinesInTheLogFile) {
  Monitor& m = Make();
  AddHost("");
  m.Hosts().Host(0).TraceTimeOut = 10000;
  env.library->SetRule([](uint32_t address, const IcmpEchoOptions& options) {
    if (options.Ttl == 1) return ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpTtlExpiredTransit, 1}, {}};
    return ScriptedEchoLibrary::Answer{std::nullopt, 10s};
  });
  ASSERT_TRUE(env.log.Open({folder.string(), 2, false, folder.string()}, env.desktop,
                           [](const std::string&) { return true; }));
  std::string shown;
  const auto start = std::chrono::steady_clock::now();
  m.TraceNow(0, [&](const std::string& line) {
    shown += line;
    if (line.rfind("1. ", 0) == 0) env.ui.Post([&] { m.Leave(); });
  });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  env.log.Close();
  EXPECT_EQ(shown.rfind("=== Trace 127.0.0.1 ===\r\n1. 1ms ", 0), 0u) << shown;
  EXPECT_EQ(testing::ReadFile(folder / "sentrel.log"), shown);
  EXPECT_EQ(m.TraceNow(0), "") << "no trace after leaving";
}

TEST_F(MonitorTest, StatusReportGoesOutOnItsSlotsByTheChosenChannel) {
  Monitor& m = Make();
  env.options.SendEvery = 1;
  env.options.DaysOfWeek = 1 << 1;  // Monday
  env.options.Times = uint64_t{1} << 16;  // 08:00
  env.options.StatAddress = "PC9";
  env.options.StatusBody = "OK";
  m.CheckStatusReport(EncodeDateTime({2026, 12, 7, 8, 0, 20, 0}));   // a Monday
  m.CheckStatusReport(EncodeDateTime({2026, 12, 7, 8, 10, 0, 0}));
  m.CheckStatusReport(EncodeDateTime({2026, 12, 8, 8, 0, 0, 0}));
  env.options.SendVia = 1;
  m.CheckStatusReport(EncodeDateTime({2026, 12, 14, 8, 0, 0, 0}));
  EXPECT_EQ(env.channels.Calls(),
            (std::vector<std::string>{"net:PC9|Sentrel Status|OK", "mail:PC9|Sentrel Status|OK"}));
}

TEST_F(MonitorTest, LoadedEnabledHostsStartCheckingWhenChecksRun) {
  {
    Monitor& first = Make();
    AddHost("web1");
    AddHost("off", false);
    ASSERT_EQ(first.SaveHosts(), SaveResult::Saved);
  }
  Monitor& m = Make();
  m.SetPinging(true);
  ASSERT_EQ(m.LoadHosts().loaded, 2u);
  EXPECT_FALSE(m.Hosts().Modified());
  ASSERT_TRUE(ServeUntil([&] { return m.Hosts().Host(0).WasChecked.load(); }));
  ServeUntil([] { return false; }, 50ms);
  EXPECT_FALSE(m.Hosts().Host(1).WasChecked);
}

TEST_F(MonitorTest, ShutdownCutsRequestsInFlightShortAndWaitsForNoHostInTurn) {
  Monitor& m = Make();
  // Requests that would wait a minute for their time-out.
  env.library->SetRule(Down(60s));
  for (int i = 0; i < 32; ++i) {
    HostEntry& host = m.Hosts().Host(AddHost("h" + std::to_string(i)));
    host.Retries = 1000;
    host.TimeOut = 60000;
  }
  // The last host runs a 60-hop alarm trace through hops that never answer.
  HostEntry& tracer = m.Hosts().Host(AddHost("localhost"));
  tracer.TimeOut = 10;
  tracer.OnLoss.RunTraceRoute = true;
  tracer.TraceTTL = 60;
  tracer.TraceTimeOut = 300;
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] {
    for (const auto& r : env.library->Requests())
      if (r.options.Ttl < 255) return env.library->InFlight() >= 32;
    return false;
  }));
  const auto start = std::chrono::steady_clock::now();
  m.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(env.library->InFlight(), 0);
  m.Shutdown();
}

TEST_F(MonitorTest, DeletingAHostWhoseAlarmWaitsInTheQueueDropsTheAlarm) {
  Monitor& m = Make();
  HostEntry& host = m.Hosts().Host(AddHost("web1"));
  host.OnRenewal.Alarm = true;
  host.OnRenewal.ShowBox = true;
  host.OnRenewal.Subject.Set("R");
  m.SetPinging(true);
  // Nobody serves the window thread: the worker blocks in its hand-off.
  for (int i = 0; i < 1000 && env.library->RequestCount() == 0; ++i) std::this_thread::sleep_for(2ms);
  std::this_thread::sleep_for(20ms);
  m.Hosts().DeleteHost(0);
  env.ui.RunPending();
  EXPECT_TRUE(env.BoxesCaptioned("R").empty());
  EXPECT_TRUE(env.pane.Texts().empty());
}

// 1024 hosts handing off a line per request while checks are switched on
// and off, rows are unticked and ticked, and hosts are deleted with their
// hand-offs still queued. Nothing may hang, every line must arrive whole,
// and once the list holds still, every request must give exactly one line.
// Leaving the program while a loss alarm's trace crawls along a silent path
// still raises the alarm, without the trace, and does not wait for it.
TEST_F(MonitorTest, LeavingDuringAnAlarmTraceStillRaisesTheAlarmWithoutTheTrace) {
  Monitor& m = Make();
  HostEntry& host = m.Hosts().Host(AddHost("web1"));
  host.TimeOut = 100;
  host.TraceTimeOut = 30'000;
  host.OnLoss.Alarm = true;
  host.OnLoss.ShowBox = true;
  host.OnLoss.RunTraceRoute = true;
  host.OnLoss.Subject.Set("L");
  std::atomic<bool> tracing{false};
  // Checks fail at once; trace requests hang on.
  env.library->SetRule([&](uint32_t, const IcmpEchoOptions& options) {
    if (options.Ttl == 255) return ScriptedEchoLibrary::Answer{};
    tracing = true;
    return ScriptedEchoLibrary::Answer{std::nullopt, 30s};
  });
  m.SetPinging(true);
  ASSERT_TRUE(ServeUntil([&] { return tracing.load(); }));
  const auto start = std::chrono::steady_clock::now();
  m.Shutdown();
  ASSERT_TRUE(ServeUntil([&] { return !m.AlarmsInFlight(); }, 2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(env.BoxesCaptioned("L").size(), 1u);
  for (const std::string& text : env.pane.Texts()) EXPECT_EQ(text.find("=== Trace"), std::string::npos);
}

TEST_F(MonitorTest, ThousandHostsSwitchedAndDeletedWhileHandingOff) {
  env.options.LogDetail = 2;
  env.library->RecordRequests(false);
  Monitor& m = Make(WorkerTiming{100ms, 100ms, 5});
  for (std::size_t i = 0; i < kMaxHosts; ++i) {
    AddHost("h" + std::to_string(i));
    if (i % 8 == 0) {
      HostEntry& host = m.Hosts().Host(i);
      host.OnRenewal.Alarm = true;
      host.OnRenewal.ShowBox = true;
      host.OnRenewal.Subject.Set("R");
    }
  }
  m.SetPinging(true);
  std::mt19937 random(7);
  for (int round = 0; round < 6; ++round) {
    env.ui.RunFor(100ms);
    m.SetPinging(false);
    env.ui.RunFor(10ms);
    m.SetPinging(true);
    for (int i = 0; i < 3; ++i) {  // each one saves the list
      const std::size_t row = random() % m.Hosts().Count();
      m.Hosts().SetRowChecked(row, !m.Hosts().Host(row).Enabled);
    }
    std::this_thread::sleep_for(20ms);  // let hand-offs queue up unserved
    for (int i = 0; i < 16; ++i) m.Hosts().DeleteHost(random() % m.Hosts().Count());
  }

  auto drain = [&] {
    long last = -1;
    for (int i = 0; i < 200; ++i) {
      env.ui.RunFor(30ms);
      const long now = env.library->RequestCount();
      if (now == last && env.library->InFlight() == 0) break;
      last = now;
    }
    env.ui.RunPending();
  };
  m.SetPinging(false);
  drain();
  const long requestsBefore = env.library->RequestCount();
  const std::size_t linesBefore = env.pane.Count();
  m.SetPinging(true);
  env.ui.RunFor(500ms);
  m.SetPinging(false);
  drain();
  EXPECT_GT(env.library->RequestCount(), requestsBefore);
  EXPECT_EQ(static_cast<long>(env.pane.Count() - linesBefore),
            env.library->RequestCount() - requestsBefore);

  const std::string head = "05.12.2026 14:03:07 127.0.0.1 (h";
  const std::string tail = ") is online (1ms).\r\n";
  for (const std::string& line : env.pane.Texts()) {
    ASSERT_TRUE(line.size() > head.size() + tail.size() && line.rfind(head, 0) == 0 &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        << line;
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    ASSERT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
  }
  EXPECT_EQ(m.Hosts().Count(), kMaxHosts - 6 * 16);
  const auto start = std::chrono::steady_clock::now();
  m.Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
}  // namespace sentrel
