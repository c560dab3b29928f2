#include "core/status_report.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

DateTime At(int y, int mo, int d, int h, int mi) { return EncodeDateTime({y, mo, d, h, mi, 0, 0}); }

constexpr uint64_t Slot(int hour, int minute) { return 1ull << (hour * 2 + (minute == 30)); }

TEST(StatusReport, WeeklyOnMondayAtEightSendsOnlyThen) {
  const StatusSchedule weekly{1, 1, 1 << 1, Slot(8, 0)};
  EXPECT_TRUE(StatusReportDue(weekly, At(2026, 12, 7, 8, 0)));    // Monday
  EXPECT_FALSE(StatusReportDue(weekly, At(2026, 12, 8, 8, 0)));   // Tuesday
  EXPECT_FALSE(StatusReportDue(weekly, At(2026, 12, 7, 8, 1)));   // not the slot's minute
  EXPECT_FALSE(StatusReportDue(weekly, At(2026, 12, 7, 8, 30)));  // neighbouring slot
}

TEST(StatusReport, DailyFirstAndLastSlots) {
  const StatusSchedule daily{2, 1, 0, Slot(0, 0) | Slot(23, 30)};
  EXPECT_TRUE(StatusReportDue(daily, At(2026, 1, 1, 0, 0)));
  EXPECT_TRUE(StatusReportDue(daily, At(2026, 1, 1, 23, 30)));
  EXPECT_FALSE(StatusReportDue(daily, At(2026, 1, 1, 12, 0)));
}

TEST(StatusReport, MonthlyDayBeyondTheMonthNeverComes) {
  const StatusSchedule monthly{0, 31, 0, Slot(9, 0)};
  EXPECT_TRUE(StatusReportDue(monthly, At(2026, 1, 31, 9, 0)));
  for (int day = 1; day <= 30; ++day) {
    EXPECT_FALSE(StatusReportDue(monthly, At(2026, 4, day, 9, 0))) << day;
  }
}

TEST(StatusReport, NeverOrNoSlotsSendsNothing) {
  for (int minute : {0, 30}) {
    for (int hour = 0; hour < 24; ++hour) {
      EXPECT_FALSE(StatusReportDue({3, 1, 127, ~0ull}, At(2026, 5, 5, hour, minute)));
      EXPECT_FALSE(StatusReportDue({2, 1, 127, 0}, At(2026, 5, 5, hour, minute)));
    }
  }
}

}  // namespace
}  // namespace sentrel
