#pragma once

#include <chrono>
#include <cstdint>

#include "common/date_time.h"

namespace sentrel {

// When the periodic status message goes out. The timer that asks runs once a
// minute; the rule keeps no memory of what it sent.
struct StatusSchedule {
  int32_t SendEvery = 0;   // 0 Month, 1 Week, 2 Day, other: never
  int32_t DayOfMonth = 1;  // for Month; a day past the month's end never comes
  int32_t DaysOfWeek = 1;  // for Week: bit 0 Sunday .. bit 6 Saturday
  uint64_t Times = 0;      // half-hour slots 0..47
};

// True when `now` lies in the first minute of a selected half-hour slot of a
// qualifying day.
bool StatusReportDue(const StatusSchedule& schedule, DateTime now);

// How long the status timer waits from `now`: until one second past the next
// whole minute, so that it ticks once in every minute and never skips the
// minutes 0 and 30 by drifting.
std::chrono::milliseconds UntilNextStatusTick(DateTime now);

}  // namespace sentrel
