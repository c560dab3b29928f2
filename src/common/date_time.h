#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// The program-wide date-time: whole part = day number (day 1 = 1 January of
// year 1, proleptic Gregorian, a Monday), fraction = time of day. Always local
// time; no time zone is stored with it.
using DateTime = double;

struct CivilDateTime {
  int year = 1;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Day number of a civil date (1 January of year 1 is 1).
int32_t DayNumber(int year, int month, int day);

DateTime EncodeDateTime(const CivilDateTime& civil);
// Rounds to the nearest millisecond, so encode/decode round-trips exactly.
CivilDateTime DecodeDateTime(DateTime value);

// 0 Sunday .. 6 Saturday.
int DayOfWeek(DateTime value);

DateTime DateOf(DateTime value);      // midnight of the same day
double TimeOfDay(DateTime value);     // fraction only

// Conversions against the system clock (seconds since the Unix epoch, UTC),
// through the process's local time zone.
DateTime FromUnixTimeLocal(int64_t unixSeconds, int milliseconds = 0);
int64_t ToUnixTimeLocal(DateTime value);

// strftime of the value's civil date and time (the C library's LC_TIME
// locale applies to "%x", "%X" and names). Empty when the text would not fit
// in 128 characters.
std::string FormatDateTime(DateTime value, const std::string& format);

// Offset of local time from UTC at the given moment, in minutes (east positive).
int LocalUtcOffsetMinutes(int64_t unixSeconds);

inline constexpr double kMillisecondsPerDay = 86400000.0;
inline constexpr double kOneMinute = 1.0 / 1440.0;

}  // namespace sentrel
