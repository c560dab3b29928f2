#include "core/schedule.h"

#include <algorithm>
#include <bit>

namespace sentrel {

namespace {

constexpr int kSlotsPerDay = 48;

// Start of slot `slot` (0..47) on the day with number `day`.
DateTime SlotStart(int32_t day, int slot) {
  const CivilDateTime c = DecodeDateTime(day);
  return EncodeDateTime({c.year, c.month, c.day, slot / 2, (slot % 2) * 30, 0, 0});
}

int LowestSlot(uint64_t slots) { return std::countr_zero(slots); }

int32_t DayOf(DateTime t) { return static_cast<int32_t>(DateOf(t)); }

DateTime AtFirstSlot(int32_t day, uint64_t times) { return day + FirstSlot(times); }

DateTime EveryMonth(const Schedule& s, DateTime now) {
  const int32_t wanted = s.DayOfMonth < 1 ? 1 : s.DayOfMonth;
  const CivilDateTime today = DecodeDateTime(now);
  const int32_t todayNumber = DayOf(now);
  const int d = std::min<int32_t>(wanted, DaysInMonth(today.year, today.month));

  if (d == today.day) {
    const DateTime t = AdjustToSlot(s.Times, now);
    if (DayOf(t) == todayNumber) return t;
  } else if (d > today.day) {
    return AtFirstSlot(DayNumber(today.year, today.month, d), s.Times);
  }
  const int year = today.month == 12 ? today.year + 1 : today.year;
  const int month = today.month == 12 ? 1 : today.month + 1;
  const int nextD = std::min<int32_t>(wanted, DaysInMonth(year, month));
  return AtFirstSlot(DayNumber(year, month, nextD), s.Times);
}

DateTime EveryWeek(const Schedule& s, DateTime now) {
  const int w = DayOfWeek(now);
  const int32_t today = DayOf(now);
  if ((s.DaysOfWeek >> w) & 1) {
    const DateTime t = AdjustToSlot(s.Times, now);
    if (DayOf(t) == today) return t;
  }
  for (int n = 1; n <= 7; ++n) {
    if ((s.DaysOfWeek >> ((w + n) % 7)) & 1) return AtFirstSlot(today + n, s.Times);
  }
  return kNeverDue;
}

}  // namespace

DateTime AdjustToSlot(uint64_t times, DateTime t) {
  const uint64_t slots = times & kSlotMask;
  if (slots == 0) return t;
  const CivilDateTime c = DecodeDateTime(t);
  const int boundary = 2 * c.hour + (c.minute < 30 ? 1 : 2);
  const int32_t day = DayOf(t);
  if (boundary < kSlotsPerDay) {
    const uint64_t later = slots >> boundary;
    if (later != 0) return SlotStart(day, boundary + LowestSlot(later));
  }
  return SlotStart(day + 1, LowestSlot(slots));
}

double FirstSlot(uint64_t times) {
  const uint64_t slots = times & kSlotMask;
  if (slots == 0) return 0.0;
  const int slot = LowestSlot(slots);
  return (slot * 1800000.0) / kMillisecondsPerDay;
}

DateTime NextCheckTime(const Schedule& schedule, DateTime now) {
  switch (schedule.CheckEvery) {
    case kCheckEveryDay:
      return AdjustToSlot(schedule.Times, now);
    case kCheckEveryMonth:
      return EveryMonth(schedule, now);
    case kCheckEveryWeek:
      return EveryWeek(schedule, now);
    default:
      return now;
  }
}

}  // namespace sentrel
