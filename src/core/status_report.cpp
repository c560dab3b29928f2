#include "core/status_report.h"

namespace sentrel {

namespace {

bool DayQualifies(const StatusSchedule& s, const CivilDateTime& today, int weekday) {
  switch (s.SendEvery) {
    case 0: return today.day == s.DayOfMonth;
    case 1: return (s.DaysOfWeek >> weekday & 1) != 0;
    case 2: return true;
    default: return false;
  }
}

}  // namespace

bool StatusReportDue(const StatusSchedule& schedule, DateTime now) {
  const CivilDateTime c = DecodeDateTime(now);
  if (c.minute != 0 && c.minute != 30) return false;
  if (!DayQualifies(schedule, c, DayOfWeek(now))) return false;
  const int slot = c.hour * 2 + (c.minute == 30 ? 1 : 0);
  return (schedule.Times >> slot & 1u) != 0;
}

std::chrono::milliseconds UntilNextStatusTick(DateTime now) {
  const CivilDateTime civil = DecodeDateTime(now);
  return std::chrono::milliseconds(61000 - (civil.second * 1000 + civil.millisecond));
}

}  // namespace sentrel
