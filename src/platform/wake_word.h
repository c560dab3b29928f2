#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace sentrel {

// A word that one thread sleeps on until another changes it: the smallest
// wait there is (one system call to sleep, one to wake), for the places where
// a thousand threads wait and a mutex with a condition variable would cost
// an extra wake-up per wait. The caller keeps its own conditions (usually
// under its own mutex); the word only says "look again". Wakes may be
// spurious, so every wait sits in a loop that checks its condition.
class WakeWord {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // The current value; take it before checking the condition, then sleep
  // with it, so that a change in between is never slept through.
  uint32_t Value() const { return value_.load(std::memory_order_acquire); }
  // Changes the value so that sleepers on an older one return.
  void Bump() { value_.fetch_add(1, std::memory_order_acq_rel); }
  // Wakes every thread sleeping on the word. Harmless when none is, and
  // also on a word that has just gone away (the kernel only compares an
  // address).
  void Wake();
  // Sleeps while the value is still `seen`, at most until `deadline`.
  void WaitUntil(uint32_t seen, Deadline deadline) const;
  // Sleeps while the value is still `seen`.
  void Wait(uint32_t seen) const;

 private:
  std::atomic<uint32_t> value_{0};
};

}  // namespace sentrel
