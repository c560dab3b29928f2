#pragma once

#include "date_time.h"

namespace sentrel {

// Source of "now" in local time. The core reads time only through this, so
// tests can run schedules without waiting for real minutes.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() const = 0;
};

// The machine's local clock.
class SystemClock final : public Clock {
 public:
  DateTime Now() const override;
};

}  // namespace sentrel
