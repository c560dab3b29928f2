#include "common/date_time.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(DateTime, DayOneIsFirstJanuaryOfYearOneAndAMonday) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayOfWeek(1.0), 1);
  // 7 December 2026 is a Monday, 1 January 2000 a Saturday.
  EXPECT_EQ(DayOfWeek(DayNumber(2026, 12, 7)), 1);
  EXPECT_EQ(DayOfWeek(DayNumber(2000, 1, 1)), 6);
  EXPECT_EQ(DayOfWeek(DayNumber(2025, 2, 9) + 0.99), 0);
}

TEST(DateTime, MonthLengthsFollowGregorianLeapRules) {
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2025, 2), 28);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2025, 4), 30);
  EXPECT_EQ(DaysInMonth(2025, 12), 31);
  EXPECT_EQ(DaysInMonth(2025, 13), 0);
}

TEST(DateTime, EncodeDecodeRoundTripsToTheMillisecond) {
  const CivilDateTime cases[] = {
      {1, 1, 1, 0, 0, 0, 0},          {2024, 2, 29, 23, 59, 59, 999},
      {2025, 12, 31, 12, 30, 0, 1},   {9999, 12, 31, 0, 0, 0, 0},
      {1970, 1, 1, 0, 0, 0, 0},       {2026, 3, 29, 2, 30, 15, 500},
  };
  for (const auto& c : cases) {
    const CivilDateTime back = DecodeDateTime(EncodeDateTime(c));
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour, c.hour);
    EXPECT_EQ(back.minute, c.minute);
    EXPECT_EQ(back.second, c.second);
    EXPECT_EQ(back.millisecond, c.millisecond);
  }
}

TEST(DateTime, DateAndTimeOfDaySplitTheValue) {
  const DateTime t = EncodeDateTime({2025, 2, 10, 18, 0, 0, 0});
  EXPECT_DOUBLE_EQ(DateOf(t), DayNumber(2025, 2, 10));
  EXPECT_NEAR(TimeOfDay(t), 0.75, 1e-9);
}

TEST(DateTime, UnixTimeConvertsThroughLocalZone) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_DOUBLE_EQ(FromUnixTimeLocal(0), DayNumber(1970, 1, 1));
  EXPECT_EQ(ToUnixTimeLocal(EncodeDateTime({2001, 9, 9, 1, 46, 40, 0})), 1000000000);
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  EXPECT_EQ(LocalUtcOffsetMinutes(1000000000), 120);  // September: summer time
  const CivilDateTime c = DecodeDateTime(FromUnixTimeLocal(1000000000));
  EXPECT_EQ(c.hour, 3);
  EXPECT_EQ(c.minute, 46);
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace sentrel
