#include "platform/wake_word.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace sentrel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(WakeWordTest, ASleeperReturnsOnAChangeOrAtItsDeadlineButNotForAStaleValue) {
  WakeWord word;
  // A value that has changed already: no sleep at all.
  const uint32_t stale = word.Value();
  word.Bump();
  auto start = Clock::now();
  word.WaitUntil(stale, start + 5s);
  EXPECT_LT(Clock::now() - start, 1s);

  // Nothing changes: the deadline ends the sleep.
  start = Clock::now();
  word.WaitUntil(word.Value(), start + 50ms);
  EXPECT_GE(Clock::now() - start, 50ms);

  // Another thread changes the value and wakes the sleeper long before its
  // deadline.
  std::atomic<bool> woken{false};
  const uint32_t seen = word.Value();
  std::thread sleeper([&] {
    while (word.Value() == seen) word.WaitUntil(seen, Clock::now() + 10s);
    woken = true;
  });
  std::this_thread::sleep_for(20ms);
  start = Clock::now();
  word.Bump();
  word.Wake();
  sleeper.join();
  EXPECT_TRUE(woken);
  EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace sentrel
