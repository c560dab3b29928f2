#include "core/date_text.h"

#include <ctime>

namespace sentrel {

namespace {

std::string Format(DateTime value, const std::string& format) {
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
  char buffer[128];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
  return std::string(buffer, n);
}

}  // namespace

std::string ShortDateText(DateTime value, const DateTextFormats& formats) {
  return Format(value, formats.date);
}

std::string TimeText(DateTime value, const DateTextFormats& formats) {
  return Format(value, formats.time);
}

std::string DateTimeText(DateTime value, const DateTextFormats& formats) {
  return ShortDateText(value, formats) + " " + TimeText(value, formats);
}

}  // namespace sentrel
