#include "date_time.h"

#include <cmath>
#include <ctime>

namespace sentrel {

namespace {

// Days since 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Day number of 1970-01-01 in the program's numbering.
constexpr int64_t kUnixEpochDay = 719163;

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t DayNumber(int year, int month, int day) {
  return static_cast<int32_t>(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

DateTime EncodeDateTime(const CivilDateTime& c) {
  const double ms = ((c.hour * 60.0 + c.minute) * 60.0 + c.second) * 1000.0 + c.millisecond;
  return DayNumber(c.year, c.month, c.day) + ms / kMillisecondsPerDay;
}

CivilDateTime DecodeDateTime(DateTime value) {
  const auto totalMs = static_cast<int64_t>(std::llround(value * kMillisecondsPerDay));
  int64_t days = totalMs / 86400000;
  int64_t ms = totalMs % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
  CivilDateTime c;
  CivilFromDays(days - kUnixEpochDay, c.year, c.month, c.day);
  c.hour = static_cast<int>(ms / 3600000);
  c.minute = static_cast<int>(ms / 60000 % 60);
  c.second = static_cast<int>(ms / 1000 % 60);
  c.millisecond = static_cast<int>(ms % 1000);
  return c;
}

int DayOfWeek(DateTime value) {
  const CivilDateTime c = DecodeDateTime(value);
  const int64_t day = DayNumber(c.year, c.month, c.day);
  // Day 1 is a Monday (1).
  return static_cast<int>(((day % 7) + 7) % 7);
}

DateTime DateOf(DateTime value) {
  const CivilDateTime c = DecodeDateTime(value);
  return DayNumber(c.year, c.month, c.day);
}

double TimeOfDay(DateTime value) { return value - DateOf(value); }

DateTime FromUnixTimeLocal(int64_t unixSeconds, int milliseconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  CivilDateTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second folds into :59
  c.millisecond = milliseconds;
  return EncodeDateTime(c);
}

namespace {

std::tm BrokenDownTime(DateTime value) {
  const CivilDateTime c = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_wday = DayOfWeek(value);
  tm.tm_isdst = -1;
  return tm;
}

}  // namespace

int64_t ToUnixTimeLocal(DateTime value) {
  std::tm tm = BrokenDownTime(value);
  return static_cast<int64_t>(std::mktime(&tm));
}

std::string FormatDateTime(DateTime value, const std::string& format) {
  const std::tm tm = BrokenDownTime(value);
  char text[128];
  const std::size_t n = std::strftime(text, sizeof text, format.c_str(), &tm);
  return std::string(text, n);
}

int LocalUtcOffsetMinutes(int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  // The local wall clock read as if it were UTC, minus the UTC time (not
  // every C library reports the offset itself).
  const auto days = static_cast<int64_t>(DayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) -
                                         DayNumber(1970, 1, 1));
  const int64_t wall = days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  return static_cast<int>((wall - unixSeconds) / 60);
}

}  // namespace sentrel
