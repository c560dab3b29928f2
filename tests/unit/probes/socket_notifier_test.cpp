#include "platform/socket_notifier_poll.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace sentrel {
namespace {

using namespace std::chrono_literals;

class PollSocketNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(fd, 0); }
  void TearDown() override { close(fd); }
  void MakeReadable() {
    uint64_t one = 1;
    ASSERT_EQ(write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  }
  void Consume() {
    uint64_t count = 0;
    (void)!read(fd, &count, sizeof count);
  }

  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  PollSocketNotifier notifier;
};

TEST_F(PollSocketNotifierTest, CallbacksRunOnTheLoopThread) {
  std::thread::id readableOn;
  std::thread::id timerOn;
  int timers = 0;
  notifier.Watch(fd, [&] {
    readableOn = std::this_thread::get_id();
    Consume();
  });
  notifier.SetTimer(fd, 20ms, [&] {
    timerOn = std::this_thread::get_id();
    ++timers;
  });
  // Readiness announced from another thread while the loop already waits.
  std::thread other([&] {
    std::this_thread::sleep_for(5ms);
    MakeReadable();
  });
  notifier.RunFor(150ms);
  other.join();
  EXPECT_EQ(readableOn, std::this_thread::get_id());
  EXPECT_EQ(timerOn, std::this_thread::get_id());
  EXPECT_EQ(timers, 1) << "a timer fires once";
}

TEST_F(PollSocketNotifierTest, LaterTimerReplacesTheEarlierOne) {
  int first = 0;
  int second = 0;
  notifier.Watch(fd, [] {});
  notifier.SetTimer(fd, 10ms, [&] { ++first; });
  notifier.SetTimer(fd, 30ms, [&] { ++second; });
  auto start = std::chrono::steady_clock::now();
  notifier.RunFor(100ms);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

TEST_F(PollSocketNotifierTest, UnwatchFromAnotherThreadWaitsForARunningCallback) {
  std::atomic<bool> inCallback{false};
  std::atomic<bool> callbackDone{false};
  std::atomic<int> calls{0};
  notifier.Watch(fd, [&] {
    ++calls;
    inCallback = true;
    std::this_thread::sleep_for(50ms);
    Consume();
    callbackDone = true;
  });
  MakeReadable();
  std::thread loop([&] { notifier.RunFor(300ms); });
  while (!inCallback) std::this_thread::sleep_for(1ms);
  notifier.Unwatch(fd);
  EXPECT_TRUE(callbackDone) << "Unwatch returned while the callback still ran";
  MakeReadable();
  loop.join();
  EXPECT_EQ(calls, 1) << "no callback after Unwatch";
}

}  // namespace
}  // namespace sentrel
