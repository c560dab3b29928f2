#include "core/job_lane.h"
#include "core/transfer_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace sentrel {
namespace {

using namespace std::chrono_literals;

// Waits for `stop` at most `limit`; true when it was requested.
bool WaitForStop(const std::stop_token& stop, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!stop.stop_requested() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  return stop.stop_requested();
}

class JobLaneTest : public ::testing::Test {
 protected:
  TaskQueueUiThread ui;
  JobLane lane{ui};
};

TEST_F(JobLaneTest, AJobAskedForDuringAnotherStartsOnlyAfterItEnded) {
  std::atomic<bool> firstRunning{false};
  std::atomic<bool> overlapped{false};
  bool secondCompleted = false;
  // Another host's alarm mail, handed to the window thread while the first
  // transfer goes.
  std::jthread worker;
  lane.Run([&](std::stop_token) {
    firstRunning = true;
    worker = std::jthread([&](std::stop_token stop) {
      CallOnUiThread(ui, [&] {
        secondCompleted = lane.Run([&](std::stop_token) { overlapped = firstRunning.load(); });
      }, stop);
    });
    std::this_thread::sleep_for(50ms);
    firstRunning = false;
  });
  ui.ServeUntil([&] { return secondCompleted; });
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(secondCompleted);
}

TEST_F(JobLaneTest, ClosingAbortsTheJobInFlightAndRefusesLaterOnes) {
  std::atomic<bool> sawStop{false};
  std::thread leaving([&] {
    std::this_thread::sleep_for(50ms);
    lane.Close();  // as SIGTERM's thread does in the headless runner
  });
  const auto start = std::chrono::steady_clock::now();
  const bool completed = lane.Run([&](std::stop_token stop) { sawStop = WaitForStop(stop, 10s); });
  leaving.join();
  EXPECT_FALSE(completed);
  EXPECT_TRUE(sawStop);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  bool ran = false;
  EXPECT_FALSE(lane.Run([&](std::stop_token) { ran = true; }));
  EXPECT_FALSE(ran);
}

// Transfers queued one after the other run alone and in order, each
// reporting back on the window thread; closing aborts the one in flight and
// drops the one waiting.
TEST(TransferQueueTest, TransfersRunOneAtATimeAndClosingEndsThemAll) {
  TaskQueueUiThread ui;
  TransferQueue queue(ui);
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::vector<std::string> ends;
  auto job = [&](bool ok) {
    return [&, ok](std::stop_token) {
      if (++running > 1) ++overlaps;
      std::this_thread::sleep_for(5ms);
      --running;
      return ok;
    };
  };
  queue.Add(job(true), [&](bool ok) { ends.push_back(ok ? "1 ok" : "1 failed"); });
  queue.Add(job(false), [&](bool ok) { ends.push_back(ok ? "2 ok" : "2 failed"); });
  EXPECT_TRUE(queue.Busy());
  ui.RunFor(5s, [&] { return ends.size() == 2; });
  EXPECT_EQ(ends, (std::vector<std::string>{"1 ok", "2 failed"}));
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_FALSE(queue.Busy());

  ends.clear();
  std::atomic<bool> started{false};
  queue.Add(
      [&](std::stop_token stop) {
        started = true;
        ui.Wake();
        return !WaitForStop(stop, 5s);
      },
      [&](bool ok) { ends.push_back(ok ? "stalled ok" : "stalled aborted"); });
  queue.Add(job(true), [&](bool ok) { ends.push_back(ok ? "waiting ok" : "waiting dropped"); });
  ui.RunFor(5s, [&] { return started.load(); });
  queue.Close();
  queue.Add(job(true), [&](bool ok) { ends.push_back(ok ? "late ok" : "late refused"); });
  ui.RunFor(5s, [&] { return ends.size() == 3; });
  std::sort(ends.begin(), ends.end());
  EXPECT_EQ(ends, (std::vector<std::string>{"late refused", "stalled aborted", "waiting dropped"}));
}

}  // namespace
}  // namespace sentrel
