#include "platform/wake_word.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace sentrel {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t),
              "the kernel sleeps on the word itself");

long Futex(const std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout,
           uint32_t mask) {
  return syscall(SYS_futex, word, op | FUTEX_PRIVATE_FLAG, value, timeout, nullptr, mask);
}

}  // namespace

void WakeWord::Wake() { Futex(&value_, FUTEX_WAKE, INT_MAX, nullptr, 0); }

void WakeWord::WaitUntil(uint32_t seen, Deadline deadline) const {
  // steady_clock is CLOCK_MONOTONIC, the clock of an absolute futex time-out.
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
  if (ns <= 0) return;
  const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  Futex(&value_, FUTEX_WAIT_BITSET, seen, &at, FUTEX_BITSET_MATCH_ANY);
}

void WakeWord::Wait(uint32_t seen) const {
  Futex(&value_, FUTEX_WAIT_BITSET, seen, nullptr, FUTEX_BITSET_MATCH_ANY);
}

}  // namespace sentrel
