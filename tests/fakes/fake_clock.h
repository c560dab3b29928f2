#pragma once

#include <atomic>

#include "common/clock.h"

namespace sentrel::testing {

// A clock that stands still until the test moves it. Safe to read from workers.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(DateTime start = 0) : now_(start) {}
  DateTime Now() const override { return now_.load(); }
  void Set(DateTime value) { now_.store(value); }
  void Set(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    now_.store(EncodeDateTime({year, month, day, hour, minute, second, 0}));
  }
  void AdvanceSeconds(double seconds) { now_.store(now_.load() + seconds / 86400.0); }

 private:
  std::atomic<DateTime> now_;
};

}  // namespace sentrel::testing
