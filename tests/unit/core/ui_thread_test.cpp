#include "core/ui_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace sentrel {
namespace {

using namespace std::chrono_literals;

TEST(HandOff, RunsAtOnceOnTheWindowThread) {
  TaskQueueUiThread ui;
  int ran = 0;
  std::stop_source never;
  EXPECT_TRUE(CallOnUiThread(ui, [&] { ++ran; }, never.get_token()));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(ui.RunPending(), 0);
}

TEST(HandOff, WorkerWaitsUntilTheWindowThreadHasRunTheStep) {
  TaskQueueUiThread ui;
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::jthread worker([&](std::stop_token stop) {
    EXPECT_TRUE(CallOnUiThread(ui, [&] { ranOn = std::this_thread::get_id(); }, stop));
    returned = true;
    ui.Wake();
  });
  ui.RunFor(5s, [&] { return returned.load(); });
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HandOff, StoppingAWorkerBlockedInAHandOffNeverRunsItsStep) {
  TaskQueueUiThread ui;
  std::atomic<bool> stepRan{false};
  std::atomic<int> result{-1};
  {
    std::jthread worker([&](std::stop_token stop) {
      result = CallOnUiThread(ui, [&] { stepRan = true; }, stop) ? 1 : 0;
    });
    std::this_thread::sleep_for(20ms);  // let the worker queue its step
    // The window thread ends the worker without serving the queue: the
    // jthread's destructor requests stop and joins, which must not hang.
  }
  EXPECT_EQ(result, 0);
  ui.RunPending();
  EXPECT_FALSE(stepRan);
}

TEST(HandOff, ManyWorkersEachGetTheirOwnStepRun) {
  TaskQueueUiThread ui;
  constexpr int kWorkers = 64;
  std::atomic<int> finished{0};
  std::vector<int> slots(kWorkers, 0);
  std::vector<std::jthread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&, i](std::stop_token stop) {
      for (int round = 0; round < 20; ++round) {
        CallOnUiThread(ui, [&, i] { ++slots[static_cast<std::size_t>(i)]; }, stop);
      }
      ++finished;
      ui.Wake();
    });
  }
  ui.RunFor(20s, [&] { return finished.load() == kWorkers; });
  ASSERT_EQ(finished.load(), kWorkers);
  for (int count : slots) EXPECT_EQ(count, 20);
}

// A task that waits in a nested loop (a modal box, a manual trace) must not
// hold back the tasks queued behind it: they run inside that loop.
TEST(TaskQueue, ANestedLoopRunsTheTasksQueuedBehindItsOwn) {
  TaskQueueUiThread ui;
  bool later = false;
  bool seenInside = false;
  ui.Post([&] {
    ui.RunFor(2s, [&] { return later; });
    seenInside = later;
  });
  ui.Post([&] { later = true; });
  ui.RunPending();
  EXPECT_TRUE(seenInside);
}

// A step that ends later than it returns: the worker waits for its `done`.
TEST(HandOff, AWorkerWaitsForAStepThatEndsLater) {
  TaskQueueUiThread ui;
  StepDone finish;
  std::atomic<int> end{-1};
  std::jthread worker([&](std::stop_token stop) {
    end = static_cast<int>(AwaitOnUiThread(ui, [&](StepDone done) { finish = std::move(done); }, stop));
  });
  ui.RunFor(5s, [&] { return static_cast<bool>(finish); });
  ASSERT_TRUE(finish);
  ui.RunFor(30ms);
  EXPECT_EQ(end.load(), -1) << "returned before the step was done";
  finish();
  worker.join();
  EXPECT_EQ(end.load(), static_cast<int>(HandOffEnd::Done));

}

}  // namespace
}  // namespace sentrel
