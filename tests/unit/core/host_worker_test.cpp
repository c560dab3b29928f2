#include "core/host_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "core/echo_result.h"
#include "engine_test_env.h"
#include "probes/ping_probe.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::EngineEnv;

// A worker whose check only counts; the test waits for counts with a bound.
class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() { host.PingInterval = 1; }

  std::unique_ptr<HostWorker> MakeWorker(WorkerTiming timing) {
    return std::make_unique<HostWorker>(host, clock, pinging, timing, [this](std::stop_token) {
      {
        std::lock_guard lock(mutex);
        ++checks;
      }
      counted.notify_all();
    });
  }
  // True when `n` checks have run within `limit`.
  bool WaitForChecks(int n, std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(mutex);
    return counted.wait_for(lock, limit, [&] { return checks >= n; });
  }
  int Checks() {
    std::lock_guard lock(mutex);
    return checks;
  }

  testing::FakeClock clock{EncodeDateTime({2026, 12, 7, 10, 0, 0, 0})};
  std::atomic<bool> pinging{true};
  HostEntry host;
  std::mutex mutex;
  std::condition_variable counted;
  int checks = 0;
};

// Waits so long that a test only passes when a pause ends them.
constexpr WorkerTiming kEndlessWaits{std::chrono::milliseconds(60'000), std::chrono::milliseconds(60'000), 2};

TEST_F(WorkerTest, StartsPausedAndChecksANewAlwaysHostAtOnceWhenResumed) {
  auto worker = MakeWorker(kEndlessWaits);
  ASSERT_TRUE(worker->Started());
  EXPECT_FALSE(WaitForChecks(1, 50ms));
  worker->Resume();
  EXPECT_TRUE(WaitForChecks(1));
}

TEST_F(WorkerTest, APauseDuringTheWaitCycleLetsTheCycleCountOn) {
  auto worker = MakeWorker(kEndlessWaits);
  worker->Resume();
  ASSERT_TRUE(WaitForChecks(1));
  // The first pause ends the first of the two waits; on resume the cycle
  // goes on with the second, so no check yet.
  worker->Pause();
  worker->Resume();
  EXPECT_FALSE(WaitForChecks(2, 150ms));
  // The second pause ends the last wait: the cycle is over, the next check runs.
  worker->Pause();
  worker->Resume();
  EXPECT_TRUE(WaitForChecks(2));
  EXPECT_EQ(Checks(), 2);
}

TEST_F(WorkerTest, APausedWorkerStaysIdleAndAStoppedSwitchHoldsItToo) {
  auto worker = MakeWorker({1ms, 1ms, 3});
  worker->Resume();
  ASSERT_TRUE(WaitForChecks(3));
  worker->Pause();
  std::this_thread::sleep_for(30ms);  // a check in progress finishes
  const int paused = Checks();
  EXPECT_FALSE(WaitForChecks(paused + 1, 100ms));
  worker->Resume();
  ASSERT_TRUE(WaitForChecks(paused + 2));

  pinging = false;
  std::this_thread::sleep_for(30ms);
  const int stopped = Checks();
  EXPECT_FALSE(WaitForChecks(stopped + 1, 100ms)) << "checks off: the worker must not spin";
  pinging = true;
  worker->Pause();
  worker->Resume();
  EXPECT_TRUE(WaitForChecks(stopped + 1));
}

TEST_F(WorkerTest, AScheduledHostIsCheckedOnlyOnceItsTimeHasCome) {
  host.CheckEvery = kCheckEveryDay;
  host.NextCheck = EncodeDateTime({2026, 12, 7, 17, 30, 0, 0});
  auto worker = MakeWorker({60'000ms, 2ms, 2});
  worker->Resume();
  EXPECT_FALSE(WaitForChecks(1, 100ms));
  clock.Set(2026, 12, 7, 17, 30, 0);
  EXPECT_TRUE(WaitForChecks(1));
}

TEST_F(WorkerTest, EndingNeverWaitsForAWindowThreadThatIsNotServing) {
  TaskQueueUiThread ui;
  std::atomic<int> handOffs{0};
  auto worker = std::make_unique<HostWorker>(host, clock, pinging, WorkerTiming{1ms, 1ms, 1},
                                             [&](std::stop_token stop) {
                                               ++handOffs;
                                               CallOnUiThread(ui, [] {}, stop);
                                             });
  worker->Resume();
  for (int i = 0; i < 500 && handOffs == 0; ++i) std::this_thread::sleep_for(2ms);
  ASSERT_EQ(handOffs, 1);
  const auto start = std::chrono::steady_clock::now();
  worker.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(handOffs, 1);
}

// RunScheduledCheck against the fake echo library.
class ScheduledCheckTest : public ::testing::Test {
 protected:
  ScheduledCheckTest() : services(env.Services()), probe(env.icmp) {
    host.HostIP.Set("127.0.0.1");
    host.HostName.Set("localhost");
    probe.OnEcho = [this](EchoProbe&, uint32_t status, const IpAddress& address, uint32_t rtt,
                          const EchoDetail& detail, const std::string& tag) {
      OnEchoResult(host, services, status, address, rtt, tag, detail);
    };
  }
  void QueueFailures(int n) {
    for (int i = 0; i < n; ++i) env.library->Queue({std::nullopt, {}});
  }

  EngineEnv env;
  MonitorServices services;
  HostEntry host;
  PingProbe probe;
};

TEST_F(ScheduledCheckTest, RepeatsUntilAReplyOrRetriesFailures) {
  host.Retries = 3;
  QueueFailures(3);
  RunScheduledCheck(host, probe, {});
  EXPECT_EQ(env.library->RequestCount(), 3);
  EXPECT_EQ(host.State, static_cast<int32_t>(kIpRequestTimedOut));
  EXPECT_EQ(host.FailCount, 0);
  EXPECT_TRUE(host.WasChecked);

  QueueFailures(1);
  env.library->SetRule([](uint32_t a, const IcmpEchoOptions&) {
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{a, kIpSuccess, 2}, {}};
  });
  RunScheduledCheck(host, probe, {});
  EXPECT_EQ(env.library->RequestCount(), 5) << "a failure, then the reply ends the check";
  EXPECT_EQ(host.State, 0);
}

TEST_F(ScheduledCheckTest, StopsBetweenRequestsWhenItsWorkerEnds) {
  host.Retries = 100;
  QueueFailures(100);
  std::stop_source stop;
  stop.request_stop();
  RunScheduledCheck(host, probe, stop.get_token());
  EXPECT_EQ(env.library->RequestCount(), 1);
}

TEST_F(ScheduledCheckTest, HandsTheHostSettingsToTheProbe) {
  host.PBS = 32;
  host.PTTL = 0;  // not handed over: the probe keeps its own
  host.PTOS = 0x10;
  host.TimeOut = 321;
  RunScheduledCheck(host, probe, {});
  host.PBS = 0;
  host.PTTL = 7;
  RunScheduledCheck(host, probe, {});
  const auto requests = env.library->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].dataSize, 32u);
  EXPECT_EQ(requests[0].options.Ttl, 255);
  EXPECT_EQ(requests[0].options.Tos, 0x10);
  EXPECT_EQ(requests[0].timeoutMs, 321);
  EXPECT_EQ(requests[1].dataSize, 32u);
  EXPECT_EQ(requests[1].options.Ttl, 7);
  EXPECT_EQ(probe.tag, "localhost");
}

TEST_F(ScheduledCheckTest, HostsPingedByNameGetTheirAddressLookedUp) {
  host.PingByIP = false;
  host.HostIP.Set("10.9.9.9");
  RunScheduledCheck(host, probe, {});
  EXPECT_EQ(host.HostIP.Get(), "127.0.0.1");
  ASSERT_EQ(env.library->Requests().size(), 1u);
  EXPECT_EQ(env.library->Requests()[0].address, 0x0100007Fu);
}

}  // namespace
}  // namespace sentrel
