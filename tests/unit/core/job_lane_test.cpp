#include "core/job_lane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace sentrel
