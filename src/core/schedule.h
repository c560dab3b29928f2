#pragma once

#include <cstdint>

#include "common/date_time.h"

namespace sentrel {

// When a host is due: the schedule fields of a HostEntry, on their own so that
// the worker, the result handling and the host dialog can all ask the same
// pure function.
struct Schedule {
  int32_t CheckEvery = 0;  // 0 Always, 1 every Month, 2 every Week, 3 every Day
  int32_t DayOfMonth = 0;
  int32_t DaysOfWeek = 0;  // bit 0 Sunday .. bit 6 Saturday
  uint64_t Times = 0;      // bit i (0..47): the half-hour from i*30 minutes
};

inline constexpr int32_t kCheckAlways = 0;
inline constexpr int32_t kCheckEveryMonth = 1;
inline constexpr int32_t kCheckEveryWeek = 2;
inline constexpr int32_t kCheckEveryDay = 3;

// Only bits 0..47 of Times mean a half-hour slot; the rest are ignored.
inline constexpr uint64_t kSlotMask = (uint64_t{1} << 48) - 1;

// A moment that never comes (1 January of year 10000): the next check time of
// a schedule that can never be due.
inline constexpr DateTime kNeverDue = 3652060.0;

// Start of the first selected half-hour slot that begins after the start of
// t's own half-hour: later on t's date, else the first slot of the next date.
// Seconds are 0. Without any selected slot, t itself (no time restriction).
DateTime AdjustToSlot(uint64_t times, DateTime t);

// Time of day (a fraction of a day) of the lowest selected slot. Without any
// selected slot the whole day counts, so the day starts at 00:00.
double FirstSlot(uint64_t times);

// The next moment at which a host with this schedule is due, given the local
// time now. Always, and any kind other than the four known ones, give now
// (checked at every wait cycle).
//
// Two schedules cannot be entered in the host dialog and only come from a
// hand-edited data file; they are settled the way the dialog would settle them:
//  - every Week without any of the day bits 0..6: no day is selected, so the
//    host is never due (kNeverDue), just as a weekly status message without a
//    day is never sent;
//  - every Month with DayOfMonth below 1: day 1, the value the dialog's "Day:"
//    field turns such a number into.
DateTime NextCheckTime(const Schedule& schedule, DateTime now);

}  // namespace sentrel
