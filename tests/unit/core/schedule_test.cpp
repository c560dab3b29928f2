#include "core/schedule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

namespace sentrel {
namespace {

uint64_t Slots(std::initializer_list<int> slots) {
  uint64_t bits = 0;
  for (int s : slots) bits |= uint64_t{1} << s;
  return bits;
}

constexpr int kSun = 1, kMon = 2, kTue = 4, kFri = 32;
constexpr int k0800 = 16, k1730 = 35, k0000 = 0;

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
  CivilDateTime now;
  std::optional<CivilDateTime> expected;  // nothing: never due
};

class NextCheckTimeTest : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(NextCheckTimeTest, GivesTheStatedTime) {
  const ScheduleCase& c = GetParam();
  const DateTime result = NextCheckTime(c.schedule, EncodeDateTime(c.now));
  EXPECT_EQ(Text(result), c.expected ? Text(EncodeDateTime(*c.expected)) : "never");
  if (c.expected) {
    EXPECT_EQ(result, EncodeDateTime(*c.expected));
  }
}

// 7 December 2026 is a Monday.
const Schedule kDaily{kCheckEveryDay, 0, 0, Slots({k0800, k1730})};
const Schedule kMonFri{kCheckEveryWeek, 0, kMon | kFri, Slots({k0800})};
const Schedule kTueOnly{kCheckEveryWeek, 0, kTue, Slots({k0800})};
const Schedule kMonthly31{kCheckEveryMonth, 31, 0, Slots({k0800})};

INSTANTIATE_TEST_SUITE_P(
    Table, NextCheckTimeTest,
    ::testing::Values(
        ScheduleCase{"AlwaysIsNow", {kCheckAlways, 5, 3, Slots({k0800})},
                     {2026, 12, 7, 10, 11, 12, 345}, CivilDateTime{2026, 12, 7, 10, 11, 12, 345}},
        ScheduleCase{"UnknownKindIsNow", {9, 0, 0, Slots({k0800})},
                     {2026, 12, 7, 10, 11, 12, 0}, CivilDateTime{2026, 12, 7, 10, 11, 12, 0}},
        ScheduleCase{"DayLaterSlotToday", kDaily, {2026, 12, 7, 10, 10, 0, 0},
                     CivilDateTime{2026, 12, 7, 17, 30}},
        ScheduleCase{"DayAfterLastSlot", kDaily, {2026, 12, 7, 17, 45, 0, 0},
                     CivilDateTime{2026, 12, 8, 8, 0}},
        ScheduleCase{"DayLateEvening", kDaily, {2026, 12, 7, 23, 40, 0, 0},
                     CivilDateTime{2026, 12, 8, 8, 0}},
        ScheduleCase{"DayExactlyAtSlotSkipsIt", kDaily, {2026, 12, 7, 8, 0, 0, 0},
                     CivilDateTime{2026, 12, 7, 17, 30}},
        ScheduleCase{"DayInsideSlotSkipsIt", kDaily, {2026, 12, 7, 8, 29, 59, 999},
                     CivilDateTime{2026, 12, 7, 17, 30}},
        ScheduleCase{"DayJustBeforeSlot", kDaily, {2026, 12, 7, 7, 59, 59, 0},
                     CivilDateTime{2026, 12, 7, 8, 0}},
        ScheduleCase{"DayMidnightSlot", {kCheckEveryDay, 0, 0, Slots({k0000})},
                     {2026, 12, 7, 23, 40, 0, 0}, CivilDateTime{2026, 12, 8, 0, 0}},
        ScheduleCase{"DayAcrossYearEnd", kDaily, {2026, 12, 31, 23, 40, 0, 0},
                     CivilDateTime{2027, 1, 1, 8, 0}},
        ScheduleCase{"DayLastSlotOfDay", {kCheckEveryDay, 0, 0, Slots({47})},
                     {2026, 12, 7, 23, 10, 0, 0}, CivilDateTime{2026, 12, 7, 23, 30}},
        ScheduleCase{"DayWithoutSlotsIsNow", {kCheckEveryDay, 0, 0, 0},
                     {2026, 12, 7, 13, 14, 15, 0}, CivilDateTime{2026, 12, 7, 13, 14, 15}},
        ScheduleCase{"SlotBitsAbove47AreIgnored", {kCheckEveryDay, 0, 0, ~kSlotMask},
                     {2026, 12, 7, 13, 14, 15, 0}, CivilDateTime{2026, 12, 7, 13, 14, 15}},
        ScheduleCase{"WeekWednesdayToFriday", kMonFri, {2026, 12, 9, 12, 0, 0, 0},
                     CivilDateTime{2026, 12, 11, 8, 0}},
        ScheduleCase{"WeekFridayAfterSlotToMonday", kMonFri, {2026, 12, 11, 9, 0, 0, 0},
                     CivilDateTime{2026, 12, 14, 8, 0}},
        ScheduleCase{"WeekMondayBeforeSlot", kMonFri, {2026, 12, 7, 7, 10, 0, 0},
                     CivilDateTime{2026, 12, 7, 8, 0}},
        ScheduleCase{"WeekOnlyDayNextWeek", kTueOnly, {2026, 12, 8, 9, 0, 0, 0},
                     CivilDateTime{2026, 12, 15, 8, 0}},
        ScheduleCase{"WeekAcrossYearEnd", kMonFri, {2026, 12, 31, 12, 0, 0, 0},
                     CivilDateTime{2027, 1, 1, 8, 0}},
        ScheduleCase{"WeekSaturdayToSunday", {kCheckEveryWeek, 0, kSun, Slots({k0800})},
                     {2026, 12, 12, 9, 0, 0, 0}, CivilDateTime{2026, 12, 13, 8, 0}},
        ScheduleCase{"WeekWithoutSlotsSelectedDayIsNow", {kCheckEveryWeek, 0, kMon, 0},
                     {2026, 12, 7, 13, 0, 0, 0}, CivilDateTime{2026, 12, 7, 13, 0}},
        ScheduleCase{"WeekWithoutSlotsStartsAtMidnight", {kCheckEveryWeek, 0, kMon, 0},
                     {2026, 12, 8, 0, 1, 0, 0}, CivilDateTime{2026, 12, 14, 0, 0}},
        ScheduleCase{"WeekWithoutDaysIsNeverDue", {kCheckEveryWeek, 0, 0, Slots({k0800})},
                     {2026, 12, 7, 7, 0, 0, 0}, std::nullopt},
        ScheduleCase{"WeekOnlyMeaninglessBitIsNeverDue",
                     {kCheckEveryWeek, 0, 128, Slots({k0800})}, {2026, 12, 7, 7, 0, 0, 0},
                     std::nullopt},
        ScheduleCase{"MonthClampedToFebruary", kMonthly31, {2025, 2, 10, 10, 0, 0, 0},
                     CivilDateTime{2025, 2, 28, 8, 0}},
        ScheduleCase{"MonthAfterSlotOnLastDayOfFebruary", kMonthly31, {2025, 2, 28, 9, 0, 0, 0},
                     CivilDateTime{2025, 3, 31, 8, 0}},
        ScheduleCase{"MonthLeapFebruary", {kCheckEveryMonth, 30, 0, Slots({k0800})},
                     {2024, 2, 10, 10, 0, 0, 0}, CivilDateTime{2024, 2, 29, 8, 0}},
        ScheduleCase{"MonthLaterThisMonth", kMonthly31, {2025, 12, 15, 10, 0, 0, 0},
                     CivilDateTime{2025, 12, 31, 8, 0}},
        ScheduleCase{"MonthAcrossYearEnd", kMonthly31, {2025, 12, 31, 9, 0, 0, 0},
                     CivilDateTime{2026, 1, 31, 8, 0}},
        ScheduleCase{"MonthTodayBeforeSlot", kMonthly31, {2025, 12, 31, 7, 0, 0, 0},
                     CivilDateTime{2025, 12, 31, 8, 0}},
        ScheduleCase{"MonthShortMonthDayPassed", kMonthly31, {2025, 4, 30, 9, 0, 0, 0},
                     CivilDateTime{2025, 5, 31, 8, 0}},
        ScheduleCase{"MonthDayEarlierGoesToNextMonth", {kCheckEveryMonth, 15, 0, Slots({k1730})},
                     {2025, 1, 20, 9, 0, 0, 0}, CivilDateTime{2025, 2, 15, 17, 30}},
        ScheduleCase{"MonthDayZeroMeansFirst", {kCheckEveryMonth, 0, 0, Slots({k0800})},
                     {2025, 3, 10, 9, 0, 0, 0}, CivilDateTime{2025, 4, 1, 8, 0}},
        ScheduleCase{"MonthNegativeDayMeansFirst", {kCheckEveryMonth, -5, 0, Slots({k0800})},
                     {2025, 3, 1, 7, 0, 0, 0}, CivilDateTime{2025, 3, 1, 8, 0}}),
    [](const ::testing::TestParamInfo<ScheduleCase>& p) { return p.param.name; });

TEST(ScheduleTest, NeverDueIsTheFirstDayOfYear10000) {
  EXPECT_EQ(kNeverDue, DayNumber(10000, 1, 1));
}

TEST(ScheduleTest, FirstSlotIsTheLowestSelectedSlot) {
  EXPECT_EQ(Text(1 + FirstSlot(Slots({k1730, 3}))), Text(EncodeDateTime({1, 1, 1, 1, 30})));
  EXPECT_EQ(FirstSlot(0), 0.0);
}

}  // namespace
}  // namespace sentrel
