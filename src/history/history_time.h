#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/date_time.h"

namespace sentrel {

// The history counts time in whole local seconds on the program's day
// numbering (second 0 = midnight before day 0), so that its minutes and hours
// are the ones the operator reads on the clock, as everywhere in the program.
int64_t HistorySecond(DateTime value);
DateTime FromHistorySecond(int64_t second);
inline int64_t MinuteOfSecond(int64_t second) {
  return second >= 0 ? second / 60 : -((-second + 59) / 60);
}
inline int64_t HourOfMinute(int64_t minute) {
  return minute >= 0 ? minute / 60 : -((-minute + 59) / 60);
}

// "YYYY-MM-DD HH:MM:SS" and "YYYY-MM-DD HH:MM": fixed formats, so that the
// command line's output and the CSV sort and parse the same everywhere.
std::string SecondText(int64_t second);
std::string MinuteText(int64_t minute);

// The --since value: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]" or with a "T"
// between date and time. Nothing for any other text or an impossible date.
std::optional<DateTime> ParseHistoryDate(const std::string& text);

}  // namespace sentrel
