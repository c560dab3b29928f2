#include "core/schedule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace sentrel {
namespace {

constexpr uint64_t Slot(int i) { return uint64_t{1} << i; }
constexpr uint64_t k0000 = Slot(0), k0800 = Slot(16), k1730 = Slot(35);
constexpr int kMon = 2, kTue = 4, kFri = 32;

// "YYYY-MM-DD hh:mm[:ss]" in local time.
DateTime At(const char* text) {
  CivilDateTime c;
  std::sscanf(text, "%d-%d-%d %d:%d:%d", &c.year, &c.month, &c.day, &c.hour, &c.minute,
              &c.second);
  return EncodeDateTime(c);
}

std::string Text(DateTime t) {
  if (t == kNeverDue) return "never";
  const CivilDateTime c = DecodeDateTime(t);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month,
                c.day, c.hour, c.minute, c.second, c.millisecond);
  return buffer;
}

struct ScheduleCase {
  const char* name;
  Schedule schedule;
  const char* now;
  const char* expected;  // "never" for kNeverDue
};

class NextCheckTimeTest : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(NextCheckTimeTest, GivesTheStatedTime) {
  const ScheduleCase& c = GetParam();
  const DateTime result = NextCheckTime(c.schedule, At(c.now));
  const std::string expected = c.expected == std::string("never") ? "never" : Text(At(c.expected));
  EXPECT_EQ(Text(result), expected);
}

// 7 December 2026 is a Monday.
constexpr Schedule kDaily{kCheckEveryDay, 0, 0, k0800 | k1730};
constexpr Schedule kMonFri{kCheckEveryWeek, 0, kMon | kFri, k0800};
constexpr Schedule kMonthly31{kCheckEveryMonth, 31, 0, k0800};

INSTANTIATE_TEST_SUITE_P(
    Table, NextCheckTimeTest,
    ::testing::Values(
        ScheduleCase{"Always", {kCheckAlways, 5, 3, k0800}, "2026-12-07 10:11:12", "2026-12-07 10:11:12"},
        ScheduleCase{"UnknownKind", {9, 0, 0, k0800}, "2026-12-07 10:11:12", "2026-12-07 10:11:12"},
        ScheduleCase{"DayLaterSlot", kDaily, "2026-12-07 10:10", "2026-12-07 17:30"},
        ScheduleCase{"DayAfterLastSlot", kDaily, "2026-12-07 17:45", "2026-12-08 08:00"},
        ScheduleCase{"DayLateEvening", kDaily, "2026-12-07 23:40", "2026-12-08 08:00"},
        ScheduleCase{"DayAtSlotSkipsIt", kDaily, "2026-12-07 08:00:00", "2026-12-07 17:30"},
        ScheduleCase{"DayInsideSlotSkipsIt", kDaily, "2026-12-07 08:29:59", "2026-12-07 17:30"},
        ScheduleCase{"DayMidnight", {kCheckEveryDay, 0, 0, k0000}, "2026-12-07 23:40", "2026-12-08 00:00"},
        ScheduleCase{"DayYearEnd", kDaily, "2026-12-31 23:40", "2027-01-01 08:00"},
        ScheduleCase{"DayNoSlots", {kCheckEveryDay, 0, 0, 0}, "2026-12-07 13:14:15", "2026-12-07 13:14:15"},
        ScheduleCase{"HighBitsIgnored", {kCheckEveryDay, 0, 0, ~kSlotMask}, "2026-12-07 13:14:15", "2026-12-07 13:14:15"},
        ScheduleCase{"WeekWedToFri", kMonFri, "2026-12-09 12:00", "2026-12-11 08:00"},
        ScheduleCase{"WeekFriToMon", kMonFri, "2026-12-11 09:00", "2026-12-14 08:00"},
        ScheduleCase{"WeekMonBeforeSlot", kMonFri, "2026-12-07 07:10", "2026-12-07 08:00"},
        ScheduleCase{"WeekOnlyDay", {kCheckEveryWeek, 0, kTue, k0800}, "2026-12-08 09:00", "2026-12-15 08:00"},
        ScheduleCase{"WeekYearEnd", kMonFri, "2026-12-31 12:00", "2027-01-01 08:00"},
        ScheduleCase{"WeekNoSlotsToday", {kCheckEveryWeek, 0, kMon, 0}, "2026-12-07 13:00", "2026-12-07 13:00"},
        ScheduleCase{"WeekNoSlotsFromMidnight", {kCheckEveryWeek, 0, kMon, 0}, "2026-12-08 00:01", "2026-12-14 00:00"},
        ScheduleCase{"WeekNoDay", {kCheckEveryWeek, 0, 0, k0800}, "2026-12-07 07:00", "never"},
        ScheduleCase{"WeekOnlyBit7", {kCheckEveryWeek, 0, 128, k0800}, "2026-12-07 07:00", "never"},
        ScheduleCase{"MonthClampedFeb", kMonthly31, "2025-02-10 10:00", "2025-02-28 08:00"},
        ScheduleCase{"MonthFebLastDayPassed", kMonthly31, "2025-02-28 09:00", "2025-03-31 08:00"},
        ScheduleCase{"MonthLeapFeb", {kCheckEveryMonth, 30, 0, k0800}, "2024-02-10 10:00", "2024-02-29 08:00"},
        ScheduleCase{"MonthLater", kMonthly31, "2025-12-15 10:00", "2025-12-31 08:00"},
        ScheduleCase{"MonthYearEnd", kMonthly31, "2025-12-31 09:00", "2026-01-31 08:00"},
        ScheduleCase{"MonthTodayBeforeSlot", kMonthly31, "2025-12-31 07:00", "2025-12-31 08:00"},
        ScheduleCase{"MonthShortMonthPassed", kMonthly31, "2025-04-30 09:00", "2025-05-31 08:00"},
        ScheduleCase{"MonthEarlierDay", {kCheckEveryMonth, 15, 0, k1730}, "2025-01-20 09:00", "2025-02-15 17:30"},
        ScheduleCase{"MonthDayZero", {kCheckEveryMonth, 0, 0, k0800}, "2025-03-10 09:00", "2025-04-01 08:00"},
        ScheduleCase{"MonthDayNegative", {kCheckEveryMonth, -5, 0, k0800}, "2025-03-01 07:00", "2025-03-01 08:00"}),
    [](const ::testing::TestParamInfo<ScheduleCase>& p) { return p.param.name; });

TEST(ScheduleTest, NeverDueIsTheFirstDayOfYear10000) {
  EXPECT_EQ(kNeverDue, DayNumber(10000, 1, 1));
}

}  // namespace
}  // namespace sentrel
