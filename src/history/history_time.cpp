#include "history/history_time.h"

#include <cmath>
#include <cstdio>

namespace sentrel {

namespace {

// Reads exactly `width` digits at `pos`.
bool Digits(const std::string& text, std::size_t pos, std::size_t width, int& value) {
  if (pos + width > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

int64_t HistorySecond(DateTime value) { return std::llround(value * 86400.0); }

DateTime FromHistorySecond(int64_t second) { return static_cast<double>(second) / 86400.0; }

std::string SecondText(int64_t second) {
  const CivilDateTime c = DecodeDateTime(FromHistorySecond(second));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

std::string MinuteText(int64_t minute) { return SecondText(minute * 60).substr(0, 16); }

std::optional<DateTime> ParseHistoryDate(const std::string& text) {
  CivilDateTime c;
  if (!Digits(text, 0, 4, c.year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
      !Digits(text, 5, 2, c.month) || !Digits(text, 8, 2, c.day)) {
    return std::nullopt;
  }
  if (text.size() > 10) {
    if (text[10] != ' ' && text[10] != 'T') return std::nullopt;
    if (!Digits(text, 11, 2, c.hour) || text.size() < 16 || text[13] != ':' ||
        !Digits(text, 14, 2, c.minute)) {
      return std::nullopt;
    }
    if (text.size() > 16 && (text.size() != 19 || text[16] != ':' || !Digits(text, 17, 2, c.second)))
      return std::nullopt;
  }
  if (c.year < 1 || c.month < 1 || c.month > 12 || c.day < 1 ||
      c.day > DaysInMonth(c.year, c.month) || c.hour > 23 || c.minute > 59 || c.second > 59) {
    return std::nullopt;
  }
  return EncodeDateTime(c);
}

}  // namespace sentrel
