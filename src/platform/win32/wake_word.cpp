#include "platform/wake_word.h"

#include <windows.h>

#include <algorithm>

namespace sentrel {

namespace {

DWORD MillisecondsUntil(WakeWord::Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<DWORD>(std::min<long long>(left.count(), INFINITE - 1));
}

}  // namespace

void WakeWord::Wake() { WakeByAddressAll(const_cast<std::atomic<uint32_t>*>(&value_)); }

void WakeWord::WaitUntil(uint32_t seen, Deadline deadline) const {
  const DWORD wait = MillisecondsUntil(deadline);
  if (wait == 0) return;
  WaitOnAddress(const_cast<std::atomic<uint32_t>*>(&value_), &seen, sizeof seen, wait);
}

void WakeWord::Wait(uint32_t seen) const {
  WaitOnAddress(const_cast<std::atomic<uint32_t>*>(&value_), &seen, sizeof seen, INFINITE);
}

}  // namespace sentrel
